// The local page server.
//
// The server is event-driven (Boost.Beast over Asio, a few threads, one strand per connection):
// a slow or idle client costs a socket, never a thread, so it cannot keep the page out. A
// request's head must arrive within kRequestTime; answers to a page go through a queue per
// connection, so a page that stops reading stalls nobody else and is closed when its queue
// grows past kMaxUnsentBytes; an incoming WebSocket frame is refused from its header when it
// announces more than kMaxPageMessageBytes.
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

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <utility>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/message_loop.h"
#include "platform/paths.h"

namespace fs = std::filesystem;
namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace plat {
namespace {

// The first byte of a channel frame says what it is (see the wire protocol above).
constexpr char kFrameScript = 'S';        // server -> page: run a script
constexpr char kFrameTableCall = 'T';     // server -> page: call a function with a table's rows
constexpr char kFrameReload = 'R';        // server -> page: reload the document
constexpr char kFrameGoTo = 'G';          // server -> page: go to another address
constexpr char kFrameTextMessage = 'M';   // page -> server: a posted string
constexpr char kFrameValueMessage = 'J';  // page -> server: a posted value that is not a string
constexpr char kFrameLoaded = 'N';        // page -> server: the document has loaded
constexpr char kFrameDone = 'D';          // page -> server: script or table call <seq> has run

constexpr std::string_view kSocketPath = "/__tavelo/ws";
constexpr auto kRequestTime = std::chrono::seconds(5);   // a request's head must be in by then
constexpr uint32_t kMaxRequestHeadBytes = 16 * 1024;
constexpr uint64_t kMaxRequestBodyBytes = 64 * 1024;      // the page sends no bodies
constexpr size_t kMaxUnsentBytes = 32u << 20;             // queued for a page that stopped reading
constexpr size_t kMaxUntrustedConnections = 512;          // the oldest beyond this is dropped
constexpr int kServerThreads = 8;
// The page's channel: the handshake must finish in time, and a connection that answers no ping
// for this long is gone (the browser answers pings itself, even for a busy page).
constexpr auto kChannelHandshakeTime = std::chrono::seconds(10);
constexpr auto kChannelIdleTime = std::chrono::seconds(20);

class ChannelSession;

struct View {
  int id = 0;
  std::string path;
  std::shared_ptr<PageViewHandlers> handlers = std::make_shared<PageViewHandlers>();
  std::shared_ptr<const std::string> document = std::make_shared<const std::string>();

  // The connected page, under g.mu. A new connection replaces the old one (the newest page wins).
  std::shared_ptr<ChannelSession> conn;
  std::map<uint64_t, std::function<void(bool)>> waiting;  // scripts queued or sent, not answered
  uint64_t nextSeq = 1;
};

class HttpSession;

// One running server: its threads, its listening socket and its untrusted connections.
struct Server {
  std::string token;
  uint16_t port = 0;
  // Connections that have not yet shown the token, oldest first (declared before the I/O
  // context, so they outlive every session it destroys).
  std::mutex untrustedMu;
  std::list<std::weak_ptr<HttpSession>> untrusted;
  net::io_context ioc{kServerThreads};
  tcp::acceptor acceptor{ioc};
  net::steady_timer acceptPause{ioc};
  std::vector<std::thread> threads;
};

struct State {
  std::mutex mu;
  std::unique_ptr<Server> server;
  uint16_t port = 0;
  std::string token;
  bool stopping = false;
  std::map<std::string, fs::path> media;  // prefix -> folder
  std::vector<std::string> oneTimeKeys;   // unused keys of PageViewOneTimeAddress
  std::vector<std::unique_ptr<View>> views;
};
State g;

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

std::mutex watchMutex;
std::function<void(std::string_view)> messageWatch;

void WatchMessage(std::string_view message) {
  std::function<void(std::string_view)> watch;
  {
    std::lock_guard lock(watchMutex);
    watch = messageWatch;
  }
  if (watch) watch(message);
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

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding; a "%" not followed by two hex digits stays as it is. In a query "+" is a
// space; in a path it is itself.
std::string UrlDecode(std::string_view s, bool plusIsSpace) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    int hi, lo;
    if (s[i] == '%' && i + 2 < s.size() && (hi = HexDigit(s[i + 1])) >= 0 &&
        (lo = HexDigit(s[i + 2])) >= 0) {
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (s[i] == '+' && plusIsSpace) {
      out += ' ';
    } else {
      out += s[i];
    }
  }
  return out;
}

// The decoded value of the first `name` in a query ("a=1&b=2"); nothing when it is absent.
std::optional<std::string> QueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    size_t eq = pair.find('=');
    if (UrlDecode(pair.substr(0, eq), true) == name)
      return eq == std::string_view::npos ? std::string() : UrlDecode(pair.substr(eq + 1), true);
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The value of cookie `name` in a Cookie header ("a=1; b=2").
std::optional<std::string_view> CookieValue(std::string_view cookies, std::string_view name) {
  while (!cookies.empty()) {
    size_t semi = cookies.find(';');
    std::string_view pair = Trim(cookies.substr(0, semi));
    size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == name) {
      std::string_view value = Trim(pair.substr(eq + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      return value;
    }
    if (semi == std::string_view::npos) break;
    cookies.remove_prefix(semi + 1);
  }
  return std::nullopt;
}

std::string_view Sv(beast::string_view s) { return std::string_view(s.data(), s.size()); }

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



// The media types the page shows from its folders: pictures, audio, video and fonts. Anything
// else (a page, a script, an SVG) is not served from there.
const char* MediaType(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::map<std::string, const char*, std::less<>> types = {
      {".jpg", "image/jpeg"},  {".jpeg", "image/jpeg"}, {".png", "image/png"},
      {".webp", "image/webp"}, {".gif", "image/gif"},   {".bmp", "image/bmp"},
      {".mp3", "audio/mpeg"},  {".wav", "audio/wav"},   {".m4a", "audio/mp4"},
      {".ogg", "audio/ogg"},   {".flac", "audio/flac"}, {".wma", "audio/x-ms-wma"},
      {".aac", "audio/aac"},   {".opus", "audio/ogg"},  {".mp4", "video/mp4"},
      {".webm", "video/webm"}, {".m4v", "video/mp4"},   {".mov", "video/quicktime"},
      {".ttf", "font/ttf"},    {".otf", "font/otf"},    {".ttc", "font/collection"},
      {".woff", "font/woff"},  {".woff2", "font/woff2"},
  };
  auto it = types.find(ext);
  return it == types.end() ? nullptr : it->second;
}

// What a Range header asks of a file of `size` bytes.
struct PageByteRange {
  enum Kind { kWhole, kPart, kUnsatisfiable } kind;
  uint64_t offset;
  uint64_t length;
};

// One range of "bytes=" as HTTP defines it: "a-b", "a-" or "-n". A header that does not parse,
// another unit or several ranges get the whole file (a server may ignore Range); a range that
// starts past the end, ends before it starts or asks for the last 0 bytes cannot be served.
PageByteRange ParsePageByteRange(std::string_view header, uint64_t size) {
  PageByteRange whole{PageByteRange::kWhole, 0, size};
  std::string_view h = Trim(header);
  if (h.size() < 6 || !EqualsNoCaseAscii(h.substr(0, 6), "bytes=")) return whole;  // other units
  std::string_view rangeText = Trim(h.substr(6));
  // Several ranges would need a multipart answer; the whole file is a valid answer too.
  if (rangeText.find(',') != std::string_view::npos || size == 0) return whole;
  size_t dash = rangeText.find('-');
  if (dash == std::string_view::npos) return whole;
  // Digits only; a number too big for 64 bits saturates (it lies past any file's end anyway).
  auto number = [](std::string_view digits, uint64_t& out) {
    if (digits.empty()) return false;
    out = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      unsigned d = static_cast<unsigned>(c - '0');
      out = out > (UINT64_MAX - d) / 10 ? UINT64_MAX : out * 10 + d;
    }
    return true;
  };
  std::string_view firstText = Trim(rangeText.substr(0, dash));
  std::string_view lastText = Trim(rangeText.substr(dash + 1));
  uint64_t first = 0, last = 0;
  PageByteRange refused{PageByteRange::kUnsatisfiable, 0, 0};
  if (firstText.empty()) {  // "-n": the last n bytes
    if (!number(lastText, last)) return whole;
    if (last == 0) return refused;
    uint64_t n = std::min(last, size);
    return {PageByteRange::kPart, size - n, n};
  }
  if (!number(firstText, first)) return whole;
  if (lastText.empty()) {  // "a-": from a to the end
    if (first >= size) return refused;
    return {PageByteRange::kPart, first, size - first};
  }
  if (!number(lastText, last)) return whole;
  if (last < first || first >= size) return refused;
  last = std::min(last, size - 1);
  return {PageByteRange::kPart, first, last - first + 1};
}

// A file answer: `length` bytes from `offset`, read in pieces as the socket takes them.
struct FileRangeBody {
  struct value_type {
    int fd = -1;
    uint64_t offset = 0;
    uint64_t length = 0;
    value_type() = default;
    value_type(value_type&& o) noexcept
        : fd(std::exchange(o.fd, -1)), offset(o.offset), length(o.length) {}
    value_type& operator=(value_type&& o) noexcept {
      if (this != &o) {
        if (fd >= 0) ::close(fd);
        fd = std::exchange(o.fd, -1);
        offset = o.offset;
        length = o.length;
      }
      return *this;
    }
    ~value_type() {
      if (fd >= 0) ::close(fd);
    }
  };
  static uint64_t size(const value_type& v) { return v.length; }

  class writer {
   public:
    using const_buffers_type = net::const_buffer;
    template <bool isRequest, class Fields>
    writer(const http::header<isRequest, Fields>&, const value_type& body)
        : body_(body), pos_(body.offset), left_(body.length) {}
    void init(beast::error_code& ec) { ec = {}; }
    boost::optional<std::pair<const_buffers_type, bool>> get(beast::error_code& ec) {
      ec = {};
      if (left_ == 0) return boost::none;
      size_t want = static_cast<size_t>(std::min<uint64_t>(left_, sizeof buf_));
      ssize_t n;
      do {
        n = ::pread(body_.fd, buf_, want, static_cast<off_t>(pos_));
      } while (n < 0 && errno == EINTR);
      if (n <= 0) {  // the file shrank under us: the promised length cannot be kept
        ec = beast::errc::make_error_code(beast::errc::io_error);
        return boost::none;
      }
      pos_ += static_cast<uint64_t>(n);
      left_ -= static_cast<uint64_t>(n);
      return {{net::const_buffer(buf_, static_cast<size_t>(n)), left_ > 0}};
    }

   private:
    const value_type& body_;
    uint64_t pos_;
    uint64_t left_;
    char buf_[64 * 1024];
  };
};

// A text shared by every answer that sends it (the page document), not copied per request.
struct SharedTextBody {
  using value_type = std::shared_ptr<const std::string>;
  static uint64_t size(const value_type& v) { return v ? v->size() : 0; }
  class writer {
   public:
    using const_buffers_type = net::const_buffer;
    template <bool isRequest, class Fields>
    writer(const http::header<isRequest, Fields>&, const value_type& body) : body_(body) {}
    void init(beast::error_code& ec) { ec = {}; }
    boost::optional<std::pair<const_buffers_type, bool>> get(beast::error_code& ec) {
      ec = {};
      if (sent_ || !body_ || body_->empty()) return boost::none;
      sent_ = true;
      return {{net::const_buffer(body_->data(), body_->size()), false}};
    }

   private:
    const value_type& body_;
    bool sent_ = false;
  };
};

// One frame to a page: its head (kind, sequence number) and a body that the frames of several
// pages may share, so a large script is never copied per page.
struct OutFrame {
  std::string head;
  std::shared_ptr<const std::string> body;  // null for a frame that is all head
  size_t size() const { return head.size() + (body ? body->size() : 0); }
};

// The page's end of the channel: a WebSocket connection to one view.
class ChannelSession : public std::enable_shared_from_this<ChannelSession> {
 public:
  ChannelSession(tcp::socket&& socket, int viewId)
      : ws_(std::move(socket)), viewId_(viewId), arrival_(NextArrival()) {}

  template <class Request>
  void Start(const Request& request) {
    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(websocket::stream_base::timeout{kChannelHandshakeTime, kChannelIdleTime, true});
    ws_.read_message_max(kMaxPageMessageBytes);  // checked against each frame's header
    ws_.auto_fragment(false);
    ws_.text(true);
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
      self->OnAccepted(ec);
    });
  }

  // From any thread: queues a frame for the page. Never waits for the page.
  void Send(OutFrame frame) {
    net::post(ws_.get_executor(), [self = shared_from_this(), frame = std::move(frame)]() mutable {
      self->Queue(std::move(frame));
    });
  }

  // From any thread: a newer page took over, or the server stops.
  void Close() {
    net::post(ws_.get_executor(), [self = shared_from_this()] {
      if (self->ended_) return;
      if (self->writing_ || !self->accepted_) {
        self->Drop();  // a write may be stuck on a page that does not read: no handshake
        return;
      }
      self->closing_ = true;
      self->ws_.async_close(websocket::close_code::normal,
                            [self](beast::error_code) { self->Drop(); });
    });
  }

 private:
  static uint64_t NextArrival() {
    static std::atomic<uint64_t> counter{0};
    return ++counter;
  }

  void OnAccepted(beast::error_code ec) {
    if (ec) return;
    accepted_ = true;
    std::shared_ptr<ChannelSession> older;
    {
      std::lock_guard lock(g.mu);
      View* v = FindViewLocked(viewId_);
      // The page whose upgrade came last is the view's page, whichever handshake ends first.
      if (!v || g.stopping || (v->conn && v->conn->arrival_ > arrival_)) {
        ended_ = true;
      } else {
        older = std::move(v->conn);
        FailPendingLocked(*v);
        v->conn = shared_from_this();
      }
    }
    if (ended_) {
      beast::get_lowest_layer(ws_).close();
      return;
    }
    if (older) older->Close();
    Read();
  }

  void Read() {
    ws_.async_read(in_, [self = shared_from_this()](beast::error_code ec, size_t) {
      self->OnRead(ec);
    });
  }

  bool Current() {
    std::lock_guard lock(g.mu);
    View* v = FindViewLocked(viewId_);
    return v && v->conn.get() == this;
  }

  void OnRead(beast::error_code ec) {
    if (ec || !Current()) {  // gone, too big, or replaced by a newer page
      Drop();
      return;
    }
    if (ws_.got_text() && in_.size() > 0) {
      std::string msg = beast::buffers_to_string(in_.data());
      HandleFrame(std::move(msg));
    }
    in_.consume(in_.size());
    Read();
  }

  void HandleFrame(std::string&& msg) {
    char kind = msg[0];
    if (kind == kFrameTextMessage || kind == kFrameValueMessage) {
      msg.erase(0, 1);
      bool isText = kind == kFrameTextMessage;
      if (isText) WatchMessage(msg);
      PostToView(viewId_, [m = std::move(msg), isText](PageViewHandlers& h) mutable {
        if (h.message) h.message(std::move(m), isText);
      });
    } else if (kind == kFrameLoaded) {
      // The page's boot is large: one waits at most per connection, and it is skipped when a newer
      // page has taken the view by the time the window thread comes to it.
      if (loadedQueued_.exchange(true)) return;
      PostToView(viewId_, [weak = weak_from_this()](PageViewHandlers& h) {
        const std::shared_ptr<ChannelSession> self = weak.lock();
        if (!self) return;
        self->loadedQueued_.store(false);
        if (!self->Current()) return;
        if (h.navigationCompleted) h.navigationCompleted();
      });
    } else if (kind == kFrameDone) {
      uint64_t seq = std::strtoull(msg.c_str() + 1, nullptr, 10);
      std::function<void(bool)> done;
      {
        std::lock_guard lock(g.mu);
        View* v = FindViewLocked(viewId_);
        if (!v || v->conn.get() != this) return;
        auto it = v->waiting.find(seq);
        if (it == v->waiting.end()) return;
        done = std::move(it->second);
        v->waiting.erase(it);
      }
      PostDone(std::move(done), true);
    }
  }

  void Queue(OutFrame&& frame) {
    if (ended_ || closing_) return;
    unsent_ += frame.size();
    out_.push_back(std::move(frame));
    // A page that stopped reading: its answers would pile up without end.
    if (out_.size() > 1 && unsent_ > kMaxUnsentBytes) {
      Drop();
      return;
    }
    if (!writing_) Write();
  }

  void Write() {
    writing_ = true;
    // One frame from two buffers; the queue keeps both alive until the write ends.
    const OutFrame& frame = out_.front();
    const std::array<net::const_buffer, 2> buffers{
        net::buffer(frame.head), frame.body ? net::buffer(*frame.body) : net::const_buffer()};
    ws_.async_write(buffers,
                    [self = shared_from_this()](beast::error_code ec, size_t) {
                      self->OnWritten(ec);
                    });
  }

  void OnWritten(beast::error_code ec) {
    writing_ = false;
    if (!out_.empty()) {
      unsent_ -= out_.front().size();
      out_.pop_front();
    }
    if (ec) {
      Drop();
      return;
    }
    if (!out_.empty() && !ended_) Write();
  }

  // Ends the connection at once and fails what the page was still to run.
  void Drop() {
    if (!ended_) {
      ended_ = true;
      std::lock_guard lock(g.mu);
      View* v = FindViewLocked(viewId_);
      if (v && v->conn.get() == this) {
        v->conn.reset();
        FailPendingLocked(*v);
      }
    }
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws_).close();
    out_.clear();
    unsent_ = 0;
  }

  websocket::stream<beast::tcp_stream> ws_;
  const int viewId_;
  const uint64_t arrival_;  // order in which the upgrade requests came
  std::atomic<bool> loadedQueued_{false};  // a "loaded" frame waits for the window thread
  beast::flat_buffer in_;
  // The rest only on this connection's strand.
  std::deque<OutFrame> out_;
  size_t unsent_ = 0;
  bool writing_ = false;
  bool accepted_ = false;
  bool closing_ = false;
  bool ended_ = false;
};

