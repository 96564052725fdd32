#include "ui/sound_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "platform/paths.h"
#include "playback/sax_melody.h"
#include "playback/services.h"
#include "songs/song_model.h"
#include "sound/services.h"
#include "ui/presets.h"

namespace {

std::wstring ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring() : m.substr(colon + 1);
}

bool Bool(const std::wstring& m) { return LeadingInt(ArgOf(m)) != 0; }
std::string Num(int v) { return std::to_string(v); }

bool PlayingOrRhythm() { return PlaybackState.isPlaying.load() != 0 || CvtState.rhythm.load() != 0; }

void PostGuarded(const std::wstring& code) { PostScriptToPage(GuardedScript(code + L";")); }

void ToggleMute(std::atomic<uint8_t>& flag, const std::vector<int>& channels, const std::wstring& display) {
  const bool on = flag.load() == 0;
  flag = on ? 1 : 0;
  if (on) AllNotesOffChannels(channels);
  PostGuarded(display + (on ? L"true" : L"false") + L")");
}

// Stores a switch of the sax options and mirrors it into the base preset.
void SetSaxSwitch(SettingInt& setting, const char* key, int value) {
  setting = value;
  SaveAppSettings();
  SetPresetAppKey(key, Num(value));
}

void ReopenPorts() {
  CloseMidiPorts();
  Sound.Port2OpenTried = 0;
  OpenMidiPort1();
  OpenMidiPort2();
}

std::wstring SynthReason() {
  std::wstring reason = GetSynthStatusText();
  return reason.empty() ? std::wstring(L"원인 불명(system/debug_log.txt 확인)") : reason;
}

}  // namespace

std::vector<int> ScanColonInts(std::wstring_view argument, std::vector<int> values) {
  size_t pos = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) {
      if (pos >= argument.size() || argument[pos] != L':') break;
      ++pos;
    }
    size_t p = pos;
    while (p < argument.size() && (argument[p] == L' ' || argument[p] == L'\t')) ++p;
    size_t sign = p;
    if (p < argument.size() && (argument[p] == L'+' || argument[p] == L'-')) ++p;
    size_t digits = p;
    while (p < argument.size() && argument[p] >= L'0' && argument[p] <= L'9') ++p;
    if (p == digits) break;
    values[i] = LeadingInt(argument.substr(sign, p - sign));
    pos = p;
  }
  return values;
}

// ---- mixer, volume and channel sound ----

void HandleToggleMelodyMute(const std::wstring&) {
  ToggleMute(PlaybackState.MelodyMute, {0}, L"updateMelodyMuteDisplay(");
}
void HandleToggleSolo1Mute(const std::wstring&) {
  ToggleMute(PlaybackState.Solo1Mute, {1, 2}, L"updateSoloMuteDisplay(1,");
}
void HandleToggleSolo2Mute(const std::wstring&) {
  ToggleMute(PlaybackState.Solo2Mute, {3, 4, 15}, L"updateSoloMuteDisplay(2,");
}

void HandleApplySound(const std::wstring& m) {
  const std::wstring a = ArgOf(m);
  const size_t c1 = a.find(L':');
  if (c1 == std::wstring::npos) return;
  const size_t c2 = a.find(L':', c1 + 1);
  if (c2 == std::wstring::npos) return;
  const int part = LeadingInt(std::wstring_view(a).substr(0, c1), true);
  const bool variant = LeadingInt(std::wstring_view(a).substr(c1 + 1, c2 - c1 - 1), true) != 0;
  const int index = LeadingInt(std::wstring_view(a).substr(c2 + 1), true);
  if (ApplySoundSelection(part, variant, index) && part >= 0 && part <= 7) StartDeferredSoundSelSave();
}

void HandleSoundVolUp(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamVolume, 5); }
void HandleSoundVolDown(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamVolume, -5); }
void HandleSoundPitchUp(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamPitch, 1); }
void HandleSoundPitchDown(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamPitch, -1); }
void HandleSoundFilterUp(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamFilter, 5); }
void HandleSoundFilterDown(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamFilter, -5); }
void HandleSoundReverbUp(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamReverb, 5); }
void HandleSoundReverbDown(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamReverb, -5); }
void HandleSoundFilterLowUp(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamFilterLow, 5); }
void HandleSoundFilterLowDown(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamFilterLow, -5); }
void HandleSoundOctUp(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamOctave, 1); }
void HandleSoundOctDown(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamOctave, -1); }
void HandleSoundCompUp(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamComp, 1); }
void HandleSoundCompDown(const std::wstring& m) { HandleSoundToneAdjust(ArgOf(m), kParamComp, -1); }

