#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "common/temp_root.h"
#include "online/rs_receive.h"
#include "online/rs_screen.h"
#include "online/rs_session.h"
#include "online/rs_wire.h"
#include "page_messages.h"
#include "platform/files.h"
#include "platform/image_codec.h"
#include "platform/paths.h"
#include "platform/sockets.h"
#include "stand_in_agent.h"
#include "test_desktop.h"

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> HelloKeys(const std::string& hello) {
  std::map<std::string, std::string> keys;
  size_t start = 0;
  while (start < hello.size()) {
    size_t end = hello.find('\n', start);
    std::string line = hello.substr(start, end - start);
    keys[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    start = end + 1;
  }
  return keys;
}

std::string FileBegin(uint64_t size, const std::string& name) {
  std::string p;
  for (int i = 0; i < 8; ++i) p.push_back(static_cast<char>((size >> (8 * i)) & 0xff));
  p.push_back(static_cast<char>(name.size() & 0xff));
  p.push_back(static_cast<char>(name.size() >> 8));
  return p + name;
}

// A viewer that challenges, records the hello, then plays its script after the hello.
struct ViewerLog {
  std::string hello;
  std::vector<RsFrame> received;
};

SupportTarget LocalTarget(int port) {
  SupportTarget t;
  t.host = L"127.0.0.1";
  t.port = port;
  t.name = L"상담원 <b>";
  t.direct = true;
  return t;
}

void ResetClient() {
  RsClient.SupportConfig.framesPerSecond = 15;
  RsClient.SessionStopFlag = 0;
  RsClient.ViewerEndedFlag = 0;
  RsClient.SupportUserStopFlag = 0;
  RsClient.waitFreshMs = 2000;
  RsClient.waitRejoinMs = 2000;
  RsClient.reconnectPauseMs = 0;
  RsTimeoutValues.challengeMs = 2000;
}

}  // namespace

TEST(RsSession, SentSizeIsScaledEvenOrTheWholeMonitor) {
  struct Case {
    int w, h, scale, sw, sh;
  } cases[] = {
      {1920, 1080, 100, 1920, 1080}, {1920, 1080, 50, 960, 540}, {799, 601, 40, 799, 601},
      {1366, 768, 75, 1024, 576},    {1921, 1081, 100, 1920, 1080},
  };
  for (const auto& c : cases) {
    int32_t w = 0, h = 0;
    ComputeSentSize(c.w, c.h, c.scale, &w, &h);
    EXPECT_EQ(w, c.sw) << c.w << " " << c.scale;
    EXPECT_EQ(h, c.sh);
  }
}

TEST(RsSession, SupportTextEscapesForAQuotedLiteralAndTheBannerKeepsTextAsText) {
  EXPECT_EQ(EscapeSupportText(L"a'b\\c\r\nd"), L"a\\'b\\\\c  d");
  std::wstring script = SupportBannerScript(L"<img src=x onerror=alert(1)>'\n", true);
  EXPECT_NE(script.find(L"textContent="), std::wstring::npos);
  EXPECT_NE(script.find(L"rgba(200,25,25,0.93)"), std::wstring::npos);
  EXPECT_EQ(script.find(L"innerHTML"), std::wstring::npos);
  EXPECT_EQ(script.find(L"'\n"), std::wstring::npos);
  EXPECT_NE(SupportBannerScript(L"x", false).find(L"rgba(200,130,20,0.93)"), std::wstring::npos);
}