// One HTTP connection: requests one after another until it closes or becomes a channel.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket&& socket, Server& server) : stream_(std::move(socket)), srv_(server) {}

  void Start() { Read(); }
  bool trusted() const { return trusted_.load(); }
  // From any thread: too many connections wait for their requests; this one is the oldest.
  void Evict() {
    net::post(stream_.get_executor(), [self = shared_from_this()] { self->stream_.close(); });
  }

 private:
  using Request = http::request<http::string_body>;

  void Read() {
    parser_.emplace();
    parser_->header_limit(kMaxRequestHeadBytes);
    parser_->body_limit(kMaxRequestBodyBytes);
    // The whole request, head first, must come within the time; an idle keep-alive connection
    // is closed by the same timer.
    stream_.expires_after(kRequestTime);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, size_t) {
                       self->OnRead(ec);
                     });
  }

  void OnRead(beast::error_code ec) {
    if (ec) {
      Close();
      return;
    }
    Handle(parser_->release());
  }

  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.close();
  }

  template <class Body>
  void Answer(http::response<Body>&& res, bool keepAlive) {
    res.keep_alive(keepAlive);
    auto sp = std::make_shared<http::response<Body>>(std::move(res));
    pending_ = sp;
    // A trusted page may read a long video slowly; a refusal is small and stays on the timer.
    if (trusted_) stream_.expires_never();
    http::async_write(stream_, *sp,
                      [self = shared_from_this(), keepAlive](beast::error_code ec, size_t) {
                        self->pending_.reset();
                        if (ec || !keepAlive) {
                          self->Close();
                          return;
                        }
                        self->Read();
                      });
  }

  void Refuse(http::status status) {
    http::response<http::empty_body> res{status, 11};
    res.set(http::field::content_type, "text/plain");
    res.set(http::field::cache_control, "no-store");
    res.content_length(0);
    Answer(std::move(res), false);
  }

  bool HostAllowed(const Request& req, std::string* hostOut) {
    auto it = req.find(http::field::host);
    if (it == req.end()) return false;
    std::string_view h = Sv(it->value());
    std::string suffix = ":" + std::to_string(srv_.port);
    if (h.size() <= suffix.size() || h.substr(h.size() - suffix.size()) != suffix) return false;
    std::string_view name = h.substr(0, h.size() - suffix.size());
    if (name != "127.0.0.1" && !EqualsNoCaseAscii(name, "localhost")) return false;
    *hostOut = std::string(h);
    return true;
  }

  bool TokenOk(const Request& req, std::string_view query) {
    if (auto t = QueryValue(query, "t"); t && SameSecret(*t, srv_.token)) return true;
    auto it = req.find(http::field::cookie);
    if (it == req.end()) return false;
    auto c = CookieValue(Sv(it->value()), "tavelo_" + std::to_string(srv_.port));
    return c && SameSecret(*c, srv_.token);
  }

  // A one-time key opens the page once; it is used up by this request.
  static bool TakeOneTimeKey(std::string_view query) {
    auto key = QueryValue(query, "k");
    if (!key || key->empty()) return false;
    std::lock_guard lock(g.mu);
    for (auto it = g.oneTimeKeys.begin(); it != g.oneTimeKeys.end(); ++it) {
      if (SameSecret(*key, *it)) {
        g.oneTimeKeys.erase(it);
        return true;
      }
    }
    return false;
  }

  void Handle(Request&& req) {
    beast::error_code ec;
    auto remote = stream_.socket().remote_endpoint(ec);
    std::string host;
    if (ec || remote.address() != net::ip::make_address_v4("127.0.0.1") ||
        !HostAllowed(req, &host))
      return Refuse(http::status::forbidden);

    std::string_view target = Sv(req.target());
    size_t q = target.find('?');
    std::string_view query = q == std::string_view::npos ? "" : target.substr(q + 1);
    // The decoded path as it came, dot segments untouched: an encoded ".." must be refused, not
    // silently resolved.
    std::string path = UrlDecode(target.substr(0, q), false);

    if (path == kSocketPath) return Upgrade(std::move(req), query, host);
    if (!TokenOk(req, query) && !TakeOneTimeKey(query)) return Refuse(http::status::forbidden);
    trusted_ = true;

    bool head = req.method() == http::verb::head;
    if (req.method() != http::verb::get && !head) return Refuse(http::status::method_not_allowed);
    bool keepAlive = req.keep_alive();

    std::shared_ptr<const std::string> doc;
    {
      std::lock_guard lock(g.mu);
      if (View* v = FindViewByPathLocked(path)) doc = v->document;
    }
    if (doc) return ServeDocument(std::move(doc), head, keepAlive);
    if (path == "/favicon.ico") {
      http::response<http::empty_body> res{http::status::no_content, 11};
      res.set(http::field::cache_control, "max-age=86400");
      return Answer(std::move(res), keepAlive);
    }
    // "/<prefix>/<file>" of a media folder.
    if (path.size() > 1 && path[0] == '/') {
      size_t slash = path.find('/', 1);
      if (slash != std::string::npos) {
        fs::path folder;
        {
          std::lock_guard lock(g.mu);
          if (auto it = g.media.find(path.substr(1, slash - 1)); it != g.media.end())
            folder = it->second;
        }
        if (!folder.empty())
          return ServeMedia(req, folder, std::string_view(path).substr(slash + 1), head, keepAlive);
      }
    }
    Refuse(http::status::not_found);
  }

  void ServeDocument(std::shared_ptr<const std::string> doc, bool head, bool keepAlive) {
    http::response<SharedTextBody> res{http::status::ok, 11};
    res.set(http::field::content_type, "text/html; charset=utf-8");
    res.set(http::field::cache_control, "no-store");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Referrer-Policy", "no-referrer");
    res.set(http::field::set_cookie, "tavelo_" + std::to_string(srv_.port) + "=" + srv_.token +
                                         "; Path=/; HttpOnly; SameSite=Strict");
    res.content_length(doc->size());
    if (!head) res.body() = std::move(doc);
    Answer(std::move(res), keepAlive);
  }

  void ServeMedia(const Request& req, const fs::path& folder, std::string_view rest, bool head,
                  bool keepAlive) {
    fs::path file = ResolvePageMediaFile(folder, rest);
    const char* type = file.empty() ? nullptr : MediaType(file);
    if (!type) return Refuse(http::status::forbidden);
    FileRangeBody::value_type body;
    body.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (body.fd < 0 || ::fstat(body.fd, &st) != 0) return Refuse(http::status::forbidden);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    PageByteRange range{PageByteRange::kWhole, 0, size};
    if (auto it = req.find(http::field::range); it != req.end())
      range = ParsePageByteRange(Sv(it->value()), size);

    http::response<FileRangeBody> res{http::status::ok, 11};
    // A media file must never run as a page of our origin: no script, no type guessing.
    res.set("Content-Security-Policy", "sandbox");
    res.set("X-Content-Type-Options", "nosniff");
    res.set(http::field::cache_control, "no-cache");
    res.set(http::field::accept_ranges, "bytes");
    if (range.kind == PageByteRange::kUnsatisfiable) {
      res.result(http::status::range_not_satisfiable);
      res.set(http::field::content_range, "bytes */" + std::to_string(size));
      res.content_length(0);
      return Answer(std::move(res), keepAlive);
    }
    res.set(http::field::content_type, type);
    if (range.kind == PageByteRange::kPart) {
      res.result(http::status::partial_content);
      res.set(http::field::content_range,
              "bytes " + std::to_string(range.offset) + "-" +
                  std::to_string(range.offset + range.length - 1) + "/" + std::to_string(size));
    }
    res.content_length(range.length);
    if (!head) {
      body.offset = range.offset;
      body.length = range.length;
      res.body() = std::move(body);
    }
    Answer(std::move(res), keepAlive);
  }

  void Upgrade(Request&& req, std::string_view query, const std::string& host) {
    if (!TokenOk(req, query)) return Refuse(http::status::forbidden);
    // Only our own page may open the channel (no cross-site WebSocket).
    auto origin = req.find(http::field::origin);
    if (origin == req.end() || Sv(origin->value()) != "http://" + host)
      return Refuse(http::status::forbidden);
    if (!websocket::is_upgrade(req)) return Refuse(http::status::bad_request);
    int viewId = 0;
    {
      std::lock_guard lock(g.mu);
      if (View* v = FindViewByPathLocked(QueryValue(query, "v").value_or(""))) viewId = v->id;
    }
    if (!viewId) return Refuse(http::status::forbidden);
    trusted_ = true;
    std::make_shared<ChannelSession>(stream_.release_socket(), viewId)->Start(req);
  }

  beast::tcp_stream stream_;
  Server& srv_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<void> pending_;  // the answer being written
  std::atomic<bool> trusted_{false};
};

