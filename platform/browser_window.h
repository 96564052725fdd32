#pragma once
#include <cstdint>

// The windows of the browser this program started stand in for its main window: bringing it to
// the front, minimising it, fullscreen. Done through the X display's window manager; without a
// display each call does nothing and returns false.
namespace plat {

// Top-level windows that belong to this process or to a process it started.
bool BringOwnWindowsForward();   // restores when minimised, then activates
bool MinimizeOwnWindows();
bool SetOwnWindowsFullscreen(bool on);

// In place of WM_SETFOCUS: posts `messageId` to the window loop each time the window manager
// makes one of our windows the active one after another program's. The browser moves keyboard
// focus into its page by itself; this is for what the program does on top. False without a
// display; a window manager that does not publish the active window simply never reports.
bool WatchOwnWindowFocus(uint32_t messageId);
void StopWatchingOwnWindowFocus();

}  // namespace plat
