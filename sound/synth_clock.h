#pragma once
// Where a message for the built-in synthesizer lands in its audio. Every message carries the
// monotonic time at which it was sent; the audio thread renders blocks of frames and places each
// message at the frame that stands for its send time plus a fixed look-ahead, so the audio keeps
// the spacing the senders kept whatever the period of the audio device and however late a block
// is rendered. A message is never placed before its frame: one that arrives after its frame was
// rendered plays at the start of the next block.
//
// Frame 0 stands for the time of the first block. Each block compares its start with the wall
// clock and moves that origin by a small part of the difference (at most 2.5 us a block), so a
// sound card's clock that runs a little fast or slow is followed without a jump, and blocks that
// catch up after a stall leave the placement as it was; a difference of more than a second (the
// machine slept) moves it at once.
#include <cstdint>

class SynthSampleClock {
 public:
  SynthSampleClock(double sampleRate, double lookAheadMs) : rate_(sampleRate), lookAheadUs_(lookAheadMs * 1000.0) {}

  // Starts the block of frames that follows the last one, rendered at monotonic time `nowUs`.
  void BeginBlock(uint64_t nowUs);
  // The frame inside the current block at which a message sent at `sentUs` plays: 0 for one
  // already due, `blockFrames` or more for one that belongs to a later block.
  int64_t OffsetInBlock(uint64_t sentUs) const;
  // Ends the current block of `frames` frames.
  void EndBlock(int frames) { framesDone_ += static_cast<uint64_t>(frames); }

  double LookAheadMs() const { return lookAheadUs_ / 1000.0; }
  uint64_t FramesDone() const { return framesDone_; }

 private:
  double rate_;
  double lookAheadUs_;
  double originUs_ = -1;  // the monotonic time that frame 0 stands for; < 0 before the first block
  uint64_t framesDone_ = 0;
};
