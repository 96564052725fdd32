#pragma once
// The windows of the browser this program started stand in for its main window: bringing it to
// the front, minimising it, fullscreen. Done through the X display's window manager; without a
// display each call does nothing and returns false.
namespace plat {

// Top-level windows that belong to this process or to a process it started.
bool BringOwnWindowsForward();   // restores when minimised, then activates
bool MinimizeOwnWindows();
bool SetOwnWindowsFullscreen(bool on);

}  // namespace plat
