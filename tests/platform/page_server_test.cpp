// The page server against a client that plays the page: raw HTTP requests for the safety rules
// and a WebSocket client for the channel.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_root.h"
#include "platform/message_loop.h"
#include "platform/files.h"
#include "platform/page_server.h"

namespace fs = std::filesystem;

namespace {

struct HttpReply {
  int status = 0;
  std::string headers;
  std::string body;
};

// One request over a fresh connection, sent exactly as given (no client-side path cleaning).
HttpReply RawGet(const std::string& target, const std::string& host,
                 const std::string& extraHeaders = "") {
  HttpReply reply;
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(plat::PageServerPort());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return reply;
  }
  std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n" + extraHeaders +
                        "Connection: close\r\n\r\n";
  (void)!::write(fd, request.data(), request.size());
  std::string all;
  char buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) all.append(buf, static_cast<size_t>(n));
  ::close(fd);
  size_t end = all.find("\r\n\r\n");
  if (all.size() < 12 || end == std::string::npos) return reply;
  reply.status = std::atoi(all.c_str() + 9);
  reply.headers = all.substr(0, end);
  reply.body = all.substr(end + 4);
  return reply;
}

std::string Host() { return "127.0.0.1:" + std::to_string(plat::PageServerPort()); }
std::string Token() { return plat::PageServerToken(); }

// A WebSocket client standing in for the page's end of the channel, speaking the protocol by
// hand so that the request carries exactly the headers a browser sends.
class FakePage {
 public:
  FakePage(const std::string& origin, const std::string& query) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(plat::PageServerPort());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
    std::string request = "GET /__tavelo/ws?" + query + " HTTP/1.1\r\nHost: " + Host() +
                          "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\nOrigin: " + origin + "\r\n\r\n";
    WriteAll(request);
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && ::read(fd_, &c, 1) == 1) head += c;
    if (head.rfind("HTTP/1.1 101", 0) != 0) return;
    connected_ = true;
    reader_ = std::thread([this] { ReadFrames(); });
  }
  ~FakePage() { Close(); }
  bool connected() const { return connected_; }
  int fd() const { return fd_; }

  void Send(const std::string& payload, int opcode = 1) {
    std::string frame;
    frame += static_cast<char>(0x80 | opcode);
    size_t n = payload.size();
    if (n < 126) {
      frame += static_cast<char>(0x80 | n);
    } else if (n < 65536) {
      frame += static_cast<char>(0x80 | 126);
      frame += static_cast<char>(n >> 8);
      frame += static_cast<char>(n & 0xff);
    } else {
      frame += static_cast<char>(0x80 | 127);
      for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((n >> shift) & 0xff);
    }
    const unsigned char mask[4] = {0x12, 0x34, 0x56, 0x78};
    frame.append(reinterpret_cast<const char*>(mask), 4);
    size_t at = frame.size();
    frame += payload;
    for (size_t i = 0; i < n; ++i) frame[at + i] = static_cast<char>(frame[at + i] ^ mask[i % 4]);
    WriteAll(frame);
  }
  void Close() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Waits until `n` frames arrived (or the connection closed) and returns them.
  std::vector<std::string> WaitFrames(size_t n) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::seconds(30), [&] { return frames_.size() >= n || closed_; });
    return frames_;
  }
  bool WaitClosed() {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::seconds(30), [&] { return closed_; });
    return closed_;
  }

 private:
  void WriteAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  bool ReadExact(void* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::read(fd_, static_cast<char*>(buf) + done, n - done);
      if (r <= 0) return false;
      done += static_cast<size_t>(r);
    }
    return true;
  }
  void ReadFrames() {
    std::string message;
    for (;;) {
      unsigned char h[2];
      if (!ReadExact(h, 2)) break;
      uint64_t len = h[1] & 0x7f;
      if (len == 126 || len == 127) {
        unsigned char ext[8];
        size_t k = len == 126 ? 2 : 8;
        if (!ReadExact(ext, k)) break;
        len = 0;
        for (size_t i = 0; i < k; ++i) len = (len << 8) | ext[i];
      }
      std::string payload(len, '\0');
      if (len && !ReadExact(payload.data(), len)) break;
      int opcode = h[0] & 0x0f;
      if (opcode == 8) break;
      if (opcode != 1 && opcode != 0) continue;
      message += payload;
      if (h[0] & 0x80) {
        std::lock_guard lock(mu_);
        frames_.push_back(std::move(message));
        message.clear();
        cv_.notify_all();
      }
    }
    std::lock_guard lock(mu_);
    closed_ = true;
    cv_.notify_all();
  }

  int fd_ = -1;
  bool connected_ = false;
  std::thread reader_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> frames_;
  bool closed_ = false;
};

