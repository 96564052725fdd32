#pragma once
// The monitors of the X display, in the display's order with its primary flag (XRandR), and the
// one that holds a point. The test switch TAVELO_MONITORS replaces both: entries separated by
// ";", each "<width>x<height>+<left>+<top>" (a negative offset written "-800"), followed by "*" for the primary monitor and "@" for
// the monitor that holds the main window (a test has no window to measure).
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/browser_window.h"

namespace plat {

struct MonitorInfo {
  uint64_t handle = 0;  // stable within a run: the monitor's position + 1
  ScreenRect rect;
  bool primary = false;
};

// Empty without a display (and without the test switch).
std::vector<MonitorInfo> ListMonitors();

// The rectangle of the monitor nearest to the main window (skipping the process group
// `skipGroup`, the customer browser), or nothing when no window is known.
std::optional<ScreenRect> MainWindowMonitor(int skipGroup);

// The primary monitor (else the first) when the display has no window manager, which would
// otherwise maximise the browser window: the window is then placed over it. Nothing with one.
std::optional<ScreenRect> MonitorToFillWithoutWindowManager();

// Parses the test switch's text; entries that do not parse are skipped. `mainIndex` is the
// 0-based entry marked "@", or -1.
std::vector<MonitorInfo> ParseMonitorList(const char* text, int& mainIndex);

}  // namespace plat
