#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/desktop.h"
#include "platform/sysinfo.h"

TEST(DesktopEntry, TextQuotesExecArgumentsAndEscapesValues) {
  plat::DesktopEntry e;
  e.name = L"Tavelo";
  e.comment = L"Tavelo 노래방";
  e.exec = {"/home/a b/tavelo/Tavelo", "/delayedstart", "50%$x"};
  e.workingDir = "/home/a b/tavelo";
  std::string t = plat::DesktopEntryText(e);
  EXPECT_EQ(t,
            "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Tavelo\n"
            "Comment=Tavelo \xEB\x85\xB8\xEB\x9E\x98\xEB\xB0\xA9\n"
            "Exec=\"/home/a b/tavelo/Tavelo\" /delayedstart \"50%%\\\\$x\"\n"
            "Path=/home/a b/tavelo\nTerminal=false\n");
  e.autostartDelaySeconds = 60;
  EXPECT_NE(plat::DesktopEntryText(e).find("X-GNOME-Autostart-Delay=60\n"), std::string::npos);
}

TEST(DesktopDirs, FollowTheXdgVariables) {
  setenv("XDG_CONFIG_HOME", "/tmp/cfg-test", 1);
  setenv("XDG_DESKTOP_DIR", "/tmp/desk-test", 1);
  EXPECT_EQ(plat::AutostartDir(), "/tmp/cfg-test/autostart");
  EXPECT_EQ(plat::DesktopDir(), "/tmp/desk-test");
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_DESKTOP_DIR");
}

TEST(SystemInfo, FiguresAreThere) {
  plat::SystemTimes s;
  ASSERT_TRUE(plat::GetSystemTimes(s));
  EXPECT_GE(s.kernel, s.idle);
  plat::ProcessTimes p;
  EXPECT_TRUE(plat::GetProcessTimes(p));
  EXPECT_GE(plat::ProcessorCount(), 1u);
  EXPECT_GT(plat::WorkingSetBytes(), 0u);
}
