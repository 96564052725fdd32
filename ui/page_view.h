#pragma once
// One window's page: the document the page server serves at the window's address, the script
// channel to the page that shows it, and the page's events. The main window has one; the
// customer window has its own. Window thread only; every handler runs there.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/browser_window.h"

// How the page's end of the channel sets up the page.
struct PageViewOptions {
  bool zoom = true;             // Ctrl+wheel and Ctrl+plus/minus zoom the page
  bool contextMenus = true;     // the browser's right-click menu
  bool acceleratorKeys = true;  // the browser's own keys (reload, find, print, ...)
  bool openBrowser = true;      // the first document starts the window's browser (else its owner does)
};

// `message` is null when the page posted something that is not a string.
using PageMessageHandler = std::function<void(const std::wstring* message)>;
// `ran` is false when no page was there to run the script.
using ScriptDoneHandler = std::function<void(bool ran)>;

class PageView {
 public:
  // `windowName` "main" is served at "/", any other name at "/<name>".
  PageView(std::string windowName, PageViewOptions options);
  ~PageView();
  PageView(const PageView&) = delete;
  PageView& operator=(const PageView&) = delete;

  // What the page posts, and each completed load of the page (also a reload).
  void SetMessageHandler(PageMessageHandler handler) { onMessage_ = std::move(handler); }
  void SetLoadedHandler(std::function<void()> handler) { onLoaded_ = std::move(handler); }

  // Shows a whole HTML document. The first one of the main window opens the browser window (or
  // publishes the address when TAVELO_BROWSER=none); later ones reload the page.
  void ShowDocument(std::wstring_view html);
  // The same for a document that is already UTF-8.
  void ShowDocumentUtf8(std::string html);
  // Sends a connected page to another address.
  void Navigate(std::wstring_view address);

  // Runs the script in the page; scripts run in call order, each at global scope, and one that
  // throws does not stop the next.
  void RunScript(std::wstring_view script, ScriptDoneHandler done = nullptr);
  // The same for a UTF-8 script (a large payload that other pages get too: their frames share
  // the one text).
  void RunSharedScript(std::shared_ptr<const std::string> script, ScriptDoneHandler done = nullptr);

  // Calls the page function `function` with the rows of a UTF-8 JSON table
  // {"keys":[...],"rows":[[...],...]} as a list of objects, in order with the scripts. The page
  // parses the table as data, not as script: the way for large payloads such as the song list.
  void CallWithTable(std::string_view function, std::string jsonTable, ScriptDoneHandler done = nullptr);

  // The page's address with the run's token (empty before the first document).
  std::string Address() const;
  // The address with a key that opens the page once (for a browser's command line).
  std::string OneTimeAddress() const;
  bool Connected() const;

 private:
  std::string windowName_;
  PageViewOptions options_;
  int view_ = -1;
  bool shown_ = false;
  PageMessageHandler onMessage_;
  std::function<void()> onLoaded_;
};

// True, with the browser's version text, when a browser can show the page (or when
// TAVELO_BROWSER=none asks for none: the page is then opened by whoever reads its address).
bool FindPageBrowser(std::wstring& version);

// Starts the page server; false when it cannot listen. The switches in the environment variable
// "TAVELO_BROWSER_ARGS" go to every browser window started later.
bool StartPageHost();

// Files of `folder` (an install path) are served to the pages at "/<hostName>/<file>".
void MapMediaFolder(std::wstring_view hostName, std::wstring_view folder);

// How a browser ended, in the words of the log: how long it ran, its exit status and the end
// of its standard error.
std::wstring DescribeBrowserExit(const std::wstring& program, const plat::BrowserExit& exit);

// Ends the browser processes the program started (the shutdown of the main window).
void EndBrowserProcesses();
