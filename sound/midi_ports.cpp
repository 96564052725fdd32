// Output slots, device search and opening with the fallbacks of the three MIDI outputs.
#include "sound/midi_ports.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <system_error>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/paths.h"
#include "sound/builtin_synth.h"
#include "sound/midi_send.h"
#include "sound/ext_module.h"
#include "sound/midi_devices.h"
#include "sound/midi_slots.h"

namespace {

std::mutex g_statusMu;
std::wstring g_portStatus;  // MidiPortStatusText
bool g_port1MissingLogged = false;  // under port 1's slot lock
bool g_synthFallbackTold = false;   // under port 1's slot lock: the fallback was told once
int g_port1LastOpenError = -1;      // under port 1's slot lock

void SetPortStatus(std::wstring text) {
  std::lock_guard lock(g_statusMu);
  g_portStatus = std::move(text);
}
// All notes and sounds off, then the device closed and the slot emptied; caller holds the lock.
// A synthesizer marker is only silenced and removed.
void SilenceAndEmpty(MidiSlot& slot) {
  MidiOutHandle h = slot.value->exchange(0);
  if (slot.dev) {
    for (unsigned ch = 0; ch < 16; ++ch) {
      plat::MidiOutShortMsg(slot.dev, PackMidi(0xB0 | ch, 123, 0));
      plat::MidiOutShortMsg(slot.dev, PackMidi(0xB0 | ch, 120, 0));
    }
    plat::MidiOutClose(slot.dev);
    slot.dev = nullptr;
  } else if (IsSynthMarker(h)) {
    int base = h == BUILTIN_SYNTH_PORT2 ? 16 : 0;
    for (int ch = 0; ch < 16; ++ch) {
      SendShortToSynth(base + ch, 0xB0, 123, 0);
      SendShortToSynth(base + ch, 0xB0, 120, 0);
    }
  }
}


// The automatic search of port 1: the machine's first output port, then the usual modules.
std::vector<std::wstring> Port1FallbackNames() {
  std::vector<std::wstring> names = {L"SC-88Pro", L"SC-88",  L"SC-8850", L"SC-8820",
                                     L"Roland",   L"UM-ONE", L"USB MIDI"};
  if (std::wstring first = DefaultPortName(0); !first.empty()) names.insert(names.begin(), first);
  return names;
}

// The page's device line and the log say once that port 1 plays on the built-in synthesizer
// because no device was there. Caller holds port 1's slot lock.
void TellSynthFallback(const std::wstring& configured) {
  if (g_synthFallbackTold) return;
  g_synthFallbackTold = true;
  const std::wstring text = L"1포트: " +
                            (configured.empty() ? std::wstring(L"MIDI 출력 장치가 없어")
                                                : L"지정한 MIDI 장치 [" + configured + L"]가 없어") +
                            L" 내장음원으로 재생합니다 (사운드폰트 " + LoadedSoundFontName() + L")";
  SetPortStatus(text);
  DebugLog(L"[MIDI] " + text);
  PostScriptToPage(PageCall(L"setMidiOpenStatus", text));
}

}  // namespace

std::wstring DefaultPortName(int port) {
  int seen = 0;
  const unsigned count = plat::MidiOutDeviceCount();
  for (unsigned i = 0; i < count; ++i) {
    std::wstring name;
    // A through port only passes messages on to other programs: nothing sounds there.
    if (!plat::MidiOutDeviceName(i, &name) || name.find(L"Midi Through") != std::wstring::npos) continue;
    if (seen++ == port) return TrimBlanks(name);
  }
  return {};
}

std::wstring GetMidiPortStatusText() {
  std::lock_guard lock(g_statusMu);
  return g_portStatus;
}





