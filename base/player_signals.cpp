#include "base/player_signals.h"

#include <atomic>

namespace {

bool No() { return false; }
uint32_t Zero() { return 0; }
int ZeroKey() { return 0; }
void Nothing() {}

constexpr PlayerSignals kNothingPlays{No, No, Zero, ZeroKey, No, No, No, Zero, No, No, Nothing};

// The installed table; read from any thread, written once at start.
PlayerSignals InstalledSignals = kNothingPlays;
std::atomic<const PlayerSignals*> Current{&kNothingPlays};

template <typename F>
void Keep(F& target, F value) {
  if (value) target = value;
}

}  // namespace

void InstallPlayerSignals(const PlayerSignals& s) {
  PlayerSignals t = kNothingPlays;
  Keep(t.songPlaying, s.songPlaying);
  Keep(t.songPaused, s.songPaused);
  Keep(t.songTick, s.songTick);
  Keep(t.currentKey, s.currentKey);
  Keep(t.rhythmRunning, s.rhythmRunning);
  Keep(t.fillPlaying, s.fillPlaying);
  Keep(t.waitingForDownbeat, s.waitingForDownbeat);
  Keep(t.downbeatAt, s.downbeatAt);
  Keep(t.setupSpreadOn, s.setupSpreadOn);
  Keep(t.setupUnderRhythm, s.setupUnderRhythm);
  Keep(t.resendRhythmSetup, s.resendRhythmSetup);
  InstalledSignals = t;
  Current.store(&InstalledSignals, std::memory_order_release);
}

const PlayerSignals& Player() { return *Current.load(std::memory_order_acquire); }
