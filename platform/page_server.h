#pragma once
// The local page server that stands in for the embedded browser runtime: an HTTP + WebSocket
// server on 127.0.0.1 that serves each page view's document and the mapped media folders; the
// browser window that shows a view is started by platform/browser_window.h.
//
// Safety: only 127.0.0.1 is bound; every request needs the run's random token (first in the
// address, then in a cookie the server sets); the Host header must name 127.0.0.1 or localhost
// with our port; a WebSocket upgrade from another origin is refused; media paths stay inside
// their folder; incoming WebSocket messages have a size limit.
//
// Every handler given here runs on the window thread (through PostWindowTask), in the order the
// page sent its messages.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace plat {

// Largest message the page may send over the WebSocket; a bigger one closes the connection.
inline constexpr size_t kMaxPageMessageBytes = 8u << 20;

// Starts the server once per process (later calls return its state). False when it cannot
// listen.
bool StartPageServer();
uint16_t PageServerPort();
std::string PageServerToken();
// Stops serving and closes every connection (tests; the process otherwise ends with it).
void StopPageServer();

// The file of `folder` that the decoded request path `rest` names (case-blind, like Windows
// names), or empty when there is none or the path would leave the folder ("..", a link out).
std::filesystem::path ResolvePageMediaFile(const std::filesystem::path& folder,
                                           std::string_view rest);

// Files below `folder` are served at "/<prefix>/<file name>" with Range support.
void MapPageMediaFolder(std::string_view prefix, const std::filesystem::path& folder);

struct PageViewHandlers {
  // One message from the page: a text, or (isText false) the JSON of a value that is not one.
  std::function<void(std::string&& message, bool isText)> message;
  std::function<void()> navigationCompleted;        // the page (re)loaded and connected
};

// Called on the server's thread with every text message of every page as it arrives, before it is
// queued for the window thread: for what must take effect while the window thread waits (an open
// question box). Empty: nothing is called.
void SetPageMessageWatch(std::function<void(std::string_view message)> watch);

// A view is one page address ("/" for the main page, "/customer" and so on). Creating a view
// that exists returns it again with its handlers replaced.
using PageViewId = int;
PageViewId CreatePageView(std::string_view path, PageViewHandlers handlers);

// Drops the view's handlers: what its page sends from now on goes nowhere.
void ReleasePageView(PageViewId view);

// Replaces the document served at the view's address (the page's end of the channel must be in
// it, see ui/page/webview-shim.js); a connected page reloads it.
void SetPageViewDocument(PageViewId view, std::string html);
// Tells a connected page to go to another address.
void NavigatePageView(PageViewId view, std::string_view address);

// Queues a script for the view's page. Scripts of one view run in call order at global scope;
// one that throws does not stop the next. `done(true)` when the page ran it, `done(false)` when
// no page was connected or the page went away first; always on the window thread.
void RunPageViewScript(PageViewId view, std::string script,
                       std::function<void(bool ran)> done = nullptr);
// The same for a script that several pages get (a picture as a data address): the pages' frames
// share the one text.
void RunPageViewSharedScript(PageViewId view, std::shared_ptr<const std::string> script,
                             std::function<void(bool ran)> done = nullptr);

// Queues a call of the page function `function` with a table of values, in order with the
// scripts: `jsonTable` is the UTF-8 JSON object {"keys":[...],"rows":[[...],...]}, which the page
// parses itself (far less work for it than running the same data as a script literal) and hands
// to the function as a list of objects. A page without the function skips it. `done` as above.
void RunPageViewTableCall(PageViewId view, std::string_view function, std::string jsonTable,
                          std::function<void(bool ran)> done = nullptr);

// Whether a page is connected to the view now.
bool PageViewConnected(PageViewId view);

// Address of the view with the token: "http://127.0.0.1:<port><path>?t=<token>".
std::string PageViewAddress(PageViewId view);
// Address of the view with a key that opens it once (the server then sets the token cookie).
// For a browser's command line, which other users of the machine can read.
std::string PageViewOneTimeAddress(PageViewId view);

}  // namespace plat
