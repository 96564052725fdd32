#pragma once
// The customer window: the page a second time, full screen on a monitor that faces the singers,
// in its own browser process. It loads a file copy of the embedded page, then switches that page
// into customer mode; every script posted to the main page runs there too. Window thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/monitors.h"
#include "ui/page_view.h"

struct CustomerWindowState {
  // The monitors as last enumerated; a monitor number is its 1-based position here.
  std::vector<plat::MonitorInfo> MonitorList;
  // The window: the monitor rectangle it covers while open (the stand-in for the window handle).
  bool CustomerWindowOpen = false;
  plat::ScreenRect CustomerWindowRect;
  int CustomerBrowserPid = 0;  // the customer browser's process (0: none started)
  // The page view of an open whose page has not connected yet; it becomes
  // PageHost.CustomerPageView when it does (the controller is then created).
  std::unique_ptr<PageView> PendingCustomerView;
  // Each open has its own number: callbacks of an earlier open are ignored.
  uint64_t Generation = 0;
  // Retry ladder of a failed controller creation; never reset within a run.
  int PerMonitorDpiEnabled = 1;
  bool CustomerDpiRetryUsed = false;
  bool CustomerLateRetryUsed = false;
};
extern CustomerWindowState CustomerWindow;

// How long a started customer browser may take until its page connects.
inline constexpr int kCustomerConnectTimeoutMs = 20000;
// Result codes of a failed controller creation (logged and shown as the browser runtime's).
inline constexpr uint32_t kCustomerResultStartFailed = 0x80004005u;
inline constexpr uint32_t kCustomerResultTimeout = 0x800705B4u;

void EnumerateMonitors();
// "[[1,1920,1080,1],[2,1280,720,0]]": number, width, height, primary.
std::wstring BuildMonitorListJson();
// The number of the monitor that holds the main window, or -1.
int FindMainMonitorIndex();

void OpenCustomerWindow(int monitor);
// The browser callbacks of one open (`generation`); a stale generation is ignored.
void OnCustomerControllerCreated(uint64_t generation, uint32_t result);
void OnCustomerNavigationCompleted(uint64_t generation);
void OnCustomerWebMessage(const std::wstring* message);

// Detached threads that sleep 300 ms / 2000 ms, then post WM_OPEN_CUSTOMER_WINDOW with n.
void ReopenCustomerAfterShortDelay(int monitor);
void ReopenCustomerAfterLongDelay(int monitor);

// The customer-window settings script of the main page (monitor list, brightness, layout, video).
std::wstring BuildMonitorScript();
