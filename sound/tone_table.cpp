#include "sound/tone_table.h"

#include <algorithm>
#include <cstdlib>

#include "base/page_script.h"
#include "base/player_signals.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"
#include "sound/mixer.h"

ToneTableState Tones;

ToneTableState::ToneTableState() {
  for (auto& port : ChannelToneSettings)
    for (auto& channel : port)
      for (int f = 0; f < kToneFieldCount; ++f) channel[f] = kToneDefaults[f];
}

namespace {

std::mutex tableLock;
std::vector<SoundTableEntry> soundTable;

bool ValidPart(int part) { return part >= 0 && part <= 7; }
bool ValidPortChannel(int port, int channel) { return port >= 0 && port <= 1 && channel >= 0 && channel <= 15; }

MidiOutHandle OpenPortHandle(int port) { return (port == 0 ? Sound.MidiOutPort1 : Sound.MidiOutPort2).load(); }

void Cc(MidiOutHandle h, int channel, int controller, int value) {
  SendShortMidi(h, PackMidi(0xB0 | static_cast<unsigned>(channel), static_cast<unsigned>(controller),
                            static_cast<unsigned>(std::clamp(value, 0, 127))));
}

void Program(MidiOutHandle h, int channel, int program) {
  SendShortMidi(h, PackMidi(0xC0 | static_cast<unsigned>(channel), static_cast<unsigned>(program & 127)));
}

// Reads a decimal integer the way the C runtime's scanner does; false when there is none.
bool ReadInt(std::string_view& s, int& out) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n' || s[i] == '\v' || s[i] == '\f')) ++i;
  size_t start = i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = i;
  long long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (v < 10'000'000'000LL) v = v * 10 + (s[i] - '0');
    ++i;
  }
  if (i == digits) return false;
  if (s[start] == '-') v = -v;
  out = static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
  s.remove_prefix(i);
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

bool ParseTableLine(std::string_view line, SoundTableEntry& e) {
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  if (line.empty() || line.front() == ';') return false;
  size_t end = 0;
  while (end < line.size() && !IsBlank(line[end])) ++end;
  e.name = Utf8ToWide(line.substr(0, end));
  line.remove_prefix(end);
  int* fields[7] = {&e.type, &e.reserved1, &e.bank32, &e.bank0, &e.program, &e.note, &e.reserved2};
  for (int* f : fields)
    if (!ReadInt(line, *f)) return false;
  return !e.name.empty();
}

bool IsDefaultName(std::wstring_view name) { return name == L"Default"; }

// The channel held back while a song is set up under the running rhythm.
bool HeldBack(int port, int channel) { return IsRhythmOwnedChannelDuringSetup(port, channel); }

ToneTableState::InitialTone& InitialToneOf(int table, int port, int channel) {
  return Tones.InitialTones[table][port * 16 + channel];
}

}  // namespace

std::vector<SoundTableEntry> ParseSoundTable(std::string_view bytes) {
  std::vector<SoundTableEntry> out;
  ForEachTextLine(bytes, [&out](std::string_view line) {
    SoundTableEntry e;
    if (ParseTableLine(line, e)) out.push_back(std::move(e));
  });
  return out;
}

void LoadSoundTable() {
  std::vector<SoundTableEntry> table;
  if (auto bytes = plat::ReadFileBytes(plat::RealPath(L"<root>/system/SOUNDTBL.CFG"))) table = ParseSoundTable(*bytes);
  std::lock_guard lock(tableLock);
  soundTable = std::move(table);
}

bool SoundTableIsEmpty() {
  std::lock_guard lock(tableLock);
  return soundTable.empty();
}

size_t SoundTableSize() {
  std::lock_guard lock(tableLock);
  return soundTable.size();
}

std::vector<SoundTableEntry> SoundTableSnapshot() {
  std::lock_guard lock(tableLock);
  return soundTable;
}

std::wstring BuildSoundTablePayload() {
  std::wstring out = L"[";
  bool first = true;
  for (const auto& e : SoundTableSnapshot()) {
    if (!first) out += L',';
    first = false;
    out += L"{name:'";
    AppendEscapedForScript(out, e.name);
    out += L"',type:" + std::to_wstring(e.type) + L",bank32:" + std::to_wstring(e.bank32) + L",bank0:" +
           std::to_wstring(e.bank0) + L",patch:" + std::to_wstring(e.program) + L",note:" + std::to_wstring(e.note) + L"}";
  }
  return out + L"]";
}