TEST(RsResumeFile, RoundTripAgeAndMissingAddresses) {
  TempRoot root;
  fs::path file = plat::RealPath(kRsResumeFile);
  SupportTarget t;
  t.host = L"호스트";
  t.lan = L"10.0.0.2";
  t.port = 7001;
  t.name = L"김";
  t.slot = L"s9";
  t.direct = true;
  t.relayHost = L"relay";
  t.relayPort = 9000;
  SaveRsResumeFile(t);
  std::string bytes = *plat::ReadFileBytes(file);
  EXPECT_EQ(bytes.rfind("host=\xED\x98\xB8\xEC\x8A\xA4\xED\x8A\xB8\r\nlan=10.0.0.2\r\nport=7001\r\nname=", 0), 0u);
  SupportTarget got;
  ASSERT_TRUE(LoadRsResumeFile(&got));
  EXPECT_EQ(got.host, t.host);
  EXPECT_EQ(got.lan, t.lan);
  EXPECT_EQ(got.port, 7001);
  EXPECT_EQ(got.name, t.name);
  EXPECT_EQ(got.slot, L"s9");
  EXPECT_TRUE(got.direct);
  EXPECT_EQ(got.relayHost, L"relay");
  EXPECT_EQ(got.relayPort, 9000);

  auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  struct Case {
    std::string text;
    bool ok;
  } cases[] = {
      {"host=h\nat=" + std::to_string(now - 601) + "\n", false},
      {"host=h\nat=" + std::to_string(now - 30) + "  \r\n", true},
      {"relayhost=r\r\nat=" + std::to_string(now) + "\r\n", true},
      {"name=n\r\nat=" + std::to_string(now) + "\r\n", false},
      {"host=h\r\n", false},
      {"host=h\r\nat=junk\r\n", false},
      {"garbage\r\n=\r\nhost=h\r\nat=" + std::to_string(now) + "\r\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(plat::WriteFileAtomic(file, c.text));
    SupportTarget r;
    EXPECT_EQ(LoadRsResumeFile(&r), c.ok);
    EXPECT_EQ(fs::exists(file), c.ok);
    if (c.ok) {
      EXPECT_EQ(r.port, 7777);
    }
  }
  DeleteRsResumeFile();
  EXPECT_FALSE(LoadRsResumeFile(&got));  // no file at all
}

TEST(RsReceive, FileNamesAreSanitised) {
  struct Case {
    std::wstring in, out;
  } cases[] = {
      {L"../../x.txt", L"x.txt"},
      {L"a\\b\\c.txt?", L"c.txt"},
      {L"C:evil:name.bin", L"name.bin"},
      {L"  lead.txt . .", L"lead.txt"},
      {L". . .", L""},
      {L"..", L""},
      {L"a\x01<b>|\"*.txt", L"ab.txt"},
      {std::wstring(180, L'n'), std::wstring(180, L'n')},
      {std::wstring(181, L'n'), L""},
  };
  for (const auto& c : cases) EXPECT_EQ(SanitizeReceivedFileName(c.in), c.out) << WideToUtf8(c.in);
}

// The receive loop on its own: the viewer's file frames and the acknowledgements they get.
TEST(RsReceive, FileFramesFollowTheirStateMachine) {
  TempRoot root;
  ResetClient();
  struct Step {
    RsMessageType type;
    std::string payload;
    int ackStatus;  // -1: no answer expected
    uint64_t ackCount;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::map<std::string, std::string> files;  // what _recv holds afterwards
  } cases[] = {
      {"complete file climbing out",
       {{RsMessageType::FileBegin, FileBegin(5, "../../x.txt"), 0, 0},
        {RsMessageType::FileData, "hel", 0, 3},
        {RsMessageType::FileData, "", 0, 3},
        {RsMessageType::FileData, "lo", 0, 5},
        {RsMessageType::FileEnd, "", 1, 5},
        {RsMessageType::FileEnd, "", 2, 5}},
       {{"x.txt", "hello"}}},
      {"short file is dropped",
       {{RsMessageType::FileBegin, FileBegin(9, "a.txt"), 0, 0},
        {RsMessageType::FileData, "abc", 0, 3},
        {RsMessageType::FileEnd, "", 2, 0},
        {RsMessageType::FileEnd, "", 2, 0}},
       {}},
      {"cancel and data without a file",
       {{RsMessageType::FileData, "zz", -1, 0},
        {RsMessageType::FileBegin, FileBegin(2, "b.txt"), 0, 0},
        {RsMessageType::FileData, "z", 0, 1},
        {RsMessageType::FileCancel, "", -1, 0},
        {RsMessageType::FileData, "z", -1, 0},
        {RsMessageType::FileEnd, "", 2, 0}},
       {}},
      {"second begin drops the first",
       {{RsMessageType::FileBegin, FileBegin(4, "first.txt"), 0, 0},
        {RsMessageType::FileData, "12", 0, 2},
        {RsMessageType::FileBegin, FileBegin(0, "second.txt"), 0, 0},
        {RsMessageType::FileData, "any", 0, 3},
        {RsMessageType::FileEnd, "", 1, 3}},
       {{"second.txt", "any"}}},
      {"refused announcements",
       {{RsMessageType::FileBegin, FileBegin(kRsMaxFileSize + 1, "big.bin"), 2, 0},
        {RsMessageType::FileBegin, FileBegin(1, ".."), 2, 0},
        {RsMessageType::FileBegin, FileBegin(1, "x").substr(0, 10), 2, 0},
        {RsMessageType::FileBegin, std::string(9, '\0'), 2, 0},
        {RsMessageType::FileBegin, FileBegin(kRsMaxFileSize, "max.bin"), 0, 0}},
       {}},  // the open file is dropped when the loop ends
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root.path() / "_recv");
    std::vector<std::optional<RsFrame>> acks;
    StandInPeer viewer([&](int s) {
      for (const auto& step : c.steps) {
        SendFrame(s, step.type, step.payload);
        if (step.ackStatus >= 0) acks.push_back(RecvFrame(s));
      }
      SendFrame(s, RsMessageType::End);
      char ch;
      plat::SocketReceive(s, &ch, 1);
    });
    RsConnection conn;
    int err = 0;
    conn.socket = ConnectWithTimeout(L"127.0.0.1", viewer.port(), 2000, &err);
    ASSERT_GE(conn.socket, 0);
    RsClient.SessionStopFlag = 0;
    RsReceiveLoop(conn, nullptr);
    EXPECT_EQ(RsClient.SessionStopFlag.load(), 1);
    EXPECT_EQ(RsClient.ViewerEndedFlag.load(), 1);
    plat::ShutdownSocket(conn.socket);
    viewer.Finish();
    plat::CloseSocket(conn.socket);
    size_t k = 0;
    for (const auto& step : c.steps) {
      if (step.ackStatus < 0) continue;
      ASSERT_LT(k, acks.size());
      const auto& a = acks[k++];
      ASSERT_TRUE(a);
      EXPECT_EQ(a->type, 5);
      EXPECT_EQ(a->payload, BuildFileAckPayload(static_cast<uint8_t>(step.ackStatus), step.ackCount));
    }
    std::map<std::string, std::string> files;
    if (fs::exists(root.path() / "_recv"))
      for (const auto& e : fs::directory_iterator(root.path() / "_recv"))
        files[e.path().filename().string()] = *plat::ReadFileBytes(e.path());
    EXPECT_EQ(files, c.files);
    EXPECT_FALSE(fs::exists(root.path() / "x.txt"));
  }
}

