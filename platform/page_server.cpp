// The local page server (civetweb) and the browser process.
//
// Wire protocol of the WebSocket "/__tavelo/ws?v=<view path>" (text frames, first byte = kind):
//   server -> page  "S<seq> <script>"  run the script at global scope, then answer "D<seq>"
//                   "T<seq> <function> <json table>"  call the function with the table's rows
//                                       as objects, then answer "D<seq>"
//                   "R"                 reload the document
//                   "G<address>"        go to another address
//   page -> server  "M<text>"           a posted string message
//                   "J<json>"           a posted value that is not a string
//                   "N"                 the document has loaded (navigation completed)
//                   "D<seq>"            the script <seq> has run
#include "platform/page_server.h"

#include <civetweb.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/message_loop.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace plat {
namespace {

constexpr const char* kSocketPath = "/__tavelo/ws";

struct Outgoing {
  std::string frame;
  uint64_t seq = 0;                  // 0 for frames that expect no answer
  std::function<void(bool)> done;
};

struct View {
  int id = 0;
  std::string path;
  std::shared_ptr<PageViewHandlers> handlers = std::make_shared<PageViewHandlers>();
  std::string document;

  // Connection state, under g.mu. A new connection replaces the old one (the newest page wins).
  mg_connection* conn = nullptr;
  uint64_t serial = 0;  // counts connections; frames of a replaced one are ignored
  std::deque<Outgoing> queue;
  std::map<uint64_t, std::function<void(bool)>> waiting;  // sent, not yet answered
  uint64_t nextSeq = 1;

  std::mutex writeMu;  // held while writing to conn; taken before g.mu
  std::condition_variable wake;
  std::thread sender;
};

// What one WebSocket connection carries between civetweb's callbacks.
struct ConnInfo {
  int view = 0;
  uint64_t serial = 0;
  std::string partial;  // a message arriving in several frames
  bool partialText = true;
};

struct State {
  std::mutex mu;
  mg_context* ctx = nullptr;
  uint16_t port = 0;
  std::string token;
  bool stopping = false;
  std::map<std::string, fs::path> media;  // prefix -> folder
  std::vector<std::string> oneTimeKeys;   // unused keys of PageViewOneTimeAddress
  std::vector<std::unique_ptr<View>> views;
};
State g;

// Browser processes started by LaunchBrowser.
struct BrowserProcess {
  pid_t pid = 0;
  std::atomic<bool> endedByUs{false};
};
std::mutex browserMu;
std::vector<std::shared_ptr<BrowserProcess>> browsers;

View* FindViewLocked(int id) {
  for (auto& v : g.views)
    if (v->id == id) return v.get();
  return nullptr;
}

View* FindViewByPathLocked(std::string_view path) {
  for (auto& v : g.views)
    if (v->path == path) return v.get();
  return nullptr;
}

// Runs `fn` with the view's handlers of the moment, on the window thread.
void PostToView(int viewId, std::function<void(PageViewHandlers&)> fn) {
  PostWindowTask([viewId, fn = std::move(fn)] {
    std::shared_ptr<PageViewHandlers> handlers;
    {
      std::lock_guard lock(g.mu);
      if (View* v = FindViewLocked(viewId)) handlers = v->handlers;
    }
    if (handlers) fn(*handlers);
  });
}

void PostDone(std::function<void(bool)> done, bool ran) {
  if (!done) return;
  PostWindowTask([done = std::move(done), ran] { done(ran); });
}

// Fails every script that was queued or sent on the view's connection (it is gone).
void FailPendingLocked(View& v) {
  for (auto& [seq, done] : v.waiting) PostDone(std::move(done), false);
  v.waiting.clear();
  for (auto& item : v.queue) PostDone(std::move(item.done), false);
  v.queue.clear();
}

void SenderLoop(View* v) {
  for (;;) {
    Outgoing item;
    uint64_t serial = 0;
    {
      std::unique_lock lock(g.mu);
      v->wake.wait(lock, [&] { return g.stopping || !v->queue.empty(); });
      if (g.stopping) return;
      item = std::move(v->queue.front());
      v->queue.pop_front();
      if (!v->conn) {
        PostDone(std::move(item.done), false);
        continue;
      }
      serial = v->serial;
      if (item.seq) v->waiting[item.seq] = std::move(item.done);
    }
    std::lock_guard write(v->writeMu);
    mg_connection* conn = nullptr;
    {
      std::lock_guard lock(g.mu);
      if (v->serial == serial) conn = v->conn;
    }
    // A connection that went away meanwhile has already failed this script.
    if (conn) {
      mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_TEXT, item.frame.data(), item.frame.size());
    }
  }
}

