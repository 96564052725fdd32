// The browser control over the local page server: one view per window, the page's end of the
// channel put into every document, and the browser window started on the first navigation.
#include "ui/browser_control.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <string_view>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/message_loop.h"
#include "platform/page_server.h"
#include "platform/paths.h"

const std::map<std::string, std::string_view>& EmbeddedPageFiles();

namespace {

std::string EnvText(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string ViewPath(const std::string& windowName) {
  return windowName == "main" ? "/" : "/" + windowName;
}

// The page's end of the channel with this view's settings, put at the start of the head so
// that window.chrome.webview exists before the page's own script runs.
std::string ChannelPrelude(const CoreWebView2Settings& s) {
  auto flag = [](bool b) { return b ? "true" : "false"; };
  std::string prelude = "<script>window.__tvSettings={zoom:";
  prelude += flag(s.isZoomControlEnabled);
  prelude += ",contextMenus:";
  prelude += flag(s.areDefaultContextMenusEnabled);
  prelude += ",acceleratorKeys:";
  prelude += flag(s.areBrowserAcceleratorKeysEnabled);
  prelude += "};\n";
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
  std::filesystem::path file = plat::RealPath(L"C:/tavelo/system/page_url.txt");
  if (file.empty() || !plat::WriteOwnerOnlyFile(file, address + "\n")) {
    DebugLog(L"[PAGE] 화면 주소 파일을 쓰지 못함");
  }
  std::cout << "page: " << address << std::endl;
}

void OpenBrowserWindow(const std::string& windowName, int view) {
  plat::BrowserChoice browser = plat::FindBrowser();
  if (browser.none) {
    if (windowName == "main") PublishPageAddress(plat::PageViewAddress(view));
    return;
  }
  if (browser.program.empty()) {
    DebugLog(L"[PAGE] 브라우저를 찾지 못해 화면을 열 수 없음");
    return;
  }
  std::string args = EnvText("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS");
  std::filesystem::path profile =
      plat::RealPath(L"C:/tavelo/system/browser/" + Utf8ToWide(windowName));
  bool isMain = windowName == "main";
  // Other users can read a command line: the browser gets a key that opens the page once.
  std::string address = plat::PageViewOneTimeAddress(view);
  bool started = plat::LaunchBrowser(browser.program, address, profile, args, [isMain] {
    // The main window's browser was closed: close the program as its window would.
    if (isMain) plat::PostWindowMessage(plat::kWmClose);
  });
  if (!started) DebugLog(L"[PAGE] 브라우저를 시작하지 못함 - " + Utf8ToWide(browser.program.string()));
}

}  // namespace

bool GetAvailableCoreWebView2BrowserVersionString(std::wstring& version) {
  plat::BrowserChoice browser = plat::FindBrowser();
  if (browser.none) {
    version = L"none";
    return true;
  }
  if (browser.program.empty()) return false;
  version = Utf8ToWide(browser.version.empty() ? browser.program.string() : browser.version);
  return !version.empty();
}

void CreateCoreWebView2EnvironmentWithOptions(EnvironmentCompletedHandler handler) {
  bool ok = plat::StartPageServer();
  if (!ok) DebugLog(L"[PAGE] 화면 서버를 시작하지 못함");
  plat::PostWindowTask([handler = std::move(handler), ok] {
    if (handler) handler(ok, ok ? std::make_shared<CoreWebView2Environment>() : nullptr);
  });
}

void CoreWebView2Environment::CreateCoreWebView2Controller(std::string windowName,
                                                           ControllerCompletedHandler handler) {
  auto controller =
      std::make_shared<CoreWebView2Controller>(std::make_shared<CoreWebView2>(windowName));
  plat::PostWindowTask([handler = std::move(handler), controller] {
    if (handler) handler(true, controller);
  });
}

CoreWebView2::CoreWebView2(std::string windowName) : windowName_(std::move(windowName)) {
  plat::PageViewHandlers handlers;
  handlers.message = [this](std::string&& message, bool isText) {
    OnMessage(std::move(message), isText);
  };
  handlers.navigationCompleted = [this] { OnNavigationCompleted(); };
  view_ = plat::CreatePageView(ViewPath(windowName_), std::move(handlers));
}

CoreWebView2::~CoreWebView2() {
  // Messages of a page whose web view is gone go nowhere.
  plat::ReleasePageView(view_);
}

void CoreWebView2::add_WebMessageReceived(WebMessageReceivedHandler handler) {
  messageHandlers_.push_back(std::move(handler));
}

void CoreWebView2::add_NavigationCompleted(NavigationCompletedHandler handler) {
  navigationHandlers_.push_back(std::move(handler));
}

void CoreWebView2::OnMessage(std::string&& message, bool isText) {
  std::wstring text;
  if (isText) text = Utf8ToWide(message);
  for (auto& handler : messageHandlers_) {
    if (handler) handler(isText ? &text : nullptr);
  }
}

void CoreWebView2::OnNavigationCompleted() {
  for (auto& handler : navigationHandlers_) {
    if (handler) handler();
  }
}

void CoreWebView2::NavigateToString(std::wstring_view html) {
  plat::SetPageViewDocument(view_, WithPrelude(WideToUtf8(html), ChannelPrelude(settings_)));
  if (!navigated_) {
    navigated_ = true;
    OpenBrowserWindow(windowName_, view_);
  }
}

void CoreWebView2::Navigate(std::wstring_view address) {
  plat::NavigatePageView(view_, WideToUtf8(address));
}

void CoreWebView2::ExecuteScript(std::wstring_view script, ExecuteScriptCompletedHandler done) {
  plat::RunPageViewScript(view_, WideToUtf8(script), std::move(done));
}

void CoreWebView2::ExecuteScriptUtf8(std::string script, ExecuteScriptCompletedHandler done) {
  plat::RunPageViewScript(view_, std::move(script), std::move(done));
}

void CoreWebView2::CallWithTable(std::string_view function, std::string jsonTable,
                                 ExecuteScriptCompletedHandler done) {
  plat::RunPageViewTableCall(view_, function, std::move(jsonTable), std::move(done));
}

void CoreWebView2::SetVirtualHostNameToFolderMapping(std::wstring_view hostName,
                                                     std::wstring_view folder,
                                                     WebViewAccess access) {
  if (access != WebViewAccess::kAllow) return;
  std::filesystem::path real = plat::RealPath(folder);
  if (real.empty()) return;
  plat::MapPageMediaFolder(WideToUtf8(hostName), real);
}

std::string CoreWebView2::PageAddress() const {
  return navigated_ ? plat::PageViewAddress(view_) : std::string();
}

bool CoreWebView2::PageConnected() const { return plat::PageViewConnected(view_); }

void EndBrowserProcesses() { plat::EndBrowserProcesses(); }
