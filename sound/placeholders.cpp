// Stand-ins for sound functions that are not built yet. Each logs once that it is not available.
#include <atomic>

#include "app/debug_log.h"
#include "sound/services.h"

namespace {
void LogOnce(std::atomic<bool>& done, const wchar_t* name) {
  if (!done.exchange(true)) DebugLog(std::wstring(name) + L": 아직 지원되지 않음");
}
}  // namespace

#define SOUND_PLACEHOLDER(name)         \
  static std::atomic<bool> logged{false}; \
  LogOnce(logged, name)

std::atomic<MidiOutHandle> MidiOutPort1{0};
std::atomic<MidiOutHandle> MidiOutPort2{0};
MidiSendStatsValues MidiSendStats;
EqSettingsValues EqSettings;

void ApplyCvtTones() { SOUND_PLACEHOLDER(L"ApplyCvtTones"); }
std::wstring BuildInitSoundStateScript() {
  SOUND_PLACEHOLDER(L"BuildInitSoundStateScript");
  return {};
}
std::wstring BuildMixerInitScript() {
  SOUND_PLACEHOLDER(L"BuildMixerInitScript");
  return {};
}
std::wstring BuildSoundTablePayload() {
  SOUND_PLACEHOLDER(L"BuildSoundTablePayload");
  return L"[]";
}
void CloseExternalModule() { SOUND_PLACEHOLDER(L"CloseExternalModule"); }
int CloseMidiOut(MidiOutHandle) {
  SOUND_PLACEHOLDER(L"CloseMidiOut");
  return -1;
}
void FlushDeferredSoundSaves() { SOUND_PLACEHOLDER(L"FlushDeferredSoundSaves"); }
void LoadEqConfig() { SOUND_PLACEHOLDER(L"LoadEqConfig"); }
void LoadMixerConfig() { SOUND_PLACEHOLDER(L"LoadMixerConfig"); }
void LoadPatchTable() { SOUND_PLACEHOLDER(L"LoadPatchTable"); }
void LoadSoundSel() { SOUND_PLACEHOLDER(L"LoadSoundSel"); }
void LoadSoundTable() { SOUND_PLACEHOLDER(L"LoadSoundTable"); }
void ResendChannelVolumes(const std::vector<int>&, bool) { SOUND_PLACEHOLDER(L"ResendChannelVolumes"); }
void ResendSendOffsets() { SOUND_PLACEHOLDER(L"ResendSendOffsets"); }
void ResetMixerDefaults() { SOUND_PLACEHOLDER(L"ResetMixerDefaults"); }
void SaveMixerConfig() { SOUND_PLACEHOLDER(L"SaveMixerConfig"); }
void SendChorusSetup(int, std::wstring_view) { SOUND_PLACEHOLDER(L"SendChorusSetup"); }
void SendDryDrumBassSends() { SOUND_PLACEHOLDER(L"SendDryDrumBassSends"); }
void SendEqSetup(bool) { SOUND_PLACEHOLDER(L"SendEqSetup"); }
void SendReverbSetup() { SOUND_PLACEHOLDER(L"SendReverbSetup"); }
bool SoundTableIsEmpty() {
  SOUND_PLACEHOLDER(L"SoundTableIsEmpty");
  return true;
}
void StartStopExternalClock() { SOUND_PLACEHOLDER(L"StartStopExternalClock"); }

// A plain text rule, so it works already; the device layer keeps it once it lands.
std::wstring StripControlAndTrim(std::wstring_view text) {
  if (size_t nul = text.find(L'\0'); nul != std::wstring_view::npos) text = text.substr(0, nul);
  std::wstring out;
  for (wchar_t c : text)
    if (static_cast<unsigned long>(c) >= 0x20) out.push_back(c);
  size_t b = out.find_first_not_of(L" \t\r\n");
  if (b == std::wstring::npos) return {};
  size_t e = out.find_last_not_of(L" \t\r\n");
  return out.substr(b, e - b + 1);
}
