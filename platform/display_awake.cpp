#include "platform/display_awake.h"

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>
#include <X11/extensions/scrnsaver.h>
#include <atomic>
#include <mutex>

#include "platform/message_box.h"
#include "platform/x_connection.h"

namespace plat {
namespace {

// The connection that holds the suspension; the screen saver resumes when it closes.
struct AwakeState {
  std::mutex mutex;
  Display* display = nullptr;       // open while held
  bool dpmsToRestore = false;       // DPMS was on when we switched it off
  std::atomic<bool> lost{false};    // the server went away: nothing more is sent
};
AwakeState awake;

}  // namespace

AwakeStatus KeepDisplayAwake() {
  if (!DisplayAvailable()) return AwakeStatus::kNoDisplay;
  std::lock_guard lock(awake.mutex);
  if (awake.display) return AwakeStatus::kHeld;
  Display* dpy = x11::OpenConnection(&awake.lost);
  if (!dpy) return AwakeStatus::kNoDisplay;
  int event = 0, error = 0;
  const bool saver = XScreenSaverQueryExtension(dpy, &event, &error);
  const bool dpms = DPMSQueryExtension(dpy, &event, &error) && DPMSCapable(dpy);
  if (!saver && !dpms) {
    x11::CloseConnection(dpy);
    return AwakeStatus::kUnsupported;
  }
  awake.dpmsToRestore = false;
  {
    x11::ErrorTrap trap(dpy);  // an extension that answers with an error is not fatal
    if (saver) XScreenSaverSuspend(dpy, True);
    if (dpms) {
      CARD16 level = 0;
      BOOL enabled = False;
      if (DPMSInfo(dpy, &level, &enabled) && enabled) {
        DPMSDisable(dpy);  // also switches a sleeping monitor back on
        awake.dpmsToRestore = true;
      }
    }
  }
  awake.display = dpy;
  return AwakeStatus::kHeld;
}

void ReleaseDisplayAwake() {
  std::lock_guard lock(awake.mutex);
  Display* dpy = awake.display;
  if (!dpy) return;
  awake.display = nullptr;
  if (!awake.lost.load()) {
    x11::ErrorTrap trap(dpy);
    if (awake.dpmsToRestore) DPMSEnable(dpy);
    int event = 0, error = 0;
    if (XScreenSaverQueryExtension(dpy, &event, &error)) XScreenSaverSuspend(dpy, False);
  }
  awake.dpmsToRestore = false;
  x11::CloseConnection(dpy);
}

}  // namespace plat