void Enqueue(int viewId, Outgoing item) {
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(viewId);
  if (!v || !v->conn) {
    PostDone(std::move(item.done), false);
    return;
  }
  if (item.seq == 0 && item.done) item.seq = v->nextSeq++;
  v->queue.push_back(std::move(item));
  v->wake.notify_one();
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Constant-time comparison, so the token cannot be guessed byte by byte.
bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string CookieName() { return "tavelo_" + std::to_string(g.port); }

// The Host header names us (not a name that a foreign site made point at 127.0.0.1).
bool HostAllowed(const mg_connection* conn, std::string* hostOut = nullptr) {
  const char* host = mg_get_header(conn, "Host");
  if (!host) return false;
  std::string_view h(host);
  std::string suffix = ":" + std::to_string(g.port);
  if (h.size() <= suffix.size() || h.substr(h.size() - suffix.size()) != suffix) return false;
  std::string_view name = h.substr(0, h.size() - suffix.size());
  if (name != "127.0.0.1" && !EqualsNoCaseAscii(name, "localhost")) return false;
  if (hostOut) *hostOut = std::string(h);
  return true;
}

bool QueryTokenOk(const mg_request_info* ri) {
  if (!ri->query_string) return false;
  char buf[160];
  int n = mg_get_var(ri->query_string, std::strlen(ri->query_string), "t", buf, sizeof buf);
  return n > 0 && SameSecret(std::string_view(buf, static_cast<size_t>(n)), g.token);
}

bool CookieTokenOk(const mg_connection* conn) {
  const char* cookies = mg_get_header(conn, "Cookie");
  if (!cookies) return false;
  char buf[160];
  int n = mg_get_cookie(cookies, CookieName().c_str(), buf, sizeof buf);
  return n > 0 && SameSecret(std::string_view(buf, static_cast<size_t>(n)), g.token);
}

// A one-time key opens the page once; it is used up by this request.
bool TakeOneTimeKey(const mg_request_info* ri) {
  if (!ri->query_string) return false;
  char buf[160];
  int n = mg_get_var(ri->query_string, std::strlen(ri->query_string), "k", buf, sizeof buf);
  if (n <= 0) return false;
  std::string_view key(buf, static_cast<size_t>(n));
  std::lock_guard lock(g.mu);
  for (auto it = g.oneTimeKeys.begin(); it != g.oneTimeKeys.end(); ++it) {
    if (SameSecret(key, *it)) {
      g.oneTimeKeys.erase(it);
      return true;
    }
  }
  return false;
}

bool FromLoopback(const mg_request_info* ri) {
  return std::string_view(ri->remote_addr) == "127.0.0.1";
}

std::string QueryValue(const mg_request_info* ri, const char* name) {
  if (!ri->query_string) return {};
  std::string buf(4096, '\0');
  int n = mg_get_var(ri->query_string, std::strlen(ri->query_string), name, buf.data(),
                     buf.size());
  return n > 0 ? buf.substr(0, static_cast<size_t>(n)) : std::string();
}

int Refuse(mg_connection* conn, int status) {
  mg_printf(conn,
            "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n"
            "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
            status, status == 403 ? "Forbidden" : status == 404 ? "Not Found"
                                                                : "Method Not Allowed");
  return status;
}

}  // namespace

