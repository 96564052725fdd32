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
  EXPECT_NE(Log().find(installed.string() + " \xEC\x84\xB1\xEA\xB3\xB5"), std::string::npos);  // 성공
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
  EXPECT_NE(task.find(plat::ExecutablePath().string() + "\n"), std::string::npos);
  EXPECT_EQ(task.find("/delayedstart"), std::string::npos);
  EXPECT_FALSE(fs::exists(Run()));
  const std::string log = Log();
  EXPECT_NE(log.find(") \xEA\xB2\xB0\xEA\xB3\xBC\xEC\xBD\x94\xEB\x93\x9C=0\r\n"), std::string::npos);  // ") 결과코드=0"
  EXPECT_EQ(log.find("=1\r\n"), std::string::npos);
}

TEST_F(InstallTest, AnEntryThatCannotBeWrittenLogsItsFailureAndTheFallbackTakesOver) {
  fs::create_directories(Task());  // a folder where the entry belongs: no entry can be put there
  ConfigureAutostart();
  EXPECT_TRUE(fs::is_directory(Task()));
  const std::string log = Log();
  // "결과코드=1" for each run level tried, never a made-up 0.
  EXPECT_NE(log.find("\xEA\xB2\xB0\xEA\xB3\xBC\xEC\xBD\x94\xEB\x93\x9C=1\r\n"), std::string::npos);
  EXPECT_EQ(log.find("\xEA\xB2\xB0\xEA\xB3\xBC\xEC\xBD\x94\xEB\x93\x9C=0"), std::string::npos);
  // The folder is no task from an earlier start: the fallback entry is written and kept.
  EXPECT_NE(Read(Run()).find(" /delayedstart\n"), std::string::npos);
  EXPECT_NE(log.find("Run\xED\x82\xA4 \xEB\x8C\x80\xEC\xB2\xB4\xEB\x93\xB1\xEB\xA1\x9D \xEC\x84\xB1\xEA\xB3\xB5"), std::string::npos);  // "Run키 대체등록 성공"
}

TEST_F(InstallTest, InterruptedSaveFilesAreRecognisedByTheirWholeName) {
  struct Case {
    const char* name;
    bool ours;
  } cases[] = {
      {"app_settings.cfg.tmp4242_3", true}, {"page_url.txt.tmp17", true},  {"p1.cfg.tmp1_0", true},
      {"notes.tmp", false},                 {".tmp12_3", false},            {"a.tmp12_", false},
      {"a.tmp_3", false},                   {"a.tmp12_3x", false},          {"a.tmp12x", false},
      {"a.tmpl", false},                    {"app_settings.cfg", false},    {"a.tmp12_3_4", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsInterruptedSaveFile(c.name), c.ours) << c.name;
}

TEST_F(InstallTest, InterruptedSaveFilesAreRemovedOnlyFromOurFolders) {
  const fs::path removed[] = {"system/app_settings.cfg.tmp77_0", "presets/p1.cfg.tmp77_1",
                              "songs.tmp3", "system/page_url.txt.tmp9",
                              "home/.config/autostart/Tavelo_AutoStart.desktop.tmp77_2"};
  const fs::path kept[] = {"system/app_settings.cfg", "system/notes.tmp", "song/P0001.MID.tmp1_1",
                           "system/sub/x.cfg.tmp1_1", "home/.config/autostart/other.desktop.tmp77_3"};
  for (const auto& p : removed) plat::WriteFileAtomic(root.path() / p, "x");
  for (const auto& p : kept) plat::WriteFileAtomic(root.path() / p, "x");
  EXPECT_EQ(RemoveInterruptedSaveFiles(), 5);
  for (const auto& p : removed) EXPECT_FALSE(fs::exists(root.path() / p)) << p;
  for (const auto& p : kept) EXPECT_TRUE(fs::exists(root.path() / p)) << p;
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
