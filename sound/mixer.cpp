// Mixer levels, output volume computation and "mixer.cfg".
#include "sound/mixer.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/settings/song_settings.h"
#include "base/trace_log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "base/player_signals.h"
#include "sound/insertion_effect.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"


namespace {

std::atomic<bool> g_defaultsSet{false};

void FillDefaults() {
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c) {
      Mixer.MixerChannelPercent[p][c] = 100;
      Mixer.EffectiveChannelPercent[p][c] = 100;
      Mixer.SongChannelVolume[p][c] = 100;
      Mixer.SongReverbSend[p][c] = 40;
    }
  for (int c = 0; c < 16; ++c) {
    Mixer.RhythmChannelPercent[c] = 100;
    Mixer.EffectiveRhythmPercent[c] = 100;
  }
  for (auto& m : Mixer.MixerGroupMaster) m = 100;
}

// The defaults hold before the first ResetMixerDefaults too.
struct InitialValues {
  InitialValues() {
    FillDefaults();
    for (auto& port : Mixer.PatchVolumePercent)
      for (auto& v : port) v = 100;
  }
} g_initialValues;

bool ValidPort(int port) { return port == 0 || port == 1; }
bool ValidChannel(int channel) { return channel >= 0 && channel < 16; }

int LevelCap() {
  int cap = Settings.mixerMaxPct > 0 ? Settings.mixerMaxPct.load() : 125;
  return std::min(cap, 150);
}

int CappedLevel(int master, int percent) {
  int m = master * percent / 100;
  return m < 0 ? 0 : std::min(m, LevelCap());
}

int MixedVolume(int port, int channel) {
  return std::min(127, Mixer.SongChannelVolume[port][channel] * Mixer.EffectiveChannelPercent[port][channel] / 100);
}

// Recompute, store and send one song channel after its level changed.
void ApplyChannelLevel(int port, int channel) {
  UpdateChannelLevel(port, channel);
  Mixer.ChannelVolumeOverride[port][channel] = static_cast<uint8_t>(MixedVolume(port, channel));
  if (IsRhythmOwnedChannel(port, channel)) return;
  MidiOutHandle h = GetPortHandle(port);
  if (h)
    SendShortMidi(h, PackMidi(0xB0 | channel, 7,
                              ComputeOutputVolume(port, channel, Mixer.ChannelVolumeOverride[port][channel])));
}

void ResendEfxLevel() {
  int level = ScaledEfxLevel();
  if (level >= 0) SendEfxLevel(level);
}

// Whole decimal integer words only.
bool ReadInts(std::istringstream& in, int* out, int n) {
  for (int i = 0; i < n; ++i) {
    std::string word;
    if (!(in >> word)) return false;
    char* end = nullptr;
    long v = std::strtol(word.c_str(), &end, 10);
    if (end == word.c_str() || *end != '\0' || v < -1000000 || v > 1000000) return false;
    out[i] = static_cast<int>(v);
  }
  return true;
}

}  // namespace

void ResetMixerDefaults() {
  if (g_defaultsSet.exchange(true)) return;
  FillDefaults();
}

bool IsDrumGroupChannel(int port, int channel) {
  return (port == 0 && channel == 8) || (channel >= 9 && channel <= 12);
}

bool IsRhythmOwnedChannel(int port, int channel) {
  return port == 0 && Player().rhythmRunning() && (channel == 6 || (channel >= 8 && channel <= 14));
}

bool IsCvtOwnedChannel(int port, int channel) { return IsRhythmOwnedChannel(port, channel); }

bool IsRhythmOwnedChannelDuringSetup(int port, int channel) {
  if (!Player().waitingForDownbeat() && !Player().setupUnderRhythm()) return false;
  return IsRhythmOwnedChannel(port, channel);
}

void UpdateChannelLevel(int port, int channel) {
  if (!ValidPort(port) || !ValidChannel(channel)) return;
  int group = IsDrumGroupChannel(port, channel) ? 1 : 0;
  Mixer.EffectiveChannelPercent[port][channel] =
      CappedLevel(Mixer.MixerGroupMaster[group], Mixer.MixerChannelPercent[port][channel]);
}

