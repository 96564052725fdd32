#include "app/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <thread>

#include "base/debug_log.h"
#include "base/realtime_thread.h"
#include "base/install.h"
#include "base/message_box.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "app/startup_load.h"
#include "base/text.h"
#include "base/trace_log.h"
#include "app/window.h"
#include "online/services.h"
#include "playback/player.h"
#include "playback/services.h"
#include "playback/song_screen.h"
#include "ui/backgrounds.h"
#include "ui/settings_commands.h"
#include "ui/script_channel.h"
#include "ui/page_boot.h"
#include "ui/page_commands.h"
#include "ui/presets.h"
#include "songs/song_list.h"
#include "sound/channel_tones.h"
#include "platform/clock.h"
#include "platform/display_awake.h"
#include "platform/files.h"
#include "platform/hotkey.h"
#include "platform/message_box.h"
#include "platform/message_loop.h"
#include "platform/page_server.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "platform/single_instance.h"
#include "platform/browser_window.h"
#include "ui/page_host.h"
#include "ui/pc_check.h"
#include "ui/services.h"

namespace fs = std::filesystem;


namespace {

constexpr const char* kSingleInstanceName = "Tavelo_SingleInstance";
constexpr int kInstanceAttempts = 41;
constexpr unsigned kInstanceRetryMs = 500;
constexpr unsigned kDelayedStartMs = 60000;
// Where the operator gets the browser the page needs.
constexpr const wchar_t* kBrowserDownloadPage = L"https://packages.debian.org/stable/chromium";

std::atomic<int> NetStatusStarted{0};

// After a signal the window thread closes the program; when something that no signal closes holds
// it (an open-file dialog waits on a person), the program ends without it after this long.
constexpr unsigned kSignalShutdownGraceMs = 2000;

void EndIfWindowThreadStaysHeld() {
  static std::atomic<bool> started{false};
  if (started.exchange(true)) return;
  std::thread([] {
    plat::SleepMs(kSignalShutdownGraceMs);
    if (!plat::MessageLoopRunning()) return;  // closed in time: the process ends on its own road
    DebugLog(L"[WM] 종료 신호 뒤 창 스레드가 " + std::to_wstring(kSignalShutdownGraceMs) +
             L"ms 안에 닫히지 않아(열린 대화상자 등) 그대로 끝냄");
    EndBrowserProcesses();
    FlushDebugLogQueue();
    FlushTraceLog();
    std::fflush(nullptr);
    std::_Exit(0);
  }).detach();
}

std::wstring Lower(std::wstring_view s) {
  std::wstring out(s);
  for (auto& c : out) c = static_cast<wchar_t>(std::towlower(c));
  return out;
}

bool EndsWith(std::wstring_view s, std::wstring_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// Asks for the browser; false when there is none (the message box has then been answered).
bool BrowserRuntimePresent() {
  std::wstring version;
  if (FindPageBrowser(version) && !version.empty()) return true;
  const plat::BoxAnswer answer = ShowMessageBoxOrLog(
      L"브라우저 필요",
      L"이 프로그램은 화면을 Chromium 브라우저로 보여줍니다 (chromium 패키지).\n"
      L"이 PC에는 설치되어 있지 않습니다.\n\n지금 설치 페이지를 여시겠습니까?\n"
      L"(설치가 끝난 뒤 프로그램을 다시 실행해주세요.)",
      plat::BoxButtons::kYesNo, plat::BoxIcon::kWarning, plat::BoxAnswer::kNo);
  if (answer == plat::BoxAnswer::kYes)
    plat::RunHiddenAndWait(std::vector<std::string>{"xdg-open", WideToUtf8(kBrowserDownloadPage)}, 10000);
  return false;
}

// A later start asked us to come forward: done on the window thread, in order with the rest.
bool ComeForwardForLaterStart() {
  return plat::PostWindowTask([] {
    DebugLog(L"[WM] 다른 Tavelo 실행 요청 - 기존 창을 앞으로 불러옴");
    plat::BringOwnWindowsForward();
  });
}

// True when this process may go on as the one instance.
bool TakeSingleInstance() {
  // An instance started by a program swap or a restart follows one that is closing: it waits for
  // the lock instead of asking that one to come forward (which would leave nothing running).
  const bool successor = plat::TakeSuccessorMark();
  switch (plat::ClaimSingleInstanceRetrying(kSingleInstanceName, kInstanceAttempts,
                                            static_cast<int>(kInstanceRetryMs), !successor)) {
    case plat::InstanceClaim::kOwner:
      plat::ListenForLaterStarts(ComeForwardForLaterStart);
      return true;
    case plat::InstanceClaim::kForwarded:
    case plat::InstanceClaim::kHeld:
      // The running instance answered and comes forward, or never answered in the whole wait.
      break;
  }
  DebugLog(L"이미 실행 중인 Tavelo가 있어 새 인스턴스를 띄우지 않고 기존 창을 앞으로 불러옴");
  return false;
}

void StartWorkerThreads() {
  int expected = 0;
  if (NetStatusStarted.compare_exchange_strong(expected, 1)) std::thread(NetStatusThread).detach();
  std::error_code ec;
  uint8_t idle = 0;
  if (fs::exists(plat::RealPath(L"<root>/system/rs_resume.cfg"), ec) &&
      Online.RemoteSupportActive.compare_exchange_strong(idle, 1))
    std::thread(ResumeSupportThread).detach();
  Startup.StartupLoadThread = std::thread(RunStartupLoad);
  std::thread(RefreshKeysigTableThread).detach();
  std::thread(RunStartupUpdates).detach();
}

void ApplyGpuDecision(const GpuDecision& gpu) {
  Startup.GpuAccelerationOn.store(gpu.on ? 1 : 0);
  Backgrounds.GpuAccelerationOn.store(gpu.on ? 1 : 0);
  PcCheck.GpuAccelerationOn.store(gpu.on ? 1 : 0);
  if (gpu.on) {
    plat::SetEnvironmentVariable("TAVELO_BROWSER_ARGS",
                                 "--ignore-gpu-blocklist --enable-gpu-rasterization --enable-zero-copy");
    DebugLog(L"[BOOT] 그래픽 가속 켬 - GPU 차단 목록 무시 (" + gpu.reason + L")");
  } else {
    DebugLog(L"[BOOT] 그래픽 가속 끔 (" + gpu.reason + L")");
  }
}

}  // namespace

GpuDecision DecideGpuAcceleration(std::string_view text) {
  GpuDecision d;
  ForEachTextLine(text, [&](std::string_view line) {
    auto value = [&](std::string_view key, int& out) {
      if (line.substr(0, key.size()) != key) return;
      out = LeadingInt(line.substr(key.size()));
    };
    value("gpuForce=", d.gpuForce);
    value("pcScore=", d.pcScore);
    value("customerMonitor=", d.customerMonitor);
    value("customerVideo=", d.customerVideo);
  });
  if (d.gpuForce != 0 && d.gpuForce != 1) d.gpuForce = -1;
  const bool video = d.customerMonitor > 0 && d.customerVideo != 0;
  const bool lowScore = d.pcScore >= 0 && d.pcScore <= 69;
  const std::wstring scoreReason = L"자동 - PC 점수 " + std::to_wstring(d.pcScore) + L"점";
  if (d.gpuForce == 1 || d.gpuForce == 0) {
    d.on = d.gpuForce == 1;
    d.reason = L"사용자 지정";
  } else if (lowScore || video) {
    d.on = true;
    d.reason = video && !lowScore ? L"자동 - 손님 화면 + 배경 동영상" : scoreReason;
  } else {
    d.on = false;
    d.reason = d.pcScore < 0 ? L"자동 - 아직 ALT+F12 진단 전" : scoreReason;
  }
  return d;
}

bool IsStrayBuildFile(std::wstring_view name) {
  const std::wstring n = Lower(name);
  if (n.size() < 5) return false;
  const bool cpp = EndsWith(n, L".cpp");
  if ((cpp || EndsWith(n, L".exe")) && n.rfind(L"pelmora", 0) == 0) return true;
  return cpp && (n == L"enc_recover.cpp" || n == L"remote_viewer.cpp");
}

int DeleteStrayFiles(const fs::path& folder, int depth) {
  if (depth > 5) return 0;
  int count = 0;
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  if (ec) return 0;
  const std::wstring self = Lower(Utf8ToWide(plat::ExecutablePath().string()));
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    const fs::path path = it->path();
    const std::wstring name = Utf8ToWide(path.filename().string());
    std::error_code sec;
    // Links are not followed: a link to a folder above could make the walk leave the root. The
    // entry's type comes from the listing itself: the song folder holds a hundred thousand files,
    // and a status call for each would compete with the start.
    if (!it->is_symlink(sec) && it->is_directory(sec)) {
      if (Lower(name) != L"song") count += DeleteStrayFiles(path, depth + 1);
      continue;
    }
    if (!IsStrayBuildFile(name)) continue;
    const std::wstring text = Utf8ToWide(path.string());
    if (Lower(text) == self) continue;
    std::error_code rec;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, rec);
    if (fs::remove(path, rec)) {
      DebugLog(L"[정리] 잘못 배포된 파일 삭제 - " + text);
      ++count;
    } else {
      DebugLog(L"[정리] 삭제 실패(권한/사용중?) - " + text);
    }
  }
  return count;
}

