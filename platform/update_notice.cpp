#include "platform/update_notice.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/x.H>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "platform/message_box.h"

namespace plat {
namespace {

constexpr int kWidth = 640, kHeight = 480;

struct NoticeRun {
  bool done = false;
  bool accepted = false;
  Fl_Window* window = nullptr;
  Fl_Button* accept = nullptr;
  Fl_Button* decline = nullptr;
};

// Asks the window manager to keep the window above the others (_NET_WM_STATE_ABOVE).
void KeepOnTop(Fl_Window& window) {
  Window xid = fl_xid(&window);
  if (!xid) return;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = xid;
  e.xclient.message_type = XInternAtom(fl_display, "_NET_WM_STATE", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = 1;  // add
  e.xclient.data.l[1] = static_cast<long>(XInternAtom(fl_display, "_NET_WM_STATE_ABOVE", False));
  e.xclient.data.l[3] = 1;
  XSendEvent(fl_display, DefaultRootWindow(fl_display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XFlush(fl_display);
}

void Answer(NoticeRun* run, bool accepted) {
  run->accepted = accepted;
  run->done = true;
  run->window->hide();
}

// The test switch: presses a button (or the close box) once the window is up.
void PressForTest(void* data) {
  auto* run = static_cast<NoticeRun*>(data);
  const char* v = std::getenv("TAVELO_TEST_NOTICE_ANSWER");
  const std::string answer = v ? v : "";
  if (answer == "accept") run->accept->do_callback();
  else if (answer == "decline") run->decline->do_callback();
  else run->window->do_callback();
}

}  // namespace

std::optional<bool> ShowNoticeWindow(const NoticeTexts& texts) {
  if (!DisplayAvailable()) return std::nullopt;
  // Held only while FLTK runs for this window: between rounds of events it is let go, so that a
  // message box of the window thread is not held up by a notice nobody answers.
  std::unique_lock lock(FltkMutex());
  const unsigned round = QuestionBoxRound();
  if (QuestionBoxesClosedSince(round)) return false;  // the program is ending: "나중에"
  fl_open_display();
  if (!fl_display) return std::nullopt;
  UseKoreanFltkFont();

  const std::string caption = WideToUtf8Bytes(texts.caption);
  const std::string heading = WideToUtf8Bytes(texts.heading);
  const std::string content = WideToUtf8Bytes(texts.content);
  const std::string acceptLabel = WideToUtf8Bytes(texts.acceptButton);
  const std::string declineLabel = WideToUtf8Bytes(texts.declineButton);

  NoticeRun run;
  Fl_Text_Buffer buffer;
  buffer.text(content.c_str());
  {
    Fl_Double_Window window((Fl::w() - kWidth) / 2, (Fl::h() - kHeight) / 2, kWidth, kHeight,
                            caption.c_str());
    run.window = &window;
    const int w = window.w(), h = window.h();
    Fl_Box head(18, 14, w - 36, 46, heading.c_str());
    head.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    Fl_Text_Display text(18, 64, w - 36, h - 150);
    text.buffer(&buffer);
    text.wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
    Fl_Return_Button accept(w / 2 - 175, h - 66, 165, 44, acceptLabel.c_str());
    Fl_Button decline(w / 2 + 12, h - 66, 165, 44, declineLabel.c_str());
    run.accept = &accept;
    run.decline = &decline;
    for (Fl_Widget* wgt : {static_cast<Fl_Widget*>(&head), static_cast<Fl_Widget*>(&text),
                           static_cast<Fl_Widget*>(&accept), static_cast<Fl_Widget*>(&decline)})
      wgt->labelsize(15);
    text.textsize(15);
    accept.callback([](Fl_Widget*, void* d) { Answer(static_cast<NoticeRun*>(d), true); }, &run);
    decline.callback([](Fl_Widget*, void* d) { Answer(static_cast<NoticeRun*>(d), false); }, &run);
    // The close box answers like the decline button.
    window.callback([](Fl_Widget*, void* d) { Answer(static_cast<NoticeRun*>(d), false); }, &run);
    window.end();
    window.set_non_modal();
    window.show();
    window.wait_for_expose();
    KeepOnTop(window);
    if (const char* t = std::getenv("TAVELO_TEST_NOTICE_ANSWER"); t && *t)
      Fl::add_timeout(0.2, PressForTest, &run);
    // Closed by the program (it is ending): the answer stays "나중에".
    RunFltkUntil([&] { return run.done || !window.shown(); }, round, &lock);
    Fl::remove_timeout(PressForTest, &run);
    window.hide();
    text.buffer(nullptr);
    Fl::flush();
  }
  return run.accepted;
}

}  // namespace plat