fs::path ResolvePageMediaFile(const fs::path& folder, std::string_view rest) {
  if (rest.empty() || rest.find('\0') != std::string_view::npos) return {};
  // Every separator, and the backslash a Windows path would use, divides a component.
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t next = rest.find_first_of("/\\", pos);
    if (next == std::string_view::npos) next = rest.size();
    std::string_view part = rest.substr(pos, next - pos);
    if (part == "..") return {};
    pos = next + 1;
  }
  std::wstring wide = Utf8BytesToWide(folder.string()) + L"/" + Utf8BytesToWide(rest);
  fs::path file = RealPath(wide);  // case-blind match, refuses ".."
  if (file.empty()) return {};
  std::error_code ec;
  fs::path realFolder = fs::canonical(folder, ec);
  if (ec) return {};
  fs::path realFile = fs::canonical(file, ec);
  if (ec || !fs::is_regular_file(realFile, ec)) return {};
  // A link inside the folder must not lead out of it.
  auto [f, r] = std::mismatch(realFolder.begin(), realFolder.end(), realFile.begin(),
                              realFile.end());
  if (f != realFolder.end()) return {};
  return realFile;
}

namespace {

int ServeDocument(mg_connection* conn, const std::string& doc, bool head) {
  mg_printf(conn,
            "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
            "Content-Length: %zu\r\nCache-Control: no-store\r\n"
            "X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\n"
            "Set-Cookie: %s=%s; Path=/; HttpOnly; SameSite=Strict\r\n\r\n",
            doc.size(), CookieName().c_str(), g.token.c_str());
  if (!head) mg_write(conn, doc.data(), doc.size());
  return 200;
}

int BeginRequest(mg_connection* conn) {
  const mg_request_info* ri = mg_get_request_info(conn);
  if (!FromLoopback(ri) || !HostAllowed(conn)) return Refuse(conn, 403);
  if (!QueryTokenOk(ri) && !CookieTokenOk(conn) && !TakeOneTimeKey(ri)) {
    return Refuse(conn, 403);
  }

  // The decoded path as it came, before civetweb tidies dot segments away: an encoded ".."
  // must be refused, not silently resolved.
  std::string path = ri->local_uri_raw ? ri->local_uri_raw : ri->local_uri ? ri->local_uri : "";
  if (path == kSocketPath) return 0;  // the WebSocket handler checks the upgrade itself

  std::string_view method(ri->request_method ? ri->request_method : "");
  bool head = method == "HEAD";
  if (method != "GET" && !head) return Refuse(conn, 405);

  std::string doc;
  bool isView = false;
  {
    std::lock_guard lock(g.mu);
    if (View* v = FindViewByPathLocked(path)) {
      doc = v->document;
      isView = true;
    }
  }
  if (isView) return ServeDocument(conn, doc, head);
  if (path == "/favicon.ico") {
    mg_printf(conn, "HTTP/1.1 204 No Content\r\nCache-Control: max-age=86400\r\n\r\n");
    return 204;
  }

  // "/<prefix>/<file>" of a media folder.
  if (path.size() > 1 && path[0] == '/') {
    size_t slash = path.find('/', 1);
    if (slash != std::string::npos) {
      std::string prefix = path.substr(1, slash - 1);
      fs::path folder;
      {
        std::lock_guard lock(g.mu);
        if (auto it = g.media.find(prefix); it != g.media.end()) folder = it->second;
      }
      if (!folder.empty()) {
        fs::path file = ResolvePageMediaFile(folder, std::string_view(path).substr(slash + 1));
        if (file.empty()) return Refuse(conn, 403);
        mg_send_mime_file2(conn, file.c_str(), nullptr,
                           "Cache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\n");
        return 200;
      }
    }
  }
  return Refuse(conn, 404);
}

int WsConnect(const mg_connection* conn, void*) {
  const mg_request_info* ri = mg_get_request_info(conn);
  std::string host;
  if (!FromLoopback(ri) || !HostAllowed(conn, &host)) return 1;
  if (!QueryTokenOk(ri) && !CookieTokenOk(conn)) return 1;
  // Only our own page may open the channel (no cross-site WebSocket).
  const char* origin = mg_get_header(conn, "Origin");
  if (!origin || std::string_view(origin) != "http://" + host) return 1;
  std::lock_guard lock(g.mu);
  return FindViewByPathLocked(QueryValue(ri, "v")) ? 0 : 1;
}

void WsReady(mg_connection* conn, void*) {
  const mg_request_info* ri = mg_get_request_info(conn);
  std::string path = QueryValue(ri, "v");
  View* v = nullptr;
  {
    std::lock_guard lock(g.mu);
    v = FindViewByPathLocked(path);
  }
  if (!v) return;
  // Holding writeMu keeps a replaced connection alive (its close handler waits for it).
  std::lock_guard write(v->writeMu);
  mg_connection* older = nullptr;
  auto* info = new ConnInfo;
  {
    std::lock_guard lock(g.mu);
    older = v->conn;
    FailPendingLocked(*v);
    v->conn = conn;
    info->view = v->id;
    info->serial = ++v->serial;
  }
  // A newer page of the same view takes over; the older one is told to close.
  if (older) mg_websocket_write(older, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, "", 0);
  mg_set_user_connection_data(conn, info);
}

void HandlePageFrame(const ConnInfo& info, std::string&& msg, bool text) {
  int viewId = info.view;
  if (!text || msg.empty()) return;
  char kind = msg[0];
  if (kind == 'M' || kind == 'J') {
    msg.erase(0, 1);
    bool isText = kind == 'M';
    PostToView(viewId, [m = std::move(msg), isText](PageViewHandlers& h) mutable {
      if (h.message) h.message(std::move(m), isText);
    });
  } else if (kind == 'N') {
    PostToView(viewId, [](PageViewHandlers& h) {
      if (h.navigationCompleted) h.navigationCompleted();
    });
  } else if (kind == 'D') {
    uint64_t seq = std::strtoull(msg.c_str() + 1, nullptr, 10);
    std::function<void(bool)> done;
    {
      std::lock_guard lock(g.mu);
      View* v = FindViewLocked(viewId);
      if (!v || v->serial != info.serial) return;
      auto it = v->waiting.find(seq);
      if (it == v->waiting.end()) return;
      done = std::move(it->second);
      v->waiting.erase(it);
    }
    PostDone(std::move(done), true);
  }
}

int WsData(mg_connection* conn, int bits, char* data, size_t len, void*) {
  auto* info = static_cast<ConnInfo*>(mg_get_user_connection_data(conn));
  if (!info) return 0;
  int opcode = bits & 0x0f;
  bool fin = (bits & 0x80) != 0;
  switch (opcode) {
    case MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE:
      return 0;
    case MG_WEBSOCKET_OPCODE_PING:
      mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_PONG, data, len);
      return 1;
    case MG_WEBSOCKET_OPCODE_PONG:
      return 1;
    case MG_WEBSOCKET_OPCODE_TEXT:
    case MG_WEBSOCKET_OPCODE_BINARY:
      info->partial.clear();
      info->partialText = opcode == MG_WEBSOCKET_OPCODE_TEXT;
      break;
    case MG_WEBSOCKET_OPCODE_CONTINUATION:
      break;
    default:
      return 0;
  }
  if (info->partial.size() + len > kMaxPageMessageBytes) return 0;  // too big: close
  info->partial.append(data, len);
  if (!fin) return 1;
  {
    std::lock_guard lock(g.mu);
    View* v = FindViewLocked(info->view);
    if (!v || v->serial != info->serial) return 0;  // replaced by a newer page
  }
  std::string msg;
  msg.swap(info->partial);
  HandlePageFrame(*info, std::move(msg), info->partialText);
  return 1;
}

