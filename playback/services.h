#pragma once
// What other subsystems call of the player and the rhythm engine.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// The player's shared values (the fields read outside the player so far).
struct PlaybackStateValues {
  std::atomic<uint8_t> isPlaying{0};  // set while the player's event loop runs
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

// Not built yet (placeholders.cpp).
std::wstring BuildInitMedleyScript();
void CaptureStyleInitialPrograms();
void CommitPendingStyle();
void EndOriginalKeepRhythm();
bool LoadStyleSet(std::wstring_view styleName, int variation);
void PushRhythmUi();
void ToggleTempoLock();