TEST(RsReceive, SettingsInRangeAreAppliedAndPingsAnswered) {
  ResetClient();
  RsClient.SupportConfig.quality = 80;
  RsClient.SupportConfig.framesPerSecond = 8;
  struct Case {
    uint8_t q, fps;
    int wantQ, wantFps;
  } cases[] = {{19, 0, 80, 8}, {96, 16, 80, 8}, {20, 1, 20, 1}, {95, 15, 95, 15}};
  for (const auto& c : cases) {
    int pongs = 0;
    StandInPeer viewer([&](int s) {
      SendFrame(s, RsMessageType::Settings, std::string{static_cast<char>(c.q), static_cast<char>(c.fps), 0});
      SendFrame(s, RsMessageType::Settings, std::string(2, '\x30'));  // too short
      SendFrame(s, RsMessageType::Ping);
      if (auto f = RecvFrame(s); f && f->type == 4) ++pongs;
    });
    RsConnection conn;
    int err = 0;
    conn.socket = ConnectWithTimeout(L"127.0.0.1", viewer.port(), 2000, &err);
    RsClient.SessionStopFlag = 0;
    RsClient.ViewerEndedFlag = 0;
    RsReceiveLoop(conn, nullptr);  // ends when the viewer closes
    viewer.Finish();
    plat::CloseSocket(conn.socket);
    EXPECT_EQ(RsClient.SupportConfig.quality.load(), c.wantQ);
    EXPECT_EQ(RsClient.SupportConfig.framesPerSecond.load(), c.wantFps);
    EXPECT_EQ(RsClient.ViewerEndedFlag.load(), 0);
    EXPECT_EQ(pongs, 1);
  }
  RsClient.SupportConfig.quality = 80;
  RsClient.SupportConfig.framesPerSecond = 8;
}

