#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/install.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "common/temp_root.h"

namespace fs = std::filesystem;

namespace {

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (root.path() / "home/.config").c_str(), 1);
    setenv("XDG_DESKTOP_DIR", (root.path() / "home/Desktop").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DESKTOP_DIR");
  }
  std::string Read(const fs::path& p) { return plat::ReadFileBytes(p).value_or(""); }
  std::string Log() { return Read(root.path() / "system/debug_log.txt"); }
  fs::path Task() { return root.path() / "home/.config/autostart/Tavelo_AutoStart.desktop"; }
  fs::path Run() { return root.path() / "home/.config/autostart/Tavelo.desktop"; }

  TempRoot root;
};

}  // namespace

TEST_F(InstallTest, FoldersAreMadeAndExistingOnesKept) {
  std::ofstream(root.path() / "system/keep.txt") << "x";
  CreateInstallFolders();
  CreateInstallFolders();
  for (const char* f : {"system", "system/system-exclive", "system/wv2_login_cache", "images",
                        "images/random", "video"})
    EXPECT_TRUE(fs::is_directory(root.path() / f)) << f;
  EXPECT_TRUE(fs::exists(root.path() / "system/keep.txt"));
}

TEST_F(InstallTest, DesktopLauncherIsMadeOnceAndAnExistingOneStays) {
  EXPECT_FALSE(CreateDesktopShortcut(L"/opt/x/Tavelo.exe", L"Tavelo"));  // no desktop folder
  fs::create_directories(root.path() / "home/Desktop");
  ASSERT_TRUE(CreateDesktopShortcut(L"/opt/x/Tavelo.exe", L"Tavelo"));
  const fs::path file = root.path() / "home/Desktop/Tavelo.desktop";
  std::string text = Read(file);
  EXPECT_NE(text.find("Exec=/opt/x/Tavelo.exe\n"), std::string::npos);
  EXPECT_NE(text.find("Comment=Tavelo \xEB\x85\xB8\xEB\x9E\x98\xEB\xB0\xA9\n"), std::string::npos);
  EXPECT_NE(text.find("Path=/opt/x\n"), std::string::npos);
  EXPECT_TRUE((fs::status(file).permissions() & fs::perms::owner_exec) != fs::perms::none);
  plat::WriteFileAtomic(file, "elsewhere");
  EXPECT_TRUE(CreateDesktopShortcut(L"/opt/y/Tavelo.exe", L"Tavelo"));
  EXPECT_EQ(Read(file), "elsewhere");
}

TEST_F(InstallTest, InstallCopiesTheProgramOnceAndNeverOverwrites) {
  InstallCopyAndShortcut();
  const fs::path installed = root.path() / "tavelo";  // the Windows "Tavelo.exe" here
  ASSERT_TRUE(fs::exists(installed));
  EXPECT_EQ(fs::file_size(installed), fs::file_size(plat::ExecutablePath()));
  EXPECT_NE(Log().find("C:/tavelo/Tavelo.exe \xEC\x84\xB1\xEA\xB3\xB5"), std::string::npos);  // 성공
  plat::WriteFileAtomic(installed, "old copy");
  InstallCopyAndShortcut();
  EXPECT_EQ(Read(installed), "old copy");
}

TEST_F(InstallTest, AutostartRegistersTheDelayedEntryAndRemovesTheFallback) {
  fs::create_directories(Run().parent_path());
  plat::WriteFileAtomic(Run(), "old fallback");
  ConfigureAutostart();
  std::string task = Read(Task());
  EXPECT_NE(task.find("X-GNOME-Autostart-Delay=60\n"), std::string::npos);
  EXPECT_EQ(task.find("/delayedstart"), std::string::npos);
  EXPECT_FALSE(fs::exists(Run()));
  EXPECT_NE(Log().find("schtasks"), std::string::npos);
}

TEST_F(InstallTest, TheFallbackCarriesDelayedStart) {
  ASSERT_TRUE(RegisterRunKey(L"/opt/x/Tavelo.exe"));
  EXPECT_NE(Read(Run()).find("Exec=/opt/x/Tavelo.exe /delayedstart\n"), std::string::npos);
}

TEST_F(InstallTest, TheFlagFileRemovesBothEntriesAtEveryStart) {
  ConfigureAutostart();
  RegisterRunKey(L"/opt/x/Tavelo.exe");
  ASSERT_TRUE(fs::exists(Task()));
  std::ofstream(root.path() / "system/autostart_off.flag");
  ConfigureAutostart();
  EXPECT_FALSE(fs::exists(Task()));
  EXPECT_FALSE(fs::exists(Run()));
  EXPECT_NE(Log().find("autostart_off.flag"), std::string::npos);
}
