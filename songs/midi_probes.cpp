#include "songs/midi_probes.h"

#include <cstdint>

#include "songs/song_file_cache.h"

namespace {

// What a visitor tells the walk after a chunk start or an event.
enum class Walk { Continue, NextChunk, Stop };

struct MidiEvent {
  uint8_t status = 0;
  uint8_t metaType = 0;           // FF events only
  std::string_view data;          // FF events only
  uint8_t data1 = 0, data2 = 0;   // channel messages
};

uint32_t Be32(std::string_view b, size_t pos) {
  return (uint32_t(uint8_t(b[pos])) << 24) | (uint32_t(uint8_t(b[pos + 1])) << 16) |
         (uint32_t(uint8_t(b[pos + 2])) << 8) | uint32_t(uint8_t(b[pos + 3]));
}

// A variable-length quantity; false when the data runs out before its last byte. Values beyond
// 32 bits saturate, so a corrupt length simply reaches past the end of the data.
bool ReadVarLen(std::string_view b, size_t& pos, size_t end, uint64_t& value) {
  value = 0;
  while (pos < end) {
    const uint8_t c = uint8_t(b[pos++]);
    if (value < (uint64_t(1) << 36)) value = (value << 7) | (c & 0x7F);
    if (!(c & 0x80)) return true;
  }
  return false;
}

// Walks the header and every chunk the header's track count announces. `onChunk(number, isTrack)`
// says whether to read a track's events; `onEvent(number, event)` sees each event. Data that ends
// inside a chunk ends the walk.
template <typename OnChunk, typename OnEvent>
void WalkMidi(std::string_view b, OnChunk onChunk, OnEvent onEvent) {
  if (b.size() < 14 || b.substr(0, 4) != "MThd") return;
  const int trackCount = (uint8_t(b[10]) << 8) | uint8_t(b[11]);
  size_t pos = 14;
  for (int number = 1; number <= trackCount; ++number) {
    if (b.size() - pos < 8) return;
    const bool isTrack = b.substr(pos, 4) == "MTrk";
    const uint64_t length = Be32(b, pos + 4);
    const size_t start = pos + 8;
    const bool truncated = length > b.size() - start;
    const size_t end = truncated ? b.size() : start + size_t(length);
    Walk action = onChunk(number, isTrack);
    if (action == Walk::Stop) return;
    if (isTrack && action == Walk::Continue) {
      size_t p = start;
      uint8_t running = 0;
      // An event cut off by the chunk's end ends the chunk; the next chunk's place is known.
      while (p < end) {
        uint64_t delta;
        if (!ReadVarLen(b, p, end, delta) || p >= end) break;
        if (uint8_t(b[p]) >= 0x80) running = uint8_t(b[p++]);
        MidiEvent ev;
        ev.status = running;
        uint64_t len = 0;
        if (running == 0xFF) {
          if (p >= end) break;
          ev.metaType = uint8_t(b[p++]);
          if (!ReadVarLen(b, p, end, len) || len > end - p) break;
          ev.data = b.substr(p, size_t(len));
          p += size_t(len);
        } else if (running >= 0xF0) {
          if (!ReadVarLen(b, p, end, len) || len > end - p) break;
          p += size_t(len);
        } else if (running >= 0xC0 && running <= 0xDF) {
          if (p >= end) break;
          ev.data1 = uint8_t(b[p++]);
        } else {
          if (end - p < 2) break;
          ev.data1 = uint8_t(b[p++]);
          ev.data2 = uint8_t(b[p++]);
        }
        action = onEvent(number, ev);
        if (action == Walk::Stop) return;
        if (action == Walk::NextChunk) break;
      }
    }
    if (truncated) return;
    pos = end;
  }
}

}  // namespace

std::string NormalizeTrackName(std::string_view name) {
  size_t end = name.size();
  while (end > 0 && (name[end - 1] == ' ' || name[end - 1] == '\t' || name[end - 1] == '\0')) --end;
  size_t begin = 0;
  while (begin < end && (name[begin] == ' ' || name[begin] == '\t')) ++begin;
  std::string out(name.substr(begin, end - begin));
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

int ReadMidiTempoBpm(int songNumber) {
  const std::string bytes = ReadSongBytesCached(SongFilePath(L'P', songNumber, L".MID"));
  if (bytes.size() <= 13) return 0;
  int bpm = 0;
  WalkMidi(
      bytes, [](int, bool) { return Walk::Continue; },
      [&](int, const MidiEvent& ev) {
        if (ev.status != 0xFF || ev.metaType != 0x51 || ev.data.size() != 3) return Walk::Continue;
        const uint32_t t = (uint32_t(uint8_t(ev.data[0])) << 16) |
                           (uint32_t(uint8_t(ev.data[1])) << 8) | uint8_t(ev.data[2]);
        if (t == 0) return Walk::Continue;
        bpm = int(60000000.0 / t + 0.5);
        return Walk::Stop;
      });
  return bpm;
}

NamedTracks FindNamedTracks(std::string_view midiBytes) {
  NamedTracks found;
  WalkMidi(
      midiBytes, [](int, bool) { return Walk::Continue; },
      [&](int number, const MidiEvent& ev) {
        if (ev.status != 0xFF || ev.metaType != 0x03 || ev.data.empty()) return Walk::Continue;
        const std::string name = NormalizeTrackName(ev.data);
        int* slot = name == "gasa"     ? &found.gasa
                    : name == "staff1" ? &found.staff1
                    : name == "staff2" ? &found.staff2
                                       : nullptr;
        if (slot && *slot == -1) *slot = number;
        return Walk::NextChunk;  // only a track's first name counts
      });
  return found;
}

bool ReadMelodyNoteRange(int songNumber, int& lowest, int& highest) {
  const std::string bytes = ReadSongBytesCached(SongFilePath(L'P', songNumber, L".MID"));
  if (bytes.size() <= 13) return false;
  const int staff1 = FindNamedTracks(bytes).staff1;
  const int melody = staff1 >= 1 ? staff1 : 35;
  int low = 128, high = -1;
  WalkMidi(
      bytes,
      [&](int number, bool) {
        if (number > melody) return Walk::Stop;
        return number == melody ? Walk::Continue : Walk::NextChunk;
      },
      [&](int, const MidiEvent& ev) {
        if ((ev.status & 0xF0) == 0x90 && ev.status < 0xF0 && ev.data2 != 0) {
          if (ev.data1 < low) low = ev.data1;
          if (ev.data1 > high) high = ev.data1;
        }
        return Walk::Continue;
      });
  if (high < 0) return false;
  lowest = low;
  highest = high;
  return true;
}
