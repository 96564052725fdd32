// GS module setups: SysEx files, parameter messages and the per-song setup.
#include "sound/module_setup.h"

#include <algorithm>
#include <map>
#include <sstream>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "base/player_signals.h"
#include "songs/song_model.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"
#include "sound/tone_table.h"

EqSettingsValues EqSettings;

namespace {

std::atomic<bool> g_proSetSent{false};

void SendAllBothPorts(const std::vector<SysExMessage>& messages) {
  for (const auto& m : messages) SendSysExBothPorts(m);
}

std::wstring ModelOfPort(int port) {
  return GetSettingText(port == 1 ? &AppSettings::port2Module : &AppSettings::port1Module);
}

}  // namespace

bool IsKnownModuleModel(std::wstring_view model) {
  return std::find(kModuleModels.begin(), kModuleModels.end(), model) != kModuleModels.end();
}

void SendSyxFileToPort(std::wstring_view fileName, int port) {
  if (Settings.rawSound) return;
  const auto messages = ReadSyxFile(fileName);
  if (messages.empty()) return;
  if (!(port == 1 ? OpenMidiPort2() : OpenMidiPort1())) return;  // no port: nothing to send to
  // A message the device refuses (logged by the sender) is skipped; the rest of the setup still
  // goes.
  for (const auto& m : messages) SendSysExToPort(port, m);
}

void SendModulePreset(int port, std::wstring_view model) {
  if (!IsKnownModuleModel(model)) {
    DebugLog(L"[모듈] 알 수 없는 모듈 모델이라 프리셋을 보내지 않습니다 - [" + std::wstring(model) + L"]");
    return;
  }
  SendSyxFileToPort(L"Module_Port" + std::to_wstring(port + 1) + L"_" + std::wstring(model) + L".syx",
                    port);
  if (Settings.moduleTonePreset) SendChorusSetup(port, model);
  if (Settings.use8850NativeMap) SendNativeMapBank();
}

void SendGsParam(uint8_t a2, uint8_t a3, const std::vector<uint8_t>& data) {
  SendSysExBothPorts(BuildGsDt1(0x40, a2, a3, data));
}

void SendGsParamToPort(int port, uint8_t a2, uint8_t a3, const std::vector<uint8_t>& data) {
  if (Settings.rawSound) return;
  SendSysExToPort(port, BuildGsDt1(0x40, a2, a3, data));
}

void SendReverbSetup() {
  if (Settings.reverbShapeOn) {
    SendGsParam(0x01, 0x30, {static_cast<uint8_t>(std::clamp<int>(Settings.reverbMacro, 0, 7))});
    SendGsParam(0x01, 0x32, {static_cast<uint8_t>(std::clamp<int>(Settings.reverbPreLpf, 0, 7))});
    SendGsParam(0x01, 0x34, {static_cast<uint8_t>(std::clamp<int>(Settings.reverbTime, 0, 127))});
  }
  if (Settings.reverbLevel >= 0)
    SendGsParam(0x01, 0x33, {static_cast<uint8_t>(std::min<int>(Settings.reverbLevel, 127))});
}

void SendChorusSetup(int port, std::wstring_view model) {
  int defLevel = 30, defDepth = 64;
  if (model == L"CS88Pro") {
    defLevel = 40;
    defDepth = 72;
  } else if (model == L"SC8820") {
    defLevel = 32;
  }
  int macro = Settings.chorusMacro, level = Settings.chorusLevel, depth = Settings.chorusDepth;
  SendGsParamToPort(port, 0x01, 0x38, {static_cast<uint8_t>(macro >= 0 ? macro : 2)});
  SendGsParamToPort(port, 0x01, 0x3A, {static_cast<uint8_t>(level >= 0 ? level : defLevel)});
  SendGsParamToPort(port, 0x01, 0x3C, {static_cast<uint8_t>(depth >= 0 ? depth : defDepth)});
}