PortChannel CvtPartChannel(int part, bool rhythmContext) {
  switch (part) {
    case 0: return {0, 9};
    case 1: return {0, 10};
    case 2: return {0, 8};
    case 3: return rhythmContext ? PortChannel{0, 6} : PortChannel{1, 0};
    case 4: return {0, 11};
    case 5: return {0, 12};
    default: return {0, 0};
  }
}

int SlotContext(int part, bool rhythmContext) { return part == 3 && rhythmContext ? 1 : 0; }

CvtToneSlotValues GetCvtToneSlot(int part, int context) {
  CvtToneSlotValues v;
  if (!ValidPart(part) || context < 0 || context > 1) return v;
  auto& s = Tones.CvtToneSlots[part][context];
  v.chosen = s.chosen != 0;
  v.useDefault = s.useDefault != 0;
  v.bank32 = s.bank32;
  v.bank0 = s.bank0;
  v.program = s.program;
  v.note = s.note;
  std::lock_guard lock(Tones.nameLock);
  v.name = s.name;
  return v;
}

SoundTableEntry SlotEntry(const CvtToneSlotValues& slot) {
  SoundTableEntry e;
  e.name = slot.useDefault ? L"Default" : slot.name;
  e.bank32 = slot.bank32;
  e.bank0 = slot.bank0;
  e.program = slot.program;
  e.note = slot.note;
  return e;
}

void SetCvtToneSlot(int part, int context, const CvtToneSlotValues& v) {
  if (!ValidPart(part) || context < 0 || context > 1) return;
  auto& s = Tones.CvtToneSlots[part][context];
  s.bank32 = v.bank32;
  s.bank0 = v.bank0;
  s.program = v.program;
  s.note = v.note;
  {
    std::lock_guard lock(Tones.nameLock);
    s.name = v.name;
  }
  s.useDefault = v.useDefault ? 1 : 0;
  s.chosen = v.chosen ? 1 : 0;
}

void ClearCvtToneSlots() {
  for (int p = 0; p < 8; ++p)
    for (int c = 0; c < 2; ++c) SetCvtToneSlot(p, c, {});
}

bool ToneSettingsChanged(int port, int channel) {
  if (!ValidPortChannel(port, channel)) return false;
  const auto& t = Tones.ChannelToneSettings[port][channel];
  for (int f = kToneVolume; f <= kToneFilterLow; ++f)
    if (t[f] != kToneDefaults[f]) return true;
  return false;
}

bool ToneSettingsDifferAll(int port, int channel) {
  if (!ValidPortChannel(port, channel)) return false;
  const auto& t = Tones.ChannelToneSettings[port][channel];
  for (int f = 0; f < kToneFieldCount; ++f)
    if (t[f] != kToneDefaults[f]) return true;
  return false;
}

void ResetToneSettings() {
  for (auto& port : Tones.ChannelToneSettings)
    for (auto& channel : port)
      for (int f = 0; f < kToneFieldCount; ++f) channel[f] = kToneDefaults[f];
}

void ClearInitialTones(int table) {
  if (table < 0 || table > 1) return;
  for (auto& t : Tones.InitialTones[table]) t.known = 0;
}

void SetInitialTone(int table, int port, int channel, bool hasBank, int msb, int lsb, int program) {
  if (table < 0 || table > 1 || !ValidPortChannel(port, channel)) return;
  auto& t = InitialToneOf(table, port, channel);
  t.hasBank = hasBank ? 1 : 0;
  t.msb = static_cast<uint8_t>(msb & 127);
  t.lsb = static_cast<uint8_t>(lsb & 127);
  t.program = static_cast<uint8_t>(program & 127);
  t.known = 1;
}

