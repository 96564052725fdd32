// The fullscreen key block on a real X server (Xvfb, started here when it is installed): while it
// is on, another client cannot grab Alt+Tab, Alt+Esc, Ctrl+Esc or the Windows keys (they are
// ours), keys outside the block stay free, and everything is free again once it is off.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/key_grab.h"
#include "xvfb.h"

namespace {

bool sawBadAccess = false;
int NoteBadAccess(Display*, XErrorEvent* e) {
  if (e->error_code == BadAccess) sawBadAccess = true;
  return 0;
}

// Whether a second client can take the key with exactly these modifiers (it lets go at once).
bool OtherClientCanGrab(const std::string& display, KeySym sym, unsigned modifiers) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return false;
  const KeyCode code = XKeysymToKeycode(d, sym);
  XSync(d, False);
  sawBadAccess = false;
  XErrorHandler old = XSetErrorHandler(NoteBadAccess);
  XGrabKey(d, code, modifiers, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync);
  XSync(d, False);
  XSetErrorHandler(old);
  const bool free = !sawBadAccess;
  XCloseDisplay(d);
  return free;
}

struct Combo {
  const char* what;
  KeySym sym;
  unsigned modifiers;
  bool blocked;
};
const Combo kCombos[] = {
    {"Alt+Tab", XK_Tab, Mod1Mask, true},
    {"Alt+Shift+Tab", XK_Tab, Mod1Mask | ShiftMask, true},
    {"Alt+Tab with NumLock", XK_Tab, Mod1Mask | Mod2Mask, true},
    {"Tab", XK_Tab, 0, false},
    {"Ctrl+Tab", XK_Tab, ControlMask, false},
    {"Alt+Esc", XK_Escape, Mod1Mask, true},
    {"Ctrl+Esc", XK_Escape, ControlMask, true},
    {"Ctrl+Shift+Esc", XK_Escape, ControlMask | ShiftMask, true},
    {"Esc", XK_Escape, 0, false},
    {"Shift+Esc", XK_Escape, ShiftMask, false},
    {"left Windows key", XK_Super_L, 0, true},
    {"right Windows key with Shift", XK_Super_R, ShiftMask, true},
    {"F11", XK_F11, 0, false},
    {"Alt+F4", XK_F4, Mod1Mask, false},
};

}  // namespace

TEST(KeyBlock, HoldsTheSwitchKeysWhileOnAndGivesThemBack) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no X server to test with";
  setenv("DISPLAY", x.display().c_str(), 1);
  EXPECT_FALSE(plat::SwitchKeysBlocked());
  const plat::KeyBlockResult r = plat::BlockSwitchKeys();
  ASSERT_EQ(r.status, plat::KeyBlockStatus::kBlocked);
  EXPECT_TRUE(r.heldElsewhere.empty());
  EXPECT_TRUE(plat::SwitchKeysBlocked());
  EXPECT_EQ(plat::BlockSwitchKeys().status, plat::KeyBlockStatus::kBlocked);  // already on

  for (const Combo& c : kCombos)
    EXPECT_EQ(OtherClientCanGrab(x.display(), c.sym, c.modifiers), !c.blocked) << c.what;

  plat::UnblockSwitchKeys();
  EXPECT_FALSE(plat::SwitchKeysBlocked());
  for (const Combo& c : kCombos)
    EXPECT_TRUE(OtherClientCanGrab(x.display(), c.sym, c.modifiers)) << c.what << " after leaving";
  plat::UnblockSwitchKeys();  // nothing held: harmless
}

TEST(KeyBlock, SwallowsAltTabButLetsOtherKeysReachTheFocusedWindow) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no X server to test with";
  setenv("DISPLAY", x.display().c_str(), 1);
  Display* d = XOpenDisplay(x.display().c_str());
  ASSERT_NE(d, nullptr);
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 100, 100, 0, 0, 0);
  XSelectInput(d, w, KeyPressMask);
  XMapWindow(d, w);
  XSync(d, False);
  XSetInputFocus(d, w, RevertToParent, CurrentTime);
  XSync(d, False);
  ASSERT_EQ(plat::BlockSwitchKeys().status, plat::KeyBlockStatus::kBlocked);

  const KeyCode alt = XKeysymToKeycode(d, XK_Alt_L);
  const KeyCode tab = XKeysymToKeycode(d, XK_Tab);
  const KeyCode a = XKeysymToKeycode(d, XK_a);
  XTestFakeKeyEvent(d, alt, True, 0);
  XTestFakeKeyEvent(d, tab, True, 0);
  XTestFakeKeyEvent(d, tab, False, 0);
  XTestFakeKeyEvent(d, alt, False, 0);
  XTestFakeKeyEvent(d, a, True, 0);
  XTestFakeKeyEvent(d, a, False, 0);
  XSync(d, False);
  std::vector<KeyCode> pressed;
  for (int i = 0; i < 200 && std::find(pressed.begin(), pressed.end(), a) == pressed.end(); ++i) {
    while (XPending(d)) {
      XEvent ev;
      XNextEvent(d, &ev);
      if (ev.type == KeyPress) pressed.push_back(static_cast<KeyCode>(ev.xkey.keycode));
    }
    plat::SleepMs(10);
  }
  plat::UnblockSwitchKeys();
  EXPECT_NE(std::find(pressed.begin(), pressed.end(), alt), pressed.end());  // Alt alone passes
  EXPECT_NE(std::find(pressed.begin(), pressed.end(), a), pressed.end());
  EXPECT_EQ(std::find(pressed.begin(), pressed.end(), tab), pressed.end());  // Alt+Tab is swallowed
  XCloseDisplay(d);
}

TEST(KeyBlock, CombinationHeldByAnotherProgramIsReportedAndTheRestIsBlocked) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no X server to test with";
  setenv("DISPLAY", x.display().c_str(), 1);
  // A window manager that already holds Alt+Tab.
  Display* wm = XOpenDisplay(x.display().c_str());
  ASSERT_NE(wm, nullptr);
  XGrabKey(wm, XKeysymToKeycode(wm, XK_Tab), Mod1Mask, DefaultRootWindow(wm), False, GrabModeAsync,
           GrabModeAsync);
  XSync(wm, False);

  const plat::KeyBlockResult r = plat::BlockSwitchKeys();
  EXPECT_EQ(r.status, plat::KeyBlockStatus::kPartly);
  EXPECT_EQ(r.heldElsewhere, std::vector<std::string>{"Alt+Tab"});
  EXPECT_FALSE(OtherClientCanGrab(x.display(), XK_Tab, Mod1Mask | ShiftMask));  // the rest is ours
  EXPECT_FALSE(OtherClientCanGrab(x.display(), XK_Escape, ControlMask));
  plat::UnblockSwitchKeys();
  XCloseDisplay(wm);
}

TEST(KeyBlock, ServerThatGoesAwayOrNoDisplayLeavesNothingHanging) {
  {
    Xvfb x;
    if (!x.ready()) GTEST_SKIP() << "no X server to test with";
    setenv("DISPLAY", x.display().c_str(), 1);
    ASSERT_EQ(plat::BlockSwitchKeys().status, plat::KeyBlockStatus::kBlocked);
    x.Kill();
    plat::SleepMs(200);
    plat::UnblockSwitchKeys();  // returns, and the process lives on
    EXPECT_FALSE(plat::SwitchKeysBlocked());
  }
  unsetenv("DISPLAY");
  EXPECT_EQ(plat::BlockSwitchKeys().status, plat::KeyBlockStatus::kNoDisplay);
  EXPECT_FALSE(plat::SwitchKeysBlocked());
  plat::UnblockSwitchKeys();
}
