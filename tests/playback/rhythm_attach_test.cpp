// The go time of a song joining the running rhythm, and the tempo lock's offset.
#include <gtest/gtest.h>

#include <vector>

#include "playback/rhythm_attach.h"
#include "playback/tempo.h"

namespace {

GoTimeInput At120(uint32_t tickInBar) {
  GoTimeInput in;
  in.now = 10000;
  in.rhythmTempoUs = 500000;  // 120 bpm: a bar of 2000 ms at 120 ticks a quarter
  in.rhythmPpq = 120;
  in.rhythmFactor = 1;
  in.minimumLeadMs = 300;
  in.attach = true;
  in.phaseOrigin = 1000;
  in.songTick = 1000 + tickInBar;
  in.songPpq = 120;
  in.songBaseBpm = 120;
  in.bars = {0, 480, 960, 1440};
  return in;
}

TEST(GoTime, Table) {
  struct Case {
    const char* name;
    GoTimeInput in;
    uint32_t startAt;
  };
  std::vector<Case> cases;
  cases.push_back({"half a bar to go", At120(240), 11000});
  cases.push_back({"less than the lead: one bar later", At120(420), 12250});
  {
    GoTimeInput in = At120(240);
    in.firstNoteTick = 480;  // on a bar line
    cases.push_back({"first note on a bar line", in, 11000});
  }
  {
    GoTimeInput in = At120(240);
    in.firstNoteTick = 360;  // a beat of pick-up before bar 2
    cases.push_back({"pick-up of one beat starts before the bar line", in, 10500});
  }
  {
    GoTimeInput in = At120(240);
    in.firstNoteTick = 360;
    in.alignMelody = false;
    cases.push_back({"no melody alignment", in, 11000});
  }
  {
    GoTimeInput in = At120(0);  // on the bar line now: a whole bar to go
    in.extraBars = 1;
    cases.push_back({"an extra bar", in, 14000});
  }
  {
    GoTimeInput in = At120(240);
    in.newTempoUs = 1000000;  // 60 bpm at factor 2: the same bar length after the switch
    in.newFactor = 2;
    in.extraBars = 1;
    cases.push_back({"bar after the switch", in, 13000});
  }
  {
    GoTimeInput in = At120(240);
    in.songTick += 0.72;  // 3 ms into the tick (4.17 ms a tick): the bar line 3 ms sooner
    cases.push_back({"a fraction of a tick", in, 10997});
  }
  {
    GoTimeInput in = At120(240);
    in.now = 0xFFFFFFFFu - 500;  // the millisecond clock wraps
    cases.push_back({"clock wrap", in, 499});
  }
  for (const auto& c : cases) {
    const auto g = ComputeGoTime(c.in);
    ASSERT_TRUE(g) << c.name;
    EXPECT_EQ(g->startAt, c.startAt) << c.name;
  }
  GoTimeInput none = At120(0);
  none.rhythmPpq = 0;
  EXPECT_FALSE(ComputeGoTime(none));
}

TEST(TempoLock, Offsets) {
  struct Case {
    double audible;
    int songBpm;
    bool half;
    int offset;
  };
  const std::vector<Case> cases = {
      {120, 60, false, 0},    {150, 70, false, 5},    {150, 200, false, -50},
      {300, 100, false, 100}, {40, 100, false, -50},  {120, 120, true, 120},
  };
  for (const auto& c : cases) EXPECT_EQ(TempoLockOffset(c.audible, c.songBpm, c.half), c.offset) << c.audible << " " << c.songBpm;
}

}  // namespace
