// The main page host: the main window's browser control and the delivery of the embedded page.
#include "ui/page_host.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string_view>

#include "base/debug_log.h"
#include "base/text.h"
#include "songs/song_list.h"
#include "ui/page_boot.h"
#include "ui/page_commands.h"

const std::map<std::string, std::string_view>& EmbeddedPageFiles();

std::shared_ptr<CoreWebView2Environment> MainWebViewEnvironment;
std::shared_ptr<CoreWebView2Controller> MainWebViewController;
std::shared_ptr<CoreWebView2> MainWebView;
std::shared_ptr<CoreWebView2> CustomerWebView;
std::wstring PageSource;

namespace {

std::wstring EmbeddedText(const std::string& name) {
  const auto& files = EmbeddedPageFiles();
  auto it = files.find(name);
  return it == files.end() ? std::wstring() : Utf8ToWide(it->second);
}

}  // namespace

const std::wstring& PageMarkup() {
  static const std::wstring markup = EmbeddedText("markup.html");
  return markup;
}

const std::wstring& PageScript() {
  static const std::wstring script = EmbeddedText("script.html");
  return script;
}

std::wstring BuildPageText() {
  const std::wstring& markup = PageMarkup();
  const std::wstring& script = PageScript();
  size_t songs = 0;
  {
    std::shared_lock lock(SongListMutex);
    songs = SongList.size();
  }
  // A size hint: the page text grows as needed.
  std::wstring text;
  text.reserve(std::max(200 * songs + 40000, markup.size() + script.size()));
  text += markup;
  text += script;
  return text;
}

void OnMainEnvironmentCreated(bool ok, std::shared_ptr<CoreWebView2Environment> environment) {
  if (!ok || !environment) {
    DebugLog(L"[PAGE] 브라우저 환경을 만들지 못해 화면 없이 계속함");
    return;
  }
  MainWebViewEnvironment = environment;
  environment->CreateCoreWebView2Controller("main", OnMainControllerCreated);
}

void OnMainControllerCreated(bool ok, std::shared_ptr<CoreWebView2Controller> controller) {
  if (!ok || !controller) {
    DebugLog(L"[PAGE] 브라우저 컨트롤을 만들지 못해 화면 없이 계속함");
    return;
  }
  MainWebViewController = controller;
  MainWebView = controller->get_CoreWebView2();

  // The browser window fills the screen by itself (FitWebViewToWindow has nothing to size).

  CoreWebView2Settings& settings = MainWebView->get_Settings();
  settings.isZoomControlEnabled = false;
  settings.areBrowserAcceleratorKeysEnabled = false;

  MainWebView->SetVirtualHostNameToFolderMapping(kImagesHostName, L"C:\\tavelo\\images",
                                                 WebViewAccess::kAllow);
  MainWebView->SetVirtualHostNameToFolderMapping(kAudioHostName, L"C:\\tavelo\\audio",
                                                 WebViewAccess::kAllow);
  MainWebView->SetVirtualHostNameToFolderMapping(kVideoHostName, L"C:\\tavelo\\video",
                                                 WebViewAccess::kAllow);

  MainWebView->add_WebMessageReceived(OnMainWebMessage);

  std::wstring page = BuildPageText();
  MainWebView->add_NavigationCompleted(OnMainNavigationCompleted);
  PageSource = page;
  MainWebView->NavigateToString(page);
}
