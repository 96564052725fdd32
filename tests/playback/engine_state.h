#pragma once
// The player and rhythm engine state put back to a stopped song and an idle engine, for the tests
// that step the engine on a virtual clock.
#include "base/settings/app_settings.h"
#include "playback/rhythm_engine.h"
#include "playback/services.h"
#include "sound/rhythm_parts.h"

inline void ResetEngineState() {
  Settings = AppSettings{};
  PlaybackState.isPlaying = 0;
  PlaybackState.waitingGo = 0;
  PlaybackState.paused = 0;
  PlaybackState.SongTick = 0;
  PlaybackState.TempoOffsetBpm = 0;
  PlaybackState.HalftimeSongFlag = 0;
  PlaybackState.ResyncRequested = 0;
  PlaybackState.ResyncContinuous = 0;
  PlaybackState.ResyncContinuousTransition = 0;
  PlaybackState.SkipStartMuteOnce = 0;
  Sound.ClockSample = 0;  // no player tick stamp: no interpolation
  CvtState.CvtTempoFactor = -1;
  CvtState.CvtCarryTempo.store({});
  CvtState.PendingTempoFactor = 0;
  CvtState.PendingCarryTempoUs = 0;
  CvtState.FillRequested = 0;
  CvtState.FillStarted = 0;
  RhythmEngine.FillRequestPending = 0;
  RhythmEngine.FillOverlayActive = 0;
  RhythmEngine.OwnClock.store({});
  RhythmStyles.ActiveStyleBpm = 0;
  RhythmStyles.PendingStyleReady = 0;
  RhythmStyles.StyleChangeFillPending = 0;
}
