// Timing of the song transitions: pick-up alignment, setup spreading, song-to-song fill length.
#include <gtest/gtest.h>

#include <vector>

#include "playback/transition_timing.h"

namespace {

PickupInput Song120(uint32_t firstNote, std::vector<uint32_t> bars) {
  PickupInput in;
  in.firstNote = firstNote;
  in.bars = std::move(bars);
  in.songBaseBpm = 120;
  in.songPpq = 480;
  in.carryUs = 500000;  // the rhythm's bar: 2000 ms
  in.carryFactor = 1;
  in.downbeatMs = 10000;
  in.nowMs = 5000;
  return in;
}

TEST(PickupAlignment, Table) {
  const std::vector<uint32_t> bars = {0, 1920, 3840, 5760};
  struct Case {
    const char* name;
    PickupInput in;
    PickupResult result;
    uint32_t downbeat;
  };
  PickupInput soon = Song120(1440, bars);
  soon.downbeatMs = 5300;  // 500 ms earlier would be past: the rhythm's next bar line instead
  PickupInput noBars = Song120(360, {});
  noBars.songPpq = 120;  // 480-tick bars: 120 ticks (500 ms) before the bar line
  PickupInput halfTime = Song120(1440, bars);
  halfTime.carryFactor = 0.5;  // a 4000 ms rhythm bar: a 500 ms pick-up starts early
  PickupInput badFactor = Song120(480, bars);
  badFactor.carryFactor = 0;  // counts as 1
  const Case cases[] = {
      {"pickup 500 ms starts earlier", Song120(1440, bars), PickupResult::kEarlier, 9500},
      {"pickup 1500 ms starts later", Song120(480, bars), PickupResult::kLater, 10500},
      {"pickup 2500 ms counts as 500", Song120(1440, {0, 3840, 7680}), PickupResult::kEarlier, 9500},
      {"first note on a bar line", Song120(1920, bars), PickupResult::kOnBarLine, 10000},
      {"no note", Song120(0, bars), PickupResult::kNone, 10000},
      {"first note in the last bar", Song120(6000, bars), PickupResult::kLastBar, 10000},
      {"too close: one rhythm bar later", soon, PickupResult::kEarlier, 6800},
      {"480-tick bars without a bar list", noBars, PickupResult::kEarlier, 9500},
      {"half-time rhythm", halfTime, PickupResult::kEarlier, 9500},
      {"factor 0 counts as 1", badFactor, PickupResult::kLater, 10500},
  };
  for (const Case& c : cases) {
    const PickupAlignment a = AlignPickup(c.in);
    EXPECT_EQ(a.result, c.result) << c.name;
    EXPECT_EQ(a.downbeatMs, c.downbeat) << c.name;
  }
  EXPECT_DOUBLE_EQ(AlignPickup(halfTime).barMs, 4000);
  EXPECT_DOUBLE_EQ(AlignPickup(Song120(1440, {0, 3840})).pickupMs, 2500);
}

TEST(PickupAlignment, FirstMelodyNoteSkipsDrumsAndSilentNotes) {
  SongModel song;
  song.SongEventList = {
      {0, kSongEventTempo, 0, 0, 0, 0, {500000}},
      {10, kSongEventChannel, 0x99, 36, 100, 0, {}},  // drums
      {20, kSongEventChannel, 0x90, 60, 0, 0, {}},    // note-off as note-on 0
      {30, kSongEventChannel, 0xB0, 7, 100, 0, {}},
      {40, kSongEventChannel, 0x93, 64, 90, 0, {}},
  };
  EXPECT_EQ(FirstMelodyNoteTick(song), 40u);
  song.SongEventList.pop_back();
  EXPECT_EQ(FirstMelodyNoteTick(song), 0u);
}

// A downbeat that leaves too little lead moves on by whole rhythm bars, never off the grid.
TEST(DownbeatWithLead, Table) {
  const struct {
    const char* name;
    uint32_t downbeat;
    double bar;
    uint32_t now;
    uint32_t expected;
  } cases[] = {
      {"lead enough", 10000, 2000, 9000, 10000},
      {"exactly the lead", 10000, 2000, 9750, 10000},
      {"too close: next bar", 10000, 2000, 9800, 12000},
      {"passed by a bar and a half: two bars on", 10000, 2000, 13000, 14000},
      {"fractional bars add up unrounded", 10000, 1333.4, 14000, 15334},
      {"no bar length: 2000", 10000, 0, 10000, 12000},
      {"across the clock wrap", 0xFFFFFF00u, 1000, 0xFFFFFFF0u, 0xFFFFFF00u + 1000},
  };
  for (const auto& c : cases) EXPECT_EQ(DownbeatWithLead(c.downbeat, c.bar, c.now, 250), c.expected) << c.name;
  EXPECT_DOUBLE_EQ(EngineBarMs(500000, 0, 1), 2000);
  EXPECT_DOUBLE_EQ(EngineBarMs(750000, 0, 2), 1500);
  EXPECT_DOUBLE_EQ(EngineBarMs(0, 0, 0), 2000);
  EXPECT_DOUBLE_EQ(EngineBarMs(500000, -100, 1), 12000);  // never below 20 bpm
  EXPECT_DOUBLE_EQ(EngineBarMs(500000, 0, 100), 2000);    // 20 ms: out of range
}

TEST(SetupSpread, Table) {
  const struct {
    int diff, share;
  } cases[] = {{1350, 500}, {410, 0}, {411, 30}, {412, 31}, {350, 0}, {0, 0}, {-500, 0}, {2000, 825}};
  for (const auto& c : cases) EXPECT_EQ(SetupSpreadShareMs(c.diff), c.share) << c.diff;
}

TEST(SongToSongFill, LengthTable) {
  auto note = [](uint32_t tick, uint8_t ch, uint8_t n) { return StyleEvent{tick, ch, kStyleNoteOn, n, 100, 0}; };
  auto off = [](uint32_t tick, uint8_t ch, uint8_t n) { return StyleEvent{tick, ch, kStyleNoteOff, n, 0, 0}; };
  const struct {
    const char* name;
    std::vector<StyleEvent> fill;
    uint32_t ticks;
  } cases[] = {
      {"crash on channel 11 closes it", {note(0, 9, 38), note(1920, 11, 49)}, 1919},
      {"crash 57 after a note-off", {note(0, 9, 38), note(1900, 10, 57), off(1910, 9, 38)}, 1899},
      {"crash at tick 0", {note(0, 12, 49)}, 0},
      {"crash on a melody channel counts fully", {note(0, 9, 38), note(1920, 13, 49)}, 1920},
      {"an earlier crash does not count", {note(100, 9, 49), note(1800, 9, 38), off(1900, 9, 38)}, 1900},
      {"empty", {}, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(FillLengthTicks(c.fill), c.ticks) << c.name;
  EXPECT_DOUBLE_EQ(FillLengthMs(1920, 500000, 480, 0), 2000);
  EXPECT_DOUBLE_EQ(FillLengthMs(1920, 0, 0, 0), 8000);       // 120 bpm at 120 ticks a quarter
  EXPECT_DOUBLE_EQ(FillLengthMs(480, 500000, 480, -200), 3000);  // never below 20 bpm
}

}  // namespace
