#include "app/startup_load.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "base/debug_log.h"
#include "base/test_switches.h"
#include "base/install.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "ui/presets.h"
#include "base/settings/song_settings.h"
#include "online/services.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "playback/rhythm_style.h"
#include "playback/services.h"
#include "songs/services.h"
#include "songs/song_catalog.h"
#include "songs/song_list.h"
#include "sound/services.h"


StartupState Startup;

namespace {

// TAVELO_INDEX_DELAY_MS (tests): every wait before background index work, in milliseconds.
void ApplyIndexDelaysFromEnvironment() {
  const std::string text = IndexDelaySwitch();
  if (text.empty()) return;
  const int ms = std::max(0, LeadingInt(std::string_view(text), true));
  SongIndexes.genreBuildDelayMs = ms;
  SongIndexes.popKoBuildDelayMs = ms;
  SongIndexes.popKoSyncDelayMs = ms;
  SongIndexes.remainingSongsDelayMs = ms;
}

constexpr int kReloadTries = 25;
constexpr unsigned kReloadPauseMs = 200;

bool InstallFileExists(std::wstring_view installPath) {
  std::filesystem::path path = plat::RealPath(installPath);
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

}  // namespace

int LoadUntilFileSettles(std::wstring_view installPath, const std::function<void()>& load,
                         const std::function<bool()>& empty) {
  const std::filesystem::path path = plat::RealPath(installPath);
  std::optional<plat::FileStamp> before = plat::StatFile(path);
  load();
  int loads = 1;
  for (int i = 0; i < kReloadTries && empty(); ++i) {
    const std::optional<plat::FileStamp> now = plat::StatFile(path);
    // No file: nothing to wait for. The same file as read: it was read whole (files are replaced
    // by a rename, never written in place), and reading it again would give the same.
    if (!now || now == before) break;
    // It changed while it was read: a writer is at work; give it time, then read the new file.
    plat::SleepMs(kReloadPauseMs);
    before = plat::StatFile(path);
    load();
    ++loads;
  }
  return loads;
}

namespace {

void MarkSongListReady() {
  {
    std::lock_guard lock(Startup.SongListReadyMutex);
    Startup.SongListReady = true;
  }
  Startup.SongListReadyChanged.notify_all();
}

}  // namespace

void WaitForStartupSongList() {
  std::unique_lock lock(Startup.SongListReadyMutex);
  Startup.SongListReadyChanged.wait(lock, [] { return Startup.SongListReady; });
}

void RunStartupLoad() {
  ResetMixerDefaults();
  LoadPatchTable();
  LoadUserMarks();

  if (!RhythmStyles.StylesLoadedOnce.load()) {
    if (LoadStyleSet(L"DS1", 1)) {
      CommitPendingStyle();
      PushRhythmUi();
    }
    CaptureStyleInitialPrograms();
    RhythmStyles.StylesLoadedOnce = 1;
  }
  DebugLog(L"[BOOT] 스타일 파일 로드 완료 - songs.csv 읽기 시작");

  bool counted = false;  // the count is logged after the first read; re-reads follow it
  LoadUntilFileSettles(
      kSongsCsvPath,
      [&counted] {
        LoadSongDb();
        if (!counted) DebugLog(L"[BOOT] songs.csv 읽음 - 곡 " + std::to_wstring(GetSongCount()) + L"개");
        counted = true;
      },
      [] { return GetSongCount() == 0; });

  ApplyIndexDelaysFromEnvironment();
  LoadGenreIndex();
  DebugLog(L"[BOOT] 장르 인덱스 읽음");
  StartGenreIndexBuild();
  DebugLog(L"[BOOT] 장르 인덱스 준비 끝");

  LoadPopKoIndex();
  // A list with songs is final now (only an empty one is rebuilt below): the page may have it
  // while the pop-song text files are counted and the index build is started.
  if (GetSongCount() > 0) MarkSongListReady();
  DebugLog(L"[BOOT] 팝송 한글검색 인덱스 읽음 - E####.txt " +
           std::to_wstring(CollectPopTextSongNumbers().size()) + L"개 보유");
  StartPopKoIndexBuild();
  DebugLog(L"[BOOT] 팝송 한글검색 준비 끝");

  if (GetSongCount() == 0 && !SongLibrary.StopLoading.load() && (InstallFileExists(L"<root>/pxr/DS1-P1.MID") ||
                              InstallFileExists(L"<root>/system/DS1-P1.MID"))) {
    DebugLog(L"[BOOT] songs.csv 비어 있음 - txt 전체 스캔으로 재생성(오래 걸릴 수 있음)");
    RegenerateSongsCsv({}, true);
    LoadSongDb();
  }

  MarkSongListReady();

  DebugLog(L"[BOOT] 수동 추가곡 동기화는 백그라운드로 미룸 - SOUNDTBL 읽기");
  LoadUntilFileSettles(L"<root>/system/SOUNDTBL.CFG", LoadSoundTable, SoundTableIsEmpty);
  LoadScoreOctConfig();
  DebugLog(L"[BOOT] SOUNDTBL 읽음");

  LoadPlayHistory();
  LoadFavorites();
  DebugLog(L"[BOOT] 히스토리/애창곡 읽음 - 프리셋 복원");

  LoadPreset(1);
  DebugLog(L"[BOOT] 프리셋 복원 끝 - 프리셋 반영본 읽기(mixer/eq/sound)");

  LoadMixerConfig();
  LoadEqConfig();
  LoadSoundSel();
  DebugLog(L"[BOOT] mixer/eq/sound 읽음 - app_settings 읽기");

  LoadAppSettings();
  DebugLog(L"[BOOT] app_settings 읽음(customerMonitor=" + std::to_wstring(Settings.customerMonitor) + L")");
  // A module in use is opened now, so that its clock runs from the start, not from the first note.
  if (Settings.extOn) OpenExternalModule();
  StartStopExternalClock();

  LoadUserKeys();
  LoadSongGains();
  LoadSongTempos();
  MarkSongListReady();  // also when an earlier step left it out
  DebugLog(L"[BOOT] *** 시작 로드 스레드 정상 종료 ***");
}

void MarkPageConnected() {
  {
    std::lock_guard lock(Startup.PageConnectedMutex);
    Startup.PageConnected = true;
  }
  Startup.PageConnectedChanged.notify_all();
}

void RunStartupUpdates() {
  {
    // A program whose browser never showed the page leaves no trace in the user's folders.
    std::unique_lock lock(Startup.PageConnectedMutex);
    Startup.PageConnectedChanged.wait(lock, [] { return Startup.PageConnected; });
  }
  bool firstInstall = InstallFileExists(L"<root>/system/firstinstall.flag");
  InstallCopyAndShortcut();
  ConfigureAutostart();
  // After a base package install the page boot starts the full song update instead.
  if (firstInstall) return;
  LoadMemberAccount();
  if (CheckAndApplyProgramUpdate(false)) {
    RestartSelf();
    return;
  }
  try {
    CheckAndApplySongUpdate(true);
  } catch (...) {
    DebugLog(L"[BOOT] 시작 신곡 업데이트 중 예외 - 건너뜀");
  }
}
