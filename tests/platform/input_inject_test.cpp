// Replayed input: the key symbols of virtual-key codes, and on a real X server (Xvfb, when it is
// installed) a click and a key that a test window receives.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/input_inject.h"
#include "xvfb.h"

TEST(InputInject, VirtualKeysMapToKeySymbols) {
  struct Case {
    uint16_t vk;
    bool extended;
    unsigned long sym;
  } cases[] = {
      {0x41, false, XK_a},         {0x5A, false, XK_z},        {0x30, false, XK_0},
      {0x70, false, XK_F1},        {0x87, false, XK_F24},      {0x60, false, XK_KP_0},
      {0x25, true, XK_Left},       {0x25, false, XK_KP_Left},  {0x2E, true, XK_Delete},
      {0x2E, false, XK_KP_Delete}, {0x0D, false, XK_Return},   {0x0D, true, XK_KP_Enter},
      {0x11, true, XK_Control_R},  {0x12, false, XK_Alt_L},    {0x15, false, XK_Hangul},
      {0x1B, true, XK_Escape},     {0xBD, false, XK_minus},    {0x6F, true, XK_KP_Divide},
      {0x07, false, 0},            {0xFFFF, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vk);
    EXPECT_EQ(plat::KeysymForVirtualKey(c.vk, c.extended), c.sym);
  }
}

namespace {

// A window over the whole screen with the focus, collecting its button and key events.
struct TestWindow {
  Display* dpy = nullptr;
  Window window = 0;
  explicit TestWindow(const std::string& display) {
    dpy = XOpenDisplay(display.c_str());
    if (!dpy) return;
    const int screen = DefaultScreen(dpy);
    window = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, static_cast<unsigned>(DisplayWidth(dpy, screen)),
                                 static_cast<unsigned>(DisplayHeight(dpy, screen)), 0, 0, 0);
    XSelectInput(dpy, window, ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask | ExposureMask);
    XMapWindow(dpy, window);
    XSync(dpy, False);
    XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
    XSync(dpy, False);
  }
  ~TestWindow() {
    if (dpy) XCloseDisplay(dpy);
  }
  // The events that arrive within a while, as "press 1 10,20", "key 38 down" ...
  std::vector<std::string> Events(size_t want) {
    std::vector<std::string> seen;
    for (int i = 0; i < 200 && seen.size() < want; ++i) {
      while (XPending(dpy)) {
        XEvent e;
        XNextEvent(dpy, &e);
        if (e.type == ButtonPress || e.type == ButtonRelease)
          seen.push_back(std::string(e.type == ButtonPress ? "press " : "release ") + std::to_string(e.xbutton.button) +
                         " " + std::to_string(e.xbutton.x) + "," + std::to_string(e.xbutton.y));
        if (e.type == KeyPress || e.type == KeyRelease)
          seen.push_back(std::string("key ") + std::to_string(XLookupKeysym(&e.xkey, 0)) +
                         (e.type == KeyPress ? " down" : " up"));
      }
      plat::SleepMs(10);
    }
    return seen;
  }
};

}  // namespace

TEST(InputInject, ClicksAndKeysReachAWindow) {
  Xvfb server;
  if (!server.ready()) GTEST_SKIP() << "no Xvfb";
  const char* old = std::getenv("DISPLAY");
  const std::string saved = old ? old : "";
  setenv("DISPLAY", server.display().c_str(), 1);
  {
    TestWindow w(server.display());
    ASSERT_NE(w.dpy, nullptr);
    const plat::ScreenRect desktop = plat::VirtualScreen();
    EXPECT_GT(desktop.right, 2);
    const plat::PointerButton click[] = {{1, true}, {1, false}, {3, true}, {3, false}};
    ASSERT_TRUE(plat::InjectPointer(10, 20, click));
    ASSERT_TRUE(plat::InjectKey(0x41, true, false));
    ASSERT_TRUE(plat::InjectKey(0x41, false, false));
    ASSERT_TRUE(plat::InjectKey(0x25, true, true));
    ASSERT_TRUE(plat::InjectKey(0x25, false, true));
    EXPECT_FALSE(plat::InjectKey(0x07, true, false));
    const std::vector<std::string> want = {"press 1 10,20", "release 1 10,20", "press 3 10,20", "release 3 10,20",
                                           "key " + std::to_string(XK_a) + " down", "key " + std::to_string(XK_a) + " up",
                                           "key " + std::to_string(XK_Left) + " down",
                                           "key " + std::to_string(XK_Left) + " up"};
    EXPECT_EQ(w.Events(want.size()), want);
  }
  if (saved.empty())
    unsetenv("DISPLAY");
  else
    setenv("DISPLAY", saved.c_str(), 1);
}
