// The customer window over the page server: a second page view at "/customer", shown by a second
// browser process placed on the chosen monitor. Where the embedded browser runtime creates a
// controller, we start that browser and wait for its page to connect; a browser that cannot
// start or whose page does not connect in time is a failed controller creation.
#include "ui/customer_window.h"

#include <cstdio>
#include <iostream>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/program_messages.h"
#include "base/settings/app_settings.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "online/rs_screen.h"
#include "platform/browser_window.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/page_server.h"
#include "platform/paths.h"
#include "ui/backgrounds.h"
#include "ui/page_host.h"
#include "ui/script_channel.h"

CustomerWindowState CustomerWindow;

namespace {

std::wstring Hex(uint32_t value) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"0x%08X", value);
  return buf;
}

std::wstring Num(long long v) { return std::to_wstring(v); }

// Ends what an open made: the browser process, the page view and the window.
void CloseCustomer() {
  CustomerWindow.PendingCustomerView.reset();
  PageHost.CustomerPageView.reset();
  if (CustomerWindow.CustomerBrowserPid > 0) plat::EndBrowserProcess(CustomerWindow.CustomerBrowserPid);
  CustomerWindow.CustomerBrowserPid = 0;
  RsCustomerBrowserGroup = 0;
  CustomerWindow.CustomerWindowOpen = false;
}

void ResetMonitorSetting() {
  Settings.customerMonitor = 0;
  SaveAppSettings();
}

// The page copy the customer view serves: a byte-order mark and the page text as UTF-8.
bool WritePageCopy(std::string& bytes) {
  bytes = "\xEF\xBB\xBF" + WideToUtf8(PageHost.PageSource);
  const auto file = plat::RealPath(L"<root>/system/ui/page.html");
  return !file.empty() && plat::WriteFileAtomic(file, bytes);
}

// Lets the customer profile use the camera of the page's own origin without asking, and never
// the microphone.
void WriteCameraPolicy(const std::filesystem::path& profile) {
  const std::string origin = "http://127.0.0.1:" + std::to_string(plat::PageServerPort()) + ",*";
  const std::string prefs = "{\"profile\":{\"content_settings\":{\"exceptions\":{"
                            "\"media_stream_camera\":{\"" + origin + "\":{\"setting\":1}},"
                            "\"media_stream_mic\":{\"" + origin + "\":{\"setting\":2}}}}}}";
  if (plat::WriteFileAtomic(profile / "Default" / "Preferences", prefs))
    DebugLog(L"[CW] 카메라(캡처 장치) 권한 허용");
}

// Starts the customer browser on the window's rectangle, or publishes the address when no
// browser is started. False when the browser cannot be started.
bool StartCustomerBrowser(PageView& view, uint64_t generation) {
  plat::BrowserChoice browser = plat::FindBrowser();
  if (browser.none) {
    const std::string address = view.Address();
    const auto file = plat::RealPath(L"<root>/system/customer_url.txt");
    if (file.empty() || !plat::WriteOwnerOnlyFile(file, address + "\n"))
      DebugLog(L"[CW] 손님 화면 주소 파일을 쓰지 못함");
    std::cout << "customer: " << address << std::endl;
    return true;
  }
  if (browser.program.empty()) return false;
  const auto profile = plat::RealPath(L"<root>/system/browser/customer");
  WriteCameraPolicy(profile);
  const char* extra = std::getenv("TAVELO_BROWSER_ARGS");
  const int pid = plat::LaunchBrowserOnRect(browser.program, view.OneTimeAddress(), profile, extra ? extra : "",
                                            CustomerWindow.CustomerWindowRect,
                                            [generation, program = Utf8ToWide(browser.program.string())](
                                                const plat::BrowserExit& e) {
                                              if (e.seconds < 10) {
                                                const std::wstring why = DescribeBrowserExit(program, e);
                                                DebugLog(L"[CW] " + why);
                                                std::cerr << "tavelo: " << WideToUtf8(why) << std::endl;
                                              }
                                              // The customer browser went away by itself (the operator
                                              // closed it): the window counts as closed, on the window
                                              // thread that owns its state.
                                              plat::PostWindowTask([generation] {
                                                if (generation != CustomerWindow.Generation) return;
                                                DebugLog(L"[CW] 손님 화면 브라우저가 닫혔습니다");
                                                CustomerWindow.CustomerBrowserPid = 0;  // nothing left to end
                                                CloseCustomer();
                                              });
                                            });
  CustomerWindow.CustomerBrowserPid = pid;
  RsCustomerBrowserGroup = pid;
  return pid > 0;
}

