#pragma once
// The browser control the page is shown in. The program was written against an embedded browser
// with an environment, a controller per window and a web view; these classes give the same
// operations over the local page server and a browser window (platform/page_server.h).
// Everything here is called on the window thread, and every handler runs there.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CoreWebView2;
class CoreWebView2Controller;
class CoreWebView2Environment;

using EnvironmentCompletedHandler =
    std::function<void(bool ok, std::shared_ptr<CoreWebView2Environment> environment)>;
using ControllerCompletedHandler =
    std::function<void(bool ok, std::shared_ptr<CoreWebView2Controller> controller)>;
// `message` is null when the page posted something that is not a string.
using WebMessageReceivedHandler = std::function<void(const std::wstring* message)>;
using NavigationCompletedHandler = std::function<void()>;
// `ran` is false when no page was there to run the script.
using ExecuteScriptCompletedHandler = std::function<void(bool ran)>;

// True, with the browser's version text, when a browser is available to show the page (or when
// TAVELO_BROWSER=none asks for none: the page is then opened by whoever reads its address).
bool GetAvailableCoreWebView2BrowserVersionString(std::wstring& version);

// Starts the page server. The handler runs later on the window thread with the environment, or
// with ok false when the server cannot start. The switches in the environment variable
// "WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS" are passed on to the browser.
void CreateCoreWebView2EnvironmentWithOptions(EnvironmentCompletedHandler handler);

struct BrowserBounds {
  int left = 0, top = 0, right = 0, bottom = 0;
};

enum class WebViewAccess { kAllow, kDeny };

// The page settings; the page's end of the channel applies them.
struct CoreWebView2Settings {
  bool isZoomControlEnabled = true;
  bool areDefaultContextMenusEnabled = true;
  bool isStatusBarEnabled = true;
  bool areBrowserAcceleratorKeysEnabled = true;
};

class CoreWebView2Environment {
 public:
  // `windowName` names the window the page belongs to: "main" serves the page at "/", any other
  // name at "/<name>". The handler runs later on the window thread.
  void CreateCoreWebView2Controller(std::string windowName, ControllerCompletedHandler handler);
};

class CoreWebView2 {
 public:
  explicit CoreWebView2(std::string windowName);
  ~CoreWebView2();
  CoreWebView2(const CoreWebView2&) = delete;
  CoreWebView2& operator=(const CoreWebView2&) = delete;

  CoreWebView2Settings& get_Settings() { return settings_; }
  void add_WebMessageReceived(WebMessageReceivedHandler handler);
  void add_NavigationCompleted(NavigationCompletedHandler handler);

  // Shows a whole HTML document. The first navigation of the main window opens the browser
  // window (or publishes the address when TAVELO_BROWSER=none); later ones reload the page.
  void NavigateToString(std::wstring_view html);
  void Navigate(std::wstring_view address);

  // Runs the script in the page asynchronously; scripts run in the order of the calls, each at
  // global scope, and one that throws does not stop the next.
  void ExecuteScript(std::wstring_view script, ExecuteScriptCompletedHandler done = nullptr);
  // The same for script text that is already valid UTF-8 (the large song-list scripts).
  void ExecuteScriptUtf8(std::string script, ExecuteScriptCompletedHandler done = nullptr);
  // Calls the page function `function` with the rows of a UTF-8 JSON table
  // {"keys":[...],"rows":[[...],...]} as a list of objects, in order with the scripts. The page
  // parses the table as data, not as script: the way for large payloads such as the song list.
  void CallWithTable(std::string_view function, std::string jsonTable,
                     ExecuteScriptCompletedHandler done = nullptr);

  // https addresses on `hostName` load files of `folder` (an install path).
  void SetVirtualHostNameToFolderMapping(std::wstring_view hostName, std::wstring_view folder,
                                         WebViewAccess access);

  // The page's address with the run's token (empty before the first navigation).
  std::string PageAddress() const;
  bool PageConnected() const;

 private:
  void OnMessage(std::string&& message, bool isText);
  void OnNavigationCompleted();

  std::string windowName_;
  int view_ = -1;
  bool navigated_ = false;
  CoreWebView2Settings settings_;
  std::vector<WebMessageReceivedHandler> messageHandlers_;
  std::vector<NavigationCompletedHandler> navigationHandlers_;
};

class CoreWebView2Controller {
 public:
  explicit CoreWebView2Controller(std::shared_ptr<CoreWebView2> webView)
      : webView_(std::move(webView)) {}
  std::shared_ptr<CoreWebView2> get_CoreWebView2() const { return webView_; }
  // The browser window sizes itself; the bounds are kept for whoever asks.
  void put_Bounds(const BrowserBounds& bounds) { bounds_ = bounds; }
  BrowserBounds get_Bounds() const { return bounds_; }
  // Keyboard focus lives in the browser window already; nothing to move.
  void MoveFocus() {}

 private:
  std::shared_ptr<CoreWebView2> webView_;
  BrowserBounds bounds_;
};

// Ends the browser processes the program started (the shutdown of the main window).
void EndBrowserProcesses();