void HandleSetBuiltin(const std::wstring& m) {
  const bool on = Bool(m);
  Settings.builtinSynth = on ? 1 : 0;
  SaveAppSettings();
  if (on && Sound.BuiltInSynthState.load() == -1) Sound.BuiltInSynthState = 0;
  if (PlayingOrRhythm()) {
    PostScriptToPage(PageCall(L"setBuiltinSynthDisplay", on ? 1 : 0));
    return;
  }
  ReopenPorts();
  if (!on || IsSynthMarker(Sound.MidiOutPort1.load())) {
    PostScriptToPage(PageCall(L"setBuiltinSynthDisplay", Settings.builtinSynth ? 1 : 0));
    return;
  }
  Settings.builtinSynth = 0;
  SaveAppSettings();
  PostGuarded(L"setBuiltinSynthDisplay(0); alert('내장음원을 열지 못했습니다.\\n\\n원인: " + EscapeForScript(SynthReason()) +
              L"\\n\\n" + EscapeForScript(plat::ShownPath(L"<root>/synth")) +
              L" 폴더에 사운드폰트(.sf2)를 넣거나 timgm6mb-soundfont 패키지를 설치해주세요 (FluidSynth 는 "
              L"libfluidsynth3 패키지).')");
}

void HandleSetChPct(const std::wstring& m) {
  auto v = ScanColonInts(ArgOf(m), {0, 0, 100});
  SetMixerChannelPercent(v[0], v[1], v[2]);
}

void HandleSetCvtPct(const std::wstring& m) {
  auto v = ScanColonInts(ArgOf(m), {0, 0, 100});
  SetRhythmChannelPercent(v[1], v[2]);
}

void HandleSetMixMaster(const std::wstring& m) {
  auto v = ScanColonInts(ArgOf(m), {0, 100});
  SetMixerGroupMaster(v[0], v[1]);
}

void HandleVolGlobal(const std::wstring& m) {
  auto v = ScanColonInts(ArgOf(m), {0, 0});
  PostScriptToPage(AdjustUserVolume(v[0], v[1]));
}

void HandleVolGlobalSave(const std::wstring&) { SaveAppSettings(); }

void HandleSongVolSave(const std::wstring&) {
  const int song = PlaybackState.CurrentSongId.load();
  if (song < 1) {
    PostAlertToPage(L"곡을 먼저 거신 뒤에 눌러 주세요.");
    return;
  }
  const double exact = SongSettings.SongGainPercent.load() * Settings.volAllUser.load() / 64.0;
  const int gain = std::clamp(static_cast<int>(std::lround(exact)), 25, 400);
  SongSettings.SongGainMap[song] = gain;
  SaveSongGains();
  SongSettings.SongGainManual = 1;
  Settings.volAllUser = 64;
  SongSettings.SongGainPercent = gain;
  SaveAppSettings();
  ResendChannelVolumes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, false);
  PostScriptToPage(PageCall(L"updateGlobalVolDisplay", Settings.volAllUser.load(), Settings.volOrchUser.load()));
  const int level = GainPercentToLevel(gain);
  ShowPageToast(L"이 곡 볼륨 저장  " + std::to_wstring(song) + L"번  " + (level >= 0 ? L"+" : L"-") +
                std::to_wstring(std::abs(level) / 10) + L"." + std::to_wstring(std::abs(level) % 10) + L"dB");
  DebugLog(L"[곡음량] ALT+V 저장 " + std::to_wstring(song) + L" = " + std::to_wstring(gain) + L"%");
}

void HandleSongVolClear(const std::wstring&) {
  const int song = PlaybackState.CurrentSongId.load();
  if (song < 1 || SongSettings.SongGainMap.erase(song) == 0) return;
  SaveSongGains();
  const auto loaded = LoadedSong();
  UpdateCurrentSongGain(song, loaded ? loaded->SongLoudness : kUnknownLoudness);
  ResendChannelVolumes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, false);
  ShowPageToast(L"이 곡 볼륨 지움 - 자동으로 되돌림 (" + std::to_wstring(SongSettings.SongGainPercent.load()) + L"%)");
  DebugLog(L"[곡음량] ALT+SHIFT+V 지움 " + std::to_wstring(song));
}