void SendChorusSetupAllPorts() {
  if (!Settings.moduleTonePreset) return;
  SendChorusSetup(0, ModelOfPort(0));
  if (Sound.MidiOutPort2.load()) SendChorusSetup(1, ModelOfPort(1));
}

bool IsSc8850Port(int port, int channel) {
  if (Settings.rawSound || !Settings.use8850NativeMap) return false;
  if (ModelOfPort(port) != L"SC8850") return false;
  return port == 1 || channel < 9 || channel > 12;
}

void SendNativeMapBank() {
  if (Settings.rawSound || !Settings.use8850NativeMap) return;
  for (int port = 0; port < 2; ++port) {
    if (ModelOfPort(port) != L"SC8850") continue;
    if (!(port == 0 ? OpenMidiPort1() : OpenMidiPort2())) continue;
    MidiOutHandle h = (port == 0 ? Sound.MidiOutPort1 : Sound.MidiOutPort2).load();
    bool rhythm = Player().rhythmRunning() != 0;
    for (int ch = 0; ch < 16; ++ch) {
      if (port == 0 && ch >= 9 && ch <= 12) continue;
      if (port == 0 && rhythm && (ch == 6 || (ch >= 8 && ch <= 14))) continue;
      SendShortMidi(h, PackMidi(0xB0 | ch, 32, 4));
    }
  }
}

void ApplyOutputMode() {
  int mode = Settings.outputMode;
  SendAllBothPorts(GetSyxMessages(L"Output_" + std::to_wstring(mode) + L"out.syx"));
  if (mode == 4) {
    SendGsParamToPort(0, 0x49, 0x21, {2});
    SendGsParamToPort(0, 0x40, 0x21, {3});
    SendGsParamToPort(1, 0x49, 0x21, {0});
    SendGsParamToPort(1, 0x40, 0x21, {0});
    DebugLog(L"4OUT 적용: 1포트 베이스기타->OUTPUT-2L, 베이스드럼->OUTPUT-2R (40 4x 21, 1포트만)");
  } else {
    SendGsParam(0x49, 0x21, {0});
    SendGsParam(0x40, 0x21, {0});
    DebugLog(L"2OUT 적용: 베이스기타/베이스드럼 OUTPUT-1 원복 전송(40 4x 21, 양 포트)");
  }
}

void SendEqSetup(bool force) {
  EqSettingsValues eq = EqSettings;
  if (!force && eq.lowGain == 64 && eq.highGain == 64) return;
  SendGsParam(0x02, 0x00, {static_cast<uint8_t>(eq.lowFreq)});
  SendGsParam(0x02, 0x01, {static_cast<uint8_t>(eq.lowGain)});
  SendGsParam(0x02, 0x02, {static_cast<uint8_t>(eq.highFreq)});
  SendGsParam(0x02, 0x03, {static_cast<uint8_t>(eq.highGain)});
}

void SaveEqConfig() {
  EqSettingsValues eq = EqSettings;
  std::string line = "EQ " + std::to_string(eq.lowFreq) + " " + std::to_string(eq.lowGain) + " " +
                     std::to_string(eq.highFreq) + " " + std::to_string(eq.highGain) + "\n";
  plat::WriteFileAtomic(plat::RealPath(L"<root>/system/eq.cfg"), line);
}

void LoadEqConfig() {
  auto bytes = plat::ReadFileBytes(plat::RealPath(L"<root>/system/eq.cfg"));
  if (!bytes) return;
  std::istringstream in(bytes->substr(0, bytes->find('\n')));
  std::string word;
  int v[4];
  if (!(in >> word) || word != "EQ" || !(in >> v[0] >> v[1] >> v[2] >> v[3])) return;
  EqSettings = EqSettingsValues{v[0] != 0 ? 1 : 0, std::clamp(v[1], 52, 76), v[2] != 0 ? 1 : 0,
                           std::clamp(v[3], 52, 76)};
}