// Too many connections that never showed the token: the oldest of them goes.
void Admit(Server& srv, const std::shared_ptr<HttpSession>& session) {
  std::vector<std::shared_ptr<HttpSession>> evict;
  {
    std::lock_guard lock(srv.untrustedMu);
    srv.untrusted.push_back(session);
    if (srv.untrusted.size() > kMaxUntrustedConnections) {
      srv.untrusted.remove_if([](const std::weak_ptr<HttpSession>& w) {
        auto s = w.lock();
        return !s || s->trusted();
      });
    }
    while (srv.untrusted.size() > kMaxUntrustedConnections) {
      if (auto s = srv.untrusted.front().lock()) evict.push_back(std::move(s));
      srv.untrusted.pop_front();
    }
  }
  for (auto& s : evict) s->Evict();
}

void Accept(Server& srv) {
  srv.acceptor.async_accept(net::make_strand(srv.ioc), [&srv](beast::error_code ec,
                                                              tcp::socket socket) {
    if (ec == net::error::operation_aborted || !srv.acceptor.is_open()) return;
    if (ec) {
      // Out of descriptors or the like: try again shortly instead of spinning.
      srv.acceptPause.expires_after(std::chrono::milliseconds(50));
      srv.acceptPause.async_wait([&srv](beast::error_code e) {
        if (!e) Accept(srv);
      });
      return;
    }
    auto session = std::make_shared<HttpSession>(std::move(socket), srv);
    Admit(srv, session);
    session->Start();
    Accept(srv);
  });
}

}  // namespace

