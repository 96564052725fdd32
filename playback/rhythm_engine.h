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
#include "playback/rhythm_timing.h"
#include "playback/rhythm_style.h"
#include "songs/song_model.h"
#include "sound/sound_state.h"

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
  bool FillRequestStep(View& v, uint32_t d);
  bool OverlayStep(View& v);
  void SendTickZero();
  void SetMute(const wchar_t* label);
  double MsPerPatternTick(const View& v) const;
  double NextWakeMs(const View& v) const;
  void RestartAt(uint32_t tick, bool resetFraction);

  RhythmClock& clock_;
  MidiOutHandle port_;
  uint32_t origin_ = 0, last_ = 0;
  double lastFireMs_ = -1, lastStepMs_ = -1, lastBarMs_ = -1, lastTimingLogMs_ = -1e9, lastStallLogMs_ = -1e9;
  double ownLastMs_ = -1, fraction_ = 0, songClockMs_ = -1;
  bool ownClock_ = false, tickZeroOwed_ = false, overrideActive_ = false;
  double lastOverride_ = 0, factor_ = 1;
  int shownPercent_ = -1, shownBpm_ = -1;
  int64_t shownBeat_ = -1;
  uint32_t lastTick_ = 0;
  uint32_t tickZeroSentAt_ = 0;  // origin whose downbeat was sent
  bool tickZeroSent_ = false;
  // The transition fill: its overlay over the silent pattern.
  std::vector<StyleEvent> overlay_;
  uint32_t overlayLength_ = 0;
  double overlayStartMs_ = 0, overlayMpt_ = -1;
  int64_t overlayLast_ = 0;
  bool overlayFired_ = false;
};

// The quick effect's note ends this long after its note-on.
inline constexpr uint32_t kQuickEffectHoldMs = 1000;
// Ends the quick effect's note (channel 12) once it has sounded kQuickEffectHoldMs. The engine
// calls it every step.
void ReleaseQuickEffect(MidiOutHandle port, uint32_t now);

// Start and stop of the engine (page commands, the pause key, style choice, the ending).
void StartCvtRhythm();
void StopCvtRhythm();
// "RHYTHM_OFF:" n: with n not 0, no song and an ending, the engine plays the ending and stops.
void RequestRhythmOff(int n);
// The song ended with nothing reserved and the engine off: the rhythm takes over with the default
// style for the song's tempo.
void StartRhythmAfterSong(int songBpm);
// The engine thread's body (also reused for a start requested while it stops).
void CvtRhythmThread();
// Waits until no engine thread is left (tests and shutdown), at most `ms`.
bool WaitRhythmThreadGone(unsigned ms);
