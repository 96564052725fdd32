// The player's answers to the layers below it (see base/player_signals.h).
#include "base/player_signals.h"
#include "playback/services.h"
#include "songs/song_model.h"
#include "sound/external_module.h"
#include "sound/rhythm_parts.h"

void InstallPlaybackSignals() {
  PlayerSignals s{};
  s.songPlaying = [] { return PlaybackState.isPlaying.load() != 0; };
  s.songPaused = [] { return PlaybackState.paused.load() != 0; };
  s.songTick = [] { return PlaybackState.SongTick.load(); };
  s.currentKey = [] { return PlaybackState.CurrentKey.load(); };
  s.rhythmRunning = [] { return CvtState.rhythm.load() != 0; };
  s.fillPlaying = [] { return CvtState.FillPlaying.load() != 0; };
  s.waitingForDownbeat = [] { return PlaybackState.waitingGo.load() != 0; };
  s.downbeatAt = [] { return PlaybackState.startAt.load(); };
  s.setupSpreadOn = [] { return PlaybackState.SetupSpreadOn.load() != 0; };
  s.setupUnderRhythm = [] { return PlaybackState.SetupUnderRhythm.load() != 0; };
  s.resendRhythmSetup = [] {
    SendRhythmPartMaps();
    SendCvtToneSetup();
  };
  InstallPlayerSignals(s);
  // A hard reset of the module's channels wipes the controllers a fast jump would count on.
  SetHardPanicHook([] { PlaybackState.LastPlayedValid = 0; });
  SetExternalClockTempoSource([] {
    ExtClockTempo t;
    if (const auto song = LoadedSong()) t.songBaseBpm = song->SongBaseBpm;
    t.offsetBpm = PlaybackState.TempoOffsetBpm.load();
    return t;
  });
}
