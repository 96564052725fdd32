// The PrintScreen hotkey on a real X server (Xvfb, started here when it is installed): a press
// reaches the window loop as kWmHotkey, its auto-repeat does not, and a second grab is refused.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/hotkey.h"
#include "platform/message_loop.h"
#include "xvfb.h"


namespace {

// A private server with the PrintScreen key grabbed as `id`. A server started beside another
// test's may end up shared with it, whose grab then holds the key: take a fresh server until the
// key is ours. Null when no server could be started.
std::unique_ptr<Xvfb> ServerWithHotkey(int id, bool* registered) {
  std::unique_ptr<Xvfb> server;
  *registered = false;
  for (int attempt = 0; attempt < 5 && !*registered; ++attempt) {
    server = std::make_unique<Xvfb>();
    if (!server->ready()) return nullptr;
    setenv("DISPLAY", server->display().c_str(), 1);
    *registered = plat::RegisterPrintScreenHotkey(id);
  }
  return server;
}

}  // namespace

TEST(Hotkey, PrintScreenPressReachesTheWindowLoopOnce) {
  bool registered = false;
  std::unique_ptr<Xvfb> server = ServerWithHotkey(45313, &registered);
  if (!server) GTEST_SKIP() << "no X server to test with";
  ASSERT_TRUE(registered);
  Xvfb& x = *server;
  EXPECT_FALSE(plat::RegisterPrintScreenHotkey(45313));  // one registration at a time

  std::atomic<int> presses{0};
  plat::ResetMessageLoop();
  plat::SetWindowProcedure([&](plat::WindowMessage& m) {
    if (m.id == plat::kWmHotkey && m.wParam == 45313) ++presses;
  });
  std::thread typist([&] {
    Display* d = XOpenDisplay(x.display().c_str());
    KeyCode code = XKeysymToKeycode(d, XK_Print);
    XTestFakeKeyEvent(d, code, True, 0);
    XTestFakeKeyEvent(d, code, True, 0);  // auto-repeat: a press without a release
    XTestFakeKeyEvent(d, code, False, 0);
    XTestFakeKeyEvent(d, code, True, 0);
    XTestFakeKeyEvent(d, code, False, 0);
    XSync(d, False);
    XCloseDisplay(d);
    for (int i = 0; i < 1000 && presses < 2; ++i) plat::SleepMs(10);
    plat::SleepMs(100);
    plat::PostQuit(0);
  });
  plat::RunMessageLoop();
  typist.join();
  plat::ResetMessageLoop();
  EXPECT_EQ(presses.load(), 2);
  plat::UnregisterHotkey(45313);
  EXPECT_TRUE(plat::RegisterPrintScreenHotkey(45313));  // free again after unregistering
  plat::UnregisterHotkey(45313);
}

TEST(Hotkey, AServerThatGoesAwayEndsTheGrabNotTheProgram) {
  bool registered = false;
  std::unique_ptr<Xvfb> server = ServerWithHotkey(45314, &registered);
  if (!server) GTEST_SKIP() << "no X server to test with";
  ASSERT_TRUE(registered);
  server->Kill();
  plat::SleepMs(300);  // the grab thread meets the closed connection (Xlib's default would exit)
  plat::UnregisterHotkey(45314);
  unsetenv("DISPLAY");
}
