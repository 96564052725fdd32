// The rhythm parts' sound-module operations: held-note release, channel panic, the second kit and
// the page's drum switches.
#include "sound/rhythm_parts.h"

#include <algorithm>

#include "base/player_signals.h"
#include "base/trace_log.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"
#include "sound/tone_table.h"

RhythmPartsState RhythmParts;

namespace {
std::atomic<void (*)()> g_hardPanicHook{nullptr};

bool IsEngineChannel(int c) { return c == 6 || (c >= 8 && c <= 14); }
}  // namespace

void SetHardPanicHook(void (*hook)()) { g_hardPanicHook = hook; }

void MarkCvtToneCachesEmpty() {
  auto& c = RhythmParts.CvtToneCache;
  c.msb.fill(0xFF);
  c.lsb.fill(0xFF);
  c.program.fill(0xFF);
  c.valid = true;
}

void ReleaseCvtHeldNotes(MidiOutHandle handle) {
  for (int c = 0; c < 16; ++c)
    for (auto& s : RhythmParts.CvtSoundingNotes[c]) {
      if (!s.on) continue;
      SendShortMidi(handle, PackMidi(0x80 | c, s.sent, 0));
      s.on = 0;
    }
  RhythmParts.bassNotesOn = 0;
  for (int c : {6, 8, 13, 14}) SendShortMidi(handle, PackMidi(0xB0 | c, 123, 0));
}

void PanicCvtChannels(std::initializer_list<int> channels, bool soft, bool keepRhythm) {
  if (!OpenMidiPort1()) return;
  if (!soft) {
    if (auto hook = g_hardPanicHook.load()) hook();
  }
  const bool rhythm = Player().rhythmRunning();
  if (rhythm && !soft && !keepRhythm) {
    std::string list;
    for (int c : channels)
      if (IsEngineChannel(c) && list.size() < 52) list += std::to_string(c) + ",";
    if (!list.empty()) TraceLog(L"[PANIC] CVT 소유 채널 하드리셋(CC121) 발사 - ch %s\n", list.c_str());
  }
  auto send = [&](MidiOutHandle h, int c) {
    SendShortMidi(h, PackMidi(0xB0 | c, 123, 0));
    if (!soft) {
      SendShortMidi(h, PackMidi(0xB0 | c, 121, 0));
      SendShortMidi(h, PackMidi(0xB0 | c, 64, 0));
    }
  };
  const MidiOutHandle p1 = Sound.MidiOutPort1.load();
  for (int c : channels) {
    if (c < 0 || c > 15 || (keepRhythm && rhythm && IsEngineChannel(c))) continue;
    send(p1, c);
  }
  if (const MidiOutHandle p2 = Sound.MidiOutPort2.load())
    for (int c : channels)
      if (c >= 0 && c <= 15) send(p2, c);
}

void RestoreSecondDrumKit() {
  const MidiOutHandle p1 = Sound.MidiOutPort1.load();
  if (!p1) return;
  SendShortMidi(p1, PackMidi(0xBA, 0, 0));
  SendShortMidi(p1, PackMidi(0xBA, 32, 0));
  SendShortMidi(p1, PackMidi(0xCA, Tones.StyleDrumKit2Program.load() & 0x7Fu));
  const int reverb = Tones.ChannelToneSettings[0][10][kToneReverb].load();
  SendShortMidi(p1, PackMidi(0xBA, 91, static_cast<unsigned>(reverb < 0 ? 40 : std::min(reverb, 127))));
  // The operator's own second kit goes back on top of the style's.
  const CvtToneSlotValues kit = GetCvtToneSlot(1, 0);
  if (kit.chosen && !kit.useDefault) {
    SendShortMidi(p1, PackMidi(0xBA, 0, static_cast<unsigned>(kit.bank0) & 0x7F));
    SendShortMidi(p1, PackMidi(0xBA, 32, static_cast<unsigned>(kit.bank32) & 0x7F));
    SendShortMidi(p1, PackMidi(0xCA, static_cast<unsigned>(kit.program) & 0x7F));
  }
}

void SendElectronicKit(MidiOutHandle port) {
  SendShortMidi(port, PackMidi(0xBA, 0, 0));
  SendShortMidi(port, PackMidi(0xBA, 32, 2));
  SendShortMidi(port, PackMidi(0xCA, 24));
  SendShortMidi(port, PackMidi(0xBA, 91, 95));
}

bool ToggleRhythmSubstitution(int n) {
  if (n < 1 || n > 3 || !Player().rhythmRunning()) return false;
  const MidiOutHandle p1 = Sound.MidiOutPort1.load();
  if (n == 1) {
    const bool on = !RhythmParts.SnareSubKitOn.load();
    RhythmParts.SnareSubKitOn = on;
    if (on && p1) {
      SendElectronicKit(p1);
    } else if (!on) {
      RestoreSecondDrumKit();
    }
  } else if (n == 2) {
    RhythmParts.SnareSubClapOn = !RhythmParts.SnareSubClapOn.load();
  } else {
    const bool on = !RhythmParts.SnareSubShakerOn.load();
    RhythmParts.SnareSubShakerOn = on;
    if (!on && p1) SendShortMidi(p1, PackMidi(0x8C, 54, 0));
  }
  return true;
}

std::wstring RhythmSubstitutionToast() {
  std::wstring out;
  auto add = [&](bool on, const wchar_t* name) {
    if (!on) return;
    if (!out.empty()) out += L" + ";
    out += name;
  };
  add(RhythmParts.SnareSubKitOn.load(), L"전자효과(G)");
  add(RhythmParts.SnareSubClapOn.load(), L"박수(H)");
  add(RhythmParts.SnareSubShakerOn.load(), L"찰찰이(J)");
  return out.empty() ? L"기본 소리로 복관" : out;
}