void WsClose(const mg_connection* conn, void*) {
  auto* info = static_cast<ConnInfo*>(mg_get_user_connection_data(conn));
  if (!info) return;
  View* v = nullptr;
  {
    std::lock_guard lock(g.mu);
    v = FindViewLocked(info->view);
  }
  if (v) {
    std::lock_guard write(v->writeMu);
    std::lock_guard lock(g.mu);
    if (v->serial == info->serial && v->conn == conn) {
      v->conn = nullptr;
      FailPendingLocked(*v);
    }
  }
  mg_set_user_connection_data(conn, nullptr);
  delete info;
}

int SilentLog(const mg_connection*, const char*) { return 1; }

std::string RandomToken() {
  unsigned char bytes[32];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) return {};
    got += static_cast<size_t>(n);
  }
  static const char hex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += hex[b >> 4];
    token += hex[b & 15];
  }
  return token;
}

std::vector<std::string> SplitArgs(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

bool Executable(const fs::path& p) { return !p.empty() && ::access(p.c_str(), X_OK) == 0; }

}  // namespace

bool StartPageServer() {
  std::lock_guard lock(g.mu);
  if (g.ctx) return true;
  g.token = RandomToken();
  if (g.token.empty()) return false;
  mg_init_library(0);
  const char* options[] = {"listening_ports", "127.0.0.1:0",
                           "num_threads", "16",
                           "enable_keep_alive", "yes",
                           "websocket_timeout_ms", "30000",
                           "enable_websocket_ping_pong", "yes",
                           nullptr};
  mg_callbacks callbacks{};
  callbacks.begin_request = BeginRequest;
  callbacks.log_message = SilentLog;
  g.stopping = false;
  g.ctx = mg_start(&callbacks, nullptr, options);
  if (!g.ctx) return false;
  mg_server_port ports[4];
  int n = mg_get_server_ports(g.ctx, 4, ports);
  if (n < 1 || ports[0].port <= 0) {
    mg_stop(g.ctx);
    g.ctx = nullptr;
    return false;
  }
  g.port = static_cast<uint16_t>(ports[0].port);
  mg_set_websocket_handler(g.ctx, kSocketPath, WsConnect, WsReady, WsData, WsClose, nullptr);
  return true;
}

