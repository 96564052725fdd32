#include "songs/midi_probes.h"

#include <cstdint>

#include "songs/midi_walk.h"
#include "songs/song_file_cache.h"

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
  midi::WalkFile(
      bytes, [](unsigned, bool) { return true; },
      [&](unsigned, const midi::Event& ev) {
        if (ev.status != 0xFF || ev.metaType != 0x51 || ev.length != 3) return midi::Step::kNext;
        const uint32_t t = (uint32_t(ev.data[0]) << 16) | (uint32_t(ev.data[1]) << 8) | ev.data[2];
        if (t == 0) return midi::Step::kNext;
        bpm = int(60000000.0 / t + 0.5);
        return midi::Step::kEndWalk;
      });
  return bpm;
}

void NoteTrackName(NamedTracks& found, unsigned number, std::string_view name) {
  const std::string normal = NormalizeTrackName(name);
  int* slot = normal == "gasa"     ? &found.gasa
              : normal == "staff1" ? &found.staff1
              : normal == "staff2" ? &found.staff2
                                   : nullptr;
  if (slot && (*slot == -1 || int(number) < *slot)) *slot = int(number);  // the first such chunk
}

NamedTracks FindNamedTracks(std::string_view midiBytes) {
  NamedTracks found;
  midi::WalkFile(
      midiBytes, [](unsigned, bool) { return true; },
      [&](unsigned number, const midi::Event& ev) {
        if (ev.status != 0xFF || ev.metaType != 0x03 || ev.length == 0) return midi::Step::kNext;
        NoteTrackName(found, number, std::string_view(reinterpret_cast<const char*>(ev.data), ev.length));
        return midi::Step::kEndChunk;  // only a track's first name counts
      });
  return found;
}

bool ReadMelodyNoteRange(int songNumber, int& lowest, int& highest) {
  const std::string bytes = ReadSongBytesCached(SongFilePath(L'P', songNumber, L".MID"));
  if (bytes.size() <= 13) return false;
  const int staff1 = FindNamedTracks(bytes).staff1;
  const int melody = staff1 >= 1 ? staff1 : 35;
  int low = 128, high = -1;
  midi::WalkFile(
      bytes, [&](unsigned number, bool) { return int(number) == melody; },
      [&](unsigned, const midi::Event& ev) {
        if ((ev.status & 0xF0) == 0x90 && ev.data2 != 0) {
          if (ev.data1 < low) low = ev.data1;
          if (ev.data1 > high) high = ev.data1;
        }
        return midi::Step::kNext;
      });
  if (high < 0) return false;
  lowest = low;
  highest = high;
  return true;
}