bool StartPageServer() {
  std::lock_guard lock(g.mu);
  if (g.server) return true;
  auto srv = std::make_unique<Server>();
  srv->token = RandomToken();
  if (srv->token.empty()) return false;
  beast::error_code ec;
  tcp::endpoint at(net::ip::make_address_v4("127.0.0.1"), 0);
  srv->acceptor.open(at.protocol(), ec);
  if (!ec) srv->acceptor.bind(at, ec);
  if (!ec) srv->acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) return false;
  srv->port = srv->acceptor.local_endpoint(ec).port();
  if (ec || srv->port == 0) return false;
  g.stopping = false;
  g.port = srv->port;
  g.token = srv->token;
  Accept(*srv);
  for (int i = 0; i < kServerThreads; ++i)
    srv->threads.emplace_back([ioc = &srv->ioc] { ioc->run(); });
  g.server = std::move(srv);
  return true;
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
  std::unique_ptr<Server> srv;
  {
    std::lock_guard lock(g.mu);
    srv = std::move(g.server);
    g.stopping = true;
  }
  if (srv) {
    srv->ioc.stop();
    for (auto& t : srv->threads) t.join();
  }
  std::vector<std::shared_ptr<ChannelSession>> channels;
  std::vector<std::unique_ptr<View>> views;
  {
    std::lock_guard lock(g.mu);
    for (auto& v : g.views) {
      if (v->conn) channels.push_back(std::move(v->conn));
      FailPendingLocked(*v);
    }
    views.swap(g.views);
    g.port = 0;
    g.token.clear();
    g.media.clear();
    g.oneTimeKeys.clear();
  }
  // Connections go before the I/O context they belong to; its own pending work goes with it.
  channels.clear();
  srv.reset();
  std::lock_guard lock(g.mu);
  g.stopping = false;
}

