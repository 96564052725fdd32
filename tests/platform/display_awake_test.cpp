// Keeping the display awake on a real X server (Xvfb, started here when it is installed): the
// screen saver does not start while it is held and starts again once it is released; without a
// display, or when the server goes away, nothing fails.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/display_awake.h"
#include "xvfb.h"

namespace {

// Waits (bounded) until the screen saver reaches the wanted state; answers the last state seen.
int WaitForSaverState(Display* d, int wanted) {
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  int state = -1;
  for (int i = 0; i < 100; ++i) {
    XScreenSaverQueryInfo(d, DefaultRootWindow(d), info);
    state = info->state;
    if (state == wanted) break;
    plat::SleepMs(50);
  }
  XFree(info);
  return state;
}

}  // namespace

TEST(DisplayAwake, ScreenSaverStaysOffWhileHeldAndReturnsAfterRelease) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no X server to test with";
  setenv("DISPLAY", x.display().c_str(), 1);
  Display* d = XOpenDisplay(x.display().c_str());
  ASSERT_NE(d, nullptr);
  // The saver would start after one idle second.
  XSetScreenSaver(d, 1, 0, DontPreferBlanking, AllowExposures);
  XSync(d, False);

  ASSERT_EQ(plat::KeepDisplayAwake(), plat::AwakeStatus::kHeld);
  EXPECT_EQ(plat::KeepDisplayAwake(), plat::AwakeStatus::kHeld);  // a second call changes nothing
  plat::SleepMs(2500);  // well past the saver's timeout
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  XScreenSaverQueryInfo(d, DefaultRootWindow(d), info);
  EXPECT_EQ(info->state, ScreenSaverOff);
  XFree(info);

  plat::ReleaseDisplayAwake();
  EXPECT_EQ(WaitForSaverState(d, ScreenSaverOn), ScreenSaverOn);
  plat::ReleaseDisplayAwake();  // nothing held: harmless
  XCloseDisplay(d);
}

TEST(DisplayAwake, ServerThatGoesAwayDoesNotTakeTheProgramDown) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no X server to test with";
  setenv("DISPLAY", x.display().c_str(), 1);
  ASSERT_EQ(plat::KeepDisplayAwake(), plat::AwakeStatus::kHeld);
  x.Kill();
  plat::SleepMs(200);
  plat::ReleaseDisplayAwake();  // the broken connection is closed without exiting the process
  SUCCEED();
}

TEST(DisplayAwake, WithoutDisplayReportsItAndHoldsNothing) {
  unsetenv("DISPLAY");
  EXPECT_EQ(plat::KeepDisplayAwake(), plat::AwakeStatus::kNoDisplay);
  plat::ReleaseDisplayAwake();
}
