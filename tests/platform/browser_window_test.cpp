// Following the active window on a real X server (Xvfb, started here when it is installed; the
// test plays the window manager by setting the root's active-window property): the window loop
// hears of it each time one of our windows becomes active after another program's, not more.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include "platform/browser_window.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "xvfb.h"

namespace {

Window WindowOfProcess(Display* d, long pid) {
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
  const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
  XChangeProperty(d, w, pidAtom, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
  return w;
}

void Activate(Display* d, Window w) {
  const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
  XChangeProperty(d, DefaultRootWindow(d), active, XA_WINDOW, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&w), 1);
  XSync(d, False);
}

}  // namespace

TEST(FocusWatch, OwnWindowBecomingActiveIsReportedOncePerActivation) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no X server to test with";
  setenv("DISPLAY", x.display().c_str(), 1);
  std::atomic<int> focused{0};
  plat::ResetMessageLoop();
  plat::SetWindowProcedure([&](plat::WindowMessage& m) {
    if (m.id == plat::kWmSetFocus) ++focused;
  });
  ASSERT_TRUE(plat::WatchOwnWindowFocus(plat::kWmSetFocus));

  std::thread wm([&] {
    Display* d = XOpenDisplay(x.display().c_str());
    const Window ours = WindowOfProcess(d, ::getpid());
    const Window theirs = WindowOfProcess(d, 1);
    auto waitFor = [&](int n) {
      for (int i = 0; i < 500 && focused < n; ++i) plat::SleepMs(10);
    };
    Activate(d, theirs);
    plat::SleepMs(300);
    Activate(d, ours);
    waitFor(1);
    Activate(d, ours);  // written again, still ours: no new activation
    plat::SleepMs(300);
    Activate(d, theirs);
    plat::SleepMs(300);
    Activate(d, ours);
    waitFor(2);
    plat::SleepMs(300);
    XCloseDisplay(d);
    plat::PostQuit(0);
  });
  plat::RunMessageLoop();
  wm.join();
  plat::ResetMessageLoop();
  plat::StopWatchingOwnWindowFocus();
  EXPECT_EQ(focused.load(), 2);
  plat::StopWatchingOwnWindowFocus();  // stopped already: harmless
}

TEST(FocusWatch, WithoutDisplayNothingIsWatched) {
  unsetenv("DISPLAY");
  EXPECT_FALSE(plat::WatchOwnWindowFocus(plat::kWmSetFocus));
  plat::StopWatchingOwnWindowFocus();
}
