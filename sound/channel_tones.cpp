#include "sound/channel_tones.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "base/page_script.h"
#include "base/player_signals.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "sound/midi_send.h"
#include "sound/mixer.h"

namespace {

constexpr std::wstring_view kSoundSelPath = L"<root>/system/soundsel.cfg";

std::atomic<PresetKeyWriter> presetKeyWriter{nullptr};

struct Range {
  int lo, hi;
};
constexpr Range kRanges[kToneFieldCount] = {{0, 127}, {-24, 24}, {0, 127}, {0, 127}, {0, 127}, {0, 1}, {-1, 1}};

// The channel the editor changes for a part (octave: always the melody).
PortChannel EditorChannel(int part, int context, int parameter) {
  if (parameter == kParamOctave) return {0, 0};
  switch (part) {
    case 0: return {0, 9};
    case 1: return {0, 10};
    case 2: return {0, 8};
    case 3: return context != 0 ? PortChannel{0, 6} : PortChannel{1, 0};
    case 4: return {0, 11};
    default: return {0, 0};
  }
}

bool Refused(int part, int parameter) {
  if (part == 5 || parameter == kParamComp) return true;
  if (parameter == kParamPitch && (part == 2 || part == 3 || part == 7)) return true;
  if (parameter == kParamOctave && part != 7) return true;
  return parameter < kParamVolume || parameter > kParamOctave;
}

void Cc(MidiOutHandle h, int channel, int controller, int value) {
  SendShortMidi(h, PackMidi(0xB0 | static_cast<unsigned>(channel), static_cast<unsigned>(controller),
                            static_cast<unsigned>(std::clamp(value, 0, 127))));
}

// The rhythm channel volume in effect: the operator's, or the part's default.
int RhythmVolume(int channel) { return std::clamp(DefaultRhythmVolume(channel), 0, 127); }

// Reads an integer at the start of a word the way the C scanner does; false without digits.
bool WordInt(std::string_view word, int& out) {
  size_t i = 0;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
  if (i >= word.size() || word[i] < '0' || word[i] > '9') return false;
  out = LeadingInt(word);
  return true;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\v' || line[i] == '\f')) ++i;
    size_t start = i;
    while (i < line.size() && !(line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\v' || line[i] == '\f')) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

void ParseSelLine(const std::vector<std::string_view>& w) {
  int v[7];
  if (w.size() < 9) return;
  for (int i = 0; i < 7; ++i)
    if (!WordInt(w[static_cast<size_t>(i) + 1], v[i])) return;
  const int part = v[0], context = v[1];
  if (part < 0 || part > 7 || context < 0 || context > 1 || part == 5) return;
  SetCvtToneSlot(part, context, {true, v[2] != 0, v[3], v[4], v[5], v[6], Utf8ToWide(w[8])});
}

void ParseToneLine(const std::vector<std::string_view>& w) {
  int v[9];
  if (w.size() < 7) return;
  for (int i = 0; i < 6; ++i)
    if (!WordInt(w[static_cast<size_t>(i) + 1], v[i])) return;
  const int port = v[0], channel = v[1];
  if (port < 0 || port > 1 || channel < 0 || channel > 15 || (port == 0 && channel == 12)) return;
  int filterLow = 64, comp = 0, octave = 0;
  if (w.size() > 7 && WordInt(w[7], filterLow) && (filterLow < 0 || filterLow > 127)) filterLow = 64;
  if (w.size() > 8 && WordInt(w[8], comp)) comp = comp != 0 ? 1 : 0;
  if (w.size() > 9 && WordInt(w[9], octave)) octave = std::clamp(octave, -1, 1);
  // Values outside the editor's ranges would reach the module unchecked: clamp them here.
  const int values[kToneFieldCount] = {v[2], v[3], v[4], v[5], filterLow, comp, octave};
  auto& record = Tones.ChannelToneSettings[port][channel];
  for (int f = 0; f < kToneFieldCount; ++f) record[f] = std::clamp(values[f], kRanges[f].lo, kRanges[f].hi);
}

}  // namespace

std::wstring AdjustChannelTone(std::wstring_view argument, int parameter, int delta) {
  const size_t colon = argument.find(L':');
  if (colon == std::wstring_view::npos) return {};
  const int part = LeadingInt(argument.substr(0, colon), true);
  std::wstring_view rest = argument.substr(colon + 1);
  const int context = LeadingInt(rest, true) != 0 ? 1 : 0;
  const size_t stepColon = rest.find(L':');
  if (stepColon != std::wstring_view::npos) {
    const int step = LeadingInt(rest.substr(stepColon + 1), true);
    if (step >= 1 && step <= 64) delta = delta < 0 ? -step : step;
  }
  if (part < 0 || part > 7 || Refused(part, parameter)) return {};
  const PortChannel pc = EditorChannel(part, context, parameter);
  const MidiOutHandle h = (pc.port == 0 ? Sound.MidiOutPort1 : Sound.MidiOutPort2).load();
  if (!h) return {};
  auto& t = Tones.ChannelToneSettings[pc.port][pc.channel];
  const int ch = pc.channel;
  const bool rhythmOwned = IsRhythmOwnedChannel(pc.port, ch);
  auto step = [&](int field) {
    const int v = std::clamp(t[field] + delta, kRanges[field].lo, kRanges[field].hi);
    t[field] = v;
    return v;
  };
  switch (parameter) {
    case kParamVolume:
      if (rhythmOwned) {
        const int v = std::clamp(RhythmVolume(ch) + delta, 0, 127);
        Settings.cvtVolCh[static_cast<size_t>(ch)] = v;
        Cc(h, ch, 7, ComputeOutputVolume(0, ch, v));
        StartDeferredCvtVolumeSave();
      } else {
        const int v = step(kToneVolume);
        Mixer.ChannelVolumeOverride[pc.port][ch] = static_cast<uint8_t>(v);
        Cc(h, ch, 7, ComputeOutputVolume(pc.port, ch, v));
      }
      break;
    case kParamPitch: {
      const int p = step(kTonePitch);
      if ((part == 0 || part == 1) && Tones.DrumKitChosen[part]) {
        SendDrumPitchNrpn(h, ch, {Tones.DrumKitNote[part].load()}, p);
      } else if (part == 4) {
        SendDrumPitchNrpn(h, ch, {42, 44, 46}, p);
      } else {
        Cc(h, ch, 101, 0);
        Cc(h, ch, 100, 2);
        Cc(h, ch, 6, p + 64);
        Cc(h, ch, 38, 0);
        Cc(h, ch, 101, 127);
        Cc(h, ch, 100, 127);
      }
      break;
    }
    case kParamFilter: Cc(h, ch, 74, step(kToneFilter)); break;
    case kParamReverb: Cc(h, ch, 91, step(kToneReverb)); break;
    case kParamFilterLow: {
      const int v = step(kToneFilterLow);
      Cc(h, ch, 99, 1);
      Cc(h, ch, 98, 33);
      Cc(h, ch, 6, v);
      Cc(h, ch, 99, 127);
      Cc(h, ch, 98, 127);
      break;
    }
    case kParamOctave: step(kToneOctave); break;  // the player shifts the next notes
    default: return {};
  }
  const int volume = rhythmOwned ? RhythmVolume(ch) : t[kToneVolume].load();
  return PageCall(L"updateSoundToneDisplay", part, context, volume, t[kTonePitch].load(), t[kToneFilter].load(),
                  t[kToneReverb].load(), t[kToneFilterLow].load(), t[kToneComp].load(), t[kToneOctave].load());
}

void HandleSoundToneAdjust(std::wstring_view argument, int parameter, int delta) {
  std::wstring script = AdjustChannelTone(argument, parameter, delta);
  if (script.empty()) return;
  PostScriptToPage(script);
  StartDeferredSoundSelSave();
}

std::string FormatSoundSel() {
  std::string out;
  for (int part = 0; part < 8; ++part)
    for (int ctx = 0; ctx < 2; ++ctx) {
      CvtToneSlotValues s = GetCvtToneSlot(part, ctx);
      if (!s.chosen) continue;
      std::string name = s.name.empty() ? std::string("Default") : WideToUtf8(s.name);
      std::ostringstream line;
      line << "SEL " << part << ' ' << ctx << ' ' << (s.useDefault ? 1 : 0) << ' ' << s.bank32 << ' ' << s.bank0 << ' '
           << s.program << ' ' << s.note << ' ' << name << '\n';
      out += line.str();
    }
  for (int port = 0; port < 2; ++port)
    for (int ch = 0; ch < 16; ++ch) {
      if (!ToneSettingsDifferAll(port, ch)) continue;
      out += "TONE " + std::to_string(port) + ' ' + std::to_string(ch);
      for (int f = 0; f < kToneFieldCount; ++f) out += ' ' + std::to_string(Tones.ChannelToneSettings[port][ch][f].load());
      out += '\n';
    }
  return out;
}

void ParseSoundSel(std::string_view bytes) {
  ClearCvtToneSlots();
  ForEachTextLine(bytes, [](std::string_view line) {
    std::vector<std::string_view> w = Words(line);
    if (w.empty()) return;
    if (w[0] == "SEL") ParseSelLine(w);
    else if (w[0] == "TONE") ParseToneLine(w);
  });
}

void LoadSoundSel() {
  std::optional<std::string> bytes = plat::ReadFileBytes(plat::RealPath(kSoundSelPath));
  ParseSoundSel(bytes ? std::string_view(*bytes) : std::string_view());
}

void SaveSoundSel() {
  const auto path = plat::RealPath(kSoundSelPath);
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  plat::WriteFileAtomic(path, FormatSoundSel());  // a failed write loses the change; the next one tries again
}

void SaveCvtVolumes() {
  SaveAppSettings();
  std::string list;
  for (size_t c = 0; c < 16; ++c) {
    if (c) list += ',';
    list += std::to_string(Settings.cvtVolCh[c].load());
  }
  if (PresetKeyWriter w = presetKeyWriter.load()) w("cvtVolCh", list);
}

void SetPresetKeyWriter(PresetKeyWriter writer) { presetKeyWriter = writer; }

// Never destroyed: a detached saver thread may still be asleep in one when the program exits.
DeferredSave& SoundSelSaver() {
  static DeferredSave& saver = *new DeferredSave(SaveSoundSel);
  return saver;
}

DeferredSave& CvtVolumeSaver() {
  static DeferredSave& saver = *new DeferredSave(SaveCvtVolumes);
  return saver;
}

void StartDeferredSoundSelSave() { SoundSelSaver().Request(); }
void StartDeferredCvtVolumeSave() { CvtVolumeSaver().Request(); }

void FlushDeferredSoundSaves() {
  SoundSelSaver().Flush();
  CvtVolumeSaver().Flush();
}

std::wstring BuildInitSoundStateScript() {
  struct Key {
    int part, context;
  };
  std::vector<Key> keys;
  for (int part = 0; part < 8; ++part) {
    keys.push_back({part, 0});
    if (part == 3) keys.push_back({3, 1});
  }
  std::wstring names = L"[", tones = L"[";
  for (const Key& k : keys) {
    CvtToneSlotValues s = GetCvtToneSlot(k.part, k.context);
    if (!s.chosen) continue;
    if (names.size() > 1) names += L',';
    names += L"['" + std::to_wstring(k.part) + (k.part == 3 ? L"_" + std::to_wstring(k.context) : L"") + L"','";
    AppendEscapedForScript(names, s.useDefault ? std::wstring(L"Default") : s.name);
    names += L"']";
  }
  for (const Key& k : keys) {
    const PortChannel pc = EditorChannel(k.part, k.context, kParamVolume);
    const bool rhythmOwned = IsRhythmOwnedChannel(pc.port, pc.channel);
    if (!rhythmOwned && !ToneSettingsDifferAll(pc.port, pc.channel)) continue;
    const auto& t = Tones.ChannelToneSettings[pc.port][pc.channel];
    if (tones.size() > 1) tones += L',';
    tones += L"['" + std::to_wstring(k.part) + L"_" + std::to_wstring(k.context) + L"'," +
             std::to_wstring(rhythmOwned ? RhythmVolume(pc.channel) : t[kToneVolume].load());
    for (int f = kTonePitch; f < kToneFieldCount; ++f) tones += L"," + std::to_wstring(t[f].load());
    tones += L"]";
  }
  return L"initSoundState(" + names + L"]," + tones + L"])";
}
