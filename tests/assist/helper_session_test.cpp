#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "assist/helper_session.h"
#include "assist_test_support.h"
#include "common/temp_root.h"
#include "online/rs_wire.h"
#include "online/stand_in_agent.h"
#include "online/test_desktop.h"

namespace {

// What the session showed, as the window would have received it.
struct Shown {
  std::mutex m;
  std::vector<std::wstring> statuses;
  std::vector<std::wstring> warnings;
  std::atomic<int> ended{0};
};
Shown* shown = nullptr;

class HelperSessionRun : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallTestDesktop();  // a picture to send without an X display
    TestHelperLogFile();
    shown = &record_;
    Helper.status = [](const std::wstring& t) {
      std::lock_guard lock(shown->m);
      shown->statuses.push_back(t);
    };
    Helper.warning = [](const std::wstring& title, const std::wstring& t) {
      std::lock_guard lock(shown->m);
      shown->warnings.push_back(title + L"|" + t);
    };
    Helper.ended = [] { ++shown->ended; };
  }
  void TearDown() override {
    Helper.status = nullptr;
    Helper.warning = nullptr;
    Helper.ended = nullptr;
    shown = nullptr;
  }
  static SupportAgent AgentOn(int port) {
    SupportAgent a;
    a.slot = L"s1";
    a.name = L"관리자";
    a.host = L"127.0.0.1";
    a.port = port;
    return a;
  }
  void Run(const SupportAgent& agent) {
    Helper.SessionActiveFlag.store(1);
    RunHelperSession(agent, L"1234");
    EXPECT_EQ(Helper.SessionActiveFlag.load(), 0);
    EXPECT_EQ(record_.ended.load(), 1);
  }
  TempRoot root_;
  Shown record_;
};

TEST_F(HelperSessionRun, AcceptedSessionRunsUntilTheAgentEnds) {
  std::string hello;
  int pongs = 0;
  StandInPeer agent([&](int s) {
    SendFrame(s, RsMessageType::Challenge, "nonce-1");
    if (auto f = RecvFrame(s)) hello = f->payload;
    // A ping while waiting is answered.
    SendFrame(s, RsMessageType::Ping);
    if (auto f = RecvFrame(s); f && f->type == static_cast<uint8_t>(RsMessageType::Pong)) ++pongs;
    SendFrame(s, RsMessageType::Accept);
    SendFrame(s, RsMessageType::Ping);
    // Screen pictures flow now: the pong comes among them.
    for (int i = 0; i < 100; ++i) {
      auto f = RecvFrame(s);
      if (!f) break;
      if (f->type == static_cast<uint8_t>(RsMessageType::Pong)) {
        ++pongs;
        break;
      }
    }
    SendFrame(s, RsMessageType::End);
    RecvFrame(s);  // until the program closes
  });
  Run(AgentOn(agent.port()));
  agent.Finish();
  auto keys = HelloKeys(hello);
  EXPECT_EQ(keys["name"], "1234");
  EXPECT_EQ(keys["resume"], "0");
  EXPECT_EQ(keys["ver"], "원격도우미");
  EXPECT_EQ(keys["auth"], WideToUtf8(ComputeRsAuth("nonce-1", kSupportSharedKey)));
  EXPECT_EQ(pongs, 2);
  std::vector<std::wstring> expected = {
      L"연결하는 중입니다... (인터넷 직접)",
      L"관리자를 기다리는 중입니다. 잠시만 기다려 주세요...",
      L"● 원격지원 중입니다 - 끝나면 [종료] 를 눌러주세요",
      L"원격지원이 끝났습니다. 창을 닫으셔도 됩니다.",
  };
  EXPECT_EQ(record_.statuses, expected);
  EXPECT_TRUE(record_.warnings.empty());
  EXPECT_EQ(RsClient.SupportSessionSocket, nullptr);
  std::string log = ReadWhole(TestHelperLogFile());
  EXPECT_NE(log.find("] 접속 성공 - 인터넷 직접\r\n"), std::string::npos);
  EXPECT_NE(log.find("] 세션 종료\r\n"), std::string::npos);
}

TEST_F(HelperSessionRun, EndWhileWaitingAndSilentPeers) {
  struct Case {
    const char* what;
    bool challenge;
    std::wstring last;
  };
  const std::vector<Case> cases = {
      {"declined", true, L"원격지원이 끝났습니다"},
      {"no challenge", false, L"관리자 프로그램이 응답하지 않습니다"},
  };
  RsTimeoutValues.challengeMs.store(300);
  for (const auto& c : cases) {
    record_.statuses.clear();
    record_.ended.store(0);
    StandInPeer agent([&](int s) {
      if (!c.challenge) {
        RecvFrame(s);  // silent until the program gives up and closes
        return;
      }
      SendFrame(s, RsMessageType::Challenge, "n");
      RecvFrame(s);
      SendFrame(s, RsMessageType::End);
      RecvFrame(s);
    });
    Run(AgentOn(agent.port()));
    agent.Finish();
    ASSERT_FALSE(record_.statuses.empty()) << c.what;
    EXPECT_EQ(record_.statuses.back(), c.last) << c.what;
    EXPECT_TRUE(record_.warnings.empty()) << c.what;
  }
  RsTimeoutValues.challengeMs.store(15000);
}

TEST_F(HelperSessionRun, NoAgentReachedWarnsOnce) {
  int port = 0;
  int listener = plat::ListenLoopback(&port);
  plat::CloseSocket(listener);  // nobody listens there now
  Run(AgentOn(port));
  ASSERT_EQ(record_.warnings.size(), 1u);
  EXPECT_EQ(record_.warnings[0].substr(0, 7), L"원격 도우미|");
  ASSERT_GE(record_.statuses.size(), 3u);
  EXPECT_EQ(record_.statuses[1].rfind(L"접속 실패 - 인터넷 직접 (", 0), 0u);
  EXPECT_EQ(record_.statuses.back(), L"연결하지 못했습니다. 관리자에게 전화해 주세요.");

  // An agent without any address has no candidate at all.
  record_.statuses.clear();
  record_.warnings.clear();
  record_.ended.store(0);
  Run(SupportAgent{});
  EXPECT_EQ(record_.warnings.size(), 1u);
  EXPECT_EQ(record_.statuses, std::vector<std::wstring>{L"연결하지 못했습니다. 관리자에게 전화해 주세요."});
}

}  // namespace