void SetEqFromPage(int lowFreq, int lowGain, int highFreq, int highGain) {
  EqSettings = EqSettingsValues{lowFreq != 0 ? 1 : 0, std::clamp(lowGain, 52, 76), highFreq != 0 ? 1 : 0,
                           std::clamp(highGain, 52, 76)};
  SendEqSetup(true);
  SaveEqConfig();
}

void SendProSetOnce(bool applyTones) {
  if (Settings.rawSound || g_proSetSent.load() || !OpenMidiPort1()) return;
  SendAllBothPorts(GetSyxMessages(L"A-ProSet.syx"));
  g_proSetSent.store(true);
  if (applyTones) {
    plat::SleepMs(60);
    ApplyCvtTones();
  }
}

void SendSongModuleSetupFor(const SongEfxScan& song) {
  if (Settings.rawSound) {
    {
      std::lock_guard lock(ModuleReplayList.mu);
      ModuleReplayList.list.clear();
      ModuleReplayList.base = 0;
      ModuleReplayList.songEfxActive = false;
    }
    Sound.SongEfxLevel.store(-1);
    DebugLogAsync(L"[생소리] 곡 셋업을 보내지 않습니다 - 곡 파일 SysEx 만 모듈로 갑니다(앱 이펙트/음색 보정 "
                  L"전부 끔, 볼륨 계열과 음정/템포는 평소대로)");
    return;
  }
  if (!g_proSetSent.load()) {
    SendProSetOnce(false);
    if (g_proSetSent.load() && (Player().rhythmRunning() || Player().fillPlaying())) {
      plat::SleepMs(60);
      Player().resendRhythmSetup();
    }
  }
  {
    std::lock_guard lock(ModuleReplayList.mu);
    ModuleReplayList.list.clear();
    ModuleReplayList.base = 0;
    ModuleReplayList.songEfxActive = false;
  }
  const auto& insSet = GetSyxMessages(L"C-InsSet.syx");
  SendAllBothPorts(insSet);
  {
    std::lock_guard lock(ModuleReplayList.mu);
    ModuleReplayList.list.insert(ModuleReplayList.list.end(), insSet.begin(), insSet.end());
  }
  ChooseSongInsertionEffect(song);
  ApplyCvtTones();
  MidiOutHandle p1 = Sound.MidiOutPort1.load();
  bool underRhythm = Player().rhythmRunning() &&
                     (Player().waitingForDownbeat() || Player().setupUnderRhythm());
  if (Sound.SnareSubKitOn.load() && p1 && !underRhythm) {
    SendShortMidi(p1, PackMidi(0xBA, 0, 0));
    SendShortMidi(p1, PackMidi(0xBA, 32, 2));
    SendShortMidi(p1, PackMidi(0xCA, 24));
    SendShortMidi(p1, PackMidi(0xBA, 91, 95));
  }
  SendReverbSetup();
  if (Settings.outputMode == 4) {
    SendGsParamToPort(0, 0x49, 0x21, {2});
    SendGsParamToPort(0, 0x40, 0x21, {3});
  }
  SendEqSetup(false);
  if (Settings.moduleTonePreset) {
    SendChorusSetup(0, ModelOfPort(0));
    if (Sound.MidiOutPort2.load()) SendChorusSetup(1, ModelOfPort(1));
  }
  SendNativeMapBank();
}

void SendRhythmModuleSetup() {
  if (!OpenMidiPort1()) return;
  SendProSetOnce(false);
  SendEqSetup(false);
  SendReverbSetup();
  SendChorusSetupAllPorts();
  SendNativeMapBank();
  if (Settings.outputMode == 4) {
    SendGsParamToPort(0, 0x49, 0x21, {2});
    SendGsParamToPort(0, 0x40, 0x21, {3});
  }
}

void SendSongModuleSetup() {
  std::shared_ptr<const SongModel> song = LoadedSong();
  SendSongModuleSetupFor(ScanSongForEfx(song->SongEventList, [&](const SongEvent& e) { return song->SysExOf(e); }));
}
