#include "platform/keypad_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xatom.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/message_box.h"

namespace plat {
namespace {

constexpr int kWidth = 600, kHeight = 745;

// The four fonts of the window, by cell height: small 20 normal, medium 28 bold, keys 38 bold,
// number box 64 bold. FLTK sizes name the em, about four fifths of the cell.
constexpr Fl_Font kFontNormal = FL_FREE_FONT;
constexpr Fl_Font kFontBold = FL_FREE_FONT + 1;
constexpr int Em(int cellHeight) { return cellHeight * 4 / 5; }

struct KeypadRun;
KeypadRun* current = nullptr;  // window thread
std::atomic<bool> running{false};
std::mutex rectMutex;
std::optional<ScreenRect> windowRect, screenRect;

// The window's own faces in the Korean family that message boxes use too.
void ChooseKoreanFonts() {
  const char* family = UseKoreanFltkFont();
  static std::string normal, bold;
  normal = std::string(" ") + family;
  bold = std::string("B") + family;
  Fl::set_font(kFontNormal, normal.c_str());
  Fl::set_font(kFontBold, bold.c_str());
}

void StoreRect(std::optional<ScreenRect>& slot, int x, int y, int w, int h) {
  std::lock_guard lock(rectMutex);
  slot = ScreenRect{x, y, x + w, y + h};
}

// Asks the window manager to keep the window above the others (_NET_WM_STATE_ABOVE), before and
// after mapping (a mapped window needs the client message).
void KeepOnTop(Fl_Window& window) {
  Window xid = fl_xid(&window);
  if (!xid) return;
  Atom state = XInternAtom(fl_display, "_NET_WM_STATE", False);
  Atom above = XInternAtom(fl_display, "_NET_WM_STATE_ABOVE", False);
  XChangeProperty(fl_display, xid, state, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&above), 1);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = xid;
  e.xclient.message_type = state;
  e.xclient.format = 32;
  e.xclient.data.l[0] = 1;  // add
  e.xclient.data.l[1] = static_cast<long>(above);
  e.xclient.data.l[3] = 1;
  XSendEvent(fl_display, DefaultRootWindow(fl_display), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XFlush(fl_display);
}

// The heading, the prompt and the number box, painted on the white window.
class KeypadFace : public Fl_Box {
 public:
  KeypadFace(int w, int h, KeypadRun* run) : Fl_Box(0, 0, w, h), run_(run) { box(FL_NO_BOX); }
  void draw() override;

