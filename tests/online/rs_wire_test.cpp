#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "online/rs_wire.h"
#include "platform/sockets.h"
#include "stand_in_agent.h"

namespace {

// Serves `bytes` through a read function, at most `chunk` bytes per read.
struct Feed {
  std::string bytes;
  size_t chunk;
  size_t at = 0;
  long operator()(void* data, size_t length) {
    size_t n = std::min({length, chunk, bytes.size() - at});
    std::memcpy(data, bytes.data() + at, n);
    at += n;
    return static_cast<long>(n);
  }
};

std::optional<RsFrame> Read(std::string bytes, size_t chunk) {
  Feed feed{std::move(bytes), chunk};
  return ReadRsFrame(std::ref(feed));
}

std::string Header(uint32_t length, uint8_t type) {
  std::string h(4, '\0');
  for (int i = 0; i < 4; ++i) h[i] = static_cast<char>((length >> (8 * i)) & 0xff);
  return h + static_cast<char>(type);
}

struct LogCapture {
  static std::vector<std::wstring>& Lines() {
    static std::vector<std::wstring> lines;
    return lines;
  }
  static void Log(std::wstring_view line) { Lines().emplace_back(line); }
  LogCapture() {
    Lines().clear();
    SetRsLog(&Log);
  }
  ~LogCapture() { SetRsLog(nullptr); }
};

}  // namespace

