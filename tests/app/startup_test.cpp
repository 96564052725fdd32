#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/debug_log.h"
#include "app/startup.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "common/temp_root.h"

namespace fs = std::filesystem;

TEST(DecideGpuAcceleration, TableOfSettings) {
  struct Case {
    const char* file;
    bool on;
    const wchar_t* reason;
    int gpuForce;
  } cases[] = {
      {"", false, L"자동 - 아직 ALT+F12 진단 전", -1},
      {"gpuForce=1\n", true, L"사용자 지정", 1},
      {"gpuForce=0\npcScore=10\n", false, L"사용자 지정", 0},
      {"gpuForce=2\npcScore=69\n", true, L"자동 - PC 점수 69점", -1},  // 2 is automatic
      {"gpuForce=\npcScore=10\n", false, L"사용자 지정", 0},            // empty value reads 0
      {"pcScore=70\n", false, L"자동 - PC 점수 70점", -1},
      {"pcScore=0\r\n", true, L"자동 - PC 점수 0점", -1},
      {"pcScore=70\ncustomerMonitor=2\ncustomerVideo=1\n", true, L"자동 - 손님 화면 + 배경 동영상", -1},
      {"pcScore=50\ncustomerMonitor=2\ncustomerVideo=1\n", true, L"자동 - PC 점수 50점", -1},
      {"customerMonitor=0\ncustomerVideo=1\n", false, L"자동 - 아직 ALT+F12 진단 전", -1},
      {"pcScore=10\npcScore=90\n", false, L"자동 - PC 점수 90점", -1},  // a later line wins
      {"pcScore=  +65x\n", true, L"자동 - PC 점수 65점", -1},
      {" pcScore=10\nxgpuForce=1\n", false, L"자동 - 아직 ALT+F12 진단 전", -1},  // keys start a line
      {"gpuForce=99999999999999999999\n", false, L"자동 - 아직 ALT+F12 진단 전", -1},
  };
  for (const auto& c : cases) {
    GpuDecision d = DecideGpuAcceleration(c.file);
    EXPECT_EQ(d.on, c.on) << c.file;
    EXPECT_EQ(d.reason, c.reason) << c.file;
    EXPECT_EQ(d.gpuForce, c.gpuForce) << c.file;
  }
}

TEST(IsStrayBuildFile, Names) {
  struct Case {
    const wchar_t* name;
    bool stray;
  } cases[] = {
      {L"Pelmora1.exe", true},   {L"PELMORA.CPP", true},       {L"pelmora_x.cpp", true},
      {L"pelmora.txt", false},   {L"enc_recover.cpp", true},   {L"remote_viewer.cpp", true},
      {L"remote_viewer.exe", false}, {L"a.exe", false},        {L".cpp", false},
      {L"Tavelo.exe", false},    {L"xpelmora.exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsStrayBuildFile(c.name), c.stray) << c.name;
}

TEST(DeleteStrayFiles, WalksFiveLevelsSkipsTheSongFolderAndLogs) {
  TempRoot root;
  auto touch = [&](const fs::path& rel) {
    fs::create_directories((root.path() / rel).parent_path());
    std::ofstream(root.path() / rel) << "x";
  };
  const fs::path deleted[] = {"Pelmora1.exe", "system/enc_recover.cpp", "a/b/c/d/e/Pelmora.cpp"};
  const fs::path kept[] = {"pelmora.txt", "song/Pelmora1.exe", "SONG/x/Pelmora1.exe",
                           "a/b/c/d/e/f/Pelmora.cpp", "system/keep.cpp"};
  for (const auto& p : deleted) touch(p);
  for (const auto& p : kept) touch(p);
  fs::create_directory_symlink(root.path() / "a", root.path() / "loop");  // never followed
  EXPECT_EQ(DeleteStrayFiles(root.path(), 0), 3);
  for (const auto& p : deleted) EXPECT_FALSE(fs::exists(root.path() / p)) << p;
  for (const auto& p : kept) EXPECT_TRUE(fs::exists(root.path() / p)) << p;
  const std::string log = plat::ReadFileBytes(root.path() / "system" / "debug_log.txt").value_or("");
  EXPECT_NE(log.find("[\xEC\xA0\x95\xEB\xA6\xAC] "), std::string::npos);  // "[정리] "
  EXPECT_EQ(DeleteStrayFiles(root.path() / "missing", 0), 0);
}
