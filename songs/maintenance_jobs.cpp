#include "songs/maintenance_jobs.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/program_messages.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/clock.h"
#include "songs/song_catalog.h"
#include "songs/song_indexes.h"
#include "songs/song_list.h"

namespace {

constexpr size_t kFirstBatch = 200;

// Rows for the songs, reload, both indexes, and the page's list update.
void AddSongsToList(const std::vector<int>& numbers) {
  RegenerateSongsCsv(numbers, true);
  LoadSongDb();
  LoadGenreIndex();
  LoadPopKoIndex();
}

void PostListUpdate(const std::vector<int>& numbers) { PostScriptToPage(Utf8ToWide(PostSongListUpdate(numbers))); }

bool StartThread(std::atomic<bool>& flag, std::wstring_view startedBadge, void (*body)()) {
  if (flag.exchange(true)) return false;
  // The badge goes out before the job can post its own result.
  if (!startedBadge.empty()) ShowPageBadge(startedBadge);
  try {
    std::thread(body).detach();
    return true;
  } catch (const std::system_error&) {
    flag.store(false);
    DebugLog(L"[작업] 작업 스레드를 시작하지 못함");
    return false;
  }
}

// The first batch now, the rest on a thread; restStarted tells whether that thread runs (it then
// ends the sync when it is done).
int AddHandPlacedSongsInner(bool endsSync, bool& restStarted) {
  restStarted = false;
  const std::vector<int> unlisted = FindUnlistedSongNumbers();
  if (unlisted.empty()) return 0;
  DebugLog(L"목록에 없는 곡 파일 발견: " + std::to_wstring(unlisted.size()) + L"곡 - songs.csv에 추가한다");
  const std::vector<int> first(unlisted.begin(), unlisted.begin() + std::min(unlisted.size(), kFirstBatch));
  AddSongsToList(first);
  DebugLog(L"손으로 넣은 곡 반영: " + std::to_wstring(first.size()) + L"곡 시도 -> 현재 목록 " +
           std::to_wstring(GetSongCount()) + L"곡");
  PostListUpdate(first);
  if (unlisted.size() > kFirstBatch) {
    std::vector<int> rest(unlisted.begin() + kFirstBatch, unlisted.end());
    try {
      std::thread([rest = std::move(rest), endsSync] {
        AddRemainingHandPlacedSongsThread(rest);
        if (endsSync) SongIndexes.songSyncBusy.store(false);  // the sync ends with its second batch
      }).detach();
      restStarted = true;
    } catch (const std::system_error&) {
      DebugLog(L"손으로 넣은 곡 반영(나머지): 작업 스레드를 시작하지 못함");
    }
  }
  return int(first.size());
}

}  // namespace

int AddHandPlacedSongs() {
  bool restStarted = false;
  return AddHandPlacedSongsInner(false, restStarted);
}

void AddRemainingHandPlacedSongsThread(const std::vector<int>& numbers) {
  plat::LowerThreadPriority();
  if (int ms = SongIndexes.remainingSongsDelayMs.load(); ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  AddSongsToList(numbers);
  PostListUpdate(numbers);
  DebugLog(L"손으로 넣은 곡 반영(나머지): " + std::to_wstring(numbers.size()) + L"곡 처리 완료");
}

void RunManualSongSync() {
  plat::LowerThreadPriority();
  DebugLog(L"[SYNC] 수동 실행 시작");
  bool restStarted = false;
  const int n = AddHandPlacedSongsInner(true, restStarted);
  DebugLog(L"[SYNC] 수동 실행 끝 - " + std::to_wstring(n) + L"곡");
  ShowPageBadge(L"목록 반영 완료: " + std::to_wstring(n) + L"곡");
  // The sync ends here unless its second batch still runs.
  if (!restStarted) SongIndexes.songSyncBusy.store(false);
}

void RebuildPopKoIndex() {
  plat::LowerThreadPriority();
  if (const std::filesystem::path index = plat::RealPath(kPopKoIndexPath); !index.empty()) {
    std::error_code ec;
    std::filesystem::remove(index, ec);
  }
  const std::vector<int> numbers = CollectPopTextSongNumbers();
  DebugLog(L"[POPKO] 수동 실행 - E####.txt " + std::to_wstring(numbers.size()) + L"개 발견");
  if (numbers.empty()) {
    ShowPageBadge(L"E####.txt 파일을 하나도 못 찾았습니다");
    return;
  }
  int read = 0;
  const std::string text = BuildPopKoIndexText(numbers, read);
  if (read > 0) {
    if (const std::filesystem::path index = plat::RealPath(kPopKoIndexPath); !index.empty())
      plat::WriteFileAtomic(index, text);
  }
  DebugLog(L"[POPKO] 수동 실행 끝 - " + std::to_wstring(read) + L"곡 읽음");
  const int rows = PatchSongsCsvFromPopKo();
  ShowPageBadge(L"팝송 한글검색: 색인 " + std::to_wstring(read) + L"곡 / songs.csv " + std::to_wstring(rows) + L"줄");
  plat::PostWindowMessage(WM_REFRESH_SONG_LIST);
}

bool StartManualSongSync(std::wstring_view startedBadge) {
  return StartThread(SongIndexes.songSyncBusy, startedBadge, [] {
    RunManualSongSync();
  });
}

bool StartPopKoIndexRebuild(std::wstring_view startedBadge) {
  return StartThread(SongIndexes.popKoJobBusy, startedBadge, [] {
    RebuildPopKoIndex();
    SongIndexes.popKoJobBusy.store(false);
  });
}
