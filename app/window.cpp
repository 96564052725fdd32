#include "app/window.h"

#include <thread>

#include "base/debug_log.h"
#include "base/message_box.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "online/rs_front.h"
#include "online/services.h"
#include "platform/browser_window.h"
#include "platform/clock.h"
#include "platform/hotkey.h"
#include "platform/key_grab.h"
#include "playback/services.h"
#include "playback/tempo.h"
#include "songs/services.h"
#include "songs/song_list.h"
#include "sound/services.h"
#include "ui/page_host.h"
#include "ui/script_channel.h"
#include "ui/services.h"

MainWindowState MainWindow;

namespace {

constexpr uint32_t kBuiltinSynthPort1 = 0xB1517001u;
constexpr uint32_t kBuiltinSynthPort2 = 0xB1517002u;
constexpr uint32_t kDeferredWaitLimitMs = 15000;

PageTargets DefaultPageTargets() {
  PageTargets t;
  t.mainExists = [] { return PageHost.MainPageView != nullptr; };
  t.runOnMain = [](std::wstring_view script, std::function<void(bool)> done) {
    if (PageHost.MainPageView) PageHost.MainPageView->RunScript(script, std::move(done));
  };
  t.tableCallOnMain = [](std::string_view function, std::string table) {
    if (PageHost.MainPageView) PageHost.MainPageView->CallWithTable(function, std::move(table));
  };
  t.customerExists = [] { return PageHost.CustomerPageView != nullptr; };
  t.runCustomerScript = [](std::wstring_view script) { RunCustomerScript(script); };
  t.runOnCustomer = [](std::wstring_view script, std::function<void(bool)> done) {
    if (PageHost.CustomerPageView) PageHost.CustomerPageView->RunScript(script, std::move(done));
  };
  // The page's window is the browser's: activating it puts the keyboard focus into the page.
  t.moveFocusIntoPage = [] { plat::BringOwnWindowsForward(); };
  return t;
}

PageTargets& Pages() {
  static PageTargets targets = DefaultPageTargets();
  return targets;
}

// A short notice at the top of the page when fullscreen begins.
std::wstring FullscreenNoticeScript() {
  return GuardedScript(
      L"var t=document.createElement('div');t.textContent=" + ScriptString(L"전체화면 - F11로 해제") +
      L";t.style.cssText='position:fixed;top:12px;left:50%;transform:translateX(-50%);background:rgba(0,0,0,"
      L"0.82);color:#fff;padding:8px 18px;border-radius:10px;z-index:99999;font-family:\"Malgun Gothic\","
      L"sans-serif;font-size:15px;font-weight:bold;box-shadow:0 2px 10px rgba(0,0,0,0.5);';"
      L"document.body.appendChild(t);setTimeout(function(){t.remove();},2500);");
}

bool InTransition() { return CvtState.FillPlaying.load() || PlaybackState.waitingGo.load(); }

void HandleRunPageScript(const std::wstring& script) {
  PageTargets& pages = Pages();
  if (script.size() <= kLongScriptChars) {
    if (pages.mainExists()) pages.runOnMain(script, nullptr);
    pages.runCustomerScript(script);
    return;
  }
  const uint32_t start = plat::TimeGetTime();
  if (pages.mainExists()) pages.runOnMain(script, nullptr);
  DebugLog(L"[SONG] 메인 화면 스크립트 전달 " + std::to_wstring(script.size()) + L"자 - " +
           std::to_wstring(plat::TimeGetTime() - start) + L"ms");
  if (pages.customerExists() && InTransition()) {
    const int g = ++MainWindow.CustomerInitGeneration;
    MainWindow.PendingCustomerInitGeneration.exchange(g);
    try {
      std::thread(DeferredCustomerInitThread, std::make_unique<std::wstring>(script), g).detach();
    } catch (...) {
      // No thread: the copy is gone with it; nothing may stay pending, or ticks would stop.
      int expected = g;
      MainWindow.PendingCustomerInitGeneration.compare_exchange_strong(expected, 0);
      return;
    }
    DebugLog(L"[CW] 전환 중 - 손님 화면 초기화를 다운비트 뒤로 미룸(" +
             std::to_wstring(script.size()) + L"자)");
  } else {
    ++MainWindow.CustomerInitGeneration;
    MainWindow.PendingCustomerInitGeneration.exchange(0);
    pages.runCustomerScript(script);
  }
}

void HandleDeferredCustomerInit(const std::wstring* script, int g) {
  if (script) {
    if (MainWindow.CustomerInitGeneration.load() == g) Pages().runCustomerScript(*script);
    else DebugLog(L"[CW] 미뤄 둔 손님 초기화가 이미 지난 곡 것이라 버림");
  }
  int expected = g;
  MainWindow.PendingCustomerInitGeneration.compare_exchange_strong(expected, 0);
}

void HandleTick(uint32_t tick) {
  PageTargets& pages = Pages();
  const std::wstring script = PageCall(L"updateTick", tick);
  if (!pages.mainExists()) {
    MainWindow.MainTickInFlight.store(0);
    return;
  }
  pages.runOnMain(script, [](bool) { OnMainTickScriptDone(); });
  if (!pages.customerExists()) return;
  const uint32_t now = plat::TimeGetTime();
  const uint32_t interval = InTransition()              ? 250
                            : PageHost.LiteModeActive.load()     ? 120
                            : Settings.customerVideo != 0 ? 90
                                                        : 0;
  const uint32_t since = now - MainWindow.LastCustomerTickTime.load();
  if (MainWindow.PendingCustomerInitGeneration.load() == 0 && since >= interval &&
      (!MainWindow.CustomerTickInFlight.load() || since >= 500)) {
    MainWindow.CustomerTickInFlight.store(1);
    MainWindow.LastCustomerTickTime.store(now);
    pages.runOnCustomer(script, [](bool) { OnCustomerTickScriptDone(); });
  }
}

void HandleAlert(const std::wstring& text) {
  // The texts are written with line breaks; the plain escape would run the lines together.
  if (Pages().mainExists()) Pages().runOnMain(PageCall(L"alert", LinesText{text}), nullptr);
}

void HandleChordInfo(const std::wstring& text) {
  if (!Pages().mainExists()) return;
  Pages().runOnMain(GuardedScript(L"var _d=document.getElementById('debug-chord-info'); var _t=" +
                                 ScriptString(text) +
                                 L"; if(_d) { _d.innerText=_t; _d.style.display = _t.length ? 'block' : 'none'; }"),
                    nullptr);
}

void HandleRefreshSongList() {
  const int count = LoadPopKoIndex();
  if (count <= 0 || !Pages().mainExists()) return;
  // The whole list again, as data the page parses (the main page is the one that searches).
  Pages().tableCallOnMain("initSongDb", BuildSongListTable());
  DebugLog(L"팝송 한글검색: 화면 곡목록 갱신 " + std::to_wstring(count) + L"곡");
}

void HandleRestoreFocus() {
  plat::BringOwnWindowsForward();
  Pages().moveFocusIntoPage();
  DebugLogAsync(L"[포커스] 신곡 확인이 끝나 키보드 포커스를 본 화면으로 되돌림");
}

// Takes Alt+Tab, Alt+Esc, Ctrl+Esc and the Windows keys for fullscreen. What could not be taken
// is logged once per run, not on every toggle.
void BlockSwitchKeysAndLog() {
  static bool loggedPartly = false, loggedNoDisplay = false;
  const plat::KeyBlockResult r = plat::BlockSwitchKeys();
  MainWindow.FullscreenState.hookInstalled = r.status != plat::KeyBlockStatus::kNoDisplay;
  if (r.status == plat::KeyBlockStatus::kNoDisplay && !loggedNoDisplay) {
    loggedNoDisplay = true;
    DebugLog(L"[전체화면] 디스플레이가 없어 Alt+Tab/윈도우 키 막기를 쓸 수 없음 - 창 관리자가 키를 처리합니다.");
  } else if (r.status == plat::KeyBlockStatus::kPartly && !loggedPartly) {
    loggedPartly = true;
    std::string names;
    for (const std::string& n : r.heldElsewhere) names += (names.empty() ? "" : ", ") + n;
    DebugLog(L"[전체화면] 다른 프로그램이 이미 잡고 있어 막지 못한 키: " + Utf8ToWide(names));
  }
}

void HandleDestroy();

void HandleClose(bool withoutQuestion) {
  if (Online.RemoteSupportActive.load() && withoutQuestion) {
    DebugLog(L"[RS] 지원 중 종료 신호 - 프로그램을 끄고 원격도 함께 끝냅니다");
  } else if (Online.RemoteSupportActive.load()) {
    // Without a display nobody can choose to keep the program laid down: it closes.
    bool closedByProgram = false;
    const plat::BoxAnswer answer = ShowMessageBoxOrLog(
        L"원격지원 중입니다",
        L"지금 원격지원이 연결되어 있습니다.\n\n프로그램을 끄면 원격지원도 함께 끊어집니다.\n"
        L"폴더를 보시려는 거라면 끄지 말고 내려놓기만 하세요 -\n"
        L"원격은 그대로 이어지고, 화면은 작업표시줄에서 다시 열 수 있습니다.\n\n"
        L"[예]   프로그램을 내려놓고 원격지원을 계속합니다\n[아니오] 프로그램을 끄고 원격지원도 끝냅니다",
        plat::BoxButtons::kYesNo, plat::BoxIcon::kQuestion, plat::BoxAnswer::kNo, &closedByProgram);
    if (closedByProgram) {
      // A stop of the session or a signal came while the question was open: the program closes
      // and the session ends for good (no rejoin at the next start).
      DebugLog(L"[RS] 지원 중 닫기 요청 - 답을 기다리는 동안 지원 종료/종료 신호가 와서 원격도 함께 끝냅니다");
      StopRemoteSupport();
    } else if (answer != plat::BoxAnswer::kNo) {
      plat::MinimizeOwnWindows();
      DebugLog(L"[RS] 지원 중 닫기 요청 - 프로그램을 내려놓고 원격을 계속합니다");
      return;
    } else {
      DebugLog(L"[RS] 지원 중 닫기 요청 - 사용자가 '끄기'를 골라 원격도 함께 끝냅니다");
    }
  }
  HandleDestroy();  // closing destroys the window
}

// The shutdown order.
void HandleDestroy() {
  if (!MainWindow.MainWindowHandle.exchange(false)) return;  // destroyed once
  MarkLastHistoryInsUsed();
  Settings.extClock = 0;  // in memory only, so the clock thread stops
  StartStopExternalClock();
  CloseExternalModule();
  FlushDeferredSoundSaves();  // what the debounced saves would write 500 ms later, now
  plat::UnregisterHotkey(kTempoLockHotkeyId);
  plat::UnblockSwitchKeys();
  MainWindow.FullscreenState.hookInstalled = false;
  for (auto* port : {&Sound.MidiOutPort1, &Sound.MidiOutPort2}) {
    const MidiOutHandle h = port->load();
    if (h != 0 && h != kBuiltinSynthPort1 && h != kBuiltinSynthPort2) CloseMidiOut(h);
    port->store(0);
  }
  EndBrowserProcesses();
  DebugLog(L"[WM] 창 닫기 - 종료 순서 끝");
  plat::PostQuit(0);
}

}  // namespace

