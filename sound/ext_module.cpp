#include "sound/ext_module.h"

#include <mutex>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "sound/midi_devices.h"
#include "sound/midi_slots.h"

namespace {
std::mutex g_extStatusMu;
std::wstring g_extStatus;  // ExtModuleStatusText
}  // namespace

void SetExtModuleStatusText(std::wstring text) {
  std::lock_guard lock(g_extStatusMu);
  g_extStatus = std::move(text);
}


std::wstring GetExtModuleStatusText() {
  std::lock_guard lock(g_extStatusMu);
  return g_extStatus;
}

bool OpenExternalModule() {
  if (Sound.ExtModuleOut.load()) return true;
  if (Sound.ExtModuleOpenTried.load()) return false;
  MidiSlot& slot = ExtSlot();
  std::lock_guard lock(slot.mu);
  if (slot.value->load()) return true;
  if (Sound.ExtModuleOpenTried.load()) return false;
  std::wstring name = GetSettingText(&AppSettings::extDevice);
  if (name.empty()) {
    Sound.ExtModuleOpenTried.store(1);
    SetExtModuleStatusText(L"외부 모듈 장치가 지정되지 않았습니다");
    return false;
  }
  unsigned index = 0;
  if (!FindMidiOutDevice({name}, &index)) {
    std::wstring text = L"장치를 찾지 못했습니다 - [" + name + L"]";
    SetExtModuleStatusText(text);
    DebugLog(L"[외부모듈] " + text);
    Sound.ExtModuleOpenTried.store(1);
    return false;
  }
  int err = OpenIntoSlot(slot, index);
  if (err == plat::kMidiOk) {
    SetExtModuleStatusText(L"");
    DebugLog(L"[외부모듈] 연결 완료 - [" + name + L"]");
    return true;
  }
  std::wstring text = L"장치를 열지 못했습니다 - " + MidiOutErrorText(err) + L" [" + name + L"]";
  SetExtModuleStatusText(text);
  DebugLog(L"[외부모듈] " + text + L" (다른 프로그램이 먼저 잡고 있을 수 있습니다)");
  Sound.ExtModuleOpenTried.store(1);
  return false;
}
