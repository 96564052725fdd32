#pragma once
// Small readers that look into a song's standard MIDI file without building the song model:
// the first tempo (for the catalogue row), the numbers of the tracks named "gasa", "staff1" and
// "staff2", and the note range of the melody score track.
#include <string>
#include <string_view>

// Chunk numbers (1-based, every chunk counted, "MTrk" or not); -1 when absent.
struct NamedTracks {
  int gasa = -1;
  int staff1 = -1;
  int staff2 = -1;
  bool operator==(const NamedTracks&) const = default;
};

// Beats per minute of the first non-zero tempo event of "P<number>.MID", rounded; 0 when none.
int ReadMidiTempoBpm(int songNumber);

// The first chunk named "gasa", "staff1" and "staff2" (names compared after NormalizeTrackName).
// Only a track's first non-empty name (meta event 03) counts.
NamedTracks FindNamedTracks(std::string_view midiBytes);
// Takes the first name of chunk `number` into `found`, for walks that look for the names on the
// way; the chunks may come in any order.
void NoteTrackName(NamedTracks& found, unsigned number, std::string_view name);

// Trailing blanks, tabs and NULs and leading blanks and tabs removed; ASCII capitals lowered.
std::string NormalizeTrackName(std::string_view name);

// Lowest and highest sounding note of the melody track (staff1, else chunk 35) of
// "P<number>.MID". False, outputs untouched, when the track has no sounding note.
bool ReadMelodyNoteRange(int songNumber, int& lowest, int& highest);