void SetPageTargets(PageTargets targets) { Pages() = targets.mainExists ? std::move(targets) : DefaultPageTargets(); }

void WndProc(plat::WindowMessage& msg) {
  const std::wstring* text = msg.text.get();
  switch (msg.id) {
    case plat::kWmSetFocus:
      // The browser focuses its page itself when its window is activated; asked again all the same.
      ApplyNumLockOff();
      Pages().moveFocusIntoPage();
      break;
    case plat::kWmHotkey:
      if (msg.wParam == kTempoLockHotkeyId) ToggleTempoLock();
      break;
    case plat::kWmClose:
      HandleClose(msg.wParam == kCloseWithoutQuestion);
      break;
    case plat::kWmDestroy:
      HandleDestroy();
      break;
    case WM_RUN_PAGE_SCRIPT:
      if (text) HandleRunPageScript(*text);
      break;
    case WM_UPDATE_TICK:
      HandleTick(static_cast<uint32_t>(msg.wParam));
      break;
    case WM_PAGE_ALERT:
      if (text) HandleAlert(*text);
      break;
    case WM_DEBUG_CHORD_INFO:
      HandleChordInfo(text ? *text : std::wstring());
      break;
    case WM_OPEN_CUSTOMER_WINDOW:
      OpenCustomerWindow(static_cast<int>(msg.wParam));
      break;
    case WM_REFRESH_SONG_LIST:
      HandleRefreshSongList();
      break;
    case WM_DEFERRED_CUSTOMER_INIT:
      HandleDeferredCustomerInit(text, static_cast<int>(msg.lParam));
      break;
    case WM_CVT_BAR_HOME:
      DebugLogAsync(msg.wParam == 0 ? L"[CVT] 마디 경계 도달 - 초기화면 전환 시작(리듬은 계속)"
                                    : L"[CVT] 마디 경계가 3초 안에 안 와서 그냥 초기화면 전환");
      EndOriginalKeepRhythm();
      break;
    case WM_RESTORE_FOCUS:
      HandleRestoreFocus();
      break;
    default:
      break;
  }
  msg.text.reset();  // the payload is freed after handling, whatever the message was
}