void UpdateRhythmChannelLevel(int channel) {
  if (!ValidChannel(channel)) return;
  Mixer.EffectiveRhythmPercent[channel] = CappedLevel(Mixer.MixerGroupMaster[2], Mixer.RhythmChannelPercent[channel]);
}

void RecomputeAllLevels() {
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c) UpdateChannelLevel(p, c);
  for (int c = 0; c < 16; ++c) UpdateRhythmChannelLevel(c);
}

int AddSendOffset(int value, int offset) {
  if (Settings.rawSound) return value;
  return std::clamp(value + offset, 0, 127);
}

bool AnySendOffsetSet() {
  if (Settings.rawSound) return false;
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c)
      if (Mixer.ReverbSendOffset[p][c] != 0 || Mixer.ChorusSendOffset[p][c] != 0) return true;
  return false;
}

uint32_t HashSendTables() {
  uint32_t h = 0;
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c)
      h = h * 31u + static_cast<uint32_t>(7 * Mixer.ReverbSendOffset[p][c] + Mixer.ChorusSendOffset[p][c]);
  return h;
}

int ComputeOutputVolume(int port, int channel, int base) {
  bool inRange = ValidPort(port) && ValidChannel(channel);
  int v = base;
  if (inRange && Mixer.PatchVolumePercent[port][channel] != 100) v = v * Mixer.PatchVolumePercent[port][channel] / 100;
  v = v * Settings.volAllUser / 64;
  if (!IsDrumGroupChannel(port, channel)) v = v * Settings.volOrchUser / 64;
  if (base > 0) {
    bool rhythmOwned = IsRhythmOwnedChannel(port, channel);
    int g = SongSettings.SongGainPercent;
    if (rhythmOwned && !Player().songPlaying()) g = 100;
    if (g != 100) v = v * g / 100;
    if (Settings.outTrim != 100) v = v * Settings.outTrim / 100;
    int boost = Settings.saxBoost;
    if (!rhythmOwned && Settings.saxExpr && boost != 100) {
      bool melody = (port == 0 && channel == 0) ||
                    (Settings.saxLayer && port == 1 && (channel == 4 || channel == 6 || channel == 15));
      if (melody) {
        v = v * boost / 100;
      } else if (boost > 100) {
        int d = (100 - boost) * 35 / 100;
        int factor = d < -50 ? 50 : 100 + d;
        v = v * factor / 100;
      }
    }
  }
  v = std::clamp(v, 0, 127);
  if (base > 0 && v < 1) v = 1;
  return v;
}

int DefaultRhythmVolume(int channel) {
  if (ValidChannel(channel) && Settings.cvtVolCh[static_cast<size_t>(channel)] >= 0)
    return Settings.cvtVolCh[static_cast<size_t>(channel)];
  if (channel == 8) return Settings.cvtVolBass;
  if (channel == 6) return Settings.cvtVolGuitar;
  if (channel >= 9 && channel <= 12) return Settings.cvtVolDrum;
  return Settings.cvtVolFx;
}

void ResendChannelVolumes(const std::vector<int>& channels, bool skipRhythmOwned) {
  if (!OpenMidiPort1()) return;
  for (int c : channels) {
    if (!ValidChannel(c)) continue;
    bool owned = IsRhythmOwnedChannel(0, c);
    MidiOutHandle p1 = Sound.MidiOutPort1.load();
    if (!(skipRhythmOwned && owned) && p1) {
      int base;
      if (Player().rhythmRunning() && (c == 6 || (c >= 8 && c <= 14)))
        base = DefaultRhythmVolume(c);
      else if (Mixer.ChannelVolumeOverride[0][c] != 0)
        base = static_cast<int>(Mixer.ChannelVolumeOverride[0][c]);
      else
        base = Mixer.SongChannelVolume[0][c] * Mixer.EffectiveChannelPercent[0][c] / 100;
      const int v = ComputeOutputVolume(0, c, base);
      if (owned)
        TraceLog(L"[VOL] ch%-2u = %3d  (리듬소유, 기준볼륨 %d, 믹서 %d%%)\n", static_cast<unsigned>(c), v,
                 static_cast<int>(Mixer.SongChannelVolume[0][c]), static_cast<int>(Mixer.EffectiveChannelPercent[0][c]));
      SendShortMidi(p1, PackMidi(0xB0 | c, 7, v));
    }
    if (MidiOutHandle p2 = Sound.MidiOutPort2.load()) {
      int base = Mixer.ChannelVolumeOverride[1][c] != 0
                     ? static_cast<int>(Mixer.ChannelVolumeOverride[1][c])
                     : Mixer.SongChannelVolume[1][c] * Mixer.EffectiveChannelPercent[1][c] / 100;
      SendShortMidi(p2, PackMidi(0xB0 | c, 7, ComputeOutputVolume(1, c, base)));
    }
  }
}