void RunDelayed(int ms, int monitor) {
  std::thread([ms, monitor] {
    plat::SleepMs(ms);
    plat::PostWindowMessage(WM_OPEN_CUSTOMER_WINDOW, monitor);
  }).detach();
}

}  // namespace

void EnumerateMonitors() { CustomerWindow.MonitorList = plat::ListMonitors(); }

std::wstring BuildMonitorListJson() {
  std::wstring out = L"[";
  int number = 0;
  for (const auto& m : CustomerWindow.MonitorList) {
    if (number) out += L",";
    ++number;
    out += L"[" + Num(number) + L"," + Num(static_cast<long long>(m.rect.right) - m.rect.left) + L"," +
           Num(static_cast<long long>(m.rect.bottom) - m.rect.top) + L"," + (m.primary ? L"1" : L"0") + L"]";
  }
  return out + L"]";
}

int FindMainMonitorIndex() {
  if (!PageHost.MainPageView) return -1;
  const auto rect = plat::MainWindowMonitor(CustomerWindow.CustomerBrowserPid);
  if (!rect) return -1;
  const auto& list = CustomerWindow.MonitorList;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].rect == *rect) return static_cast<int>(i) + 1;
  return -1;
}

std::wstring BuildMonitorScript() {
  const auto videos = ListPlayableVideos();
  return GuardedScript(PageCallText(L"initMonitorList", ScriptLiteral{BuildMonitorListJson()},
                                 Settings.customerMonitor.load(), FindMainMonitorIndex()) +
         L"; " + PageCallText(L"initCustomerBright", Settings.customerBright.load()) + L"; " +
         PageCallText(L"initCwLyricsPct", Settings.cwLyricsPct.load()) + L"; " +
         PageCallText(L"initCwScoreFill", Settings.cwScoreFill.load()) + L"; " +
         PageCallText(L"initCustomerVideo", Settings.customerVideo.load(),
                      videos.empty() ? std::wstring() : videos.front(), static_cast<int>(videos.size())) +
             L";",
         L"initMonitorList");
}