void SendCvtPartTone(int part, bool rhythmContext, const SoundTableEntry& entry, bool force) {
  if (part == 5) return;
  const PortChannel pc = CvtPartChannel(part, rhythmContext);
  const MidiOutHandle h = OpenPortHandle(pc.port);
  if (!h) return;
  if (!force && HeldBack(pc.port, pc.channel)) return;
  const bool isDefault = IsDefaultName(entry.name);
  const int ch = pc.channel;
  if (!isDefault || entry.bank32 != 0 || entry.bank0 != 0 || entry.program != 0) {
    Cc(h, ch, 0, entry.bank0 & 127);
    Cc(h, ch, 32, entry.bank32 & 127);
    Program(h, ch, entry.program);
  } else {
    const auto& init = InitialToneOf(rhythmContext ? 1 : 0, pc.port, ch);
    if (init.known) {
      if (init.hasBank) {
        Cc(h, ch, 0, init.msb);
        Cc(h, ch, 32, init.lsb);
      }
      Program(h, ch, init.program);
    } else {
      const bool bass = pc.port == 0 && ch == 8;
      Cc(h, ch, 0, 0);
      Cc(h, ch, 32, bass ? 3 : 0);
      Program(h, ch, bass ? 33 : 0);
    }
  }
  if (part == 0 || part == 1) {
    Tones.DrumKitNote[part] = entry.note;
    Tones.DrumKitChosen[part] = isDefault ? 0 : 1;
  }
}

bool ApplySoundSelection(int part, bool rhythmContext, int index) {
  std::vector<SoundTableEntry> table = SoundTableSnapshot();
  if (index < 0 || static_cast<size_t>(index) >= table.size()) return false;
  const SoundTableEntry& e = table[static_cast<size_t>(index)];
  SendCvtPartTone(part, rhythmContext, e, false);
  const PortChannel pc = CvtPartChannel(part, rhythmContext);
  if (ToneSettingsChanged(pc.port, pc.channel)) SendChannelToneSettings(pc.port, pc.channel);
  if (ValidPart(part))
    SetCvtToneSlot(part, SlotContext(part, rhythmContext),
                   {true, IsDefaultName(e.name), e.bank32, e.bank0, e.program, e.note, e.name});
  return true;
}

void ApplyCvtTones() {
  if (Settings.rawSound != 0) return;
  for (int part = 0; part < 8; ++part)
    for (int ctx = 0; ctx < 2; ++ctx) {
      CvtToneSlotValues s = GetCvtToneSlot(part, ctx);
      if (!s.chosen) continue;
      const PortChannel pc = CvtPartChannel(part, ctx != 0);
      if (IsRhythmOwnedChannel(pc.port, pc.channel)) continue;
      SendCvtPartTone(part, ctx != 0, SlotEntry(s), false);
    }
  for (int port = 0; port < 2; ++port)
    for (int ch = 0; ch < 16; ++ch)
      if (ToneSettingsChanged(port, ch) && !IsRhythmOwnedChannel(port, ch)) SendChannelToneSettings(port, ch);
}

void SendDrumPitchNrpn(uintptr_t handle, int channel, const std::vector<int>& notes, int pitch) {
  for (int note : notes) {
    Cc(handle, channel, 99, 24);
    Cc(handle, channel, 98, note);
    Cc(handle, channel, 6, pitch + 64);
    Cc(handle, channel, 99, 127);
    Cc(handle, channel, 98, 127);
  }
}

void SendChannelToneSettings(int port, int channel) {
  if (!ValidPortChannel(port, channel)) return;
  const MidiOutHandle h = OpenPortHandle(port);
  if (!h || HeldBack(port, channel)) return;
  const auto& t = Tones.ChannelToneSettings[port][channel];
  int base;
  if (IsRhythmOwnedChannel(port, channel)) {
    base = DefaultRhythmVolume(channel);
  } else if (Mixer.ChannelVolumeOverride[port][channel] != 0) {
    base = Mixer.ChannelVolumeOverride[port][channel];
  } else {
    base = std::clamp(Mixer.SongChannelVolume[port][channel] * Mixer.EffectiveChannelPercent[port][channel] / 100, 0, 127);
  }
  Cc(h, channel, 7, ComputeOutputVolume(port, channel, base));
  const int pitch = t[kTonePitch];
  if (port == 0 && (channel == 9 || channel == 10) && Tones.DrumKitChosen[channel - 9]) {
    SendDrumPitchNrpn(h, channel, {Tones.DrumKitNote[channel - 9].load()}, pitch);
  } else if (port == 0 && channel == 11) {
    if (pitch != 0) SendDrumPitchNrpn(h, channel, {42, 44, 46}, pitch);
  } else if (port == 0 && channel == 12) {
    if (pitch != 0) SendDrumPitchNrpn(h, channel, {41, 43, 45, 47, 48, 50}, pitch);
  } else {
    Cc(h, channel, 101, 0);
    Cc(h, channel, 100, 2);
    Cc(h, channel, 6, pitch + 64);
    Cc(h, channel, 38, 0);
    Cc(h, channel, 101, 127);
    Cc(h, channel, 100, 127);
  }
  Cc(h, channel, 74, t[kToneFilter]);
  const bool dry = Settings.rawSound == 0 && Settings.dryDrumBass != 0 && port == 0 &&
                   (channel == 8 || channel == 9 || channel == 11 || channel == 12);
  Cc(h, channel, 91, dry ? 0 : t[kToneReverb].load());
  if (t[kToneFilterLow] != 64) {
    Cc(h, channel, 99, 1);
    Cc(h, channel, 98, 33);
    Cc(h, channel, 6, t[kToneFilterLow]);
    Cc(h, channel, 99, 127);
    Cc(h, channel, 98, 127);
  }
}