TEST(RsFrames, ReadsWholeFramesOverPartialReadsAndRefusesOversizedOrCutOnes) {
  struct Case {
    std::string bytes;
    size_t chunk;
    bool ok;
    uint8_t type;
    size_t payloadSize;
  } cases[] = {
      {Header(3, 0x87) + "abc", 1, true, 0x87, 3},
      {Header(0, 0x84), 2, true, 0x84, 0},
      {Header(2, 0x42) + "zz", 64, true, 0x42, 2},  // unknown types are read like any other
      {Header(kRsMaxFrameLength, 0x89) + std::string(kRsMaxFrameLength, 'x'), 1 << 20, true, 0x89, kRsMaxFrameLength},
      {Header(kRsMaxFrameLength + 1, 0x89) + std::string(16, 'x'), 64, false, 0, 0},
      {Header(5, 0x89) + "abcd", 1, false, 0, 0},  // cut payload
      {std::string("\x01\x00\x00", 3), 1, false, 0, 0},  // cut length
      {std::string("\x00\x00\x00\x00", 4), 1, false, 0, 0},  // no type byte
      {"", 1, false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    auto f = Read(c.bytes, c.chunk);
    ASSERT_EQ(f.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(f->type, c.type);
    EXPECT_EQ(f->payload.size(), c.payloadSize);
    EXPECT_EQ(f->payload, c.bytes.substr(5));
  }
}

TEST(RsFrames, FramesFromTwoThreadsNeverInterleaveOnTheWire) {
  std::vector<RsFrame> got;
  StandInPeer peer([&](int s) {
    while (auto f = RecvFrame(s)) got.push_back(std::move(*f));
  });
  RsConnection c;
  int err = 0;
  c.socket = ConnectWithTimeout(L"127.0.0.1", peer.port(), 2000, &err);
  ASSERT_GE(c.socket, 0) << err;
  // Large frames force partial writes on the socket.
  std::string big(3 << 20, 'b'), small(100, 's');
  std::thread other([&] {
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(SendRsFrame(c, RsMessageType::Pong, small.data(), small.size()));
  });
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(SendRsFrame(c, RsMessageType::ScreenRect, big.data(), big.size()));
  other.join();
  plat::ShutdownSocket(c.socket);
  plat::CloseSocket(c.socket);
  c.socket = -1;
  // The peer reads until the close.
  peer.Finish();
  ASSERT_EQ(got.size(), 24u);
  for (const auto& f : got) EXPECT_EQ(f.payload, f.type == 2 ? big : small);
  EXPECT_FALSE(SendRsFrame(c, RsMessageType::Pong, nullptr, 0));  // an invalid socket sends nothing
}

TEST(RsPayloads, ShortPayloadsAreIgnoredAndFieldsAreLittleEndian) {
  EXPECT_FALSE(ParseRemoteMouseEvent(std::string(6, '\0')));
  EXPECT_FALSE(ParseRemoteKeyEvent(std::string(3, '\0')));
  EXPECT_FALSE(ParseRsSettings(std::string(2, '\0')));
  EXPECT_FALSE(ParseFileBegin(std::string(9, '\0')));

  auto m = ParseRemoteMouseEvent(std::string("\x10\x02\x20\x01\x05\x88\xff", 7));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->x, 0x210);
  EXPECT_EQ(m->y, 0x120);
  EXPECT_EQ(m->kind, 5);
  EXPECT_EQ(m->wheelDelta, -120);
  auto k = ParseRemoteKeyEvent(std::string("\x25\x00\x01\x01", 4));
  ASSERT_TRUE(k);
  EXPECT_EQ(k->virtualKey, 0x25);
  EXPECT_TRUE(k->down);
  EXPECT_TRUE(k->extended);
  k = ParseRemoteKeyEvent(std::string("\x41\x00\x00\x00", 4));
  EXPECT_FALSE(k->down);
  EXPECT_FALSE(k->extended);
  auto s = ParseRsSettings(std::string("\x5f\x0f\x00", 3));
  EXPECT_EQ(s->quality, 95);
  EXPECT_EQ(s->framesPerSecond, 15);
}

TEST(RsPayloads, FileBeginChecksSizeAndNameAgainstItsPayload) {
  auto begin = [](uint64_t size, uint16_t nameLength, const std::string& name) {
    std::string p;
    for (int i = 0; i < 8; ++i) p.push_back(static_cast<char>((size >> (8 * i)) & 0xff));
    p.push_back(static_cast<char>(nameLength & 0xff));
    p.push_back(static_cast<char>(nameLength >> 8));
    return ParseFileBegin(p + name);
  };
  struct Case {
    uint64_t size;
    uint16_t length;
    std::string name;
    bool ok;
  } cases[] = {
      {kRsMaxFileSize, 5, "a.txt", true},
      {kRsMaxFileSize + 1, 5, "a.txt", false},
      {0, 5, "a.txt", true},
      {10, 0, "", false},
      {10, 6, "a.txt", false},
      {10, 3, "a.txt", true},  // extra bytes after the name are not read
      {~0ull, 5, "a.txt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    auto f = begin(c.size, c.length, c.name);
    ASSERT_EQ(f.has_value(), c.ok);
    if (c.ok) {
      EXPECT_EQ(f->size, c.size);
      EXPECT_EQ(f->name.size(), c.length);
    }
  }
}

TEST(RsPayloads, OutgoingPayloadsHaveTheirFixedLayout) {
  EXPECT_EQ(BuildScreenRectPayload(0x102, 3, 16, 0x20, "IMG"),
            std::string("\x02\x01\x03\x00\x10\x00\x20\x00\x03\x00\x00\x00IMG", 15));
  EXPECT_EQ(BuildFileAckPayload(1, 0x0102030405ull), std::string("\x01\x05\x04\x03\x02\x01\x00\x00\x00", 9));
  EXPECT_EQ(EncodeRsFrame(0x85, ""), std::string("\x00\x00\x00\x00\x85", 5));
}

TEST(RsAuth, MatchesAnIndependentHmacSha256) {
  // RFC 4231 test case 2.
  EXPECT_EQ(ComputeRsAuth("what do ya want for nothing?", "Jefe"),
            L"5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  std::wstring a = ComputeRsAuth(std::string("\x00\xff\x10", 3), kSupportSharedKey);
  EXPECT_EQ(a.size(), 64u);
  EXPECT_EQ(a.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
  EXPECT_NE(a, ComputeRsAuth(std::string("\x00\xff\x11", 3), kSupportSharedKey));
}

TEST(RsHello, KeysInOrderAndValuesCannotAddKeys) {
  SupportHelloValues v;
  v.auth = L"ab";
  v.name = L"홍길동\r\nresume=1";
  v.id = L"m1";
  v.ver = L"12.9";
  v.songs = L"3";
  v.w = L"960";
  v.h = L"540";
  v.resume = L"0";
  v.pc = L"pc\n";
  EXPECT_EQ(BuildSupportHello(v),
            "auth=ab\nname=\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99resume=1\nid=m1\nlock=-\nexpiry=-\nver=12.9\n"
            "songs=3\nw=960\nh=540\nresume=0\npc=pc\n");
}

TEST(RsCandidates, OrderAndFallback) {
  auto target = [](std::wstring host, std::wstring lan, bool direct, std::wstring relay, int relayPort,
                   std::wstring slot) {
    SupportTarget t;
    t.host = host;
    t.lan = lan;
    t.direct = direct;
    t.relayHost = relay;
    t.relayPort = relayPort;
    t.slot = slot;
    t.port = 7000;
    return t;
  };
  struct Case {
    SupportTarget t;
    std::vector<std::wstring> labels;
  } cases[] = {
      {target(L"h", L"h", false, L"", 0, L""), {L"인터넷 직접"}},
      {target(L"h", L"l", true, L"r", 9, L"s"), {L"같은 네트워크", L"인터넷 직접", L"중계 서버"}},
      {target(L"h", L"", false, L"r", 9, L""), {L"인터넷 직접"}},  // no slot: no relay
      {target(L"", L"", true, L"r", 9, L"s"), {L"중계 서버"}},
      {target(L"", L"", true, L"r", 0, L"s"), {}},
      {target(L"", L"l", false, L"", 0, L""), {L"같은 네트워크"}},
  };
  for (const auto& c : cases) {
    auto got = BuildConnectCandidates(c.t);
    ASSERT_EQ(got.size(), c.labels.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].label, c.labels[i]);
  }
  auto three = BuildConnectCandidates(cases[1].t);
  EXPECT_EQ(three[0].host, L"l");
  EXPECT_EQ(three[0].timeoutMs, 2500);
  EXPECT_EQ(three[1].timeoutMs, 12000);
  EXPECT_EQ(three[2].host, L"r");
  EXPECT_EQ(three[2].port, 9);
  EXPECT_TRUE(three[2].viaRelay);
  auto one = BuildConnectCandidates(cases[0].t);
  EXPECT_EQ(one[0].host, L"h");
  EXPECT_EQ(one[0].port, 7000);
  EXPECT_EQ(one[0].timeoutMs, 12000);
}

TEST(RsErrors, CodesHaveTheirTexts) {
  struct Case {
    int code;
    const wchar_t* text;
  } cases[] = {
      {10051, L"네트워크에 닿지 않음"},
      {10060, L"응답 없음(포트가 안 열려 있거나 방화벽이 막음)"},
      {10061, L"연결 거부됨(그 PC 에 프로그램이 안 켜져 있음)"},
      {10065, L"그 PC 에 닿지 않음"},
      {-1, L"주소를 찾을 수 없음(DNS/인터넷 확인)"},
      {10054, L"오류 10054"},
      {-7, L"오류 -7"},
  };
  for (const auto& c : cases) EXPECT_EQ(ConnectErrorText(c.code), c.text);
}

TEST(RsAgentList, ParsesFieldsAndRejectsBadFirstLines) {
  std::vector<SupportAgent> agents;
  std::wstring rejected;
  for (const wchar_t* first : {L"o", L"OK", L"", L"no"}) {
    EXPECT_FALSE(ParseSupportAgentList(std::wstring(first) + L"\ns\tn\th\t1", &agents, &rejected));
    EXPECT_EQ(rejected, first);
    EXPECT_TRUE(agents.empty());
  }
  ASSERT_TRUE(ParseSupportAgentList(
      L"ok 3 agents \r\n"
      L"s1\t김\th1\t99999\r\n"
      L"s2\tb\t\t7000\n"
      L"s3\tc\th3\n"
      L"\n"
      L"s4\td\th4\t8000\tl4\t0\tr4\t9000\textra \r \n"
      L"s5\te\th5\tx\tl5\t1\n"
      L"s6\tf\th6\t-5\t\tyes\tr6\n",
      &agents, &rejected));
  ASSERT_EQ(agents.size(), 4u);
  EXPECT_EQ(agents[0].slot, L"s1");
  EXPECT_EQ(agents[0].name, L"김");
  EXPECT_EQ(agents[0].port, 7777);
  EXPECT_EQ(agents[0].lan, L"");
  EXPECT_TRUE(agents[0].direct);
  EXPECT_EQ(agents[0].relayPort, 0);
  EXPECT_EQ(agents[1].host, L"h4");
  EXPECT_EQ(agents[1].port, 8000);
  EXPECT_EQ(agents[1].lan, L"l4");
  EXPECT_FALSE(agents[1].direct);
  EXPECT_EQ(agents[1].relayHost, L"r4");
  EXPECT_EQ(agents[1].relayPort, 9000);
  EXPECT_EQ(agents[2].port, 7777);
  EXPECT_TRUE(agents[2].direct);
  EXPECT_EQ(agents[3].port, 7777);
  EXPECT_FALSE(agents[3].direct);
  EXPECT_EQ(agents[3].relayHost, L"r6");
  EXPECT_EQ(agents[3].relayPort, 0);
}

TEST(RsConnect, RefusedPortIsNoAnswerAndAnUnknownHostIsMinusOne) {
  int port = 0;
  int l = plat::ListenLoopback(&port);
  plat::CloseSocket(l);  // nothing listens there now
  int err = 0;
  EXPECT_LT(ConnectWithTimeout(L"127.0.0.1", port, 2000, &err), 0);
  EXPECT_EQ(err, 10060);
  EXPECT_LT(ConnectWithTimeout(L"", 80, 2000, &err), 0);
  EXPECT_EQ(err, -1);
}

TEST(RsRelay, AnswersDecideTheOutcome) {
  RsTimeoutValues.relayAnswerMs = 300;
  struct Case {
    std::string answer;  // "-" = silence
    bool ok;
    int error;
    const wchar_t* logged;
  } cases[] = {
      {"OK\r\n", true, 0, nullptr},
      {"ok\n", false, 10054, L"[RS] 중계 응답: ok"},
      {"ERR nowait\n", false, 10061, L"[RS] 중계 응답: ERR nowait"},
      {"ERR busy\n", false, 10054, L"[RS] 중계 응답: ERR busy"},
      {"-", false, 10054, L"[RS] 중계 응답: (없음)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    LogCapture log;
    std::string asked;
    StandInPeer relay([&](int s) {
      char ch = 0;
      while (plat::SocketReceive(s, &ch, 1) == 1 && ch != '\n') asked.push_back(ch);
      if (c.answer != "-") {
        SendBytes(s, c.answer);
      } else {
        plat::SocketReceive(s, &ch, 1);  // until the client gives up
      }
    });
    int err = 99;
    int s = ConnectViaRelay(L"127.0.0.1", relay.port(), L"슬롯7", &err);
    EXPECT_EQ(s >= 0, c.ok);
    EXPECT_EQ(err, c.error);
    if (s >= 0) plat::CloseSocket(s);
    relay.Finish();
    EXPECT_EQ(asked, "RSRELAY1 CONN \xEC\x8A\xAC\xEB\xA1\xAF" "7");
    if (c.logged) {
      ASSERT_EQ(LogCapture::Lines().size(), 1u);
      EXPECT_EQ(LogCapture::Lines()[0], c.logged);
    } else {
      EXPECT_TRUE(LogCapture::Lines().empty());
    }
  }
  RsTimeoutValues.relayAnswerMs = 15000;
}

TEST(RsHandshake, ChallengeThenWaitForTheAgent) {
  RsTimeoutValues.challengeMs = 300;
  struct Case {
    std::vector<std::pair<RsMessageType, std::string>> frames;
    bool challengeOk;
    RsWaitResult wait;
    int pongs;
  } cases[] = {
      {{{RsMessageType::Challenge, "n0nce"}, {RsMessageType::Ping, ""}, {static_cast<RsMessageType>(0x40), "x"},
        {RsMessageType::Accept, ""}},
       true, RsWaitResult::Accepted, 1},
      {{{RsMessageType::Challenge, "n"}, {RsMessageType::End, ""}}, true, RsWaitResult::Ended, 0},
      {{{RsMessageType::Challenge, "n"}}, true, RsWaitResult::Broken, 0},
      {{{RsMessageType::Challenge, ""}}, false, RsWaitResult::Broken, 0},
      {{{RsMessageType::Ping, "n"}}, false, RsWaitResult::Broken, 0},
      {{}, false, RsWaitResult::Broken, 0},  // silence
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frames.size());
    int pongs = 0;
    std::string hello;
    StandInPeer viewer([&](int s) {
      if (!c.frames.empty()) SendFrame(s, c.frames[0].first, c.frames[0].second);
      if (!c.challengeOk) {
        char ch;
        plat::SocketReceive(s, &ch, 1);
        return;
      }
      if (auto f = RecvFrame(s)) hello = f->payload;
      for (size_t i = 1; i < c.frames.size(); ++i) {
        SendFrame(s, c.frames[i].first, c.frames[i].second);
        if (c.frames[i].first == RsMessageType::Ping) {
          auto pong = RecvFrame(s);
          if (pong && pong->type == 4) ++pongs;
        }
      }
      if (c.wait == RsWaitResult::Broken) plat::ShutdownSocket(s);
    });
    RsConnection conn;
    int err = 0;
    conn.socket = ConnectWithTimeout(L"127.0.0.1", viewer.port(), 2000, &err);
    ASSERT_GE(conn.socket, 0);
    auto nonce = ReadRsChallenge(conn.socket);
    ASSERT_EQ(nonce.has_value(), c.challengeOk);
    if (nonce) {
      std::string h = "auth=" + std::string(nonce->size(), 'x') + "\n";
      ASSERT_TRUE(SendRsFrame(conn, RsMessageType::Hello, h.data(), h.size()));
      std::atomic<uint8_t> stop{0};
      EXPECT_EQ(WaitForRsAccept(conn, 2000, stop, true), c.wait);
    }
    plat::ShutdownSocket(conn.socket);
    plat::CloseSocket(conn.socket);
    viewer.Finish();
    EXPECT_EQ(pongs, c.pongs);
    if (c.challengeOk) {
      EXPECT_EQ(hello.rfind("auth=", 0), 0u);
    }
  }
  RsTimeoutValues.challengeMs = 15000;
}

TEST(RsHandshake, ASetStopFlagEndsTheWaitBeforeReading) {
  StandInPeer viewer([](int s) {
    char ch;
    plat::SocketReceive(s, &ch, 1);
  });
  RsConnection conn;
  int err = 0;
  conn.socket = ConnectWithTimeout(L"127.0.0.1", viewer.port(), 2000, &err);
  std::atomic<uint8_t> stop{1};
  EXPECT_EQ(WaitForRsAccept(conn, 0, stop, false), RsWaitResult::Stopped);
  plat::ShutdownSocket(conn.socket);
  plat::CloseSocket(conn.socket);
}