void OpenCustomerWindow(int n) {
  DebugLog(L"[CW] OpenCustomerWindow(" + Num(n) + L") 진입  enable=1 pageHtml=" +
           Num(static_cast<long long>(PageHost.PageSource.size())) + L"자");
  const uint64_t generation = ++CustomerWindow.Generation;
  CloseCustomer();
  if (n <= 0) {
    ShowPageBadge(L"손님 화면 끔");
    return;
  }
  EnumerateMonitors();
  const int count = static_cast<int>(CustomerWindow.MonitorList.size());
  const int main = FindMainMonitorIndex();
  DebugLog(L"[CW] 연결된 모니터 " + Num(count) + L"개, 메인은 " + Num(main) + L"번");
  if (n > count) {
    DebugLog(L"[CW] 손님 화면: " + Num(n) + L"번 모니터가 없습니다(연결된 모니터 " + Num(count) + L"개) - 띄우지 않음");
    ResetMonitorSetting();
    return;
  }
  if (main > 0 && n == main) {
    DebugLog(L"[CW] 손님 화면: " + Num(n) + L"번은 메인 화면이 있는 모니터라 띄우지 않습니다");
    ResetMonitorSetting();
    PostScriptToPage(GuardedScript(
        L"alert('손님 화면은 메인 화면과 같은 모니터에는 띄울 수 없습니다.\\n\\n확장(extend)으로 설정된 다른 "
        L"모니터를 고르세요.');",
        L"alert"));
    return;
  }
  if (!PageHost.MainPageView) {
    DebugLog(L"[CW] 웹뷰 환경이 아직 준비되지 않았습니다");
    ShowPageBadge(L"손님 화면: 웹뷰 준비 전입니다. 잠시 뒤 다시 시도하세요");
    return;
  }
  if (PageHost.PageSource.empty()) {
    DebugLog(L"[CW] 페이지 원문이 비어 있습니다");
    ShowPageBadge(L"손님 화면: 페이지 준비 전입니다. 잠시 뒤 다시 시도하세요");
    return;
  }
  const auto& rect = CustomerWindow.MonitorList[static_cast<size_t>(n - 1)].rect;
  CustomerWindow.CustomerWindowOpen = true;
  CustomerWindow.CustomerWindowRect = rect;
  DebugLog(L"[CW] 손님 화면: " + Num(n) + L"번 모니터에 창 생성(" + Num(static_cast<long long>(rect.right) - rect.left) +
           L"x" + Num(static_cast<long long>(rect.bottom) - rect.top) + L")");

  // The page view: settings of the customer page, its messages and loads.
  PageViewOptions options;
  options.zoom = false;
  options.contextMenus = false;
  options.openBrowser = false;
  auto view = std::make_unique<PageView>("customer", options);
  view->SetMessageHandler([](const std::wstring* message) { OnCustomerWebMessage(message); });
  view->SetLoadedHandler([generation] {
    if (generation != CustomerWindow.Generation) return;
    if (CustomerWindow.PendingCustomerView) OnCustomerControllerCreated(generation, 0);
    OnCustomerNavigationCompleted(generation);
  });
  std::string copy;
  if (WritePageCopy(copy)) {
    view->ShowDocumentUtf8(copy.substr(3));
    DebugLog(L"[CW] 페이지 로드 시작 (/customer?v=" + Num(static_cast<long long>(PageHost.PageSource.size())) +
             L" - 외부 입력 가능)");
  } else {
    DebugLog(L"[CW] 페이지 파일 쓰기 실패 - 예전 방식(about:blank)으로 로드, 외부 입력은 못 씁니다");
    view->ShowDocument(PageHost.PageSource);
  }
  CustomerWindow.PendingCustomerView = std::move(view);
  if (!StartCustomerBrowser(*CustomerWindow.PendingCustomerView, generation)) {
    OnCustomerControllerCreated(generation, kCustomerResultStartFailed);
    return;
  }
  std::thread([generation] {
    plat::SleepMs(kCustomerConnectTimeoutMs);
    plat::PostWindowTask([generation] {
      if (generation == CustomerWindow.Generation && CustomerWindow.PendingCustomerView)
        OnCustomerControllerCreated(generation, kCustomerResultTimeout);
    });
  }).detach();
}

void OnCustomerControllerCreated(uint64_t generation, uint32_t result) {
  if (generation != CustomerWindow.Generation) return;
  const bool ok = result == 0 && CustomerWindow.PendingCustomerView && CustomerWindow.CustomerWindowOpen;
  DebugLog(L"[CW] 컨트롤러 콜백 hr=" + Hex(result) + L" c=" + (ok ? L"1" : L"0") + L" hwnd=" +
           (CustomerWindow.CustomerWindowOpen ? L"1" : L"0"));
  if (ok) {
    PageHost.CustomerPageView = std::move(CustomerWindow.PendingCustomerView);
    return;
  }
  // A failed attempt's page no longer counts; its browser stays until the next open.
  CustomerWindow.PendingCustomerView.reset();
  const int monitor = Settings.customerMonitor;
  if (CustomerWindow.PerMonitorDpiEnabled == 1 && !CustomerWindow.CustomerDpiRetryUsed && monitor > 0) {
    CustomerWindow.PerMonitorDpiEnabled = 0;
    CustomerWindow.CustomerDpiRetryUsed = true;
    DebugLog(L"[CW] 모니터별 DPI 를 끄고 곧바로 다시 시도합니다 (hr=" + Hex(result) + L")");
    ReopenCustomerAfterShortDelay(monitor);
    return;
  }
  ShowPageBadge(L"손님 화면: 웹뷰 생성 실패 " + Hex(result));
  if (!CustomerWindow.CustomerLateRetryUsed && monitor > 0) {
    CustomerWindow.CustomerLateRetryUsed = true;
    ReopenCustomerAfterLongDelay(monitor);
    DebugLog(L"[CW] 2초 뒤 한 번 다시 시도합니다");
  }
}

