// Stand-ins for the player until it is built.
#include <atomic>
#include <string>

#include "base/debug_log.h"
#include "playback/services.h"

namespace {
void LogOnce(std::atomic<bool>& done, const wchar_t* name) {
  if (!done.exchange(true)) DebugLog(std::wstring(name) + L": 아직 지원되지 않음");
}
}  // namespace

#define PLAYBACK_PLACEHOLDER(name)      \
  static std::atomic<bool> logged{false}; \
  LogOnce(logged, name)

PlaybackStateValues PlaybackState;
CvtStateValues CvtState;

void CaptureStyleInitialPrograms() { PLAYBACK_PLACEHOLDER(L"CaptureStyleInitialPrograms"); }
void CommitPendingStyle() { PLAYBACK_PLACEHOLDER(L"CommitPendingStyle"); }
void EndOriginalKeepRhythm() { PLAYBACK_PLACEHOLDER(L"EndOriginalKeepRhythm"); }
bool LoadStyleSet(std::wstring_view, int) {
  PLAYBACK_PLACEHOLDER(L"LoadStyleSet");
  return false;
}
void PushRhythmUi() { PLAYBACK_PLACEHOLDER(L"PushRhythmUi"); }
void SendCvtToneSetup() { PLAYBACK_PLACEHOLDER(L"SendCvtToneSetup"); }
void SendRhythmPartMaps() { PLAYBACK_PLACEHOLDER(L"SendRhythmPartMaps"); }
// The rhythm engine is not built: there is nothing to start or stop (the pause key and the
// song-end commands call these with no song playing).
void StartCvtRhythm() {}
void StopCvtRhythm() {}
void SelectRhythmStyle(int) { PLAYBACK_PLACEHOLDER(L"SelectRhythmStyle"); }
void StartEndingFlourish() { PLAYBACK_PLACEHOLDER(L"StartEndingFlourish"); }