// Whole sessions against a stand-in viewer.
TEST(RsSession, OutcomesOfWholeSessions) {
  TempRoot root;
  enum Viewer { AcceptThenEnd, DeclineWhileWaiting, SilentAfterHello, NoChallenge, AcceptThenDrop };
  struct Case {
    Viewer viewer;
    bool resume;
    int result;
    const wchar_t* error;
  } cases[] = {
      {AcceptThenEnd, false, kRsEnded, L""},
      {DeclineWhileWaiting, false, kRsEnded, L""},
      {SilentAfterHello, true, kRsLost, L"상대가 응답하지 않았습니다"},
      {NoChallenge, false, kRsFailed, L"상대 프로그램이 응답하지 않습니다"},
      {AcceptThenDrop, false, kRsLost, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.viewer));
    ResetClient();
    RsClient.waitRejoinMs = 300;
    RsTimeoutValues.challengeMs = 300;
    std::string nonce = "nonce-\x01\xff";
    std::string hello;
    bool resumeFileDuringSession = false;
    StandInPeer viewer([&](int s) {
      if (c.viewer == NoChallenge) {
        char ch;
        plat::SocketReceive(s, &ch, 1);
        return;
      }
      SendFrame(s, RsMessageType::Challenge, nonce);
      if (auto f = RecvFrame(s)) hello = f->payload;
      if (c.viewer == SilentAfterHello) {
        char ch;
        plat::SocketReceive(s, &ch, 1);
        return;
      }
      if (c.viewer == DeclineWhileWaiting) {
        SendFrame(s, RsMessageType::Ping);
        SendFrame(s, RsMessageType::End);
        return;
      }
      SendFrame(s, RsMessageType::Accept);
      SendFrame(s, RsMessageType::Ping);
      RecvFrame(s);  // the pong shows the session runs
      resumeFileDuringSession = fs::exists(plat::RealPath(kRsResumeFile));
      if (c.viewer == AcceptThenEnd) SendFrame(s, RsMessageType::End);
    });
    std::wstring error = L"old";
    int result = -1;
    PagePosts posts = PostsOf([&] { result = RunSupportSession(LocalTarget(viewer.port()), {L"회원\n", L"m7"}, c.resume, &error); });
    viewer.Finish();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(RsClient.SupportSessionSocket, nullptr);
    if (c.viewer == AcceptThenEnd || c.viewer == AcceptThenDrop) {
      EXPECT_TRUE(resumeFileDuringSession);
      EXPECT_NE(posts.AllScripts().find(L"rgba(200,25,25,0.93)"), std::wstring::npos);
    }
    if (c.viewer == NoChallenge) continue;
    auto keys = HelloKeys(hello);
    EXPECT_EQ(keys["auth"], WideToUtf8(ComputeRsAuth(nonce, kSupportSharedKey)));
    EXPECT_EQ(keys["name"], "\xED\x9A\x8C\xEC\x9B\x90");
    EXPECT_EQ(keys["id"], "m7");
    EXPECT_EQ(keys["lock"], "-");
    EXPECT_EQ(keys["expiry"], "-");
    EXPECT_EQ(keys["ver"], "12.9");
    EXPECT_EQ(keys["w"], "640");
    EXPECT_EQ(keys["h"], "360");
    EXPECT_EQ(keys["resume"], c.resume ? "1" : "0");
    EXPECT_EQ(keys["pc"], plat::ComputerName());
    EXPECT_EQ(keys.size(), 11u);
  }
}

TEST(RsSession, FailedCandidatesAreCollectedInTheErrorText) {
  TempRoot root;
  ResetClient();
  int port = 0;
  plat::CloseSocket(plat::ListenLoopback(&port));
  SupportTarget t = LocalTarget(port);
  t.lan = L"127.0.0.1";
  t.host = L"";
  std::wstring error;
  int result = -1;
  PostsOf([&] { result = RunSupportSession(t, {}, false, &error); });
  EXPECT_EQ(result, kRsFailed);
  EXPECT_EQ(error, L"  · 같은 네트워크 127.0.0.1:" + std::to_wstring(port) + L"  →  " + ConnectErrorText(10060));
  SupportTarget none;
  none.host = L"";
  EXPECT_EQ(RunSupportSession(none, {}, false, &error), kRsFailed);
  EXPECT_EQ(error, L"");
}