void FadeOutVolumes() {
  for (int i = 1; i <= 6; ++i) {
    double factor = 1.0 - i / 6.0;
    for (int c = 0; c < 16; ++c) {
      int b0 = static_cast<int>(Mixer.ChannelVolumeOverride[0][c] * factor);
      int b1 = static_cast<int>(Mixer.ChannelVolumeOverride[1][c] * factor);
      if (MidiOutHandle p1 = Sound.MidiOutPort1.load())
        SendShortMidi(p1, PackMidi(0xB0 | c, 7, ComputeOutputVolume(0, c, b0)));
      if (MidiOutHandle p2 = Sound.MidiOutPort2.load())
        SendShortMidi(p2, PackMidi(0xB0 | c, 7, ComputeOutputVolume(1, c, b1)));
    }
    plat::SleepMs(26);
  }
}

void LoadMixerConfig() {
  ResetMixerDefaults();
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c) {
      Mixer.MixerChannelPercent[p][c] = 100;
      Mixer.ReverbSendOffset[p][c] = 0;
      Mixer.ChorusSendOffset[p][c] = 0;
    }
  for (auto& r : Mixer.RhythmChannelPercent) r = 100;
  for (auto& m : Mixer.MixerGroupMaster) m = 100;
  if (auto bytes = plat::ReadFileBytes(plat::RealPath(L"<root>/system/mixer.cfg"))) {
    int maxPct = Settings.mixerMaxPct;
    std::istringstream file(*bytes);
    std::string line;
    while (std::getline(file, line)) {
      std::istringstream in(line);
      std::string kind;
      if (!(in >> kind)) continue;
      int v[3];
      if (kind == "M" && ReadInts(in, v, 3) && ValidPort(v[0]) && ValidChannel(v[1])) {
        Mixer.MixerChannelPercent[v[0]][v[1]] = std::clamp(v[2], 0, std::max(0, maxPct));
      } else if (kind == "CV" && ReadInts(in, v, 2) && ValidChannel(v[0])) {
        Mixer.RhythmChannelPercent[v[0]] = std::clamp(v[1], 0, std::max(0, maxPct));
      } else if (kind == "MM" && ReadInts(in, v, 2) && v[0] >= 0 && v[0] <= 2) {
        Mixer.MixerGroupMaster[v[0]] = std::clamp(v[1], 0, 150);
      } else if ((kind == "RV" || kind == "CH") && ReadInts(in, v, 3) && ValidPort(v[0]) &&
                 ValidChannel(v[1])) {
        (kind == "RV" ? Mixer.ReverbSendOffset : Mixer.ChorusSendOffset)[v[0]][v[1]] = std::clamp(v[2], -40, 40);
      }
    }
  }
  RecomputeAllLevels();
}

void SaveMixerConfig() {
  std::string out;
  auto line = [&out](const char* kind, std::initializer_list<int> values) {
    out += kind;
    for (int v : values) out += ' ' + std::to_string(v);
    out += '\n';
  };
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c)
      if (Mixer.MixerChannelPercent[p][c] != 100) line("M", {p, c, Mixer.MixerChannelPercent[p][c]});
  for (int c = 0; c < 16; ++c)
    if (Mixer.RhythmChannelPercent[c] != 100) line("CV", {c, Mixer.RhythmChannelPercent[c]});
  for (int g = 0; g < 3; ++g)
    if (Mixer.MixerGroupMaster[g] != 100) line("MM", {g, Mixer.MixerGroupMaster[g]});
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c)
      if (Mixer.ReverbSendOffset[p][c] != 0) line("RV", {p, c, Mixer.ReverbSendOffset[p][c]});
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c)
      if (Mixer.ChorusSendOffset[p][c] != 0) line("CH", {p, c, Mixer.ChorusSendOffset[p][c]});
  plat::WriteFileAtomic(plat::RealPath(L"<root>/system/mixer.cfg"), out);
}