void HandleRequestChVols(const std::wstring&) { PostScriptToPage(BuildMixerVolumesScript()); }
void HandleRequestChAct(const std::wstring&) { PostScriptToPage(BuildChannelActivityScript()); }

// ---- output devices, modules and effects ----

void HandleOpenMidiDeviceSelect(const std::wstring&) {
  const bool synth = Settings.builtinSynth != 0;
  const std::wstring p1 = synth ? std::wstring(kBuiltInSynthDeviceName) : GetSettingText(&AppSettings::port1Device);
  const std::wstring p2 = synth ? std::wstring(kBuiltInSynthDeviceName) : GetSettingText(&AppSettings::port2Device);
  std::wstring font = LoadedSoundFontName();
  if (font.empty()) font = GetSettingText(&AppSettings::synthSf2);
  const std::wstring list = BuildMidiDeviceList(), fonts = BuildSoundFontList();
  PostScriptToPage(PageCall(L"showMidiDeviceSelect", ScriptLiteral{list}, p1, p2, ScriptLiteral{fonts}, font));
}

bool IsSelectableSoundFont(std::wstring_view name) {
  if (name.empty() || name.find_first_of(L"/\\:") != std::wstring_view::npos || name == L"." || name == L"..")
    return false;
  for (const auto& file : SoundFontFiles())
    if (file.filename().wstring() == name) return true;
  return false;
}

void HandleSelectMidiDevices(const std::wstring& m) {
  const std::wstring a = ArgOf(m);
  const size_t bar = a.find(L'|');
  const std::wstring port1 = a.substr(0, bar);
  std::wstring port2, font;
  bool fontGiven = false;
  if (bar != std::wstring::npos) {
    const std::wstring rest = a.substr(bar + 1);
    const size_t bar2 = rest.find(L'|');
    if (bar2 != std::wstring::npos) {
      font = StripControlAndTrim(std::wstring_view(rest).substr(bar2 + 1));
      fontGiven = !font.empty();
      port2 = rest.substr(0, bar2);
    } else {
      port2 = rest;
    }
  }
  if (fontGiven && font != GetSettingText(&AppSettings::synthSf2)) {
    // Only a SoundFont of the synth folder: a path from the page must not reach the file system.
    if (!IsSelectableSoundFont(font)) {
      DebugLog(L"[MIDI] 사운드폰트 선택 무시 - synth 폴더의 파일이 아님: " + font);
    } else {
      SetSettingText(&AppSettings::synthSf2, font);
      if (!SwapSoundfont(font))
        PostAlertToPage(L"사운드폰트를 바꾸지 못했습니다. 프로그램을 다시 시작하면 선택한 폰트로 뜹니다.\n선택: " + font);
    }
  }
  if (port1 == kBuiltInSynthDeviceName || port2 == kBuiltInSynthDeviceName) {
    if (Sound.BuiltInSynthState.load() == -1) Sound.BuiltInSynthState = 0;
    if (!StartBuiltInSynth()) {
      PostScriptToPage(PageCall(L"setBuiltinSynthDisplay", 0));
      PostAlertToPage(L"내장음원을 열지 못했습니다.\n원인: " + SynthReason());
      return;
    }
    Settings.builtinSynth = 1;
    SaveAppSettings();
    const bool busy = PlayingOrRhythm();
    if (!busy) ReopenPorts();
    PostScriptToPage(PageCall(L"setBuiltinSynthDisplay", 1));
    PostAlertToPage(std::wstring(L"내장음원(FluidSynth)으로 설정했습니다.\n포트1(채널1~16)/포트2(채널17~32) 모두 내장음원이 소리냅니다.") +
                    (busy ? L"\n(재생 중이라 정지 후 다음 곡부터 적용)" : L""));
    return;
  }
  if (Settings.builtinSynth) {
    Settings.builtinSynth = 0;
    PostScriptToPage(PageCall(L"setBuiltinSynthDisplay", 0));
  }
  ApplyMidiDeviceSelection(port1, port2);
  PostAlertToPage(L"MIDI 출력 장치를 설정했습니다.\n포트1: " + (port1.empty() ? std::wstring(L"(자동)") : port1) +
                  L"\n포트2: " + (port2.empty() ? std::wstring(L"(자동)") : port2));
}

