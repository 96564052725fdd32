// The agent's mouse events as desktop pixels and button presses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "online/rs_input.h"
#include "online/rs_receive.h"
#include "platform/sockets.h"
#include "test_desktop.h"

TEST(RsInput, PointerLandsOnTheDesktopPixel) {
  const plat::ScreenRect desktop{0, 0, 3840, 1080};
  struct Case {
    uint16_t x, y;
    RsRect capture;
    int sentW, sentH;
    plat::ScreenRect desktop;
    std::optional<RsPoint> want;
  } cases[] = {
      {0, 0, {1920, 0, 3840, 1080}, 1920, 1080, desktop, RsPoint{1920, 0}},
      {959, 539, {1920, 0, 3840, 1080}, 960, 540, desktop, RsPoint{1920 + 1918, 1078}},
      {100, 50, {-800, 0, 0, 600}, 800, 600, desktop, RsPoint{-700, 50}},
      {1, 1, {0, 0, 1920, 1080}, 0, 1080, desktop, std::nullopt},
      {1, 1, {0, 0, 0, 1080}, 1920, 1080, desktop, std::nullopt},
      {1, 1, {0, 0, 1920, 1080}, 1920, 1080, {0, 0, 1, 1080}, std::nullopt},
  };
  for (const auto& c : cases) {
    RemoteMouseEvent e;
    e.x = c.x;
    e.y = c.y;
    EXPECT_EQ(RemotePointerPixel(e, c.capture, c.sentW, c.sentH, c.desktop), c.want);
  }
}

TEST(RsInput, KindsBecomeButtons) {
  using B = std::vector<std::pair<int, bool>>;
  struct Case {
    uint8_t kind;
    int16_t delta;
    std::optional<B> want;
  } cases[] = {
      {0, 0, B{}},
      {1, 0, B{{1, true}}},
      {2, 0, B{{1, false}}},
      {3, 0, B{{3, true}}},
      {4, 0, B{{3, false}}},
      {6, 0, B{{2, true}}},
      {7, 0, B{{2, false}}},
      {8, 0, B{{1, true}, {1, false}, {1, true}, {1, false}}},
      {5, 240, B{{4, true}, {4, false}, {4, true}, {4, false}}},
      {5, -120, B{{5, true}, {5, false}}},
      {5, 30, B{{4, true}, {4, false}}},
      {5, 0, B{}},
      {9, 0, std::nullopt},
      {255, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    auto got = RemoteMouseButtons(c.kind, c.delta);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (!got) continue;
    B pairs;
    for (const auto& b : *got) pairs.push_back({b.button, b.down});
    EXPECT_EQ(pairs, *c.want);
  }
}

// The agent's frames through the receive loop reach the input target: a move and a double click
// at the desktop pixel (four presses in one call), keys with their down and extended bits; short
// and unknown events do nothing. What is still held when the stream breaks is let go.
TEST(RsInput, ReceivedEventsReachTheInputTarget) {
  std::vector<std::string> seen;
  SetRsInputTarget({[] { return plat::ScreenRect{0, 0, 3840, 1080}; },
                    [&](int x, int y, const std::vector<plat::PointerButton>& buttons) {
                      std::string s = "pointer " + std::to_string(x) + "," + std::to_string(y);
                      for (const auto& b : buttons) s += " " + std::to_string(b.button) + (b.down ? "v" : "^");
                      seen.push_back(s);
                    },
                    [&](uint16_t vk, bool down, bool extended) {
                      seen.push_back("key " + std::to_string(vk) + (down ? " down" : " up") + (extended ? " ext" : ""));
                    }});
  RsClient.RsCaptureRect = {1920, 0, 3840, 1080};
  RsClient.RsSentWidth = 960;
  RsClient.RsSentHeight = 540;
  auto mouse = [](uint16_t x, uint16_t y, uint8_t kind) {
    return std::string{static_cast<char>(x & 0xff), static_cast<char>(x >> 8), static_cast<char>(y & 0xff),
                       static_cast<char>(y >> 8), static_cast<char>(kind), 0, 0};
  };
  auto key = [](uint32_t word) {
    return std::string{static_cast<char>(word & 0xff), static_cast<char>((word >> 8) & 0xff),
                       static_cast<char>((word >> 16) & 0xff), static_cast<char>(word >> 24)};
  };
  std::string bytes;
  bytes += EncodeRsFrame(0x82, mouse(10, 20, 0));
  bytes += EncodeRsFrame(0x82, mouse(10, 20, 8));
  bytes += EncodeRsFrame(0x82, mouse(10, 20, 9));                 // unknown kind
  bytes += EncodeRsFrame(0x82, mouse(10, 20, 1).substr(0, 6));    // too short
  bytes += EncodeRsFrame(0x82, mouse(30, 40, 3));                 // right button held
  bytes += EncodeRsFrame(0x83, key(0x00010041));
  bytes += EncodeRsFrame(0x83, key(0x00000041));
  bytes += EncodeRsFrame(0x83, key(0x01010025));
  bytes += EncodeRsFrame(0x83, key(0x00010041).substr(0, 3));     // too short
  int ends[2];
  ASSERT_TRUE(plat::SocketPair(&ends[0], &ends[1]));
  ASSERT_EQ(plat::SocketSend(ends[1], bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
  plat::ShutdownSocket(ends[1]);
  RsConnection connection;
  connection.socket = ends[0];
  RsClient.SessionStopFlag = 0;
  RsReceiveLoop(connection, nullptr);
  plat::CloseSocket(ends[0]);
  plat::CloseSocket(ends[1]);
  InstallTestDesktop();
  RsClient.SessionStopFlag = 0;
  const std::vector<std::string> want = {"pointer 1940,40", "pointer 1940,40 1v 1^ 1v 1^", "pointer 1980,80 3v",
                                         "key 65 down", "key 65 up", "key 37 down ext",
                                         "key 37 up ext", "pointer 1980,80 3^"};
  EXPECT_EQ(seen, want);
}