std::wstring BuildMixerInitScript() {
  auto list = [](auto&& get, int n) {
    std::wstring s = L"[";
    for (int i = 0; i < n; ++i) {
      if (i) s += L',';
      s += std::to_wstring(get(i));
    }
    return s + L"]";
  };
  return L"initMixerFromApp(" +
         list([](int i) { return Mixer.MixerChannelPercent[i / 16][i % 16].load(); }, 32) + L"," +
         list([](int i) { return Mixer.RhythmChannelPercent[i].load(); }, 16) + L"," +
         list([](int i) { return Mixer.ReverbSendOffset[i / 16][i % 16].load(); }, 32) + L"," +
         list([](int i) { return Mixer.ChorusSendOffset[i / 16][i % 16].load(); }, 32) + L"," +
         list([](int i) { return Mixer.MixerGroupMaster[i].load(); }, 3) + L")";
}

void SetMixerChannelPercent(int port, int channel, int percent) {
  if (!ValidPort(port) || !ValidChannel(channel)) return;
  ResetMixerDefaults();
  Mixer.MixerChannelPercent[port][channel] = std::clamp(percent, 0, 150);
  ApplyChannelLevel(port, channel);
  if (port == 0 && channel == 15) ResendEfxLevel();
  SaveMixerConfig();
}

void SetRhythmChannelPercent(int channel, int percent) {
  if (!ValidChannel(channel)) return;
  ResetMixerDefaults();
  Mixer.RhythmChannelPercent[channel] = std::clamp(percent, 0, 150);
  UpdateRhythmChannelLevel(channel);
  SaveMixerConfig();
}

void SetMixerGroupMaster(int group, int percent) {
  if (group < 0 || group > 2) return;
  ResetMixerDefaults();
  Mixer.MixerGroupMaster[group] = std::clamp(percent, 0, 150);
  if (group == 2) {
    for (int c = 0; c < 16; ++c) UpdateRhythmChannelLevel(c);
  } else {
    for (int p = 0; p < 2; ++p)
      for (int c = 0; c < 16; ++c)
        if ((IsDrumGroupChannel(p, c) ? 1 : 0) == group) ApplyChannelLevel(p, c);
    if (group == 0) ResendEfxLevel();
  }
  SaveMixerConfig();
}

void SetChannelSendOffset(bool chorus, int port, int channel, int offset) {
  if (!ValidPort(port) || !ValidChannel(channel)) return;
  (chorus ? Mixer.ChorusSendOffset : Mixer.ReverbSendOffset)[port][channel] = std::clamp(offset, -40, 40);
  SendChannelEffectSends(port, channel);
}

std::wstring AdjustUserVolume(int which, int delta) {
  SettingInt& target = which == 1 ? Settings.volOrchUser : Settings.volAllUser;
  target = std::clamp(target + delta, 0, 127);
  std::vector<int> all(16);
  for (int c = 0; c < 16; ++c) all[static_cast<size_t>(c)] = c;
  ResendChannelVolumes(all, false);
  return PageCall(L"updateGlobalVolDisplay", Settings.volAllUser.load(), Settings.volOrchUser.load());
}

std::wstring BuildMixerVolumesScript() {
  std::vector<int> volumes(32);
  for (int i = 0; i < 32; ++i) volumes[i] = Mixer.ChannelVolumeOverride[i / 16][i % 16].load();
  return PageCall(L"setMixerVolsFromApp", volumes);
}

std::wstring BuildChannelActivityScript() {
  bool rhythm = Player().rhythmRunning() != 0;
  bool active = (Player().songPlaying() && !Player().songPaused()) || rhythm;
  uint32_t now = plat::TimeGetTime();
  std::vector<int> sounding(32);
  for (int i = 0; i < 32; ++i) {
    uint32_t t = Mixer.LastNoteOnTime[i / 16][i % 16].load();
    sounding[i] = active && t != 0 && now - t < 250 ? 1 : 0;
  }
  return PageCall(L"setMixerActFromApp", sounding, rhythm ? 1 : 0);
}