void ResendSendOffsets() {
  for (int port = 0; port < 2; ++port)
    for (int ch = 0; ch < 16; ++ch)
      if (Mixer.ReverbSendOffset[port][ch] != 0 || Mixer.ChorusSendOffset[port][ch] != 0) SendChannelEffectSends(port, ch);
}

void SendDryDrumBassSends() {
  if (Settings.rawSound != 0 || Settings.dryDrumBass == 0) return;
  const MidiOutHandle h = Sound.MidiOutPort1.load();
  if (!h) return;
  for (int ch : {8, 9, 11, 12}) {
    Cc(h, ch, 91, 0);
    Cc(h, ch, 93, 0);
  }
}

namespace {
// A slot chosen with a tone of its own (not "Default").
bool UserTone(int part) {
  const auto& s = Tones.CvtToneSlots[part][0];
  return s.chosen && !s.useDefault;
}
}  // namespace

int GetCvtBassProgram() {
  const auto& s = Tones.CvtToneSlots[2][0];
  if (!s.chosen) return 33;
  const int program = s.program & 127;
  if (!s.useDefault) return program;
  return program > 0 ? program : 33;
}

bool IsUserBassToneSet() { return UserTone(2); }
bool IsUserSaxToneSet() { return UserTone(7); }
int UserSaxProgram() { return IsUserSaxToneSet() ? Tones.CvtToneSlots[7][0].program & 127 : 65; }

bool IsUserDrumKitSet(int channel) {
  if (channel == 9) return UserTone(0);
  if (channel == 10) return UserTone(1);
  return false;
}

int UserDrumKitProgram(int channel) { return Tones.CvtToneSlots[channel == 9 ? 0 : 1][0].program & 127; }

int DrumNoteOverride(int port, int channel, int note) {
  if (port != 0 || (channel != 9 && channel != 10) || !Tones.DrumKitChosen[channel - 9]) return note;
  if (channel == 10) {
    for (int tom : {41, 43, 45, 47, 48, 50})
      if (note == tom) return note;
  }
  return Tones.DrumKitNote[channel - 9] & 127;
}

int MelodyOctaveShift() { return std::clamp(Tones.ChannelToneSettings[0][0][kToneOctave].load(), -1, 1); }

void SendChannelEffectSends(int port, int channel) {
  if (!ValidPortChannel(port, channel)) return;
  const MidiOutHandle h = OpenPortHandle(port);
  if (!h || HeldBack(port, channel)) return;
  const bool raw = Settings.rawSound != 0;
  if (!raw && Settings.dryDrumBass != 0 && port == 0 && (channel == 8 || channel == 9 || channel == 11 || channel == 12)) {
    Cc(h, channel, 91, 0);
    Cc(h, channel, 93, 0);
    return;
  }
  const bool keepReverb = port == 0 && channel == 10 &&
                          (Tones.ChannelToneSettings[0][10][kToneReverb] != 40 || Sound.SnareSubKitOn.load() != 0);
  if (!keepReverb)
    Cc(h, channel, 91, Mixer.SongReverbSend[port][channel] + (raw ? 0 : Mixer.ReverbSendOffset[port][channel].load()));
  Cc(h, channel, 93, Mixer.SongChorusSend[port][channel] + (raw ? 0 : Mixer.ChorusSendOffset[port][channel].load()));
}

void AllNotesOffChannels(const std::vector<int>& channels) {
  if (!OpenMidiPort1()) return;
  const MidiOutHandle h = Sound.MidiOutPort1.load();
  for (int c : channels)
    if (c >= 0 && c <= 15) Cc(h, c, 123, 0);
}
