// Message boxes: without a display the default answer comes back unshown; on a real X server
// (Xvfb, when installed) the FLTK box shows and Escape answers No, Return answers Yes.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/message_box.h"

// Fontconfig, loaded for the box's fonts, keeps its caches to the end of the process on purpose.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

TEST(MessageBox, WithoutADisplayTheDefaultAnswerComesBackUnshown) {
  unsetenv("DISPLAY");
  for (auto def : {plat::BoxAnswer::kYes, plat::BoxAnswer::kNo}) {
    plat::BoxResult r = plat::ShowMessageBox(L"제목", L"본문\n둘째 줄", plat::BoxButtons::kYesNo,
                                             plat::BoxIcon::kQuestion, def);
    EXPECT_FALSE(r.shown);
    EXPECT_EQ(r.answer, def);
  }
}

TEST(MessageBox, OnADisplayTheOperatorAnswers) {
  if (!std::filesystem::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "no X server to test with";
  std::string display;
  pid_t server = -1;
  for (int n = 120 + getpid() % 100; n < 500 && server <= 0; n += 11) {
    if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) continue;
    display = ":" + std::to_string(n);
    server = fork();
    if (server == 0) {
      freopen("/dev/null", "w", stderr);
      execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-nolisten", "tcp", nullptr);
      _exit(127);
    }
  }
  bool up = false;
  for (int i = 0; i < 500 && !up; ++i, plat::SleepMs(10))
    if (Display* d = XOpenDisplay(display.c_str())) XCloseDisplay(d), up = true;
  if (!up) {
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    GTEST_SKIP() << "the X server did not start";
  }
  setenv("DISPLAY", display.c_str(), 1);

  std::atomic<bool> answered{false};
  // Presses the key until the box has answered (a press before the box is up is simply lost).
  auto pressAfterShown = [&](KeySym key) {
    answered = false;
    return std::thread([&display, &answered, key] {
      Display* d = XOpenDisplay(display.c_str());
      for (int tries = 0; tries < 100 && !answered; ++tries) {
        plat::SleepMs(200);
        KeyCode code = XKeysymToKeycode(d, key);
        XTestFakeKeyEvent(d, code, True, 0);
        XTestFakeKeyEvent(d, code, False, 0);
        XSync(d, False);
      }
      XCloseDisplay(d);
    });
  };
  std::thread escape = pressAfterShown(XK_Escape);
  plat::BoxResult no = plat::ShowMessageBox(L"원격지원 중입니다", L"끄시겠습니까?", plat::BoxButtons::kYesNo,
                                            plat::BoxIcon::kQuestion, plat::BoxAnswer::kYes);
  answered = true;
  escape.join();
  EXPECT_TRUE(no.shown);
  EXPECT_EQ(no.answer, plat::BoxAnswer::kNo);

  std::thread enter = pressAfterShown(XK_Return);
  plat::BoxResult yes = plat::ShowMessageBox(L"WebView2 런타임 필요", L"여시겠습니까?", plat::BoxButtons::kYesNo,
                                             plat::BoxIcon::kWarning, plat::BoxAnswer::kNo);
  answered = true;
  enter.join();
  EXPECT_TRUE(yes.shown);
  EXPECT_EQ(yes.answer, plat::BoxAnswer::kYes);

  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
}