void MapPageMediaFolder(std::string_view prefix, const fs::path& folder) {
  std::lock_guard lock(g.mu);
  g.media[std::string(prefix)] = folder;
}

void SetPageMessageWatch(std::function<void(std::string_view message)> watch) {
  std::lock_guard lock(watchMutex);
  messageWatch = std::move(watch);
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
  }
  v->handlers = std::make_shared<PageViewHandlers>(std::move(handlers));
  return v->id;
}

void ReleasePageView(PageViewId view) {
  std::lock_guard lock(g.mu);
  if (View* v = FindViewLocked(view)) v->handlers = std::make_shared<PageViewHandlers>();
}

namespace {

// Queues a frame that expects no answer for the view's page, when one is connected.
void SendToPage(int viewId, std::string frame) {
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(viewId);
  if (v && v->conn) v->conn->Send(OutFrame{std::move(frame), nullptr});
}

}  // namespace

void SetPageViewDocument(PageViewId view, std::string html) {
  {
    std::lock_guard lock(g.mu);
    View* v = FindViewLocked(view);
    if (!v) return;
    v->document = std::make_shared<const std::string>(std::move(html));
  }
  SendToPage(view, std::string(1, kFrameReload));
}

void NavigatePageView(PageViewId view, std::string_view address) {
  SendToPage(view, kFrameGoTo + std::string(address));
}

