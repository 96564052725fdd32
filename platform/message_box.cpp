#include "platform/message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xlib.h>
#include <fontconfig/fontconfig.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform/codepage.h"

namespace plat {

std::mutex& FltkMutex() {
  static std::mutex m;
  return m;
}

namespace {

std::atomic<unsigned> closeRound{0};
std::atomic<bool> closingForGood{false};

bool FamilyInstalled(const char* family) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* set = objects ? FcFontList(nullptr, pattern, objects) : nullptr;
  bool found = set && set->nfont > 0;
  if (set) FcFontSetDestroy(set);
  if (objects) FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return found;
}

}  // namespace

const char* UseKoreanFltkFont() {
  static const char* family = nullptr;
  if (family) return family;
  family = "Noto Sans CJK KR";
  for (const char* f : {"NanumGothic", "Noto Sans CJK KR"}) {
    if (FamilyInstalled(f)) {
      family = f;
      break;
    }
  }
  // Xft font names carry the style in their first character: ' ' normal, 'B' bold.
  static const std::string normal = std::string(" ") + family, bold = std::string("B") + family;
  Fl::set_font(FL_HELVETICA, normal.c_str());
  Fl::set_font(FL_HELVETICA_BOLD, bold.c_str());
  return family;
}

bool DisplayAvailable() {
  const char* d = std::getenv("DISPLAY");
  if (!d || !*d) return false;
  static std::mutex m;
  static bool reached = false;  // once reached, the display stays; a failed probe is tried again
  std::lock_guard lock(m);
  if (!reached) {
    Display* dpy = XOpenDisplay(nullptr);
    reached = dpy != nullptr;
    if (dpy) XCloseDisplay(dpy);
  }
  return reached;
}

void CloseQuestionBoxes(bool alsoLaterOnes) {
  if (alsoLaterOnes) closingForGood.store(true);
  closeRound.fetch_add(1);
}

unsigned QuestionBoxRound() { return closeRound.load(); }

bool QuestionBoxesClosedSince(unsigned round) { return closingForGood.load() || closeRound.load() != round; }

bool RunFltkUntil(const std::function<bool()>& finished, unsigned round, std::unique_lock<std::mutex>* lock) {
  for (;;) {
    if (finished()) return true;
    if (QuestionBoxesClosedSince(round)) return false;
    if (!lock) {
      Fl::wait(0.05);
      continue;
    }
    Fl::check();  // handles what is waiting, draws, and returns at once
    if (finished()) return true;
    lock->unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    lock->lock();
  }
}

namespace {

struct BoxRun {
  bool done = false;
  BoxAnswer answer = BoxAnswer::kOk;
  Fl_Window* window = nullptr;
};

void Answer(BoxRun* run, BoxAnswer answer) {
  run->answer = answer;
  run->done = true;
  run->window->hide();
}

// The box itself: an icon mark, the text, and "확인" or "예" and "아니오"; Enter presses "확인" or
// "예", Escape and the close box answer like "아니오" (as closing a Windows Yes/No box answers No).
BoxResult RunBox(std::wstring_view caption, std::wstring_view text, BoxButtons buttons, BoxIcon icon,
                 BoxAnswer defaultAnswer, std::unique_lock<std::mutex>* lock) {
  const unsigned round = QuestionBoxRound();
  if (closingForGood.load()) return {defaultAnswer, false, true};
  fl_open_display();
  if (!fl_display) return {defaultAnswer, false};
  UseKoreanFltkFont();
  const std::string title = WideToUtf8Bytes(caption);
  const std::string body = WideToUtf8Bytes(text);
  constexpr int kTextSize = 14, kMark = 50, kPad = 12, kButtonW = 96, kButtonH = 30;
  fl_font(FL_HELVETICA, kTextSize);
  int textW = 0, textH = 0;
  fl_measure(body.c_str(), textW, textH, 0);
  textW = std::clamp(textW + 8, 220, 640);
  textH = std::max(textH + 8, kMark);
  const int w = kPad + kMark + kPad + textW + kPad;
  const int h = kPad + textH + kPad + kButtonH + kPad;

  BoxRun run;
  run.answer = buttons == BoxButtons::kOk ? BoxAnswer::kOk : BoxAnswer::kNo;
  Fl_Window window((Fl::w() - w) / 2, (Fl::h() - h) / 2, w, h, title.c_str());
  run.window = &window;
  const char* mark = icon == BoxIcon::kQuestion ? "?" : icon == BoxIcon::kWarning ? "!"
                     : icon == BoxIcon::kError  ? "X" : "i";
  Fl_Box markBox(kPad, kPad, kMark, kMark, mark);
  markBox.box(FL_THIN_UP_BOX);
  markBox.labelsize(30);
  markBox.labelfont(FL_HELVETICA_BOLD);
  markBox.labelcolor(FL_BLUE);
  Fl_Box textBox(kPad + kMark + kPad, kPad, textW, textH, body.c_str());
  textBox.labelsize(kTextSize);
  textBox.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  const int buttonY = h - kPad - kButtonH;
  Fl_Return_Button yes(w - kPad - (buttons == BoxButtons::kOk ? 1 : 2) * (kButtonW + 8) + 8, buttonY, kButtonW,
                       kButtonH, buttons == BoxButtons::kOk ? "확인" : "예");
  yes.labelsize(kTextSize);
  yes.callback([](Fl_Widget* b, void* d) {
    auto* r = static_cast<BoxRun*>(d);
    Answer(r, std::string(b->label()) == "확인" ? BoxAnswer::kOk : BoxAnswer::kYes);
  }, &run);
  Fl_Button no(w - kPad - kButtonW, buttonY, kButtonW, kButtonH, "아니오");
  no.labelsize(kTextSize);
  no.callback([](Fl_Widget*, void* d) { Answer(static_cast<BoxRun*>(d), BoxAnswer::kNo); }, &run);
  if (buttons == BoxButtons::kOk) no.hide();
  window.callback([](Fl_Widget*, void* d) {
    auto* r = static_cast<BoxRun*>(d);
    Answer(r, r->answer);  // the close box and Escape: "아니오", or "확인" for a box with one button
  }, &run);
  window.end();
  window.set_non_modal();
  window.show();
  yes.take_focus();
  const bool answered = RunFltkUntil([&] { return run.done || !window.shown(); }, round, lock);
  window.hide();
  Fl::flush();
  if (!answered) return {defaultAnswer, true, true};
  return {run.answer, true};
}

}  // namespace

BoxResult ShowMessageBox(std::wstring_view caption, std::wstring_view text, BoxButtons buttons,
                         BoxIcon icon, BoxAnswer defaultAnswer) {
  if (!DisplayAvailable()) return {defaultAnswer, false};
  std::unique_lock lock(FltkMutex());
  return RunBox(caption, text, buttons, icon, defaultAnswer, &lock);
}

BoxResult ShowMessageBoxHoldingFltk(std::wstring_view caption, std::wstring_view text, BoxButtons buttons,
                                    BoxIcon icon, BoxAnswer defaultAnswer) {
  if (!DisplayAvailable()) return {defaultAnswer, false};
  return RunBox(caption, text, buttons, icon, defaultAnswer, nullptr);
}

}  // namespace plat
