// Sending style events: tone choices, chord following, ranges, drum switches and levels.
#include "playback/rhythm_sender.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <optional>

#include "base/player_signals.h"
#include "base/settings/app_settings.h"
#include "base/trace_log.h"
#include "platform/clock.h"
#include "playback/services.h"
#include "sound/midi_send.h"
#include "sound/mixer_state.h"
#include "sound/services.h"
#include "sound/rhythm_parts.h"
#include "sound/send_trace.h"
#include "sound/tone_table.h"

namespace {

void DefaultOutput(MidiOutHandle h, uint32_t m) { SendShortMidi(h, m); }

// The bass trace: while the volume watch is open, and every 500 ms at most while the rhythm plays
// alone or waits for a song's downbeat.
std::atomic<uint32_t> g_lastBassTrace{0};

bool VolumeWatchOpen(uint32_t now) {
  const uint32_t until = Sound.VolumeTraceUntil.load();
  return until != 0 && static_cast<int32_t>(until - now) > 0;
}

void TraceBassOn(int note, int velocity) {
  const uint32_t now = plat::TimeGetTime();
  const PlayerSignals& p = Player();
  const bool alone = !p.songPlaying() || p.waitingForDownbeat();
  if (!VolumeWatchOpen(now)) {
    if (!alone || now - g_lastBassTrace.load() < 500) return;
  }
  g_lastBassTrace = now;
  static const wchar_t* const kNames[] = {L"C", L"C#", L"D", L"D#", L"E", L"F", L"F#", L"G", L"G#", L"A", L"A#", L"B"};
  const double factor = CvtState.CvtTempoFactor.load();
  TraceLog(L"[BASS] +%5ums %ls ON  note=%u(%ls%d) vel=%u  songRef=%d 바닥=%d  켜진수=%d mult=%.2f\n",
           now - VolumeTraceOpenedAt(), p.songPlaying() ? L"곡합류" : L"단독", static_cast<unsigned>(note),
           kNames[note % 12], note / 12 - 1, static_cast<unsigned>(velocity), -1,
           std::max<int>(Settings.cvtBassLow, Settings.cvtBassLowSolo), RhythmParts.bassNotesOn,
           factor > 0 ? factor : 1.0);
}
CurrentChordValue DefaultChord() {
  const PlayerSignals& p = Player();
  return CurrentChord({p.songPlaying() && !p.waitingForDownbeat(), p.songTick(), p.currentKey()});
}
std::atomic<void (*)(MidiOutHandle, uint32_t)> g_output{DefaultOutput};
std::atomic<CurrentChordValue (*)()> g_chord{DefaultChord};

void Out(MidiOutHandle h, uint32_t m) { g_output.load()(h, m); }

int RaiseToAtLeast(int note, int low) { return note < low ? note + 12 * ((low - note + 11) / 12) : note; }
int LowerToAtMost(int note, int high) { return note > high ? note - 12 * ((note - high + 11) / 12) : note; }

void EnsureCacheValid() {
  if (!RhythmParts.CvtToneCache.valid) MarkCvtToneCachesEmpty();
}

// The operator's tone for an engine channel: its part's slot, chosen with a tone of its own (not
// "Default"). Channel 6 is the second guitar's rhythm slot, 8 the bass, 9 and 10 the kits, 11 the
// hi-hat.
std::optional<CvtToneSlotValues> UserTone(int ch) {
  int part = 0;
  switch (ch) {
    case 6: part = 3; break;
    case 8: part = 2; break;
    case 9: part = 0; break;
    case 10: part = 1; break;
    case 11: part = 4; break;
    default: return std::nullopt;
  }
  CvtToneSlotValues slot = GetCvtToneSlot(part, SlotContext(part, true));
  if (!slot.chosen || slot.useDefault) return std::nullopt;
  return slot;
}

void SendController(MidiOutHandle port, const StyleEvent& e) {
  const int ch = e.channel & 15;
  if (e.data1 != 0 && e.data1 != 32) {
    Out(port, PackMidi(0xB0 | ch, e.data1, e.data2));
    return;
  }
  const bool msb = e.data1 == 0;
  int value = e.data2;
  const wchar_t* label = L"스타일";
  if (ch == 10 && RhythmParts.SnareSubKitOn.load()) {
    value = msb ? 0 : 2;
    label = L"전자효과킷";
  } else if (const auto user = UserTone(ch)) {
    value = (msb ? user->bank0 : user->bank32) & 0x7F;
    label = L"사용자선택";
  } else if (ch == 8) {
    value = msb ? 0 : 3;
    label = L"슬랩고정";
  }
  EnsureCacheValid();
  uint8_t& cached = msb ? RhythmParts.CvtToneCache.msb[ch] : RhythmParts.CvtToneCache.lsb[ch];
  if (cached == value) return;
  cached = static_cast<uint8_t>(value);
  Out(port, PackMidi(0xB0 | ch, e.data1, value));
  TraceLog(L"[SND] ch%-2u Bank%ls = %u  (%ls, 스타일 %u)\n", unsigned(ch), msb ? L"MSB" : L"LSB", unsigned(value), label,
           unsigned{e.data2});
}

void SendProgram(MidiOutHandle port, const StyleEvent& e) {
  const int ch = e.channel & 15;
  int program = e.data1;
  if (ch == 10) Tones.StyleDrumKit2Program = static_cast<uint8_t>(e.data1 & 0x7F);
  if (ch == 10 && RhythmParts.SnareSubKitOn.load()) program = 24;
  else if (const auto user = UserTone(ch)) program = user->program;
  else if (ch == 8) program = 33;
  program &= 0x7F;
  EnsureCacheValid();
  uint8_t& cached = RhythmParts.CvtToneCache.program[ch];
  if (cached == program) return;
  cached = static_cast<uint8_t>(program);
  Out(port, PackMidi(0xC0 | ch, program));
  TraceLog(L"[SND] ch%-2u PROG = %u  (스타일 %u)\n", unsigned(ch), unsigned(program), unsigned{e.data1});
}

void SendNoteOff(MidiOutHandle port, const StyleEvent& e) {
  const int ch = e.channel & 15;
  auto& s = RhythmParts.CvtSoundingNotes[ch][e.data1 & 0x7F];
  const uint8_t sent = s.on ? s.sent : static_cast<uint8_t>(e.data1 & 0x7F);
  s.on = 0;
  if (ch == 8) {
    RhythmParts.bassNotesOn = std::max(0, RhythmParts.bassNotesOn - 1);
    const uint32_t now = plat::TimeGetTime();
    if (VolumeWatchOpen(now))
      TraceLog(L"[BASS] +%5ums OFF note=%u  켜진수=%d\n", now - VolumeTraceOpenedAt(), static_cast<unsigned>(sent),
               RhythmParts.bassNotesOn);
  }
  Out(port, PackMidi(0x80 | ch, sent, 0));
}

int StyleVelocity(int ch, int note, int v) {
  if (ch == 6) return std::max(1, static_cast<int>(v * 0.7 + 1.5));
  if (ch == 8 || ch == 9 || ch == 10 || ch == 12) return std::max(1, v);
  if (ch == 11) return (note == 49 || note == 57) ? std::max(0, v) : std::max(1, v);
  return v;
}

void SendNoteOn(MidiOutHandle port, const StyleEvent& e) {
  const int ch = e.channel & 15;
  if ((CvtState.FillDrumMute.load() && ch >= 10 && ch <= 13) || CvtState.EnterFillMute.load()) return;
  int note = e.data1 & 0x7F;
  if (e.followChord) {
    ChordFollowRange range;
    range.bassShift = RhythmParts.BassOctaveShift.load();
    range.bassLow = std::max<int>(Settings.cvtBassLow, Settings.cvtBassLowSolo);
    range.bassHigh = Settings.cvtBassHigh;
    range.guitarLow = Settings.cvtGuitarLow;
    note = FollowChordNote(note, ch, g_chord.load()(), range);
  }
  if (ch == 9) note = DrumNoteOverride(0, 9, note);
  if (ch == 10) {
    const bool tom = note == 41 || note == 43 || note == 45 || note == 47 || note == 48 || note == 50;
    if (!tom) note = DrumNoteOverride(0, 10, note);
    if (RhythmParts.SnareSubKitOn.load()) note = 50;
    else if (RhythmParts.SnareSubClapOn.load()) note = 39;
  }
  note = std::clamp(note, 0, 127);
  const bool drumHeld = CvtState.FillPlaying.load() ? (ch >= 10 && ch <= 12) : (ch >= 9 && ch <= 12);
  if (drumHeld) {
    const uint32_t until = CvtState.CvtDrumHoldUntil.load();
    if (until) {
      if (static_cast<int32_t>(plat::TimeGetTime() - until) < 0) return;
      CvtState.CvtDrumHoldUntil = 0;
    }
  }
  int v = StyleVelocity(ch, note, e.data2);
  const int percent = Mixer.EffectiveRhythmPercent[ch].load();
  if (percent != 100) v = percent <= 0 ? 0 : v * percent / 100;
  v = std::clamp(v, 0, 127);
  const bool g = RhythmParts.SnareSubKitOn.load(), h = RhythmParts.SnareSubClapOn.load();
  if (ch == 10 && v > 0 && (g || h)) {
    if (h) v = v * 135 / 100;
    const int level = Mixer.EffectiveRhythmPercent[15].load();
    v = level > 0 ? std::clamp(v * level / 100, 0, 127) : 0;
  }
  auto& s = RhythmParts.CvtSoundingNotes[ch][e.data1 & 0x7F];
  if (s.on && s.sent != note) Out(port, PackMidi(0x80 | ch, s.sent, 0));
  s.on = v > 0;
  s.sent = static_cast<uint8_t>(note);
  if (v > 0) Mixer.LastNoteOnTime[0][ch] = plat::TimeGetTime();
  if (ch == 8 && v > 0) {
    ++RhythmParts.bassNotesOn;
    TraceBassOn(note, v);
  }
  Out(port, PackMidi(0x90 | ch, note, v));
  if (ch == 10 && v > 0 && g && h) Out(port, PackMidi(0x90 | ch, 39, v));
}

}  // namespace

