#pragma once
// The insertion effect (EFX) the song setup puts on one part, chosen from the song's tones.
#include <atomic>
#include <cstdint>
#include <vector>

// What the choice looks at in the loaded song (port 1 only; channels 0-based).
struct SongEfxScan {
  int program3 = -1, program6 = -1, program16 = -1;  // first program change on ch 2, 5, 15
  int bank3 = 0, bank6 = 0;                           // first controller 0 on ch 2, 5
  bool notes3 = false, notes6 = false, notes16 = false;
  bool ownEfx = false;  // the song sets the insertion effect type (40 03 00) itself
  int rhythmPartAssigns = 0;
  // note-on with velocity above 0 per [port][channel]
  bool noteOn[2][16] = {};
};

// Works on any event list whose events have kind, status, data1, data2 and port; `sysexOf(e)`
// gives the bytes of a SysEx event (anything with size() and []).
template <class Events, class SysExOf>
SongEfxScan ScanSongForEfx(const Events& events, SysExOf&& sysexOf) {
  SongEfxScan s;
  bool bank3Seen = false, bank6Seen = false;
  for (const auto& e : events) {
    if (e.kind == 1) {
      const auto& x = sysexOf(e);
      if (x.size() >= 10 && x[0] == 0xF0 && x[1] == 0x41 && x[3] == 0x42 && x[4] == 0x12) {
        if (x[5] == 0x40 && x[6] == 0x03 && x[7] == 0x00) s.ownEfx = true;
        if ((x[5] == 0x40 || x[5] == 0x50) && (x[6] & 0xF0) == 0x10 && x[7] == 0x15)
          ++s.rhythmPartAssigns;
      }
      continue;
    }
    if (e.kind != 0 || e.port > 1) continue;
    unsigned kind = e.status & 0xF0, ch = e.status & 0x0F;
    if (kind == 0x90 && e.data2 > 0) s.noteOn[e.port][ch] = true;
    if (e.port != 0) continue;
    if (kind == 0xC0) {
      int* p = ch == 2 ? &s.program3 : ch == 5 ? &s.program6 : ch == 15 ? &s.program16 : nullptr;
      if (p && *p < 0) *p = e.data1;
    } else if (kind == 0xB0 && e.data1 == 0) {
      if (ch == 2 && !bank3Seen) {
        s.bank3 = e.data2;
        bank3Seen = true;
      }
      if (ch == 5 && !bank6Seen) {
        s.bank6 = e.data2;
        bank6Seen = true;
      }
    }
  }
  s.notes3 = s.noteOn[0][2];
  s.notes6 = s.noteOn[0][5];
  s.notes16 = s.noteOn[0][15];
  return s;
}
// For event lists whose events carry their SysEx bytes as `sysex`.
template <class Events>
SongEfxScan ScanSongForEfx(const Events& events) {
  return ScanSongForEfx(events, [](const auto& e) -> const auto& { return e.sysex; });
}

std::vector<uint8_t> BuildPartEfxAssign(int part);
std::vector<uint8_t> BuildEfxLevelSysEx(int level);
void SendEfxLevel(int level);
int ScaledEfxLevel();
void ChooseSongInsertionEffect(const SongEfxScan& song);
// The loaded song (whatever song the last module setup was for) has a note-on (velocity above 0)
// on that port and channel.
bool SongHasNoteOn(int port, int channel);