bool PageServerRunning() {
  std::lock_guard lock(g.mu);
  return g.ctx != nullptr;
}

uint16_t PageServerPort() {
  std::lock_guard lock(g.mu);
  return g.port;
}

std::string PageServerToken() {
  std::lock_guard lock(g.mu);
  return g.token;
}

void StopPageServer() {
  mg_context* ctx;
  std::vector<std::unique_ptr<View>> views;
  {
    std::lock_guard lock(g.mu);
    ctx = g.ctx;
    g.stopping = true;
    for (auto& v : g.views) v->wake.notify_all();
  }
  for (auto& v : g.views) {
    if (v->sender.joinable()) v->sender.join();
  }
  if (ctx) mg_stop(ctx);  // closes every connection (their close handlers run here)
  {
    std::lock_guard lock(g.mu);
    for (auto& v : g.views) FailPendingLocked(*v);
    views.swap(g.views);
    g.ctx = nullptr;
    g.port = 0;
    g.token.clear();
    g.media.clear();
    g.oneTimeKeys.clear();
    g.stopping = false;
  }
}

void MapPageMediaFolder(std::string_view prefix, const fs::path& folder) {
  std::lock_guard lock(g.mu);
  g.media[std::string(prefix)] = folder;
}

PageViewId CreatePageView(std::string_view path, PageViewHandlers handlers) {
  std::lock_guard lock(g.mu);
  View* v = FindViewByPathLocked(path);
  if (!v) {
    auto view = std::make_unique<View>();
    view->id = static_cast<int>(g.views.size()) + 1;
    view->path = std::string(path);
    v = view.get();
    g.views.push_back(std::move(view));
    v->sender = std::thread(SenderLoop, v);
  }
  v->handlers = std::make_shared<PageViewHandlers>(std::move(handlers));
  return v->id;
}

void ReleasePageView(PageViewId view) {
  std::lock_guard lock(g.mu);
  if (View* v = FindViewLocked(view)) v->handlers = std::make_shared<PageViewHandlers>();
}

void SetPageViewDocument(PageViewId view, std::string html) {
  {
    std::lock_guard lock(g.mu);
    View* v = FindViewLocked(view);
    if (!v) return;
    v->document = std::move(html);
    if (!v->conn) return;
  }
  Enqueue(view, Outgoing{"R", 0, nullptr});
}

void NavigatePageView(PageViewId view, std::string_view address) {
  Enqueue(view, Outgoing{"G" + std::string(address), 0, nullptr});
}