void SetCvtOutput(void (*send)(MidiOutHandle, uint32_t)) { g_output = send ? send : DefaultOutput; }
void SetCvtChordSource(CurrentChordValue (*chord)()) { g_chord = chord ? chord : DefaultChord; }

int FollowChordNote(int note, int channel, const CurrentChordValue& chord, const ChordFollowRange& range) {
  int c = note % 12;
  const int b = note - c;
  if (c == 4 && chord.minor) c = 3;
  else if (c == 3 && !chord.minor) c = 4;
  const int r = (((channel == 8 ? chord.bass : chord.root) % 12) + 12) % 12;
  const int shift = r <= 6 ? r : r - 12;
  int n = b + shift + c;
  if (channel == 8) {
    n += range.bassShift;
    if (range.bassHigh - range.bassLow >= 11) n = LowerToAtMost(RaiseToAtLeast(n, range.bassLow), range.bassHigh);
  } else if (channel == 6 && range.guitarLow > 0) {
    n = RaiseToAtLeast(n, range.guitarLow);
    if (n > 96) n -= 12 * ((n - 85) / 12);
  }
  // Whole octaves into the MIDI range, however far out the shifts took it.
  if (n < 0) n += 12 * ((11 - n) / 12);
  if (n > 127) n -= 12 * ((n - 127 + 11) / 12);
  return n;
}

