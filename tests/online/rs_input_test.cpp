// The agent's mouse events as desktop pixels and button presses.
#include <gtest/gtest.h>

#include "online/rs_input.h"

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
