// NumLock on a real X server (Xvfb, started here when it is installed).
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdlib>

#include "platform/numlock.h"
#include "xvfb.h"

namespace {

// Presses and releases NumLock as a keyboard would.
void PressNumLock(const std::string& display) {
  Display* dpy = XOpenDisplay(display.c_str());
  ASSERT_NE(dpy, nullptr);
  const KeyCode key = XKeysymToKeycode(dpy, XK_Num_Lock);
  XTestFakeKeyEvent(dpy, key, True, CurrentTime);
  XTestFakeKeyEvent(dpy, key, False, CurrentTime);
  XSync(dpy, False);
  XCloseDisplay(dpy);
}

}  // namespace

TEST(NumLock, TurnedOffOnceAndNeverOn) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "Xvfb is not available";
  setenv("DISPLAY", x.display().c_str(), 1);
  EXPECT_FALSE(plat::NumLockOn());
  EXPECT_EQ(plat::TurnNumLockOff(), plat::NumLockResult::kAlreadyOff);
  EXPECT_FALSE(plat::NumLockOn());  // never switched on

  PressNumLock(x.display());
  ASSERT_TRUE(plat::NumLockOn());
  EXPECT_EQ(plat::TurnNumLockOff(), plat::NumLockResult::kTurnedOff);
  EXPECT_FALSE(plat::NumLockOn());  // one press and release: off, not toggled twice
  EXPECT_EQ(plat::TurnNumLockOff(), plat::NumLockResult::kAlreadyOff);

  // The operator switches it on again: the next call turns it off again.
  PressNumLock(x.display());
  EXPECT_EQ(plat::TurnNumLockOff(), plat::NumLockResult::kTurnedOff);
  EXPECT_FALSE(plat::NumLockOn());
  unsetenv("DISPLAY");
}

TEST(NumLock, NoDisplay) {
  unsetenv("DISPLAY");
  EXPECT_EQ(plat::TurnNumLockOff(), plat::NumLockResult::kNoDisplay);
  EXPECT_FALSE(plat::NumLockOn());
}