void SendCvtEvent(MidiOutHandle port, const StyleEvent& e) {
  switch (e.kind) {
    case kStyleController: SendController(port, e); break;
    case kStyleProgram: SendProgram(port, e); break;
    case kStyleNoteOff: SendNoteOff(port, e); break;
    case kStyleNoteOn: SendNoteOn(port, e); break;
    default: break;
  }
}

void PlayHalfBeatPulse(MidiOutHandle port, int64_t from, int64_t to, int ppq) {
  const int level = Mixer.EffectiveRhythmPercent[15].load();
  if (!RhythmParts.SnareSubShakerOn.load() || !port || level <= 0) return;
  const int64_t step = ppq > 0 ? ppq / 2 : 60;
  if (step <= 0) return;
  int64_t p = from < 0 ? 0 : (from / step + 1) * step;
  for (; p <= to; p += step) {
    const int base = ppq > 0 && p % ppq == 0 ? 108 : 86;
    const int v = std::clamp(base * level / 100, 1, 127);
    Out(port, PackMidi(0x8C, 54, 0));
    Out(port, PackMidi(0x9C, 54, v));
  }
}

void FireStyleEvents(MidiOutHandle port, const std::vector<StyleEvent>& events, const FireWindow& w, RhythmClock& clock) {
  std::array<double, 16> lastOn;
  lastOn.fill(-1);
  auto send = [&](const StyleEvent& e) {
    if (w.catchUp && e.kind == kStyleNoteOn) {
      double& last = lastOn[e.channel & 15];
      if (last >= 0) {
        const double wait = last + 12 - clock.NowMs();
        if (wait > 0) clock.SleepMs(wait);
      }
      last = clock.NowMs();
    }
    SendCvtEvent(port, e);
  };
  if (w.to >= w.from) {
    for (const StyleEvent& e : events)
      if (e.tick > w.from && e.tick <= w.to) send(e);
    PlayHalfBeatPulse(port, w.from, w.to, w.ppq);
  } else {
    for (const StyleEvent& e : events)
      if (e.tick > w.from) send(e);
    for (const StyleEvent& e : events)
      if (e.tick <= w.to) send(e);
    PlayHalfBeatPulse(port, w.from, int64_t{w.patternLength} - 1, w.ppq);
    PlayHalfBeatPulse(port, -1, w.to, w.ppq);
  }
}