// The operator's stop while the screen sender and the receive thread both send: the viewer sees
// only whole frames and the session ends as stopped.
TEST(RsSession, StopDuringASessionEndsItCleanly) {
  TempRoot root;
  ResetClient();
  std::atomic<bool> accepted{false};
  std::vector<RsFrame> seen;
  StandInPeer viewer([&](int s) {
    SendFrame(s, RsMessageType::Challenge, "n");
    RecvFrame(s);
    SendFrame(s, RsMessageType::Accept);
    for (int i = 0; i < 50; ++i) SendFrame(s, RsMessageType::Ping);
    // The stop comes once the first picture is here, while pongs and pictures still flow.
    while (auto f = RecvFrame(s)) {
      seen.push_back(std::move(*f));
      if (seen.back().type == 2) accepted = true;
    }
    accepted = true;
  });
  int result = -1;
  std::thread stopper([&] {
    while (!accepted) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    RsClient.SupportUserStopFlag = 1;
    RsClient.SessionStopFlag = 1;
    ShutdownSupportSocket();
  });
  std::wstring error;
  PostsOf([&] { result = RunSupportSession(LocalTarget(viewer.port()), {L"m", L"i"}, false, &error); });
  stopper.join();
  viewer.Finish();
  EXPECT_EQ(result, kRsEnded);
  // Pongs and whole pictures only: frame 0 is the whole sent image.
  int pictures = 0;
  for (const auto& f : seen) {
    if (f.type == 4) {
      EXPECT_TRUE(f.payload.empty());
      continue;
    }
    ASSERT_EQ(f.type, 2);
    ASSERT_GE(f.payload.size(), 12u);
    auto u16 = [&](size_t at) { return static_cast<uint8_t>(f.payload[at]) | static_cast<uint8_t>(f.payload[at + 1]) << 8; };
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<uint8_t>(f.payload[8 + static_cast<size_t>(i)]);
    ASSERT_EQ(f.payload.size(), 12u + n);
    int w = 0, h = 0;
    std::vector<uint8_t> bgr;
    ASSERT_TRUE(plat::DecodeImage(std::string_view(f.payload).substr(12), &w, &h, &bgr));
    EXPECT_EQ(w, u16(4));
    EXPECT_EQ(h, u16(6));
    if (pictures++ == 0) {
      EXPECT_EQ(u16(0) + u16(2), 0);
      EXPECT_EQ(w, 640);
      EXPECT_EQ(h, 360);
    }
  }
  EXPECT_GT(pictures, 0);
  ShutdownSupportSocket();  // no session: nothing happens
}

TEST(RsReconnect, TwelveFailedAttemptsEndWithTheAlertAndLeaveNothingBehind) {
  TempRoot root;
  ResetClient();
  int port = 0;
  plat::CloseSocket(plat::ListenLoopback(&port));
  SaveRsResumeFile(LocalTarget(port));
  PagePosts posts = PostsOf([&] { ReconnectSupportSession(LocalTarget(port), {}); });
  EXPECT_FALSE(fs::exists(plat::RealPath(kRsResumeFile)));
  ASSERT_EQ(posts.alerts.size(), 1u);
  EXPECT_EQ(posts.alerts[0], L"원격지원 연결이 끊어졌습니다.\n필요하시면 [원격지원] 버튼을 다시 눌러주세요.");
  std::wstring all = posts.AllScripts();
  EXPECT_NE(all.find(L"(12/12)"), std::wstring::npos);
  EXPECT_EQ(all.find(L"(13/12)"), std::wstring::npos);
  EXPECT_NE(posts.scripts.back().find(L"remove()"), std::wstring::npos);

  // A stop before the first attempt: no alert.
  RsClient.SupportUserStopFlag = 1;
  posts = PostsOf([&] { ReconnectSupportSession(LocalTarget(port), {}); });
  EXPECT_TRUE(posts.alerts.empty());
  RsClient.SupportUserStopFlag = 0;
}
