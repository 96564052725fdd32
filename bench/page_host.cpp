// The page host under load: the page's round trip (a command in, a script out) when idle, with
// 200 clients fetching the page at once and with 50 sockets that never finish their request
// head; and the page fetch time under the 200 clients. Prints p50 and p99 in milliseconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/page_script.h"
#include "base/text.h"
#include "platform/message_loop.h"
#include "platform/page_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

int Connect() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(plat::PageServerPort());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  timeval tv{30, 0};  // a guard: nothing in a run may wait without end
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

bool WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadExact(int fd, void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::read(fd, static_cast<char*>(buf) + done, n - done);
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

std::string Host() { return "127.0.0.1:" + std::to_string(plat::PageServerPort()); }

// One page fetch over a fresh connection; the whole answer is read.
bool FetchPage(size_t expectBody) {
  int fd = Connect();
  if (fd < 0) return false;
  std::string req = "GET /?t=" + plat::PageServerToken() + " HTTP/1.1\r\nHost: " + Host() +
                    "\r\nConnection: close\r\n\r\n";
  bool ok = WriteAll(fd, req);
  size_t got = 0;
  char buf[65536];
  for (ssize_t n; ok && (n = ::read(fd, buf, sizeof buf)) > 0;) got += static_cast<size_t>(n);
  ::close(fd);
  return ok && got > expectBody;
}

// The page's end of the channel, synchronous: send a command, read the script, answer it.
class Page {
 public:
  bool Open() {
    fd_ = Connect();
    if (fd_ < 0) return false;
    std::string req = "GET /__tavelo/ws?v=%2F&t=" + plat::PageServerToken() + " HTTP/1.1\r\nHost: " +
                      Host() + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                      "Origin: http://" + Host() + "\r\n\r\n";
    if (!WriteAll(fd_, req)) return false;
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 4096 &&
           ::read(fd_, &c, 1) == 1)
      head += c;
    return head.rfind("HTTP/1.1 101", 0) == 0;
  }
  ~Page() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Send(const std::string& payload) {
    std::string f;
    f += static_cast<char>(0x81);
    f += static_cast<char>(0x80 | payload.size());  // short commands only
    f += std::string(4, '\0');                      // zero mask
    f += payload;
    return WriteAll(fd_, f);
  }
  bool Receive(std::string& out) {
    unsigned char h[2];
    if (!ReadExact(fd_, h, 2)) return false;
    uint64_t len = h[1] & 0x7f;
    if (len >= 126) {
      unsigned char ext[8];
      size_t k = len == 126 ? 2 : 8;
      if (!ReadExact(fd_, ext, k)) return false;
      len = 0;
      for (size_t i = 0; i < k; ++i) len = (len << 8) | ext[i];
    }
    out.assign(len, '\0');
    return len == 0 || ReadExact(fd_, out.data(), len);
  }

 private:
  int fd_ = -1;
};

struct Stats {
  double p50 = 0, p99 = 0;
  size_t n = 0;
};
Stats Percentiles(std::vector<double> v) {
  Stats s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.p50 = v[v.size() / 2];
  s.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
  return s;
}

// Round trips of the page while `load` runs on other threads.
Stats RoundTrips(Page& page, int count) {
  std::vector<double> times;
  std::string frame;
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    if (!page.Send("Mcmd" + std::to_string(i)) || !page.Receive(frame)) break;
    times.push_back(Ms(t0, Clock::now()));
    size_t space = frame.find(' ');
    page.Send("D" + frame.substr(1, space - 1));
  }
  return Percentiles(times);
}

}  // namespace

int main() {
  constexpr int kRoundTrips = 2000;
  constexpr int kClients = 200;
  constexpr int kFetchesPerClient = 10;
  constexpr int kSlowSockets = 50;

  std::thread loop([] { plat::RunMessageLoop(); });
  while (!plat::MessageLoopRunning()) std::this_thread::yield();
  if (!plat::StartPageServer()) return 1;
  plat::PageViewId view = 0;
  plat::PageViewHandlers handlers;
  // Every command is answered with a script, as the page's commands are.
  handlers.message = [&view](std::string&& m, bool) {
    plat::RunPageViewScript(view, WideToUtf8(PageCall(L"ack", Utf8ToWide(m))));
  };
  view = plat::CreatePageView("/", handlers);
  const std::string document(500 * 1024, 'p');  // about the size of the real page
  plat::SetPageViewDocument(view, document);

  Page page;
  if (!page.Open()) return 1;
  while (!plat::PageViewConnected(view)) std::this_thread::yield();

  Stats idle = RoundTrips(page, kRoundTrips);

  // 200 clients fetching the page at once, over and over, while the page works.
  std::atomic<bool> stop{false};
  std::mutex fetchMu;
  std::vector<double> fetchTimes;
  std::atomic<int> failed{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      for (int i = 0; i < kFetchesPerClient && !stop; ++i) {
        auto t0 = Clock::now();
        bool ok = FetchPage(document.size());
        double ms = Ms(t0, Clock::now());
        if (!ok) ++failed;
        std::lock_guard lock(fetchMu);
        fetchTimes.push_back(ms);
      }
    });
  }
  Stats busy = RoundTrips(page, kRoundTrips);
  stop = true;
  for (auto& t : clients) t.join();
  Stats fetch = Percentiles(fetchTimes);

  // 50 sockets that never finish their request head.
  std::vector<int> slow;
  for (int i = 0; i < kSlowSockets; ++i) {
    int fd = Connect();
    if (fd >= 0 && WriteAll(fd, "GET / HTTP/1.1\r\nHost: " + Host() + "\r\nX-Slow: ")) slow.push_back(fd);
  }
  Stats withSlow = RoundTrips(page, kRoundTrips);
  auto t0 = Clock::now();
  bool fetchedWithSlow = FetchPage(document.size());
  double fetchWithSlowMs = Ms(t0, Clock::now());
  for (int fd : slow) ::close(fd);

  std::printf("page round trip, idle:                 p50 %.3f ms  p99 %.3f ms  (%zu)\n", idle.p50, idle.p99, idle.n);
  std::printf("page round trip, %d fetching clients: p50 %.3f ms  p99 %.3f ms  (%zu)\n", kClients, busy.p50, busy.p99, busy.n);
  std::printf("page round trip, %d slow sockets:      p50 %.3f ms  p99 %.3f ms  (%zu)\n", kSlowSockets, withSlow.p50, withSlow.p99, withSlow.n);
  std::printf("page fetch (%zu KB), %d clients:      p50 %.3f ms  p99 %.3f ms  (%zu, %d failed)\n",
              document.size() / 1024, kClients, fetch.p50, fetch.p99, fetch.n, failed.load());
  std::printf("page fetch with %d slow sockets:       %.3f ms%s\n", kSlowSockets, fetchWithSlowMs,
              fetchedWithSlow ? "" : " (failed)");

  plat::PostQuit(0);
  loop.join();
  plat::StopPageServer();
  return 0;
}
