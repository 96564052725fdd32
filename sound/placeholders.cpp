// Stand-ins for sound functions that are not built yet. Each logs once that it is not available.
#include <atomic>

#include "base/debug_log.h"
#include "sound/placeholders.h"

namespace {
void LogOnce(std::atomic<bool>& done, const wchar_t* name) {
  if (!done.exchange(true)) DebugLog(std::wstring(name) + L": 아직 지원되지 않음");
}
}  // namespace

#define SOUND_PLACEHOLDER(name)         \
  static std::atomic<bool> logged{false}; \
  LogOnce(logged, name)


void AllSoundOffAllPorts() { SOUND_PLACEHOLDER(L"AllSoundOffAllPorts"); }
void ApplyCvtTones() { SOUND_PLACEHOLDER(L"ApplyCvtTones"); }
std::wstring BuildInitSoundStateScript() {
  SOUND_PLACEHOLDER(L"BuildInitSoundStateScript");
  return {};
}
std::wstring BuildSoundTablePayload() {
  SOUND_PLACEHOLDER(L"BuildSoundTablePayload");
  return L"[]";
}
void FlushDeferredSoundSaves() { SOUND_PLACEHOLDER(L"FlushDeferredSoundSaves"); }
void LoadSoundSel() { SOUND_PLACEHOLDER(L"LoadSoundSel"); }
void LoadSoundTable() { SOUND_PLACEHOLDER(L"LoadSoundTable"); }
void ResendSendOffsets() { SOUND_PLACEHOLDER(L"ResendSendOffsets"); }
void SendDryDrumBassSends() { SOUND_PLACEHOLDER(L"SendDryDrumBassSends"); }
bool SoundTableIsEmpty() {
  SOUND_PLACEHOLDER(L"SoundTableIsEmpty");
  return true;
}
void StartStopExternalClock() { SOUND_PLACEHOLDER(L"StartStopExternalClock"); }

int GetCvtBassProgram() { return 33; }
bool IsUserBassToneSet() { return false; }
bool IsUserSaxToneSet() { return false; }
int UserSaxProgram() { return 65; }
bool IsUserDrumKitSet(int) { return false; }
int UserDrumKitProgram(int) { return 0; }
int DrumNoteOverride(int, int, int note) { return note; }
int MelodyOctaveShift() { return 0; }
