#pragma once
// The rhythm engine: one thread loops the active style's main pattern on port-1 channels 6 and 8
// to 14, locked to the playing song's bar lines and tick clock, or on a clock of its own between
// songs. The timing rules are pure functions here so that they can be checked on a virtual clock;
// RhythmEngineRun holds one run's pattern clock and performs its steps.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "playback/rhythm_clock.h"
#include "playback/rhythm_style.h"
#include "songs/song_model.h"
#include "sound/sound_state.h"

// The engine's own values besides CvtState (services.h).
struct RhythmEngineValues {
  std::atomic<uint8_t> RhythmThreadAlive{0};
  std::atomic<uint32_t> CvtPhaseOriginTick{0};
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
};
FillWindow ComputeFillWindow(const FillWindowInput& in);

// One run of the engine's pattern: started at a bar line (Begin), stepped every 2 ms (Step),
// stopped (Finish). Reads CvtState, PlaybackState and the active style; sends through the
// rhythm sender on `port`.
class RhythmEngineRun {
 public:
  RhythmEngineRun(RhythmClock& clock, MidiOutHandle port) : clock_(clock), port_(port) {}
  void Begin();
  // One loop step; returns the ms the loop should sleep before the next.
  double Step();
  void Finish();

  uint32_t origin() const { return origin_; }
  uint32_t lastPosition() const { return last_; }
  double factor() const { return factor_; }
  double fraction() const { return fraction_; }

 private:
  struct View;  // the step's snapshot of the song and the clock
  View Look();
  void Resync(View& v);
  void AdvanceOwnClock(View& v);
  void FactorStep(View& v);
  bool EndingStep(View& v);
  bool BarLineActions(View& v, uint32_t& d);
  void StyleChangeFill(View& v);
  void Fire(View& v, uint32_t d);
  void SendTickZero();
  void SetMute(const wchar_t* label);
  double MsPerPatternTick(const View& v) const;
  double NextWakeMs(const View& v) const;
  void RestartAt(uint32_t tick, bool resetFraction);

  RhythmClock& clock_;
  MidiOutHandle port_;
  uint32_t origin_ = 0, last_ = 0;
  double lastFireMs_ = -1, lastStepMs_ = -1, lastBarMs_ = -1, lastTimingLogMs_ = -1e9, lastStallLogMs_ = -1e9;
  double ownLastMs_ = -1, fraction_ = 0;
  bool ownClock_ = false, tickZeroOwed_ = false, overrideActive_ = false;
  double lastOverride_ = 0, factor_ = 1;
  int shownPercent_ = -1, shownBpm_ = -1;
  int64_t shownBeat_ = -1;
  uint32_t lastTick_ = 0;
  uint32_t tickZeroSentAt_ = 0;  // origin whose downbeat was sent
  bool tickZeroSent_ = false;
};

// Start and stop of the engine (page commands, the pause key, style choice, the ending).
void StartCvtRhythm();
void StopCvtRhythm();
double CurrentCvtTempoFactor();
// "RHYTHM_OFF:" n: with n not 0, no song and an ending, the engine plays the ending and stops.
void RequestRhythmOff(int n);
// The song ended with nothing reserved and the engine off: the rhythm takes over with the default
// style for the song's tempo.
void StartRhythmAfterSong(int songBpm);
// The engine thread's body (also reused for a start requested while it stops).
void CvtRhythmThread();
// Waits until no engine thread is left (tests and shutdown), at most `ms`.
bool WaitRhythmThreadGone(unsigned ms);
