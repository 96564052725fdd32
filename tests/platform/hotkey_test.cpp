// The PrintScreen hotkey on a real X server (Xvfb, started here when it is installed): a press
// reaches the window loop as kWmHotkey, its auto-repeat does not, and a second grab is refused.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/hotkey.h"
#include "platform/message_loop.h"

namespace {

class XServer {
 public:
  XServer() {
    if (!std::filesystem::exists("/usr/bin/Xvfb")) return;
    for (int n = 90 + getpid() % 100; n < 400 && pid_ <= 0; n += 7) {
      if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) continue;
      display_ = ":" + std::to_string(n);
      pid_ = fork();
      if (pid_ == 0) {
        freopen("/dev/null", "w", stderr);
        execl("/usr/bin/Xvfb", "Xvfb", display_.c_str(), "-nolisten", "tcp", nullptr);
        _exit(127);
      }
    }
    for (int i = 0; i < 500 && pid_ > 0; ++i, plat::SleepMs(10)) {
      if (Display* d = XOpenDisplay(display_.c_str())) {
        XCloseDisplay(d);
        ready_ = true;
        break;
      }
    }
  }
  ~XServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ready() const { return ready_; }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
  bool ready_ = false;
};

}  // namespace

TEST(Hotkey, PrintScreenPressReachesTheWindowLoopOnce) {
  XServer x;
  if (!x.ready()) GTEST_SKIP() << "no X server to test with";
  setenv("DISPLAY", x.display().c_str(), 1);
  ASSERT_TRUE(plat::RegisterPrintScreenHotkey(45313));
  EXPECT_FALSE(plat::RegisterPrintScreenHotkey(45313));  // one registration at a time

  int presses = 0;
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
  EXPECT_EQ(presses, 2);
  plat::UnregisterHotkey(45313);
  EXPECT_TRUE(plat::RegisterPrintScreenHotkey(45313));  // free again after unregistering
  plat::UnregisterHotkey(45313);
}
