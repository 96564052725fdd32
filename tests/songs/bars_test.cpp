#include <gtest/gtest.h>

#include "midi_writer.h"
#include "songs/bars.h"
#include "songs/midi_parser.h"

TEST(Bars, TickToBarAndBack) {
  SongModel song;
  song.BarTicks = BuildBarTicks({}, 480);
  struct Case {
    uint32_t tick;
    int bar;
  } ticks[] = {{0, 0}, {1919, 0}, {1920, 1}, {3840, 2}, {0xFFFFFFFF, 1041}};
  for (const auto& c : ticks) EXPECT_EQ(TickToBar(song, c.tick), c.bar) << c.tick;
  struct BarCase {
    int bar;
    uint32_t tick;
  } bars[] = {{-3, 0}, {0, 0}, {2, 3840}, {1041, 1998720}, {5000, 1998720}};
  for (const auto& c : bars) EXPECT_EQ(BarToTick(song, c.bar), c.tick) << c.bar;

  SongModel none;  // without bars a bar is 480 ticks
  EXPECT_EQ(TickToBar(none, 959), 1);
  EXPECT_EQ(BarToTick(none, 3), 1440u);
  EXPECT_EQ(BarToTick(none, -1), 0u);

  SongModel late;
  late.BarTicks = {100, 200};
  EXPECT_EQ(TickToBar(late, 50), 0);
}

TEST(Bars, LeadInBar) {
  SongModel song;
  song.BarTicks = {0, 1920, 3840};
  uint32_t tick = 0;
  song.SongEventList = {ChannelEvent(0, 0xB0, 7, 100), ChannelEvent(1920, 0x99, 36, 100)};
  EXPECT_TRUE(FindLeadInBar(song, &tick));
  EXPECT_EQ(tick, 1920u);
  song.SongEventList = {ChannelEvent(0, 0x90, 60, 0), ChannelEvent(1900, 0x90, 60, 100)};
  EXPECT_FALSE(FindLeadInBar(song, &tick));
  song.SongEventList = {ChannelEvent(0, 0xB0, 7, 100)};
  EXPECT_FALSE(FindLeadInBar(song, &tick));  // no note at all
  song.BarTicks = {0};
  EXPECT_FALSE(FindLeadInBar(song, &tick));
}

TEST(Bars, SongLength) {
  SongModel song;
  song.SongPpq = 480;
  song.SongEventList = {TempoEvent(0, 500000), ChannelEvent(9600, 0x80, 60, 0)};
  SongLength l = ComputeSongLength(song);
  EXPECT_EQ(l.lastTick, 9600u);
  EXPECT_EQ(l.ms, 10000);
  EXPECT_EQ(l.msAtFirstTempo, 10000);

  // A tempo change halfway; a tempo of 6,000,000 counts as 20 bpm (3,000,000).
  song.SongEventList = {TempoEvent(0, 500000), TempoEvent(4800, 6000000), ChannelEvent(9600, 0x80, 60, 0)};
  l = ComputeSongLength(song);
  EXPECT_EQ(l.ms, 5000 + 30000);
  EXPECT_EQ(l.msAtFirstTempo, 10000);

  song.SongEventList = {ChannelEvent(960, 0x90, 60, 1)};  // no tempo: 500,000
  EXPECT_EQ(ComputeSongLength(song).ms, 1000);
  song.SongPpq = 0;
  EXPECT_EQ(ComputeSongLength(song).lastTick, 0u);
  EXPECT_EQ(ComputeSongLength(SongModel{}).ms, 0);
}