bool OpenMidiPort1() {
  if (Sound.MidiOutPort1.load()) return true;
  MidiSlot& slot = Port1Slot();
  if (Settings.builtinSynth && StartBuiltInSynth()) {
    std::lock_guard lock(slot.mu);
    if (!slot.value->load()) slot.value->store(BUILTIN_SYNTH_PORT1);
    return true;
  }
  std::lock_guard lock(slot.mu);
  if (slot.value->load()) return true;
  std::wstring configured = GetSettingText(&AppSettings::port1Device);
  unsigned index = 0;
  bool found = !configured.empty() && FindMidiOutDevice({configured}, &index);
  if (!found) found = FindMidiOutDevice(Port1FallbackNames(), &index);
  if (!found) {
    // No device: the built-in synthesizer sounds instead (the settings stay as they are, so a
    // device that is there at the next start is used again).
    if (StartBuiltInSynth()) {
      slot.value->store(BUILTIN_SYNTH_PORT1);
      ClearCcCache();
      TellSynthFallback(configured);
      return true;
    }
    if (!g_port1MissingLogged) {
      g_port1MissingLogged = true;
      const std::wstring synth = GetSynthStatusText();
      SetPortStatus(L"1포트: MIDI 출력 장치를 찾지 못했습니다 (무음 상태)" +
                    (synth.empty() ? std::wstring() : L" - 내장음원도 쓸 수 없음: " + synth));
      DebugLog(L"[MIDI] 1포트 열기 실패 - 출력 장치 없음. 무음 모드로 재생합니다 (MIDI 장치가 연결돼 있는지, "
               L"ALT+0 옵션의 1포트 지정이 맞는지 확인" +
               (synth.empty() ? std::wstring() : L". 내장음원: " + synth) + L")");
    }
    return false;
  }
  int err = OpenIntoSlot(slot, index);
  if (err == plat::kMidiOk) {
    SetPortStatus(L"");
    ClearCcCache();
    return true;
  }
  if (err != g_port1LastOpenError) {
    g_port1LastOpenError = err;
    std::wstring text = MidiOutErrorText(err);
    SetPortStatus(L"1포트: 장치를 열지 못했습니다 - " + text + L" (무음 상태)");
    DebugLog(L"[MIDI] 1포트 열기 실패 - 장치는 찾았으나 열리지 않음. 오류 " + std::to_wstring(err) +
             L" (" + text + L"), 장치번호 " + std::to_wstring(index) + L", 지정이름 [" +
             (configured.empty() ? std::wstring(L"자동탐색") : configured) + L"]" +
             L" - 화면은 정상 진행하지만 소리는 나지 않습니다");
  }
  return false;
}

bool OpenMidiPort2() {
  if (Sound.MidiOutPort2.load()) return true;
  MidiSlot& slot = Port2Slot();
  if (Settings.builtinSynth && StartBuiltInSynth()) {
    std::lock_guard lock(slot.mu);
    if (!slot.value->load()) slot.value->store(BUILTIN_SYNTH_PORT2);
    return true;
  }
  if (Sound.Port2OpenTried.load()) return false;
  std::lock_guard lock(slot.mu);
  if (slot.value->load()) return true;
  if (Sound.Port2OpenTried.load()) return false;
  std::wstring configured = GetSettingText(&AppSettings::port2Device);
  unsigned index = 0;
  bool found = !configured.empty() && FindMidiOutDevice({configured}, &index);
  const std::wstring fallback = DefaultPortName(1);
  if (!found && !fallback.empty()) found = FindMidiOutDevice({fallback}, &index);
  if (!found) {
    // Port 1 plays on the synthesizer for want of a device: port 2 joins it (channels 17-32).
    if (IsSynthMarker(Sound.MidiOutPort1.load()) && StartBuiltInSynth()) {
      slot.value->store(BUILTIN_SYNTH_PORT2);
      ClearCcCache();
      return true;
    }
    DebugLog(L"[MIDI] 2포트 장치 없음 - 트랙 17~32 를 쓰는 곡은 그 파트가 소리나지 않습니다 (32채널 곡을 "
             L"쓰려면 CTRL+I 에서 2포트에 이 PC의 다른 MIDI 출력 장치를 지정하거나 내장음원을 고르세요)");
    Sound.Port2OpenTried.store(1);
    return false;
  }
  int err = OpenIntoSlot(slot, index);
  if (err == plat::kMidiOk) {
    ClearCcCache();
    return true;
  }
  std::wstring text = MidiOutErrorText(err);
  {
    std::lock_guard status(g_statusMu);
    if (g_portStatus.empty())
      g_portStatus = L"2포트: 장치를 열지 못했습니다 - " + text + L" (트랙 17~32 무음)";
  }
  DebugLog(L"[MIDI] 2포트 열기 실패 - 오류 " + std::to_wstring(err) + L" (" + text + L"), 장치번호 " +
           std::to_wstring(index) + L", 지정이름 [" +
           (configured.empty() ? fallback : configured) + L"]" +
           L" - 트랙 17~32 파트가 소리나지 않습니다");
  Sound.Port2OpenTried.store(1);
  return false;
}

