#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_root.h"
#include "online/rs_front.h"
#include "online/rs_state.h"
#include "online/services.h"
#include "page_messages.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sockets.h"
#include "stand_in_agent.h"

namespace fs = std::filesystem;

TEST(RsFront, SupportConfigReadsKeysExactlyAndClampsAfterReading) {
  TempRoot root;
  auto& cfg = RsClient.SupportConfig;
  struct Case {
    std::string text;
    int port, quality, fps, scale;
    std::string key;
    std::wstring host;
  } cases[] = {
      {"quality=5\nfps=0\nscale=250\n", 7777, 20, 1, 100, kSupportSharedKey, L"tavelo-support.invalid"},
      {"# c\n;x\nport= 9001  \r\nquality=-3x\nkey=abc=d\nhost=\xED\x98\xB8\xEC\x8A\xA4\xED\x8A\xB8\nfps=7\nscale=40\n",
       9001, 20, 7, 40, "abc=d", L"호스트"},
      {"quality =90\nport\nfps=16\n", 7777, 80, 15, 100, kSupportSharedKey, L"tavelo-support.invalid"},
      {"port=70000\n", 7777, 80, 8, 100, kSupportSharedKey, L"tavelo-support.invalid"},
      {"port=0\n", 7777, 80, 8, 100, kSupportSharedKey, L"tavelo-support.invalid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    cfg.port = 7777;
    cfg.quality = 80;
    cfg.framesPerSecond = 8;
    cfg.scalePercent = 100;
    SetSupportSharedKey(kSupportSharedKey);
    RsFront.DefaultSupportHost = L"tavelo-support.invalid";
    ASSERT_TRUE(plat::WriteFileAtomic(plat::RealPath(kSupportConfigFile), c.text));
    LoadSupportConfig();
    EXPECT_EQ(cfg.port.load(), c.port);
    EXPECT_EQ(cfg.quality.load(), c.quality);
    EXPECT_EQ(cfg.framesPerSecond.load(), c.fps);
    EXPECT_EQ(cfg.scalePercent.load(), c.scale);
    EXPECT_EQ(SupportSharedKey(), c.key);
    EXPECT_EQ(RsFront.DefaultSupportHost, c.host);
  }
  // No file: nothing changes, not even the clamps.
  fs::remove(plat::RealPath(kSupportConfigFile));
  cfg.quality = 3;
  LoadSupportConfig();
  EXPECT_EQ(cfg.quality.load(), 3);
  cfg.quality = 80;
  SetSupportSharedKey(kSupportSharedKey);
  RsFront.DefaultSupportHost = L"tavelo-support.invalid";
}

TEST(RsFront, PickerScriptKeepsNetworkTextsInsideTheirLiterals) {
  std::vector<SupportAgent> agents(2);
  agents[0].name = L"<img src=x onerror=alert(1)>";
  agents[0].slot = L"s'1";
  agents[1].name = L"b\\\n";
  EXPECT_EQ(SupportPickerScript({L"홍'", L"id"}, agents),
            L"try{ showRemoteSupportDialog({name:'홍\\'',id:'id'},[{name:'<img src=x onerror=alert(1)>',id:'s\\'1'},"
            L"{name:'b\\\\ ',id:''}]); }catch(e){console.error('showRemoteSupportDialog',e)}");
}

TEST(RsFront, PickAnswersOutOfRangeAreCancels) {
  std::vector<SupportAgent> three(3);
  RsClient.SessionStopFlag = 0;
  struct Case {
    int answer;  // -2: no answer
    int result;
  } cases[] = {{1, 1}, {2, 2}, {7, -1}, {-1, -1}, {3, -1}, {-2, -1}};
  for (const auto& c : cases) {
    RsFront.pickTests = 3;
    int result = 0;
    PagePosts posts = PostsOf([&] {
      std::thread page([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (c.answer != -2) SetSupportPick(c.answer);
      });
      if (c.answer != -2) RsFront.pickTests = 1800;
      result = PickSupportAgent({}, three);
      page.join();
    });
    EXPECT_EQ(result, c.result) << c.answer;
    bool hidden = posts.AllScripts().find(L"hideRemoteSupportDialog") != std::wstring::npos;
    EXPECT_EQ(hidden, c.answer == -2);
  }
  RsFront.pickTests = 1800;
}

TEST(RsFront, SecondStartIsRefusedAndStopWithoutARequestDoesNothing) {
  TempRoot root;
  Online.RemoteSupportActive = 1;
  PagePosts posts = PostsOf([] { StartRemoteSupport(); });
  ASSERT_EQ(posts.alerts.size(), 1u);
  EXPECT_EQ(posts.alerts[0], L"이미 원격지원이 진행 중입니다.");

  Online.RemoteSupportActive = 0;
  RsClient.SupportUserStopFlag = 0;
  ASSERT_TRUE(plat::WriteFileAtomic(plat::RealPath(kRsResumeFile), "host=h\n"));
  StopRemoteSupport();
  EXPECT_EQ(RsClient.SupportUserStopFlag.load(), 0);
  EXPECT_TRUE(fs::exists(plat::RealPath(kRsResumeFile)));

  Online.RemoteSupportActive = 1;
  StopRemoteSupport();
  EXPECT_EQ(RsClient.SupportUserStopFlag.load(), 1);
  EXPECT_EQ(RsClient.SessionStopFlag.load(), 1);
  EXPECT_FALSE(fs::exists(plat::RealPath(kRsResumeFile)));
  Online.RemoteSupportActive = 0;
  RsClient.SupportUserStopFlag = 0;
  RsClient.SessionStopFlag = 0;
}

TEST(RsFront, AStaleResumeFileAtStartRejoinsNothing) {
  TempRoot root;
  RsFront.resumeDelayMs = 0;
  ASSERT_TRUE(plat::WriteFileAtomic(plat::RealPath(kRsResumeFile), "host=127.0.0.1\r\nat=1000\r\n"));
  Online.RemoteSupportActive = 1;
  PagePosts posts = PostsOf([] { ResumeSupportThread(); });
  EXPECT_EQ(Online.RemoteSupportActive.load(), 0);
  EXPECT_FALSE(fs::exists(plat::RealPath(kRsResumeFile)));
  EXPECT_TRUE(posts.scripts.empty());
  RsFront.resumeDelayMs = 8000;
}

TEST(RsFront, NetProbePostsEveryStateAndLogsOnlyChanges) {
  TempRoot root;
  int open = 0, closedA = 0, closedB = 0;
  int listener = plat::ListenLoopback(&open);
  plat::CloseSocket(plat::ListenLoopback(&closedA));
  plat::CloseSocket(plat::ListenLoopback(&closedB));
  auto hostPort = [](int p) { return "127.0.0.1:" + std::to_string(p); };
  struct Case {
    std::string web, resolvers;
    int previous, state;
    bool logged;
  } cases[] = {
      {hostPort(open), hostPort(closedA), -1, 2, true},
      {hostPort(open), hostPort(closedA), 2, 2, false},
      {hostPort(closedA), hostPort(closedB) + ";" + hostPort(open), 2, 1, true},
      {hostPort(closedA), hostPort(closedB), 1, 0, true},
      {hostPort(closedA), hostPort(closedB), 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.web + " " + c.resolvers);
    setenv("TAVELO_WEB_BASE", c.web.c_str(), 1);
    setenv("TAVELO_NET_PROBE", c.resolvers.c_str(), 1);
    auto before = plat::ReadFileBytes(root.path() / "system" / "debug_log.txt").value_or("");
    int state = -1;
    PagePosts posts = PostsOf([&] { state = RunNetProbe(c.previous); });
    auto after = plat::ReadFileBytes(root.path() / "system" / "debug_log.txt").value_or("");
    EXPECT_EQ(state, c.state);
    ASSERT_EQ(posts.scripts.size(), 1u);
    EXPECT_EQ(posts.scripts[0], L"try{ setNetStatus(" + std::to_wstring(c.state) + L"); }catch(e){console.error('setNetStatus',e)}");
    EXPECT_EQ(after.size() > before.size(), c.logged);
    if (c.logged && c.state == 1) {
      EXPECT_NE(after.find("[NET] \xEC\x9D\xB8\xED\x84\xB0\xEB\x84\xB7\xEC\x9D\x80 \xEC\x97\xB0\xEA\xB2\xB0\xEB\x90\xA8 / 127.0.0.1 "),
                std::string::npos);
    }
  }
  unsetenv("TAVELO_WEB_BASE");
  unsetenv("TAVELO_NET_PROBE");
  plat::CloseSocket(listener);
}

// A session cut by the end of the program is rejoined at the next start: the hello says
// "resume=1", and the agent's End finishes it without leaving the resume file.
TEST(RsFront, AFreshResumeFileAtStartRejoinsTheAgent) {
  TempRoot root;
  RsFront.resumeDelayMs = 0;
  std::string hello;
  StandInPeer viewer([&](int s) {
    SendFrame(s, RsMessageType::Challenge, "n");
    if (auto f = RecvFrame(s)) hello = f->payload;
    SendFrame(s, RsMessageType::Accept);
    SendFrame(s, RsMessageType::End);
    char ch;
    plat::SocketReceive(s, &ch, 1);
  });
  SupportTarget t;
  t.host = L"127.0.0.1";
  t.port = viewer.port();
  t.name = L"상담";
  SaveRsResumeFile(t);
  Online.RemoteSupportActive = 1;
  PagePosts posts = PostsOf([] { ResumeSupportThread(); });
  viewer.Finish();
  EXPECT_NE(hello.find("\nresume=1\n"), std::string::npos);
  EXPECT_EQ(Online.RemoteSupportActive.load(), 0);
  EXPECT_FALSE(fs::exists(plat::RealPath(kRsResumeFile)));
  EXPECT_TRUE(posts.alerts.empty());
  EXPECT_NE(posts.scripts.back().find(L"remove()"), std::wstring::npos);
  RsFront.resumeDelayMs = 8000;
}
