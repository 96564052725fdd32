// Fuzz target for the song analysis: the MIDI parser and the song text reader (with the chord,
// key-table, bar and length analyses that read their results) on arbitrary bytes. Every input is
// read three ways: as a song text, as a whole MIDI file, and as the body of one track under a
// valid header, so that random bytes reach the event walk without first guessing "MThd".
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/paths.h"
#include "songs/bars.h"
#include "songs/chords.h"
#include "songs/keysig.h"
#include "songs/midi_parser.h"
#include "songs/song_text.h"

namespace {

void Analyse(SongModel& model, std::string_view midi) {
  ParseSongMidiBytes(model, midi);
  size_t sysexBytes = 0;
  for (const auto& e : model.SongEventList) sysexBytes += model.SysExOf(e).size();
  if (sysexBytes > model.SongSysExData.size()) __builtin_trap();  // every SysEx event owns its own bytes
  ComputeSingerKeys(model);
  FillBassPartNotes(model);
  MakeChordTimeline(model.ChordLines, model.BarTicks, model.SongPpq);
  ComputeSongLength(model);
  uint32_t leadIn = 0;
  FindLeadInBar(model, &leadIn);
  for (uint32_t tick : {0u, 1919u, 0xFFFFFFFFu}) BarToTick(model, TickToBar(model, tick));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The analyses log to the install root's debug log: keep that in a scratch folder.
  auto root = std::filesystem::temp_directory_path() / "tavelo_fuzz_root";
  std::filesystem::create_directories(root / "system");
  plat::SetRootDir(root);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  SongModel model;
  ParseSongTextBytes(model, bytes);
  ParseKeySigText(bytes);
  for (const auto& line : model.ChordLines) NormalizeNoChord(line);
  TextLinesFromBytes(bytes);
  Analyse(model, bytes);

  std::string track("MThd\0\0\0\x06\0\x01\0\x02\x01\xE0MTrk", 18);
  const uint32_t n = static_cast<uint32_t>(size);
  track += {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
  track.append(bytes);
  Analyse(model, track);
  return 0;
}