// With a read-only install root nothing the operator changes is kept: said once, at start.
static void SayIfNothingCanBeSaved() {
  const fs::path probe = plat::RealPath(L"<root>/system/write_check.tmp");
  if (probe.empty()) return;
  const int error = plat::TryCreateFile(probe);
  if (error == 0) return;
  SayInstallRootReadOnly(plat::RootDir(), error);
}

// Hooks through which the layers below reach up to the start-up and the window.
static void InstallProgramHooks() {
  InstallPlaybackSignals();
  SetPresetKeyWriter(SetPresetAppKey);
  SetTickInFlightFlag(&MainWindow.MainTickInFlight);
  SetLiteModeFlag(&PageHost.LiteModeActive);
  SetSongScreenCache([](const std::wstring& script) {
    std::lock_guard lock(PageHost.PageScriptCacheMutex);
    PageHost.SongScreenScript = script;
  });
  PageBootHooks boot;
  boot.waitForSongList = [] {
    if (Startup.StartupLoadThread.joinable()) WaitForStartupSongList();
  };
  boot.waitForStartupLoad = [] {
    if (Startup.StartupLoadThread.joinable()) Startup.StartupLoadThread.join();
  };
  boot.enterFullscreen = [] { SetFullscreen(true); };
  SetPageBootHooks(boot);
  SettingsCommandHooks settings;
  settings.setFullscreen = [](bool on) { SetFullscreen(on); };
  settings.fullscreenOn = [] { return MainWindow.FullscreenState.on.load() != 0; };
  SetSettingsCommandHooks(settings);
}

