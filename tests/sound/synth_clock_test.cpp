#include <gtest/gtest.h>

#include "sound/synth_clock.h"

namespace {

// 44,100 Hz, 441-frame blocks (10 ms), look-ahead 15 ms; the first block starts at 1 s.
constexpr uint64_t kStartUs = 1000000;

}  // namespace

TEST(SynthSampleClock, AMessagePlaysAtTheFrameOfItsSendTimePlusTheLookAhead) {
  SynthSampleClock clock(44100, 15);
  const struct {
    uint64_t sentUs;
    int64_t block, offset;  // the block it lands in and its frame there
  } cases[] = {
      {kStartUs, 1, 221},            // 15 ms later: frame 661.5, up to 662
      {kStartUs + 5000, 2, 0},       // frame 882 exactly: the first of block 2
      {kStartUs + 7000, 2, 89},      // frame 970.2
      {kStartUs - 15000, 0, 0},      // due at frame 0
      {kStartUs - 200000, 0, 0},     // long past: at once, never before the block
  };
  for (const auto& c : cases) {
    SynthSampleClock fresh(44100, 15);
    for (int64_t b = 0; b < c.block; ++b) {
      fresh.BeginBlock(kStartUs + static_cast<uint64_t>(b) * 10000);
      EXPECT_GE(fresh.OffsetInBlock(c.sentUs), 441) << c.sentUs << " is not due in block " << b;
      fresh.EndBlock(441);
    }
    fresh.BeginBlock(kStartUs + static_cast<uint64_t>(c.block) * 10000);
    EXPECT_EQ(fresh.OffsetInBlock(c.sentUs), c.offset) << c.sentUs;
  }
  EXPECT_DOUBLE_EQ(clock.LookAheadMs(), 15);
}

// Blocks rendered late (the audio thread was held up for 80 ms, then caught up) put the messages
// sent meanwhile where their send times say, 100 ms apart, not all at the first late block.
TEST(SynthSampleClock, ALateBlockKeepsTheSpacingOfTheMessages) {
  SynthSampleClock clock(44100, 15);
  const uint64_t sent[] = {kStartUs + 20000, kStartUs + 120000};
  std::vector<uint64_t> frames;
  size_t next = 0;
  for (int b = 0; b < 30; ++b) {
    const uint64_t now = b < 5 ? kStartUs + b * 10000 : kStartUs + 130000 + (b - 5) * 100;  // blocks 5.. late
    clock.BeginBlock(now);
    while (next < std::size(sent) && clock.OffsetInBlock(sent[next]) < 441)
      frames.push_back(clock.FramesDone() + static_cast<uint64_t>(clock.OffsetInBlock(sent[next++])));
    clock.EndBlock(441);
  }
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_NEAR(static_cast<double>(frames[1] - frames[0]), 4410.0, 2.0);
  EXPECT_GE(frames[0], 1544u);  // (20 + 15) ms: never before its place
}
