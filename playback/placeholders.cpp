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

void EndOriginalKeepRhythm() { PLAYBACK_PLACEHOLDER(L"EndOriginalKeepRhythm"); }
void SendCvtToneSetup() { PLAYBACK_PLACEHOLDER(L"SendCvtToneSetup"); }
void SendRhythmPartMaps() { PLAYBACK_PLACEHOLDER(L"SendRhythmPartMaps"); }
void StartEndingFlourish() { PLAYBACK_PLACEHOLDER(L"StartEndingFlourish"); }
