#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/maintenance_jobs.h"
#include "songs/song_catalog.h"
#include "songs/song_file_cache.h"
#include "songs/song_indexes.h"
#include "songs/song_list.h"
#include "temp_root.h"

namespace {

std::string U8(std::wstring_view w) { return WideToUtf8(w); }

std::string Pad(int n) {
  std::string s = std::to_string(n);
  return std::string(s.size() < 4 ? 4 - s.size() : 0, '0') + s;
}

class MaintenanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSongByteCache();
    SongIndexes.remainingSongsDelayMs = 0;
  }
  void TearDown() override {
    WaitForJobs();
    std::unique_lock lock(SongLibrary.SongListMutex);
    SongLibrary.SongList.clear();
  }
  // A file of the system folder of the current root.
  static void Put(const std::string& name, std::string_view bytes) {
    plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/" + Utf8ToWide(name)), bytes);
  }
  // Song files for the numbers: the text (title, singer) and a MIDI file.
  void Songs(int from, int to) {
    for (int n = from; n <= to; ++n) {
      Put("P" + Pad(n) + ".txt", std::to_string(n) + "\n" + U8(L"노래") + std::to_string(n) + "\n\n\n" + U8(L"가수") + "\n");
      Put("P" + Pad(n) + ".MID", "MThd");
    }
  }
  // Songs 1..listed in songs.csv and the list.
  void Listed(int listed) {
    Songs(1, listed);
    ASSERT_TRUE(RegenerateSongsCsv({}, false));
    LoadSongDb();
    ASSERT_EQ(GetSongCount(), listed);
  }
  static void WaitForJobs() {
    for (int i = 0; i < 12000 && (SongIndexes.songSyncBusy || SongIndexes.popKoJobBusy); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string Log() {
    FlushDebugLogQueue();
    return root.Read("debug_log.txt");
  }
  TempRoot root;
};

}  // namespace

TEST_F(MaintenanceTest, HandPlacedSongsInOneOrTwoBatches) {
  struct Case {
    int unlisted, firstBatch;
    bool second;
  } cases[] = {{150, 150, false}, {450, 200, true}, {0, 0, false}};
  for (const Case& c : cases) {
    TempRoot fresh;  // each case on its own root
    ClearSongByteCache();
    Songs(1, 1);
    ASSERT_TRUE(RegenerateSongsCsv({}, false));
    LoadSongDb();
    Songs(2, 1 + c.unlisted);
    SongIndexes.songSyncBusy = true;  // as the page command sets it
    RunManualSongSync();
    WaitForJobs();
    EXPECT_FALSE(SongIndexes.songSyncBusy);
    EXPECT_EQ(GetSongCount(), 1 + c.unlisted) << c.unlisted;
    FlushDebugLogQueue();
    const std::string log = fresh.Read("debug_log.txt");
    EXPECT_NE(log.find(U8(L"[SYNC] 수동 실행 끝 - " + std::to_wstring(c.firstBatch) + L"곡")), std::string::npos);
    EXPECT_EQ(log.find(U8(L"손으로 넣은 곡 반영(나머지): 250곡 처리 완료")) != std::string::npos, c.second) << c.unlisted;
    // Every row keeps its 21 fields.
    ForEachTextLine(fresh.Read("songs.csv"), [](std::string_view line) {
      if (!line.empty()) {
        EXPECT_EQ(SplitCsvLine(line).size(), size_t(kSongsCsvColumns)) << line;
      }
    });
  }
}

TEST_F(MaintenanceTest, RebuildWritesEveryKoreanTextFile) {
  Listed(3);
  root.Write("E0002.txt", U8(L"둘\n가수\n>\n첫 줄\n"));
  root.Write("E0900.txt", U8(L"목록밖\n누구\n"));  // outside the list: still in the index
  SongIndexes.popKoJobBusy = true;
  RebuildPopKoIndex();
  SongIndexes.popKoJobBusy = false;
  EXPECT_EQ(root.Read("popko.idx"), "#POPKO2\n2\t" + U8(L"둘\t가수\t첫 줄") + "\n900\t" + U8(L"목록밖\t누구\t") + "\n");
  EXPECT_NE(Log().find(U8(L"[POPKO] songs.csv 반영 완료: 1줄")), std::string::npos);

  // No Korean text at all: the index stays deleted.
  std::filesystem::remove(root.system("E0002.txt"));
  std::filesystem::remove(root.system("E0900.txt"));
  RebuildPopKoIndex();
  EXPECT_FALSE(std::filesystem::exists(root.system("popko.idx")));
  EXPECT_NE(Log().find(U8(L"[POPKO] 수동 실행 - E####.txt 0개 발견")), std::string::npos);
}

// Two rebuilds and two syncs asked for at once while the list is reloaded in a loop: one job of
// each kind runs, every load sees the whole catalogue, and songs.csv keeps whole rows.
TEST_F(MaintenanceTest, JobsRunOneAtATimeBesideLoads) {
  Listed(40);
  Songs(41, 60);
  for (int n = 1; n <= 60; n += 3) root.Write("E" + Pad(n) + ".txt", U8(L"팝송 제목\n팝 가수\n>\n한글 가사\n"));

  std::atomic<bool> stop{false};
  std::atomic<int> shortLoads{0}, loads{0};
  std::thread loader([&] {
    while (!stop) {
      LoadSongDb();
      if (GetSongCount() < 40) ++shortLoads;
      ++loads;
    }
  });
  std::atomic<int> started{0};
  {
    // The catalogue lock held meanwhile keeps the first jobs from ending before the second asks.
    std::lock_guard hold(SongsCsvFileMutex());
    std::vector<std::thread> askers;
    for (int i = 0; i < 2; ++i) {
      askers.emplace_back([&] { started += StartPopKoIndexRebuild(); });
      askers.emplace_back([&] { started += StartManualSongSync(); });
    }
    for (std::thread& t : askers) t.join();
  }
  EXPECT_EQ(started, 2);
  WaitForJobs();
  while (loads < 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  stop = true;
  loader.join();
  EXPECT_EQ(shortLoads, 0);
  LoadSongDb();
  EXPECT_EQ(GetSongCount(), 60);
  int rows = -1;  // the header is no song
  ForEachTextLine(root.Read("songs.csv"), [&](std::string_view line) {
    if (line.empty()) return;
    ++rows;
    EXPECT_EQ(SplitCsvLine(line).size(), size_t(kSongsCsvColumns)) << line;
  });
  EXPECT_EQ(rows, 60);
  EXPECT_TRUE(std::filesystem::exists(root.system("popko.idx")));
}