void SetFullscreen(bool on) {
  if (!MainWindow.MainWindowHandle.load() || (MainWindow.FullscreenState.on.load() != 0) == on) return;
  MainWindow.FullscreenState.on.store(on ? 1 : 0);
  if (on) {
    BlockSwitchKeysAndLog();
  } else {
    plat::UnblockSwitchKeys();
    MainWindow.FullscreenState.hookInstalled = false;
  }
  plat::SetOwnWindowsFullscreen(on);
  if (on) {
    plat::BringOwnWindowsForward();
    Pages().moveFocusIntoPage();
    if (Pages().mainExists())
      Pages().runOnMain(FullscreenNoticeScript(), nullptr);
  }
}

void OnMainTickScriptDone() { MainWindow.MainTickInFlight.store(0); }
void OnCustomerTickScriptDone() { MainWindow.CustomerTickInFlight.store(0); }

void DeferredCustomerInitThread(std::unique_ptr<std::wstring> script, int generation) {
  const uint32_t start = plat::TimeGetTime();
  while (InTransition() && plat::TimeGetTime() - start < kDeferredWaitLimitMs) plat::SleepMs(5);
  plat::SleepMs(220);
  if (MainWindow.CustomerInitGeneration.load() == generation &&
      plat::PostWindowMessage(WM_DEFERRED_CUSTOMER_INIT, 0, generation, std::move(script)))
    return;  // the window owns the copy now
  // A newer long script came, or the window is gone: the copy is freed here (a refused post
  // frees it too).
  script.reset();
  int expected = generation;
  MainWindow.PendingCustomerInitGeneration.compare_exchange_strong(expected, 0);
}