void OnCustomerNavigationCompleted(uint64_t generation) {
  if (generation != CustomerWindow.Generation || !PageHost.CustomerPageView) return;
  const std::string envText = ReadEnvSettingsText();
  // Only a settings object that passed the check goes into the script.
  const std::wstring env = envText.empty() ? std::wstring() : EnvSettingsScriptArgument();
  if (!env.empty()) {
    RunCustomerScript(PageCall(L"applyEnvSettings", JsonText{env}));
    DebugLog(L"[CW] 화면 설정(env) 전달 " + Num(static_cast<long long>(envText.size())) +
             L"자 - 악보 채움/조판 좌표를 메인과 맞춥니다");
  } else {
    DebugLog(L"[CW] 화면 설정(env)이 비어 있어 전달하지 않음 - 손님 창이 기본값으로 그립니다");
  }
  RunCustomerScript(PageCall(L"enterCustomerMode"));
  std::wstring bg, song;
  std::shared_ptr<const std::string> random;
  {
    std::lock_guard lock(PageHost.PageScriptCacheMutex);
    bg = PageHost.BgImagesScript;
    song = PageHost.SongScreenScript;
    random = PageHost.RandomBgScript;
  }
  for (const auto* s : {&bg, &song})
    if (!s->empty()) RunCustomerScript(*s);
  if (random) PageHost.CustomerPageView->RunSharedScript(std::move(random));
  RunCustomerScript(PageCall(L"enterCustomerMode"));
  RunCustomerScript(GuardedScript(L"CW_LYRICS_PCT = " + Num(Settings.cwLyricsPct) + L"; CW_SCORE_FILL = " +
                                      Num(Settings.cwScoreFill) +
                                      L"/100; if (typeof cwApplyLayout === 'function') cwApplyLayout();",
                                  L"cwApplyLayout"));
  RunCustomerScript(PageCall(L"cwSetBright", Settings.customerBright.load()));
  ApplyCustomerBackground();
  DebugLog(L"[CW] *** 손님 화면 준비 완료 ***");
  ShowPageBadge(L"손님 화면 준비 완료");
}

void OnCustomerWebMessage(const std::wstring* message) {
  if (!message) return;
  const std::wstring& m = *message;
  auto starts = [&](std::wstring_view p) { return m.compare(0, p.size(), p) == 0; };
  if (starts(L"CW_CAMLIST:")) {
    Backgrounds.CameraLabelList.clear();
    for (auto& label : SplitWide(std::wstring_view(m).substr(11), L'\t'))
      if (!label.empty()) Backgrounds.CameraLabelList.push_back(std::move(label));
    const auto& list = Backgrounds.CameraLabelList;
    DebugLog(L"[CW] 캡처 장치 " + Num(static_cast<long long>(list.size())) + L"개" +
             (list.empty() ? std::wstring() : L" - " + list.front()));
    PostScriptToPage(BuildCamListScript());
  } else if (starts(L"CW_LAYOUT:")) {
    DebugLog(L"[CW] 배치 실측 " + m.substr(10));
  } else if (starts(L"CW_CAMERR:")) {
    const std::wstring name = m.substr(10);
    DebugLog(L"[CW] 캡처 장치 열기 실패: " + name);
    if (name == L"no-media") ShowPageBadge(L"이 화면에서는 외부 입력을 열 수 없습니다(손님 창을 껐다 켜주세요)");
    else if (name == L"NotFoundError") ShowPageBadge(L"캡처 장치를 찾지 못했습니다 - USB 캡처를 꽂고 [목록 다시 읽기]");
    else if (name == L"NotReadableError") ShowPageBadge(L"캡처 장치를 다른 프로그램이 쓰고 있습니다");
    else ShowPageBadge(L"외부 입력을 열지 못했습니다 (" + name + L")");
  }
}

void ReopenCustomerAfterShortDelay(int monitor) { RunDelayed(300, monitor); }
void ReopenCustomerAfterLongDelay(int monitor) { RunDelayed(2000, monitor); }
