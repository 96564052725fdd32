#pragma once
// The rhythm engine's timing rules as pure functions (bar lines, pattern position, factor, firing,
// resync tolerance, own clock, fill windows) and the engine's shared values besides CvtState.
#include <atomic>
#include <cstdint>
#include <vector>

#include "base/seq_value.h"
#include "playback/rhythm_clock.h"

// The own clock's fine position at one step of the engine: the song tick with its fraction, the
// engine clock's time of that step and the milliseconds a tick lasts then. `atMs` below 0: the
// engine is not on its own clock.
struct OwnClockReading {
  double tick = 0, atMs = -1, msPerTick = 0;
};

// The engine's own values besides CvtState (services.h).
struct RhythmEngineValues {
  std::atomic<uint8_t> RhythmThreadAlive{0};
  std::atomic<uint32_t> CvtPhaseOriginTick{0};
  // Published at every step on the own clock, so that a song joining the rhythm finds its bar line
  // to the fraction of a tick (a tick at 120 ticks a quarter lasts a few milliseconds).
  SeqValue<OwnClockReading> OwnClock;
  std::atomic<double> LiveTempoFactor{0};
  std::atomic<uint32_t> PendingCarryDueMs{0};  // TimeGetTime when PendingCarryTempoUs takes effect
  std::atomic<uint8_t> EndingRequested{0}, StopAfterEnding{0};
  std::atomic<uint32_t> HomeAtNextBarTime{0};
  std::atomic<uint32_t> MaxLoopDelayUs{0};     // largest loop delay seen, for the performance monitor
  std::atomic<uint8_t> ManualFillBusy{0};
  std::atomic<uint8_t> FillOverlayActive{0}, FillRequestPending{0};
  std::atomic<uint8_t> ResetShownValues{0};    // the page was reset: show tempo, factor and beat again
};
extern RhythmEngineValues RhythmEngine;

// v modulo length, never negative; 0 for an empty pattern.
uint32_t PatternMod(int64_t v, uint32_t length);

// Bar lines of a song: the next bar line after `t` (past the last bar: the last bar's start) and
// the start of the bar holding `t`; 480-tick bars when `bars` is empty.
uint32_t NextBarLine(const std::vector<uint32_t>& bars, uint32_t t);
uint32_t BarStartOf(const std::vector<uint32_t>& bars, uint32_t t);

// floor(max(0, (tick - origin + fraction) x factor)) mod length; a result behind `last` by at most
// `ppq` ticks gives `last` (the pattern never steps back by a beat or less).
uint32_t PatternPosition(uint32_t origin, uint32_t tick, double fraction, double factor, uint32_t length,
                         uint32_t last, int ppq);

// 0.5 for a half-time song, 2 for 1..85 bpm, else 1.
double SongDefaultFactor(bool halftime, int baseBpm);
// bpm of a tempo (carried, else current, else 500,000 us) plus the offset.
double TempoBpm(int carryUs, int currentUs, int offsetBpm);

// The pattern factor: the base factor, or an override from the style's fixed tempo or the
// pattern speed setting.
struct FactorInput {
  double carriedFactor = -1;  // CvtTempoFactor
  bool halftime = false;
  int baseBpm = 0;
  int boxSpeed = 100;
  int styleBpm = 0;
  int carryUs = 0, currentUs = 0, offsetBpm = 0;
};
struct FactorResult {
  double factor = 1;
  bool override = false;
};
FactorResult ComputePatternFactor(const FactorInput& in);

// What a step fires between the last position p and the new one d.
enum class FireKind { kNone, kDrop, kCatchUp, kNormal };
struct FireDecision {
  FireKind kind = FireKind::kNone;
  uint32_t stretch = 0;
};
FireDecision DecideFiring(uint32_t p, uint32_t d, uint32_t length, int ppq, bool hasLastFire, double msSinceLastFire);

// A continuous resync: whether the in-bar phase of new position d is within tolerance of p.
struct ResyncPhase {
  int difference = 0, tolerance = 0;
  bool keep = false;
};
ResyncPhase CompareResyncPhase(uint32_t p, uint32_t d, int ppq);

// The own clock: ms per tick of the engine's tempo.
double OwnClockMsPerTick(int carryUs, int carryPpq, int currentUs, int offsetBpm, int songPpq);

// Where a manual fill goes: start tick and length in pattern ticks.
struct FillWindowInput {
  uint32_t tick = 0;
  double factor = 1;
  int ppq = 120;
  bool engineRunning = false;
  uint32_t origin = 0, patternLength = 0;
  bool songPlaying = false;
  std::vector<uint32_t> bars;
};
struct FillWindow {
  uint32_t start = 0, length = 0;
  // While the engine runs: the start in song ticks with its fraction (the pattern's beat falls
  // between ticks when the factor is not 1); below 0 otherwise.
  double exactStart = -1;
};
FillWindow ComputeFillWindow(const FillWindowInput& in);

// The pattern factor in use now: the engine's while it runs, else the carried or the song's.
double CurrentCvtTempoFactor();
