#include <gtest/gtest.h>

#include <vector>

#include "playback/services.h"
#include "playback/song_position.h"
#include "songs/bars.h"
#include "songs/midi_parser.h"

TEST(Bars, CurrentBarCountsFromAPendingJump) {
  auto song = std::make_shared<SongModel>();
  song->BarTicks = BuildBarTicks({}, 480);
  PublishSongModel(song);
  PlaybackState.SongTick = 5 * 1920 + 100;  // bar 5
  PlaybackState.JumpTargetBar = 6;
  EXPECT_EQ(CurrentBarIndex(), 6);
  PlaybackState.JumpTargetBar = 5;
  EXPECT_EQ(CurrentBarIndex(), 5);
  PlaybackState.JumpTargetBar = 9;
  EXPECT_EQ(CurrentBarIndex(), 5);
  PlaybackState.JumpTargetBar = -1;
  EXPECT_EQ(CurrentBarIndex(), 5);
  PlaybackState.SongTick = 0;
  PublishSongModel(nullptr);
}

TEST(CountIn, ClicksOnScheduleSkippingLateOnesAndSilentWhilePaused) {
  uint32_t clock = 1000;
  std::vector<std::pair<uint32_t, uint32_t>> sent;  // time, message
  bool paused = false;
  bool madeLate = false;
  CountInHooks hooks;
  hooks.now = [&] { return clock; };
  hooks.sleepMs = [&](unsigned ms) {
    clock += ms ? ms : 1;
  };
  hooks.playing = [] { return true; };
  hooks.paused = [&] { return paused; };
  hooks.send = [&](uint32_t m) {
    sent.emplace_back(clock, m);
  };
  RunCountIn(hooks, 4, 500, 1000, 37, 200);
  ASSERT_EQ(sent.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sent[i].first, 1000u + 500 * i);
  EXPECT_EQ(sent[0].second, 0x99u | (37u << 8) | ((200u & 0x7F) << 16));

  // A click found 260 ms late is skipped; the next one still comes on time.
  sent.clear();
  clock = 1000;
  hooks.sleepMs = [&](unsigned ms) {
    clock += ms ? ms : 1;
    if (clock == 1499 && !madeLate) {  // the second click's wait ends 260 ms late
      madeLate = true;
      clock += 260;
    }
  };
  RunCountIn(hooks, 4, 500, 1000, 37, 100);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].first, 2000u);

  // Paused: no click sounds, but the schedule runs to its end.
  sent.clear();
  clock = 1000;
  paused = true;
  RunCountIn(hooks, 4, 500, 1000, 37, 100);
  EXPECT_TRUE(sent.empty());
  EXPECT_GE(clock, 2500u);

  // The player stops: the thread ends before the next click.
  paused = false;
  clock = 1000;
  hooks.playing = [&] { return clock < 1200; };
  RunCountIn(hooks, 4, 500, 1000, 37, 100);
  EXPECT_EQ(sent.size(), 1u);
}