namespace {

// Queues a frame that the page answers with kFrameDone once it has run it. Sent under the lock,
// so frames reach the connection in call order.
void SendCountedFrame(PageViewId view, char kind, std::string_view head,
                      std::shared_ptr<const std::string> body, std::function<void(bool)> done) {
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(view);
  if (!v || !v->conn) {
    PostDone(std::move(done), false);
    return;
  }
  const uint64_t seq = v->nextSeq++;
  OutFrame frame;
  frame.head += kind;
  frame.head += std::to_string(seq);
  frame.head += ' ';
  frame.head += head;
  frame.body = std::move(body);
  v->waiting[seq] = std::move(done);
  v->conn->Send(std::move(frame));
}

}  // namespace

void RunPageViewScript(PageViewId view, std::string script, std::function<void(bool)> done) {
  RunPageViewSharedScript(view, std::make_shared<const std::string>(std::move(script)), std::move(done));
}

void RunPageViewSharedScript(PageViewId view, std::shared_ptr<const std::string> script,
                             std::function<void(bool)> done) {
  SendCountedFrame(view, kFrameScript, {}, std::move(script), std::move(done));
}

void RunPageViewTableCall(PageViewId view, std::string_view function, std::string jsonTable,
                          std::function<void(bool)> done) {
  SendCountedFrame(view, kFrameTableCall, std::string(function) + " ",
                   std::make_shared<const std::string>(std::move(jsonTable)), std::move(done));
}

bool PageViewConnected(PageViewId view) {
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(view);
  return v && v->conn;
}

std::string PageViewAddress(PageViewId view) {
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(view);
  if (!v || !g.server) return {};
  return "http://127.0.0.1:" + std::to_string(g.port) + v->path + "?t=" + g.token;
}

std::string PageViewOneTimeAddress(PageViewId view) {
  std::string key = RandomToken();
  std::lock_guard lock(g.mu);
  View* v = FindViewLocked(view);
  if (!v || !g.server || key.empty()) return {};
  g.oneTimeKeys.push_back(key);
  return "http://127.0.0.1:" + std::to_string(g.port) + v->path + "?k=" + key;
}

}  // namespace plat
