#pragma once
// What other subsystems call of the player and the rhythm engine.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// The player's shared values (the fields read outside the player so far).
struct PlaybackStateValues {
  std::atomic<uint8_t> isPlaying{0};  // set while the player's event loop runs
  std::atomic<uint8_t> paused{0};
  std::atomic<uint32_t> startAt{0};   // TimeGetTime of the scheduled downbeat, 0 none
  std::atomic<uint8_t> SetupSpreadOn{0};     // spread the song setup's SysEx until the downbeat
  std::atomic<uint8_t> SetupUnderRhythm{0};  // a transition sets up the next song under the rhythm
  std::atomic<uint32_t> SongTick{0};  // current tick of the loaded song
  std::atomic<int> CurrentKey{0};     // semitones of transposition in effect
};
extern PlaybackStateValues PlaybackState;

// The rhythm engine's shared values (the fields read outside it so far).
struct CvtStateValues {
  std::atomic<uint8_t> rhythm{0};  // non-zero while the rhythm engine plays
};
extern CvtStateValues CvtState;

// Transition flags polled by the window: a fill plays; a started song waits for its downbeat.
extern std::atomic<uint8_t> FillPlaying;
extern std::atomic<uint8_t> waitingGo;

// The player's marker that the current song's module setup has been sent (flag and value); a new
// song analysis clears it so that the next start sends the whole setup.
struct SongSetupMarker {
  std::atomic<uint8_t> sent{0};
  std::atomic<int> value{0};
};
extern SongSetupMarker SongSetupSentMarker;

// Lets the song and sound layers read the values above (base/player_signals.h). Called once at
// start, before the worker threads.
void InstallPlaybackSignals();

// Not built yet (placeholders.cpp).
std::wstring BuildInitMedleyScript();
void CaptureStyleInitialPrograms();
void CommitPendingStyle();
void EndOriginalKeepRhythm();
bool LoadStyleSet(std::wstring_view styleName, int variation);
void PushRhythmUi();
// Resend the rhythm engine's rhythm-part assignments and style tones after a module reset.
void SendCvtToneSetup();
void SendRhythmPartMaps();
void ToggleTempoLock();