MidiOutHandle GetPortHandle(int port) {
  if (port == 1 && OpenMidiPort2()) return Sound.MidiOutPort2.load();
  return Sound.MidiOutPort1.load();
}

int CloseMidiOut(MidiOutHandle handle) {
  if (IsSynthMarker(handle)) return 0;
  MidiSlot* slot = SlotOfHandle(handle);
  if (!slot) return plat::kMidiInvalidHandle;
  std::lock_guard lock(slot->mu);
  if (slot->value->load() != handle || !slot->dev) return plat::kMidiInvalidHandle;
  slot->value->store(0);
  int result = plat::MidiOutClose(slot->dev);
  slot->dev = nullptr;
  return result;
}

void CloseMidiPorts() {
  for (MidiSlot* slot : {&Port1Slot(), &Port2Slot()}) {
    std::lock_guard lock(slot->mu);
    SilenceAndEmpty(*slot);
  }
  Sound.Port2OpenTried.store(0);
}

void ApplyMidiDeviceSelection(std::wstring_view port1Name, std::wstring_view port2Name) {
  SetSettingText(&AppSettings::port1Device, StripControlAndTrim(port1Name));
  SetSettingText(&AppSettings::port2Device, StripControlAndTrim(port2Name));
  SaveAppSettings();
  CloseMidiPorts();
  DebugLog(L"MIDI 장치 선택 적용: 포트1=" + std::wstring(port1Name) + L", 포트2=" +
           std::wstring(port2Name));
}


void CloseExternalModule() {
  MidiOutHandle h = Sound.ExtModuleOut.load();
  if (h) {
    for (unsigned ch = 0; ch < 16; ++ch) SendShortMidi(h, PackMidi(0xB0 | ch, 123, 0));
    CloseMidiOut(h);
  }
  SetExtModuleStatusText(L"");
  Sound.ExtModuleOpenTried.store(0);
}

std::wstring BuildMidiDeviceList() {
  std::wstring out = L"['" + std::wstring(kBuiltInSynthDeviceName) + L"'";
  unsigned count = plat::MidiOutDeviceCount();
  for (unsigned i = 0; i < count; ++i) {
    std::wstring name;
    if (!plat::MidiOutDeviceName(i, &name)) continue;
    out += L",'" + EscapeForScript(TrimBlanks(name)) + L"'";
  }
  return out + L"]";
}

std::wstring BuildSoundFontList() {
  std::wstring out = L"[";
  bool first = true;
  for (const auto& file : SoundFontFiles()) {
    if (!first) out += L',';
    first = false;
    out += L"'" + EscapeForScript(Utf8ToWide(file.filename().string())) + L"'";
  }
  return out + L"]";
}

bool SendSysExToPort(int port, const std::vector<uint8_t>& message) {
  if (Settings.rawSound || message.empty()) return false;
  MidiOutHandle handle = 0;
  if (port == 1) {
    if (!OpenMidiPort2()) return false;
    handle = Sound.MidiOutPort2.load();
  } else {
    if (!OpenMidiPort1()) return false;
    handle = Sound.MidiOutPort1.load();
  }
  return SendLongToHandle(handle, port == 1 ? 1 : 0, message);
}