void RunPageViewScript(PageViewId view, std::string script, std::function<void(bool)> done) {
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(view);
  if (!v || !v->conn) {
    PostDone(std::move(done), false);
    return;
  }
  Outgoing item;
  item.seq = v->nextSeq++;
  item.frame.reserve(script.size() + 24);
  item.frame = "S" + std::to_string(item.seq) + " ";
  item.frame += script;
  item.done = std::move(done);
  v->queue.push_back(std::move(item));
  v->wake.notify_one();
}

void RunPageViewTableCall(PageViewId view, std::string_view function, std::string jsonTable,
                          std::function<void(bool)> done) {
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(view);
  if (!v || !v->conn) {
    PostDone(std::move(done), false);
    return;
  }
  Outgoing item;
  item.seq = v->nextSeq++;
  const std::string head = "T" + std::to_string(item.seq) + " ";
  item.frame.reserve(head.size() + function.size() + 1 + jsonTable.size());
  item.frame += head;
  item.frame += function;
  item.frame += ' ';
  item.frame += jsonTable;
  item.done = std::move(done);
  v->queue.push_back(std::move(item));
  v->wake.notify_one();
}

bool PageViewConnected(PageViewId view) {
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(view);
  return v && v->conn;
}

std::string PageViewAddress(PageViewId view) {
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(view);
  if (!v || !g.ctx) return {};
  return "http://127.0.0.1:" + std::to_string(g.port) + v->path + "?t=" + g.token;
}

std::string PageViewOneTimeAddress(PageViewId view) {
  std::string key = RandomToken();
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(view);
  if (!v || !g.ctx || key.empty()) return {};
  g.oneTimeKeys.push_back(key);
  return "http://127.0.0.1:" + std::to_string(g.port) + v->path + "?k=" + key;
}

BrowserChoice FindBrowser() {
  BrowserChoice choice;
  const char* env = std::getenv("TAVELO_BROWSER");
  std::string want = env ? env : "";
  if (want == "none") {
    choice.none = true;
    return choice;
  }
  if (!want.empty() && want != "chromium") {
    if (Executable(want)) choice.program = want;
    return choice;
  }
  for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (Executable(p)) {
      choice.program = p;
      return choice;
    }
  }
  if (const char* path = std::getenv("PATH")) {
    std::string dirs(path);
    size_t pos = 0;
    while (pos <= dirs.size()) {
      size_t next = dirs.find(':', pos);
      if (next == std::string::npos) next = dirs.size();
      fs::path candidate = fs::path(dirs.substr(pos, next - pos)) / "chromium";
      if (Executable(candidate)) {
        choice.program = candidate;
        break;
      }
      pos = next + 1;
    }
  }
  return choice;
}

bool LaunchBrowser(const fs::path& program, const std::string& address,
                   const fs::path& profileDir, const std::string& extraArgs,
                   std::function<void()> exited) {
  std::error_code ec;
  fs::create_directories(profileDir, ec);
  std::vector<std::string> args = {program.string(),
                                   "--app=" + address,
                                   "--start-maximized",
                                   "--user-data-dir=" + profileDir.string(),
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-features=Translate",
                                   "--autoplay-policy=no-user-gesture-required"};
  for (auto& a : SplitArgs(extraArgs)) args.push_back(a);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // Only async-signal-safe calls here. The browser dies with us, in its own process group
    // so that EndBrowserProcesses reaches its helpers too.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(0);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);
  auto proc = std::make_shared<BrowserProcess>();
  proc->pid = pid;
  {
    std::lock_guard lock(browserMu);
    browsers.push_back(proc);
  }
  std::thread([proc, exited = std::move(exited)] {
    int status = 0;
    while (::waitpid(proc->pid, &status, 0) < 0 && errno == EINTR) {
    }
    {
      std::lock_guard lock(browserMu);
      browsers.erase(std::remove(browsers.begin(), browsers.end(), proc), browsers.end());
    }
    if (!proc->endedByUs && exited) PostWindowTask(exited);
  }).detach();
  return true;
}

void EndBrowserProcesses() {
  std::lock_guard lock(browserMu);
  for (auto& proc : browsers) {
    proc->endedByUs = true;
    ::kill(-proc->pid, SIGTERM);
  }
}

bool WriteOwnerOnlyFile(const fs::path& path, std::string_view text) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid());
  ::unlink(tmp.c_str());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace plat
