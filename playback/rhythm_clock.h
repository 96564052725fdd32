#pragma once
// The rhythm engine's clock: the player's monotonic milliseconds and sleeps, behind an interface
// so that the engine's timing rules run on a virtual clock in tests.
#include <cstdint>

class RhythmClock {
 public:
  virtual ~RhythmClock() = default;
  virtual double NowMs() = 0;
  virtual void SleepMs(double ms) = 0;
};

// The real clock (plat::NowMs and precise sleeps).
RhythmClock& SystemRhythmClock();

// A clock that moves only when slept or advanced.
class VirtualRhythmClock : public RhythmClock {
 public:
  double NowMs() override { return now_; }
  void SleepMs(double ms) override {
    if (ms > 0) now_ += ms;
  }
  void Advance(double ms) { now_ += ms; }
  void Set(double ms) { now_ = ms; }

 private:
  double now_ = 1000;
};
