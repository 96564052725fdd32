#pragma once
// The customer support program's one window: a telephone keypad with a large number box, an
// erase, an allow and an exit button and a status line, kept above other windows (FLTK). The
// window thread is the only thread that touches it, holding FltkMutex while it shows; other
// threads post work to it.
#include <functional>
#include <optional>
#include <string>

#include "platform/browser_window.h"
#include "platform/message_box.h"

namespace plat {

struct KeypadWindowTexts {
  std::wstring title;   // caption and heading
  std::wstring prompt;  // the line under the heading
  std::wstring status;  // the status line at start
  std::wstring eraseLabel, allowLabel, exitLabel;
};

// What the window asks of its program, all called on the window thread.
struct KeypadWindowHooks {
  std::function<void(wchar_t digit)> digit;  // a digit key or button
  std::function<void()> erase;               // Backspace, Delete or the erase button
  std::function<void()> allow;               // Enter or the allow button
  std::function<void()> closeRequest;        // the close box or the exit button
  std::function<std::wstring()> numberText;  // what the number box shows
};

// Shows the window (600 x 745, centred), calls onShown once it takes posted work, and runs its
// loop until the window is closed. False when no X display can be reached.
bool RunKeypadWindow(const KeypadWindowTexts& texts, KeypadWindowHooks hooks, const std::function<void()>& onShown);

// Window thread only.
void SetKeypadAllowEnabled(bool enabled);  // also repaints the number box
void SetKeypadStatus(const std::wstring& text);
void CloseKeypadWindow();
// A message box over the window (the window's loop holds FltkMutex, so boxes go through here).
BoxResult KeypadMessageBox(std::wstring_view caption, std::wstring_view text, BoxButtons buttons, BoxIcon icon,
                           BoxAnswer defaultAnswer);

// Any thread: runs fn on the window thread (dropped when no window runs).
void PostToKeypadWindow(std::function<void()> fn);

// Any thread: where the window is on the screen, and the whole screen; nothing before it shows.
std::optional<ScreenRect> KeypadWindowRect();
std::optional<ScreenRect> KeypadScreenRect();

}  // namespace plat
