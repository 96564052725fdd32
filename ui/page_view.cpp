// The page view over the local page server: one view per window, the page's end of the channel
// put into every document, and the browser window started on the first document.
#include "ui/page_view.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <string_view>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/message_loop.h"
#include "platform/monitors.h"
#include "platform/browser_window.h"
#include "platform/files.h"
#include "platform/page_server.h"
#include "platform/paths.h"

const std::map<std::string, std::string_view>& EmbeddedPageFiles();

namespace {

std::string EnvText(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Set once the main page has loaded and connected (window thread).
bool mainPageEverLoaded = false;

// A browser that ends this soon after its start failed to start.
constexpr double kEarlyExitSeconds = 10;

std::string ViewPath(const std::string& windowName) {
  return windowName == "main" ? "/" : "/" + windowName;
}

// The page's end of the channel with this view's settings, put at the start of the head so
// that window.chrome.webview exists before the page's own script runs.
std::string ChannelPrelude(const PageViewOptions& o) {
  auto flag = [](bool b) { return b ? "true" : "false"; };
  std::string prelude = "<script>window.__tvSettings={zoom:";
  prelude += flag(o.zoom);
  prelude += ",contextMenus:";
  prelude += flag(o.contextMenus);
  prelude += ",acceleratorKeys:";
  prelude += flag(o.acceleratorKeys);
  // The install root as this machine names it, for the page's texts (a JS string that cannot end
  // the script element).
  prelude += ",root:\"";
  for (unsigned char c : plat::RootDir().string()) {
    if (c == '"' || c == '\\') prelude += '\\';
    if (c < 0x20 || c == '<') {
      static const char* hex = "0123456789abcdef";
      prelude += "\\u00";
      prelude += hex[c >> 4];
      prelude += hex[c & 15];
    } else {
      prelude += static_cast<char>(c);
    }
  }
  prelude += "\"};\n";
  const auto& files = EmbeddedPageFiles();
  if (auto it = files.find("webview-shim.js"); it != files.end()) prelude += it->second;
  prelude += "</script>";
  return prelude;
}

// Puts the prelude right after the opening head tag, else after the opening html tag, else in
// front of the document.
std::string WithPrelude(std::string html, const std::string& prelude) {
  auto findTag = [&](std::string_view tag) -> size_t {
    for (size_t i = 0; i + tag.size() <= html.size(); ++i) {
      if (html[i] != '<') continue;
      bool same = true;
      for (size_t k = 1; k < tag.size() && same; ++k) {
        char c = html[i + k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        same = c == tag[k];
      }
      if (!same) continue;
      char after = i + tag.size() < html.size() ? html[i + tag.size()] : '>';
      if (after != '>' && after != ' ' && after != '\t' && after != '\n' && after != '\r') continue;
      size_t close = html.find('>', i);
      return close == std::string::npos ? std::string::npos : close + 1;
    }
    return std::string::npos;
  };
  size_t at = findTag("<head");
  if (at == std::string::npos) at = findTag("<html");
  if (at == std::string::npos) at = 0;
  html.insert(at, prelude);
  return html;
}

// The address of the main page, for whoever opens it when no browser is started.
void PublishPageAddress(const std::string& address) {
  std::filesystem::path file = plat::RealPath(L"<root>/system/page_url.txt");
  if (file.empty() || !plat::WriteOwnerOnlyFile(file, address + "\n")) {
    DebugLog(L"[PAGE] 화면 주소 파일을 쓰지 못함");
  }
  std::cout << "page: " << address << std::endl;
}

// The log and standard error say why a browser failed; without the main page the program then
// ends with a non-zero code.
void ReportBrowserFailure(bool isMain, const std::wstring& reason) {
  DebugLog(L"[PAGE] " + reason);
  std::cerr << "tavelo: " << WideToUtf8(reason) << std::endl;
  if (isMain && !mainPageEverLoaded) {
    plat::SetProcessExitCode(1);
    plat::PostWindowMessage(plat::kWmClose);
  }
}

void OpenBrowserWindow(const std::string& windowName, int view) {
  plat::BrowserChoice browser = plat::FindBrowser();
  if (browser.none) {
    if (windowName == "main") PublishPageAddress(plat::PageViewAddress(view));
    return;
  }
  bool isMain = windowName == "main";
  if (browser.program.empty()) {
    ReportBrowserFailure(isMain, L"브라우저를 찾지 못해 화면을 열 수 없음 (chromium 패키지 필요)");
    return;
  }
  if (plat::RunningAsRoot())
    DebugLog(L"[PAGE] root 로 실행 중 - 브라우저에 --no-sandbox 를 붙여 시작 (Chromium 은 root 에서 샌드박스로 뜨지 않음)");
  std::string args = EnvText("TAVELO_BROWSER_ARGS");
  std::filesystem::path profile =
      plat::RealPath(L"<root>/system/browser/" + Utf8ToWide(windowName));
  // Maximising is the window manager's job; without one (bare X server, kiosk) the main window is
  // placed over the primary monitor instead.
  if (const auto fill = isMain ? plat::MonitorToFillWithoutWindowManager() : std::nullopt) {
    args += " --window-position=" + std::to_string(fill->left) + "," + std::to_string(fill->top) +
            " --window-size=" + std::to_string(fill->right - fill->left) + "," + std::to_string(fill->bottom - fill->top);
    DebugLog(L"[PAGE] 창 관리자가 없어 브라우저 창을 모니터 크기로 맞춤");
  }
  // Other users can read a command line: the browser gets a key that opens the page once.
  std::string address = plat::PageViewOneTimeAddress(view);
  const std::wstring program = Utf8ToWide(browser.program.string());
  bool started = plat::LaunchBrowser(browser.program, address, profile, args, [isMain, program](const plat::BrowserExit& e) {
    if (e.seconds < kEarlyExitSeconds || (isMain && !mainPageEverLoaded))
      ReportBrowserFailure(isMain, DescribeBrowserExit(program, e));
    // The main window's browser was closed: close the program as its window would.
    if (isMain) plat::PostWindowMessage(plat::kWmClose);
  });
  if (!started) ReportBrowserFailure(isMain, L"브라우저를 시작하지 못함 - " + program);
}

}  // namespace

std::wstring DescribeBrowserExit(const std::wstring& program, const plat::BrowserExit& e) {
  std::wstring text = L"브라우저가 " + std::to_wstring(static_cast<int>(e.seconds)) + L"초 만에 끝남 (" + program +
                      L", " + (e.signaled ? L"신호 " : L"종료 코드 ") + std::to_wstring(e.code) + L")";
  std::string tail = e.stderrTail;
  while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
  if (!tail.empty()) text += L" - 표준 오류 끝부분:\n" + Utf8ToWide(tail);
  return text;
}

bool FindPageBrowser(std::wstring& version) {
  plat::BrowserChoice browser = plat::FindBrowser();
  if (browser.none) {
    version = L"none";
    return true;
  }
  if (browser.program.empty()) return false;
  version = Utf8ToWide(browser.version.empty() ? browser.program.string() : browser.version);
  return !version.empty();
}

bool StartPageHost() {
  bool ok = plat::StartPageServer();
  if (!ok) DebugLog(L"[PAGE] 화면 서버를 시작하지 못함");
  return ok;
}

void MapMediaFolder(std::wstring_view hostName, std::wstring_view folder) {
  std::filesystem::path real = plat::RealPath(folder);
  if (real.empty()) return;
  plat::MapPageMediaFolder(WideToUtf8(hostName), real);
}

PageView::PageView(std::string windowName, PageViewOptions options)
    : windowName_(std::move(windowName)), options_(options) {
  plat::PageViewHandlers handlers;
  handlers.message = [this](std::string&& message, bool isText) {
    if (!onMessage_) return;
    if (!isText) {
      onMessage_(nullptr);
      return;
    }
    const std::wstring text = Utf8ToWide(message);
    onMessage_(&text);
  };
  handlers.navigationCompleted = [this] {
    if (windowName_ == "main") mainPageEverLoaded = true;
    if (onLoaded_) onLoaded_();
  };
  view_ = plat::CreatePageView(ViewPath(windowName_), std::move(handlers));
}

PageView::~PageView() {
  // Messages of a page whose view is gone go nowhere.
  plat::ReleasePageView(view_);
}

void PageView::ShowDocument(std::wstring_view html) { ShowDocumentUtf8(WideToUtf8(html)); }

void PageView::ShowDocumentUtf8(std::string html) {
  plat::SetPageViewDocument(view_, WithPrelude(std::move(html), ChannelPrelude(options_)));
  if (!shown_) {
    shown_ = true;
    if (options_.openBrowser) OpenBrowserWindow(windowName_, view_);
  }
}

void PageView::Navigate(std::wstring_view address) { plat::NavigatePageView(view_, WideToUtf8(address)); }

void PageView::RunScript(std::wstring_view script, ScriptDoneHandler done) {
  plat::RunPageViewScript(view_, WideToUtf8(script), std::move(done));
}

void PageView::RunSharedScript(std::shared_ptr<const std::string> script, ScriptDoneHandler done) {
  plat::RunPageViewSharedScript(view_, std::move(script), std::move(done));
}

void PageView::CallWithTable(std::string_view function, std::string jsonTable, ScriptDoneHandler done) {
  plat::RunPageViewTableCall(view_, function, std::move(jsonTable), std::move(done));
}

std::string PageView::Address() const { return shown_ ? plat::PageViewAddress(view_) : std::string(); }

std::string PageView::OneTimeAddress() const { return plat::PageViewOneTimeAddress(view_); }

bool PageView::Connected() const { return plat::PageViewConnected(view_); }

void EndBrowserProcesses() { plat::EndBrowserProcesses(); }