void HandleMidiStatus(const std::wstring&) {
  std::wstring text;
  if (!OpenMidiPort1()) {
    text = GetMidiPortStatusText();
    if (text.empty()) text = L"1포트: MIDI 출력이 열려 있지 않습니다 (무음 상태)";
  }
  PostScriptToPage(PageCall(L"setMidiOpenStatus", text));
}

void HandleSetModule(const std::wstring& m) {
  const std::wstring a = ArgOf(m);
  const size_t colon = a.find(L':');
  if (colon == std::wstring::npos) return;
  const int port = LeadingInt(std::wstring_view(a).substr(0, colon));
  const std::wstring name = a.substr(colon + 1);
  SetSettingText(port == 1 ? &AppSettings::port2Module : &AppSettings::port1Module, name);
  SaveAppSettings();
  SendModulePreset(port, name);
}

void HandleSetModuleTone(const std::wstring& m) {
  Settings.moduleTonePreset = Bool(m) ? 1 : 0;
  SaveAppSettings();
  if (Settings.moduleTonePreset && PlaybackState.isPlaying.load()) SendChorusSetupAllPorts();
}

void HandleSetNativeMap(const std::wstring& m) {
  Settings.use8850NativeMap = Bool(m) ? 1 : 0;
  SaveAppSettings();
  if (Settings.use8850NativeMap && PlaybackState.isPlaying.load()) SendNativeMapBank();
}

void HandleSetOutput(const std::wstring& m) {
  Settings.outputMode = LeadingInt(ArgOf(m));
  SaveAppSettings();
  ApplyOutputMode();
}

void HandleSoundStateReq(const std::wstring&) { PostGuarded(BuildInitSoundStateScript()); }

void HandleSetReverbLv(const std::wstring& m) {
  const int v = LeadingInt(ArgOf(m));
  Settings.reverbLevel = v < -1 ? -1 : std::min(v, 127);
  SaveAppSettings();
  if (Settings.reverbLevel >= 0) SendGsParam(0x01, 0x33, {static_cast<uint8_t>(Settings.reverbLevel.load())});
}

void HandleSetReverbShape(const std::wstring& m) {
  const std::wstring a = ArgOf(m);
  const std::vector<std::wstring> f = SplitWide(a, L':');
  const int on = LeadingInt(f[0]);
  int macro = Settings.reverbMacro, time = Settings.reverbTime, lpf = Settings.reverbPreLpf;
  if (f.size() > 1) macro = LeadingInt(f[1]);
  if (f.size() > 2) time = LeadingInt(f[2]);
  if (f.size() > 3) lpf = LeadingInt(f[3]);
  Settings.reverbShapeOn = on != 0 ? 1 : 0;
  if (macro >= 0 && macro <= 7) Settings.reverbMacro = macro;
  if (time >= 0 && time <= 127) Settings.reverbTime = time;
  if (lpf >= 0 && lpf <= 7) Settings.reverbPreLpf = lpf;
  SaveAppSettings();
  SendReverbSetup();
}

void HandleSetChorus(const std::wstring& m) {
  auto v = ScanColonInts(ArgOf(m), {-1, -1, -1});
  if (v[0] >= -1 && v[0] <= 7) Settings.chorusMacro = v[0];
  if (v[1] >= -1 && v[1] <= 127) Settings.chorusLevel = v[1];
  if (v[2] >= -1 && v[2] <= 127) Settings.chorusDepth = v[2];
  SaveAppSettings();
  SendChorusSetupAllPorts();
}

void HandleSetEq(const std::wstring& m) {
  auto v = ScanColonInts(ArgOf(m), {0, 64, 0, 64});
  SetEqFromPage(v[0], v[1], v[2], v[3]);
}

void HandleSetChSend(const std::wstring& m) {
  auto v = ScanColonInts(ArgOf(m), {0, 0, 0});
  SetChannelSendOffset(m.size() > 7 && m[7] == L'C', v[0], v[1], v[2]);
}

