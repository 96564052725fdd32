#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

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

// --- Starting the browser ---

// True when this program runs as root: Chromium then starts only with --no-sandbox, which the
// launch functions below add.
bool RunningAsRoot();

// How a browser process ended by itself.
struct BrowserExit {
  int code = 0;             // its exit code, or the signal number when `signaled`
  bool signaled = false;
  double seconds = 0;       // how long it ran
  std::string stderrTail;   // the last lines it wrote on standard error (also passed on to ours)
};
using BrowserExited = std::function<void(const BrowserExit&)>;

// The browser to start: "" when TAVELO_BROWSER is "none", the value of TAVELO_BROWSER when it is
// another path, else /usr/bin/chromium (or chromium on PATH). Empty path too when none is found.
struct BrowserChoice {
  bool none = false;             // TAVELO_BROWSER=none: start no browser
  std::filesystem::path program; // empty when none was found
  std::string version;           // the browser's version text, empty when unknown
};
BrowserChoice FindBrowser();

// Starts the browser in app mode on `address`, maximised, with the profile folder `profileDir`
// and the extra switches `extraArgs` (space separated). `exited` runs on the window thread when
// the browser process ends by itself. False when it cannot be started.
bool LaunchBrowser(const std::filesystem::path& program, const std::string& address,
                   const std::filesystem::path& profileDir, const std::string& extraArgs,
                   BrowserExited exited);

// A rectangle of the virtual screen in pixels (right and bottom exclusive).
struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const ScreenRect&) const = default;
};

// Starts the browser in app mode on `address`, full screen without frame on `rect`, as its own
// process (with its own profile). Returns its process id, 0 when it cannot be started.
int LaunchBrowserOnRect(const std::filesystem::path& program, const std::string& address,
                        const std::filesystem::path& profileDir, const std::string& extraArgs,
                        const ScreenRect& rect, BrowserExited exited);
// Ends one browser process started here (its whole group); `exited` is not called for it.
void EndBrowserProcess(int pid);

// Ends every browser process this program started (and their children).
void EndBrowserProcesses();

// The centre of our first top-level window that does not belong to the process group
// `skipGroup` (the main browser window when the customer's is skipped). False without one.
bool OwnWindowCenter(int skipGroup, int& x, int& y);


}  // namespace plat