int RunTavelo(int argc, char** argv) {
  InstallProgramHooks();
  CreateInstallFolders();
  SayIfNothingCanBeSaved();
  plat::SetFailedSaveHook(ReportFailedSave);
  DebugLog(L"########## Tavelo 시작 - 빌드표식 B-RSFILE-72 (원격 중 앱을 닫아도 안 끊김 + 관리자가 파일 보내기) / Ver 12.9 ##########");
  // The sweep walks the whole install tree, whose system folder holds every song's files (some
  // hundred thousand with a full catalogue): it runs beside the start instead of before the page.
  std::thread([] {
    plat::LowerThreadPriority();
    DeleteStrayFiles(plat::RootDir(), 0);
  }).detach();

  bool delayed = false;
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]).find("/delayedstart") != std::string_view::npos) delayed = true;
  if (delayed) {
    DebugLog(std::wstring(L"부팅 자동실행(Run키 방식) - ") + L"1" + L"분 대기 후 시작");
    plat::SleepMs(kDelayedStartMs);
  }

  if (!TakeSingleInstance()) return 0;
  // The player and the rhythm engine must never wait for a page the kernel took back on a busy
  // machine.
  LockMemoryForRealtime();
  // Only now, with no other instance writing, are temporary files of a save left by a kill.
  RemoveInterruptedSaveFiles();

  // (The 1 ms timer resolution and the COM apartment have no counterpart here.)
  if (!BrowserRuntimePresent()) {
    std::fprintf(stderr, "tavelo: no browser to show the page (install the chromium package)\n");
    return 1;
  }

  plat::SetWindowProcedure(WndProc);
  MainWindow.MainWindowHandle.store(true);
  // SIGINT and SIGTERM close the main window ahead of queued commands, without a question: an open
  // question box takes its default answer, and so does every later one.
  plat::OnTerminationSignals([] {
    plat::CloseQuestionBoxes(true);
    plat::PostUrgentWindowMessage(plat::kWmClose, kCloseWithoutQuestion);
    EndIfWindowThreadStaysHeld();
  });
  // The page's stop of a remote support session must not wait behind the question the close
  // button asks while a session runs: that question takes its default answer.
  plat::SetPageMessageWatch([](std::string_view message) {
    if (message == "REMOTE_SUPPORT_STOP") plat::CloseQuestionBoxes(false);
  });

  ApplyNumLockOff();
  if (plat::RegisterPrintScreenHotkey(kTempoLockHotkeyId))
    DebugLog(L"[템포락] PrintScreen 전역 핫키 등록 완료");
  else
    DebugLog(L"[템포락] PrintScreen 전역 핫키 등록 실패 - 화면 쪽 키 처리로 대체합니다(다른 프로그램이 이미 잡고 있는 경우).");
  // Our browser window becoming active reaches the window procedure as focus.
  if (!plat::WatchOwnWindowFocus(plat::kWmSetFocus))
    DebugLog(L"[포커스] 디스플레이가 없어 창 활성화를 따라가지 않음");
  // The display stays on and the screen saver off for the life of the process.
  switch (plat::KeepDisplayAwake()) {
    case plat::AwakeStatus::kHeld:
      DebugLog(L"[화면] 프로그램이 도는 동안 화면 보호기와 모니터 절전을 막음");
      break;
    case plat::AwakeStatus::kNoDisplay:
      DebugLog(L"[화면] 디스플레이가 없어 화면 켜 두기를 쓸 수 없음 - 화면 보호기와 절전은 데스크톱 설정을 따릅니다.");
      break;
    case plat::AwakeStatus::kUnsupported:
      DebugLog(L"[화면] X 서버에 화면 보호기/DPMS 확장이 없어 화면 켜 두기를 쓸 수 없음 - 데스크톱 설정을 따릅니다.");
      break;
  }

  // The four graphics values are read before the load thread may rewrite the settings file.
  const GpuDecision gpu = DecideGpuAcceleration(
      plat::ReadFileBytes(plat::RealPath(AppSettingsFilePath)).value_or(std::string()));
  Settings.gpuForce = gpu.gpuForce;

  StartWorkerThreads();
  ApplyGpuDecision(gpu);
  plat::PostWindowTask([] {
    OpenMainPage(OnMainWebMessage, [] {
      MarkPageConnected();
      OnMainNavigationCompleted();
    });
  });

  plat::RunMessageLoop();

  plat::StopWatchingOwnWindowFocus();
  plat::ReleaseDisplayAwake();  // DPMS is the server's setting and outlives us: give it back
  SongLibrary.StopLoading.store(true);  // a catalogue still loading stops instead of holding up the exit
  if (Startup.StartupLoadThread.joinable()) Startup.StartupLoadThread.join();
  FlushDebugLogQueue();
  FlushTraceLog();
  // Detached workers may still run; the process ends here without tearing down what they use.
  std::fflush(nullptr);
  std::_Exit(plat::ProcessExitCode());
}