class PageServerTest : public ::testing::Test {
 protected:
  // The window thread runs for the whole test; the test thread waits on what its handlers record.
  void SetUp() override {
    plat::ResetMessageLoop();
    loop_ = std::thread([] { plat::RunMessageLoop(); });
    while (!plat::MessageLoopRunning()) std::this_thread::yield();
    ASSERT_TRUE(plat::StartPageServer());
    view_ = plat::CreatePageView("/", Handlers());
    plat::SetPageViewDocument(view_, "<html><head></head><body>page</body></html>");
  }
  void TearDown() override {
    plat::PostQuit(0);
    loop_.join();
    plat::StopPageServer();
    plat::ResetMessageLoop();
  }
  plat::PageViewHandlers Handlers() {
    plat::PageViewHandlers h;
    h.message = [this](std::string&& m, bool isText) {
      EXPECT_TRUE(plat::OnWindowThread());
      std::lock_guard lock(mu_);
      messages_.push_back((isText ? "M:" : "J:") + m);
    };
    h.navigationCompleted = [this] {
      EXPECT_TRUE(plat::OnWindowThread());
      std::lock_guard lock(mu_);
      ++navigations_;
    };
    return h;
  }
  // Waits until `done` holds (checked under the state mutex), at most a long while.
  bool WaitFor(std::function<bool()> done) {
    for (int i = 0; i < 6000; ++i) {
      {
        std::lock_guard lock(mu_);
        if (done()) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  std::string PageQuery() { return "v=%2F&t=" + Token(); }

  std::thread loop_;
  plat::PageViewId view_ = 0;
  std::mutex mu_;
  std::vector<std::string> messages_;
  int navigations_ = 0;
};

}  // namespace

TEST_F(PageServerTest, EveryRequestNeedsTheTokenAndOurHostName) {
  std::string t = Token();
  ASSERT_EQ(t.size(), 64u);
  std::string wrong = t;
  wrong[10] = wrong[10] == 'a' ? 'b' : 'a';
  struct Case {
    std::string target, host, headers;
    int status;
  } cases[] = {
      {"/", Host(), "", 403},
      {"/?t=" + wrong, Host(), "", 403},
      {"/?t=" + t, Host(), "", 200},
      {"/?t=" + t, "localhost:" + std::to_string(plat::PageServerPort()), "", 200},
      {"/?t=" + t, "LOCALHOST:" + std::to_string(plat::PageServerPort()), "", 200},
      {"/?t=" + t, "evil.example:" + std::to_string(plat::PageServerPort()), "", 403},
      {"/?t=" + t, "127.0.0.1", "", 403},
      {"/?t=" + t, "127.0.0.1:1", "", 403},
      {"/", Host(), "Cookie: tavelo_" + std::to_string(plat::PageServerPort()) + "=" + t + "\r\n",
       200},
      {"/", Host(), "Cookie: tavelo_1=" + t + "\r\n", 403},
      {"/nothing-here?t=" + t, Host(), "", 404},
      {"/favicon.ico", Host(), "", 403},
  };
  for (const auto& c : cases) {
    HttpReply r = RawGet(c.target, c.host, c.headers);
    EXPECT_EQ(r.status, c.status) << c.target << " host " << c.host << " " << c.headers;
  }
  HttpReply page = RawGet("/?t=" + t, Host());
  EXPECT_NE(page.headers.find("Set-Cookie: tavelo_" + std::to_string(plat::PageServerPort()) +
                              "=" + t + "; Path=/; HttpOnly; SameSite=Strict"),
            std::string::npos);
  EXPECT_NE(page.headers.find("text/html; charset=utf-8"), std::string::npos);
  EXPECT_EQ(page.body, "<html><head></head><body>page</body></html>");
}

TEST_F(PageServerTest, AOneTimeAddressOpensThePageOnce) {
  std::string address = plat::PageViewOneTimeAddress(view_);
  size_t at = address.find("/?k=");
  ASSERT_NE(at, std::string::npos);
  std::string target = address.substr(at);
  EXPECT_EQ(address.find(Token()), std::string::npos);
  HttpReply first = RawGet(target, Host());
  EXPECT_EQ(first.status, 200);
  EXPECT_NE(first.headers.find("Set-Cookie: tavelo_"), std::string::npos);
  EXPECT_EQ(RawGet(target, Host()).status, 403);
  EXPECT_EQ(RawGet("/?k=", Host()).status, 403);
}

TEST_F(PageServerTest, MediaFilesStayInsideTheirFolder) {
  TempRoot root;
  fs::path audio = root.path() / "audio";
  fs::create_directories(audio / "sub");
  std::ofstream(audio / "Song A.mp3") << "0123456789";
  std::ofstream(audio / "sub" / "x.png") << "sub";
  std::ofstream(root.path() / "secret.txt") << "secret";
  fs::create_symlink(root.path() / "secret.txt", audio / "link.txt");
  plat::MapPageMediaFolder("audio.tavelo", audio);
  std::string q = "?t=" + Token();
  struct Case {
    std::string path;
    int status;
    std::string body;
  } cases[] = {
      {"/audio.tavelo/Song%20A.mp3", 200, "0123456789"},
      {"/audio.tavelo/song%20a.MP3", 200, "0123456789"},  // names are case-blind
      {"/audio.tavelo/sub/x.png", 200, "sub"},
      {"/audio.tavelo/../secret.txt", 403, ""},
      {"/audio.tavelo/%2e%2e/secret.txt", 403, ""},
      {"/audio.tavelo/%2E%2E%2Fsecret.txt", 403, ""},
      {"/audio.tavelo/..%5csecret.txt", 403, ""},
      {"/audio.tavelo/sub/../../secret.txt", 403, ""},
      {"/audio.tavelo/link.txt", 403, ""},  // a link that leads out of the folder
      {"/audio.tavelo/missing.mp3", 403, ""},
      {"/audio.tavelo/", 403, ""},
      {"/video.tavelo/Song%20A.mp3", 404, ""},
  };
  for (const auto& c : cases) {
    HttpReply r = RawGet(c.path + q, Host());
    EXPECT_EQ(r.status, c.status) << c.path;
    if (c.status == 200) {
      EXPECT_EQ(r.body, c.body) << c.path;
    } else {
      EXPECT_EQ(r.body.find("secret"), std::string::npos) << c.path;
    }
  }
  HttpReply part = RawGet("/audio.tavelo/Song%20A.mp3" + q, Host(), "Range: bytes=2-5\r\n");
  EXPECT_EQ(part.status, 206);
  EXPECT_EQ(part.body, "2345");
}

TEST_F(PageServerTest, ChannelOpensOnlyForOurOriginWithTheToken) {
  std::string port = std::to_string(plat::PageServerPort());
  struct Case {
    std::string origin, query;
    bool opens;
  } cases[] = {
      {"http://example.com", PageQuery(), false},
      {"http://127.0.0.1:" + port + ".example.com", PageQuery(), false},
      {"http://127.0.0.1:" + port, "v=%2F", false},             // no token
      {"http://127.0.0.1:" + port, "v=%2Fother&t=" + Token(), false},  // no such page
      {"http://127.0.0.1:" + port, PageQuery(), true},
  };
  for (const auto& c : cases) {
    FakePage page(c.origin, c.query);
    EXPECT_EQ(page.connected(), c.opens) << c.origin << " " << c.query;
  }
}

TEST_F(PageServerTest, ScriptsArriveWholeAndInOrderAndCompleteOnTheWindowThread) {
  FakePage page("http://" + Host(), PageQuery());
  ASSERT_TRUE(page.connected());
  page.Send("N");
  ASSERT_TRUE(WaitFor([&] { return navigations_ == 1; }));
  ASSERT_TRUE(plat::PageViewConnected(view_));

  std::vector<std::string> scripts = {"a=1;", std::string(200000, 'x'), std::string(200001, 'y'),
                                      std::string(3 << 20, 'z'), "throw 1;", "b=2;"};
  std::vector<std::pair<int, bool>> completions;
  plat::PostWindowTask([&] {
    for (size_t i = 0; i < scripts.size(); ++i) {
      auto done = [this, &completions, i](bool ran) {
        EXPECT_TRUE(plat::OnWindowThread());
        std::lock_guard lock(mu_);
        completions.push_back({static_cast<int>(i), ran});
      };
      // The large one as a script that several pages would share: the same frame, in its place.
      if (scripts[i].size() > 1000000)
        plat::RunPageViewSharedScript(view_, std::make_shared<const std::string>(scripts[i]), done);
      else
        plat::RunPageViewScript(view_, scripts[i], done);
    }
  });
  std::vector<std::string> frames = page.WaitFrames(scripts.size());
  ASSERT_EQ(frames.size(), scripts.size());
  for (size_t i = 0; i < scripts.size(); ++i) {
    size_t space = frames[i].find(' ');
    ASSERT_EQ(frames[i][0], 'S');
    EXPECT_EQ(frames[i].substr(space + 1), scripts[i]) << "script " << i;
    // Answer all but the last: it stays pending when the page goes away.
    if (i + 1 < scripts.size()) page.Send("D" + frames[i].substr(1, space - 1));
  }
  ASSERT_TRUE(WaitFor([&] { return completions.size() == scripts.size() - 1; }));
  page.Close();
  ASSERT_TRUE(WaitFor([&] { return completions.size() == scripts.size(); }));
  ASSERT_EQ(completions.size(), scripts.size());
  for (size_t i = 0; i < scripts.size(); ++i) {
    EXPECT_EQ(completions[i].first, static_cast<int>(i));
    EXPECT_EQ(completions[i].second, i + 1 < scripts.size());
  }

  // No page connected: the script is dropped and its completion says so.
  int ranWithoutPage = -1;
  plat::PostWindowTask([&] {
    plat::RunPageViewScript(view_, "c=3;", [&](bool ran) {
      std::lock_guard lock(mu_);
      ranWithoutPage = ran;
    });
  });
  ASSERT_TRUE(WaitFor([&] { return ranWithoutPage != -1; }));
  EXPECT_EQ(ranWithoutPage, 0);
}

TEST_F(PageServerTest, PageMessagesReachTheWindowThreadInOrder) {
  FakePage page("http://" + Host(), PageQuery());
  ASSERT_TRUE(page.connected());
  std::vector<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    page.Send("MCMD_" + std::to_string(i));
    expected.push_back("M:CMD_" + std::to_string(i));
  }
  page.Send("J{\"a\":1}");
  expected.push_back("J:{\"a\":1}");
  page.Send("M한글:1234");
  expected.push_back("M:한글:1234");
  ASSERT_TRUE(WaitFor([&] { return messages_.size() == expected.size(); }));
  EXPECT_EQ(messages_, expected);

  // A message over the size limit closes the channel.
  page.Send("M" + std::string(plat::kMaxPageMessageBytes + 1, 'q'));
  EXPECT_TRUE(page.WaitClosed());
  ASSERT_TRUE(WaitFor([&] { return !plat::PageViewConnected(view_); }));
  EXPECT_EQ(messages_.size(), expected.size());
}

TEST_F(PageServerTest, ANewerPageReplacesTheOlderOne) {
  FakePage first("http://" + Host(), PageQuery());
  ASSERT_TRUE(first.connected());
  FakePage second("http://" + Host(), PageQuery());
  ASSERT_TRUE(second.connected());
  EXPECT_TRUE(first.WaitClosed());
  second.Send("Mfrom-second");
  ASSERT_TRUE(WaitFor([&] { return !messages_.empty(); }));
  EXPECT_EQ(messages_, std::vector<std::string>{"M:from-second"});

  // A new document makes the connected page reload.
  plat::SetPageViewDocument(view_, "<html>v2</html>");
  EXPECT_EQ(second.WaitFrames(1), std::vector<std::string>{"R"});
  EXPECT_EQ(RawGet("/?t=" + Token(), Host()).body, "<html>v2</html>");
}

TEST_F(PageServerTest, ABurstOfPageLoadsCostsOneBoot) {
  // The window thread is held while the burst arrives, as a long boot holds it.
  std::mutex hold;
  std::unique_lock held(hold);
  std::atomic<bool> holding{false};
  plat::PostWindowTask([&] {
    holding = true;
    std::lock_guard wait(hold);
  });
  while (!holding) std::this_thread::yield();
  FakePage first("http://" + Host(), PageQuery());
  ASSERT_TRUE(first.connected());
  for (int i = 0; i < 50; ++i) first.Send("N");
  first.Send("Mlast-of-first");
  FakePage second("http://" + Host(), PageQuery());
  ASSERT_TRUE(second.connected());
  EXPECT_TRUE(first.WaitClosed());
  for (int i = 0; i < 50; ++i) second.Send("N");
  second.Send("Mlast-of-second");
  // Both pages' messages are read before the window thread runs again.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  held.unlock();
  ASSERT_TRUE(WaitFor([&] { return messages_.size() >= 1 && messages_.back() == "M:last-of-second"; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::lock_guard lock(mu_);
  EXPECT_EQ(navigations_, 1);  // the second page's, once; the replaced page's never
}

TEST(PageServerFiles, OwnerOnlyFileIsWrittenWhole) {
  TempRoot root;
  fs::path file = root.path() / "system" / "page_url.txt";
  ASSERT_TRUE(plat::WriteOwnerOnlyFile(file, "http://127.0.0.1:1/?t=x\n"));
  ASSERT_TRUE(plat::WriteOwnerOnlyFile(file, "http://127.0.0.1:2/?t=y\n"));
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "http://127.0.0.1:2/?t=y\n");
  auto perms = fs::status(file).permissions();
  EXPECT_EQ(perms & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
}

namespace {

int ConnectToServer() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(plat::PageServerPort());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Reads until the server closes the connection; false when it stays open for a long while.
bool ServerCloses(int fd) {
  timeval tv{20, 0};  // only a guard: the server's own limit is far shorter
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
  }
}

}  // namespace

TEST_F(PageServerTest, SlowHeadersNeitherKeepThePageOutNorStayForever) {
  // Far more half-sent requests than the old server had threads.
  std::vector<int> slow;
  for (int i = 0; i < 50; ++i) {
    int fd = ConnectToServer();
    ASSERT_GE(fd, 0);
    std::string part = "GET /?t=" + Token() + " HTTP/1.1\r\nHost: " + Host() + "\r\nX-Slow: ";
    ASSERT_EQ(::write(fd, part.data(), part.size()), static_cast<ssize_t>(part.size()));
    slow.push_back(fd);
  }
  // The page still loads and its channel still opens and carries commands.
  EXPECT_EQ(RawGet("/?t=" + Token(), Host()).status, 200);
  FakePage page("http://" + Host(), PageQuery());
  ASSERT_TRUE(page.connected());
  page.Send("Mstill-here");
  ASSERT_TRUE(WaitFor([&] { return messages_.size() == 1; }));
  // A request head that never ends is dropped by the server.
  EXPECT_TRUE(ServerCloses(slow[0]));
  for (int fd : slow) ::close(fd);
}

TEST_F(PageServerTest, APageThatStopsReadingStallsNobodyAndIsClosed) {
  // The stuck page: connected, never reads a byte of what it is sent.
  int stuck = ConnectToServer();
  ASSERT_GE(stuck, 0);
  int small = 4096;
  ::setsockopt(stuck, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  std::string upgrade = "GET /__tavelo/ws?" + PageQuery() + " HTTP/1.1\r\nHost: " + Host() +
                        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                        "Sec-WebSocket-Version: 13\r\nOrigin: http://" + Host() + "\r\n\r\n";
  ASSERT_EQ(::write(stuck, upgrade.data(), upgrade.size()), static_cast<ssize_t>(upgrade.size()));
  ASSERT_TRUE(WaitFor([&] { return plat::PageViewConnected(view_); }));

  // Far more than the socket buffers hold: the queue passes its limit and the page is dropped;
  // every script it was sent fails.
  const std::string script(1 << 20, 's');
  int failed = 0, done = 0;
  const int kScripts = 80;
  plat::PostWindowTask([&] {
    for (int i = 0; i < kScripts; ++i) {
      plat::RunPageViewScript(view_, script, [&](bool ran) {
        std::lock_guard lock(mu_);
        ++done;
        if (!ran) ++failed;
      });
    }
  });
  ASSERT_TRUE(WaitFor([&] { return done == kScripts; }));
  EXPECT_EQ(failed, kScripts);
  EXPECT_FALSE(plat::PageViewConnected(view_));

  // A new page connects and is answered at once, while the stuck socket is still open.
  FakePage page("http://" + Host(), PageQuery());
  ASSERT_TRUE(page.connected());
  // The server takes the new page as the view's page once its upgrade is handled.
  ASSERT_TRUE(WaitFor([&] { return plat::PageViewConnected(view_); }));
  plat::PostWindowTask([&] { plat::RunPageViewScript(view_, "ok=1;"); });
  auto frames = page.WaitFrames(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].substr(frames[0].find(' ') + 1), "ok=1;");
  ::close(stuck);
}

TEST_F(PageServerTest, AnOversizedFrameIsRefusedFromItsHeader) {
  FakePage page("http://" + Host(), PageQuery());
  ASSERT_TRUE(page.connected());
  // Only the header of a 2,000 MB frame and a little of its data: the server must not wait for
  // (or make room for) the rest before it refuses.
  int fd = page.fd();
  std::string frame;
  frame += static_cast<char>(0x81);
  frame += static_cast<char>(0x80 | 127);
  uint64_t n = uint64_t{2000} << 20;
  for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((n >> shift) & 0xff);
  frame += std::string("\x12\x34\x56\x78", 4);
  frame += std::string(1000, 'x');
  ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
  // Refused (close frame) without the rest of the frame ever arriving.
  EXPECT_TRUE(page.WaitClosed());
  // A new page takes over and is served.
  FakePage next("http://" + Host(), PageQuery());
  ASSERT_TRUE(next.connected());
  next.Send("Mafter");
  ASSERT_TRUE(WaitFor([&] { return !messages_.empty(); }));
  EXPECT_EQ(messages_, std::vector<std::string>{"M:after"});
}

TEST_F(PageServerTest, MediaRangesAnswerAsHttpSays) {
  TempRoot root;
  fs::path video = root.path() / "video";
  fs::create_directories(video);
  std::ofstream(video / "clip.mp4") << "0123456789";
  plat::MapPageMediaFolder("video.tavelo", video);
  const std::string target = "/video.tavelo/clip.mp4?t=" + Token();
  struct Case {
    std::string range;
    int status;
    std::string body, contentRange;
  } cases[] = {
      {"", 200, "0123456789", ""},
      {"bytes=2-5", 206, "2345", "bytes 2-5/10"},
      {"bytes=7-", 206, "789", "bytes 7-9/10"},
      {"bytes=-3", 206, "789", "bytes 7-9/10"},
      {"bytes=-30", 206, "0123456789", "bytes 0-9/10"},
      {"bytes=8-99999999999999999999999", 206, "89", "bytes 8-9/10"},
      {"bytes=0-0", 206, "0", "bytes 0-0/10"},
      {"bytes=-0", 416, "", "bytes */10"},
      {"bytes=5-1", 416, "", "bytes */10"},
      {"bytes=10-", 416, "", "bytes */10"},
      {"bytes=10-20", 416, "", "bytes */10"},
      {"bytes=99999999999999999999999-", 416, "", "bytes */10"},
      {"bytes=abc", 200, "0123456789", ""},  // not a range: ignored
      {"items=1-2", 200, "0123456789", ""},  // another unit: ignored
  };
  for (const auto& c : cases) {
    HttpReply r = RawGet(target, Host(), c.range.empty() ? "" : "Range: " + c.range + "\r\n");
    EXPECT_EQ(r.status, c.status) << c.range;
    EXPECT_EQ(r.body, c.body) << c.range;
    if (!c.contentRange.empty()) {
      EXPECT_NE(r.headers.find("Content-Range: " + c.contentRange + "\r\n"), std::string::npos)
          << c.range << "\n" << r.headers;
    }
    size_t first = r.headers.find("Cache-Control:");
    EXPECT_EQ(r.headers.find("Cache-Control:", first + 1), std::string::npos) << r.headers;
  }
}

TEST_F(PageServerTest, MediaNeverRunsAsAPageOfOurOrigin) {
  TempRoot root;
  fs::path images = root.path() / "images";
  fs::create_directories(images);
  for (const char* name : {"evil.html", "evil.svg", "evil.js", "notes.txt", "bg.JPG", "bg.webp",
                           "song.opus", "clip.webm", "font.woff2"})
    std::ofstream(images / name) << "<script>chrome.webview.postMessage('QUIT')</script>";
  plat::MapPageMediaFolder("images.tavelo", images);
  struct Case {
    std::string name;
    int status;
    std::string type;
  } cases[] = {
      {"evil.html", 403, ""},           {"evil.svg", 403, ""},
      {"evil.js", 403, ""},             {"notes.txt", 403, ""},
      {"bg.JPG", 200, "image/jpeg"},    {"bg.webp", 200, "image/webp"},
      {"song.opus", 200, "audio/ogg"},  {"clip.webm", 200, "video/webm"},
      {"font.woff2", 200, "font/woff2"},
  };
  for (const auto& c : cases) {
    HttpReply r = RawGet("/images.tavelo/" + c.name + "?t=" + Token(), Host());
    EXPECT_EQ(r.status, c.status) << c.name;
    if (c.status != 200) continue;
    EXPECT_NE(r.headers.find("Content-Type: " + c.type + "\r\n"), std::string::npos) << r.headers;
    EXPECT_NE(r.headers.find("Content-Security-Policy: sandbox\r\n"), std::string::npos);
    EXPECT_NE(r.headers.find("X-Content-Type-Options: nosniff\r\n"), std::string::npos);
  }
}