 private:
  KeypadRun* run_;
};

class KeypadWindowImpl : public Fl_Double_Window {
 public:
  using Fl_Double_Window::Fl_Double_Window;
  void resize(int x, int y, int w, int h) override {
    Fl_Double_Window::resize(x, y, w, h);
    StoreRect(windowRect, x, y, w, h);
  }
};

struct KeypadRun {
  KeypadWindowHooks hooks;
  std::string title, prompt, status, eraseLabel, allowLabel, exitLabel;
  KeypadWindowImpl* window = nullptr;
  Fl_Box* statusLabel = nullptr;
  Fl_Button* allow = nullptr;
  KeypadFace* face = nullptr;
};

void KeypadFace::draw() {
  const int w = parent() ? parent()->w() : this->w();
  fl_color(FL_WHITE);
  fl_rectf(x(), y(), this->w(), h());
  fl_font(kFontBold, Em(28));
  fl_color(fl_rgb_color(20, 60, 140));
  fl_draw(run_->title.c_str(), 30, 22, w - 60, 38, FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  fl_font(kFontNormal, Em(20));
  fl_color(fl_rgb_color(70, 70, 70));
  fl_draw(run_->prompt.c_str(), 30, 62, w - 60, 30, FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  fl_color(fl_rgb_color(245, 247, 250));
  fl_rectf(150, 104, 372, 76);
  fl_color(FL_DARK3);
  fl_rect(150, 104, 372, 76);
  std::string number = run_->hooks.numberText ? WideToUtf8Bytes(run_->hooks.numberText()) : std::string();
  fl_font(kFontBold, Em(64));
  fl_color(fl_rgb_color(20, 20, 20));
  fl_draw(number.c_str(), 150, 104, 372, 76, FL_ALIGN_CENTER | FL_ALIGN_CLIP);
}

// Keys of the keypad window are taken before any widget sees them, as the program's message loop
// does: Backspace, Delete, Enter and the digits of both key rows. While a question box is up the
// keypad takes no keys (the box's own loop has them), and other windows get theirs as usual.
int KeypadDispatch(int event, Fl_Window* window) {
  KeypadRun* run = current;
  const bool boxUp = Fl::modal() && Fl::modal() != (run ? run->window : nullptr);
  if (run && event == FL_KEYDOWN && window == run->window && !boxUp) {
    const int key = Fl::event_key();
    if (key == FL_BackSpace || key == FL_Delete) {
      if (run->hooks.erase) run->hooks.erase();
      return 1;
    }
    if (key == FL_Enter || key == FL_KP_Enter) {
      if (run->hooks.allow) run->hooks.allow();
      return 1;
    }
    int digit = -1;
    if (key >= '0' && key <= '9') digit = key - '0';
    if (key >= FL_KP + '0' && key <= FL_KP + '9') digit = key - FL_KP - '0';
    if (digit >= 0) {
      if (run->hooks.digit) run->hooks.digit(static_cast<wchar_t>(L'0' + digit));
      return 1;
    }
  }
  return Fl::handle_(event, window);
}

void Awake(void* data) {
  std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(data));
  if (current && *fn) (*fn)();
}

Fl_Button* MakeButton(int x, int y, int w, int h, const char* label, Fl_Font font, int size) {
  auto* b = new Fl_Button(x, y, w, h);
  b->copy_label(label);
  b->labelfont(font);
  b->labelsize(size);
  b->visible_focus(0);
  return b;
}

}  // namespace

bool RunKeypadWindow(const KeypadWindowTexts& texts, KeypadWindowHooks hooks, const std::function<void()>& onShown) {
  if (!DisplayAvailable()) return false;
  std::lock_guard fltk(FltkMutex());
  fl_open_display();
  if (!fl_display) return false;
  Fl::lock();  // lets other threads post work with Fl::awake
  ChooseKoreanFonts();

  KeypadRun run;
  run.hooks = std::move(hooks);
  run.title = WideToUtf8Bytes(texts.title);
  run.prompt = WideToUtf8Bytes(texts.prompt);
  run.status = WideToUtf8Bytes(texts.status);
  int sx = 0, sy = 0, sw = 0, sh = 0;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  StoreRect(screenRect, sx, sy, sw, sh);
  const int left = sx + (sw - kWidth) / 2;
  const int top = std::max(0, sy + (sh - kHeight) / 2);

  auto* window = new KeypadWindowImpl(left, top, kWidth, kHeight);
  window->copy_label(run.title.c_str());
  window->color(FL_WHITE);
  run.window = window;
  run.face = new KeypadFace(kWidth, kHeight, &run);
  static const char* const kDigits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
  const int columns[] = {150, 278, 406};
  const int rows[] = {196, 284, 372, 460};
  for (int d = 1; d <= 9; ++d) {
    Fl_Button* b = MakeButton(columns[(d - 1) % 3], rows[(d - 1) / 3], 116, 76, kDigits[d], kFontBold, Em(38));
    b->callback([](Fl_Widget*, void* v) {
      if (current && current->hooks.digit) current->hooks.digit(static_cast<wchar_t>(reinterpret_cast<intptr_t>(v)));
    }, reinterpret_cast<void*>(static_cast<intptr_t>(L'0' + d)));
  }
  Fl_Button* erase = MakeButton(columns[0], rows[3], 116, 76, WideToUtf8Bytes(texts.eraseLabel).c_str(), kFontBold, Em(28));
  erase->callback([](Fl_Widget*, void*) {
    if (current && current->hooks.erase) current->hooks.erase();
  });
  Fl_Button* zero = MakeButton(columns[1], rows[3], 116, 76, "0", kFontBold, Em(38));
  zero->callback([](Fl_Widget*, void*) {
    if (current && current->hooks.digit) current->hooks.digit(L'0');
  });
  run.allow = MakeButton(columns[2], rows[3], 116, 76, WideToUtf8Bytes(texts.allowLabel).c_str(), kFontBold, Em(28));
  run.allow->callback([](Fl_Widget*, void*) {
    if (current && current->hooks.allow) current->hooks.allow();
  });
  run.allow->deactivate();
  Fl_Button* exit = MakeButton(426, 594, 96, 44, WideToUtf8Bytes(texts.exitLabel).c_str(), kFontNormal, Em(20));
  exit->callback([](Fl_Widget*, void*) {
    if (current && current->hooks.closeRequest) current->hooks.closeRequest();
  });
  run.statusLabel = new Fl_Box(30, 600, 266, 56);
  run.statusLabel->box(FL_NO_BOX);
  run.statusLabel->labelfont(kFontNormal);
  run.statusLabel->labelsize(Em(20));
  run.statusLabel->labelcolor(fl_rgb_color(180, 40, 40));
  run.statusLabel->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_CLIP);
  run.statusLabel->copy_label(run.status.c_str());
  window->end();
  // The close box asks the program; Escape does not close the window.
  window->callback([](Fl_Widget*, void*) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    if (current && current->hooks.closeRequest) current->hooks.closeRequest();
  });
  window->size_range(kWidth, kHeight, kWidth, kHeight);  // no resizing, no maximising

  current = &run;
  running.store(true);
  Fl::event_dispatch(KeypadDispatch);
  window->show();
  KeepOnTop(*window);
  StoreRect(windowRect, window->x(), window->y(), window->w(), window->h());
  if (onShown) onShown();
  while (window->shown()) Fl::wait(1.0);
  running.store(false);
  current = nullptr;
  Fl::event_dispatch(nullptr);
  {
    std::lock_guard lock(rectMutex);
    windowRect.reset();
  }
  delete window;
  Fl::flush();
  return true;
}

void SetKeypadAllowEnabled(bool enabled) {
  KeypadRun* run = current;
  if (!run) return;
  if (enabled)
    run->allow->activate();
  else
    run->allow->deactivate();
  // The face lies under the buttons: the whole window is painted again, children over it.
  run->window->redraw();
}

void SetKeypadStatus(const std::wstring& text) {
  KeypadRun* run = current;
  if (!run) return;
  run->statusLabel->copy_label(WideToUtf8Bytes(text).c_str());
  run->window->redraw();
}

void CloseKeypadWindow() {
  if (current) current->window->hide();
}

BoxResult KeypadMessageBox(std::wstring_view caption, std::wstring_view text, BoxButtons buttons, BoxIcon icon,
                           BoxAnswer defaultAnswer) {
  return ShowMessageBoxHoldingFltk(caption, text, buttons, icon, defaultAnswer);
}

void PostToKeypadWindow(std::function<void()> fn) {
  if (!running.load()) return;
  auto* heap = new std::function<void()>(std::move(fn));
  if (Fl::awake(Awake, heap) != 0) delete heap;
}

std::optional<ScreenRect> KeypadWindowRect() {
  std::lock_guard lock(rectMutex);
  return windowRect;
}

std::optional<ScreenRect> KeypadScreenRect() {
  std::lock_guard lock(rectMutex);
  return screenRect;
}

}  // namespace plat