void HandleSaveMixerFx(const std::wstring&) { SaveMixerConfig(); }

void HandleSetSaxBend(const std::wstring& m) {
  SetSaxSwitch(Settings.saxBend, "saxBend", Bool(m) ? 1 : 0);
  if (!Settings.saxBend && OpenMidiPort1()) SendShortMidi(Sound.MidiOutPort1.load(), PackMidi(0xE0, 0, 0x40));
}

void HandleSetSaxBreath(const std::wstring& m) {
  SetSaxSwitch(Settings.saxBreath, "saxBreath", Bool(m) ? 1 : 0);
  if (!Settings.saxBreath && OpenMidiPort1()) SendShortMidi(Sound.MidiOutPort1.load(), PackMidi(0xB0, 11, 127));
}

void HandleSetSaxGate(const std::wstring& m) {
  SetSaxSwitch(Settings.saxGate, "saxGate", std::clamp(LeadingInt(ArgOf(m)), 70, 100));
}

void HandleSetSaxInsFx(const std::wstring& m) {
  SetSaxSwitch(Settings.saxInsFx, "saxInsFx", Bool(m) ? 1 : 0);
  DebugLog(std::wstring(L"[색소폰] 솔로 이펙트 ") + (Settings.saxInsFx ? L"켬" : L"끔") + L" (다음 음부터 반영)");
}

void HandleSetSaxInsLv(const std::wstring& m) {
  SetSaxSwitch(Settings.saxInsLv, "saxInsLv", std::clamp(LeadingInt(ArgOf(m)), 60, 127));
  if (Settings.saxInsFx && Settings.saxExpr) SendSysExBothPorts(BuildEfxLevelSysEx(Settings.saxInsLv));
}

void HandleSetSaxBoost(const std::wstring& m) {
  SetSaxSwitch(Settings.saxBoost, "saxBoost", std::clamp(LeadingInt(ArgOf(m)), 100, 300));
  ResendChannelVolumes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, false);
  DebugLog(L"[색소폰] 강조 " + std::to_wstring(Settings.saxBoost.load()) + L"% (멜로디 올림 / 반주 " +
           std::to_wstring(SaxBoostPercent()) + L"% 로 내림)");
}

void HandleSetSaxLayer(const std::wstring& m) {
  SetSaxSwitch(Settings.saxLayer, "saxLayer", Bool(m) ? 1 : 0);
  DebugLog(std::wstring(L"[색소폰] 겹쳐 불기 ") + (Settings.saxLayer ? L"켬 - 2포트 ch5(디튠)+ch7(옥타브 아래)" : L"끔"));
}

void HandleSetSaxExpr(const std::wstring& m) {
  SetSaxSwitch(Settings.saxExpr, "saxExpr", Bool(m) ? 1 : 0);
  if (!Settings.saxExpr && OpenMidiPort1()) SendShortMidi(Sound.MidiOutPort1.load(), PackMidi(0xB0, 1, 0));
  DebugLog(std::wstring(L"[색소폰] 멜로디 표현 ") + (Settings.saxExpr ? L"켬" : L"끔") +
           L" (다음 음부터 반영 · 음색은 ALT+F4 멜로디에서 색소폰으로 고르세요)");
}

void HandleSetRawSound(const std::wstring& m) {
  Settings.rawSound = Bool(m) ? 1 : 0;
  SaveAppSettings();
  DebugLog(std::wstring(L"[생소리] ") +
           (Settings.rawSound ? L"켬 - 앱 이펙트/음색 보정을 보내지 않습니다" : L"끔 - 평소 동작으로 돌아갑니다") +
           L" (곡을 다시 틀어야 정확히 반영됩니다)");
}

void HandleSetCcDedup(const std::wstring& m) {
  Settings.ccDedupOn = Bool(m) ? 1 : 0;
  ClearCcCache();
  SaveAppSettings();
}

// ---- external module ----

void HandleExtList(const std::wstring&) { PostScriptToPage(BuildExtDeviceListScript()); }
void HandleExtApply(const std::wstring& m) { PostScriptToPage(ApplyExternalModuleSettings(ArgOf(m))); }
void HandleExtPanic(const std::wstring&) { AllSoundOffAllPorts(); }
