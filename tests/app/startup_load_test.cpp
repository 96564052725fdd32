#include <gtest/gtest.h>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "ui/presets.h"
#include "base/settings/settings_files.h"
#include "base/settings/song_settings.h"
#include "app/startup_load.h"
#include "base/text.h"
#include "songs/song_list.h"
#include "common/temp_root.h"

namespace {

std::vector<std::wstring> BootLines() {
  FlushDebugLogQueue();
  std::vector<std::wstring> lines;
  for (auto& line : SplitWide(Utf8ToWide(ReadFileText(L"C:/tavelo/system/debug_log.txt")), L'\n')) {
    size_t at = line.find(L"[BOOT] ");
    if (at == std::wstring::npos) continue;
    std::wstring text = line.substr(at);
    if (!text.empty() && text.back() == L'\r') text.pop_back();
    lines.push_back(text);
  }
  return lines;
}

}  // namespace

TEST(RunStartupLoad, RestoresTheBasePresetBeforeReadingTheSettingsAndEndsWithItsLine) {
  TempRoot root;
  Settings = AppSettings{};
  // The working file of the last run, and a base preset that the start restores over it.
  ASSERT_TRUE(WriteFileText(AppSettingsFilePath, "helpFontPx=30\ncustomerMonitor=0\nport1Device=Mine\n"));
  ASSERT_TRUE(WriteFileText(PresetPath(1), "[meta]\nsaved=2024-01-01 00:00\n[app]\nhelpFontPx=44\ncustomerMonitor=2\n"));
  ASSERT_TRUE(WriteFileText(UserKeyFilePath, "12,3,-2\n"));
  ASSERT_TRUE(WriteFileText(SongGainFilePath, "12 150\n"));
  ASSERT_TRUE(WriteFileText(SongTempoFilePath, "12 -5\n"));

  RunStartupLoad();

  EXPECT_EQ(Settings.helpFontPx, 44);
  EXPECT_EQ(Settings.customerMonitor, 2);
  EXPECT_EQ(Settings.port1Device, L"Mine");  // this computer's device survives the restore
  EXPECT_EQ(SongSettings.UserKeyMap.at(12), (UserKey{3, -2}));
  EXPECT_EQ(SongSettings.SongGainMap.at(12), 150);
  EXPECT_EQ(SongSettings.SongTempoMap.at(12), -5);
  EXPECT_EQ(GetSongCount(), 0);

  std::vector<std::wstring> expected = {
      L"[BOOT] 스타일 파일 로드 완료 - songs.csv 읽기 시작",
      L"[BOOT] songs.csv 읽음 - 곡 0개",
      L"[BOOT] 장르 인덱스 읽음",
      L"[BOOT] 장르 인덱스 준비 끝",
      L"[BOOT] 팝송 한글검색 인덱스 읽음 - E####.txt 0개 보유",
      L"[BOOT] 팝송 한글검색 준비 끝",
      L"[BOOT] 수동 추가곡 동기화는 백그라운드로 미룸 - SOUNDTBL 읽기",
      L"[BOOT] SOUNDTBL 읽음",
      L"[BOOT] 히스토리/애창곡 읽음 - 프리셋 복원",
      L"[BOOT] 프리셋 복원 끝 - 프리셋 반영본 읽기(mixer/eq/sound)",
      L"[BOOT] mixer/eq/sound 읽음 - app_settings 읽기",
      L"[BOOT] app_settings 읽음(customerMonitor=2)",
      L"[BOOT] *** 시작 로드 스레드 정상 종료 ***",
  };
  EXPECT_EQ(BootLines(), expected);
}

TEST(LoadUntilFileSettles, ReadsAgainOnlyWhileTheFileIsBeingReplaced) {
  struct Case {
    const char* what;
    bool file;          // the file exists before the first load
    int replacedLoads;  // the first this many loads find the file replaced while they read
    bool emptyResult;
    int loads;
  } cases[] = {
      {"no file", false, 0, true, 1},
      {"a file that gives nothing and stays as it is", true, 0, true, 1},
      {"a file that gives something", true, 0, false, 1},
      {"replaced during the first read", true, 1, true, 2},
      {"replaced during three reads", true, 3, true, 4},
      {"replaced, but the first read gave something", true, 3, false, 1},
  };
  for (const Case& c : cases) {
    TempRoot root;
    const std::wstring_view path = L"C:/tavelo/system/SOUNDTBL.CFG";
    if (c.file) {
      ASSERT_TRUE(WriteFileText(path, "x"));
    }
    int loads = 0;
    const int done = LoadUntilFileSettles(
        path,
        [&] {
          if (++loads <= c.replacedLoads) {
            ASSERT_TRUE(WriteFileText(path, "v" + std::to_string(loads)));
          }
        },
        [&] { return c.emptyResult; });
    EXPECT_EQ(done, c.loads) << c.what;
    EXPECT_EQ(loads, c.loads) << c.what;
  }
}

TEST(RunStartupLoad, AHugeCatalogueWithoutSongsIsReadOnce) {
  TempRoot root;
  Settings = AppSettings{};
  ASSERT_TRUE(WriteFileText(L"C:/tavelo/system/songs.csv", std::string(10 * 1024 * 1024, 'x')));  // one line
  ASSERT_TRUE(WriteFileText(L"C:/tavelo/system/SOUNDTBL.CFG", "1 0 0 Piano\n"));
  RunStartupLoad();
  FlushDebugLogQueue();
  const std::string log = ReadFileText(L"C:/tavelo/system/debug_log.txt");
  size_t reads = 0;
  for (size_t at = 0; (at = log.find("LoadSongDb: songs.csv", at)) != std::string::npos; ++at) ++reads;
  EXPECT_EQ(reads, 1u);
  EXPECT_EQ(GetSongCount(), 0);
}