namespace {
// A GS data set of one byte: F0 41 10 42 12, address, value, checksum, F7.
std::vector<uint8_t> GsDataSet(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t value) {
  const unsigned sum = a1 + a2 + a3 + value;
  return {0xF0, 0x41, 0x10, 0x42, 0x12, a1, a2, a3, value, static_cast<uint8_t>((128 - sum % 128) & 0x7F), 0xF7};
}
}  // namespace

void SendRhythmPartMaps() {
  // Use-for-rhythm-part of the parts on MIDI channels 10 to 13: channels 9 to 12 (0-based) are
  // drum parts, 10 with the second drum map.
  SendSysExBothPorts(GsDataSet(0x40, 0x10, 0x15, 1));
  SendSysExBothPorts(GsDataSet(0x40, 0x1A, 0x15, 2));
  SendSysExBothPorts(GsDataSet(0x40, 0x1B, 0x15, 1));
  SendSysExBothPorts(GsDataSet(0x40, 0x1C, 0x15, 1));
}

void SendCvtToneSetup() {
  MarkCvtToneCachesEmpty();
  SendRhythmPartMaps();
  const MidiOutHandle p1 = Sound.MidiOutPort1.load();
  if (p1) {
    // The first controller of each (channel, number) and the first program of each channel.
    std::array<std::array<bool, 128>, 16> controllerSeen{};
    std::array<bool, 16> programSeen{};
    std::vector<StyleEvent> main;
    {
      std::lock_guard lock(RhythmStyles.SetMutex);
      main = RhythmStyles.active.main.events;
    }
    for (const StyleEvent& e : main) {
      const int ch = e.channel & 15;
      if (e.kind == kStyleController && !controllerSeen[ch][e.data1 & 0x7F]) {
        controllerSeen[ch][e.data1 & 0x7F] = true;
        SendCvtEvent(p1, e);
      } else if (e.kind == kStyleProgram && !programSeen[ch]) {
        programSeen[ch] = true;
        SendCvtEvent(p1, e);
      }
    }
    // The operator's tones of the parts the engine plays, then the electronic kit when it is on.
    for (int part = 0; part < 8; ++part) {
      const PortChannel pc = CvtPartChannel(part, true);
      if (pc.port != 0 || (pc.channel != 6 && pc.channel < 8)) continue;
      const CvtToneSlotValues slot = GetCvtToneSlot(part, SlotContext(part, true));
      if (slot.chosen) SendCvtPartTone(part, true, SlotEntry(slot), false);
    }
    if (RhythmParts.SnareSubKitOn.load()) SendElectronicKit(p1);
  }
  MarkCvtToneCachesEmpty();
}
