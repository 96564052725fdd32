#pragma once
// The vocal export: for the song on screen, a table pairing each sung syllable the page shows with
// the melody note it is sung on, written as a text report and as a one-track MIDI file with the
// notes and the syllables as lyric events ("<root>/vocal/vocal_<number>.txt" and ".mid").
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "songs/song_model.h"

// One syllable the page sent: its lyric timing tick, its character, its lyric line (unused).
struct VocalMark {
  uint32_t tick = 0;
  wchar_t character = 0;
  int line = 0;
  bool operator==(const VocalMark&) const = default;
};

// The marks of the command argument after "|": "tick,code,line" separated by ";". Reading stops at
// the first malformed mark; marks with a character code outside 1..0x10FFFF are skipped.
std::vector<VocalMark> ParseVocalMarks(std::wstring_view text);

// The melody notes of the model sorted by start, and the label of their source: the staff1 notes,
// else the notes of port 1, channel 1.
std::vector<NoteSpan> FindMelodyTrack(const SongModel& model, std::wstring& label);

// Milliseconds from the song start to `tick` under the model's tempo events.
double TickToMs(const SongModel& model, uint32_t tick, int division);

// "C4" for 60, "C#4" for 61, "C-1" for 0, "?" above 127.
std::wstring NoteName(int note);

// One mark's assignment: the note it is sung on (note -1: none), split when it takes the second
// part of the previous mark's note.
struct VocalAssignment {
  int start = 0;
  int length = 0;
  int note = -1;
  bool split = false;
};
struct VocalPairing {
  std::vector<VocalAssignment> assignments;  // one per mark
  int unmatched = 0, splits = 0, notesWithoutSyllable = 0, overlaps = 0;
};
// Pairs marks with notes: each mark takes the nearest free note within `division` ticks, in rising
// order; a mark inside the previous mark's note splits it.
VocalPairing PairVocalMarks(const std::vector<VocalMark>& marks, const std::vector<NoteSpan>& notes, int division);

// The report text (UTF-8 with byte-order mark, CR LF lines) and the format-0 MIDI file.
std::string BuildVocalReport(int songNumber, int division, const std::vector<VocalMark>& marks,
                             const std::vector<NoteSpan>& notes, const std::wstring& label,
                             const VocalPairing& pairing, const SongModel& model);
std::string BuildVocalMidi(int division, const std::vector<VocalMark>& marks, const VocalPairing& pairing,
                           const SongModel& model);

// "VOCAL_EXPORT:" argument: song number "|" marks. Reads the published song model once, writes the
// two files, logs and shows the page note.
void ExportVocalData(std::wstring_view argument);

// The page note at the bottom of the page (main and customer page), removed 8 seconds after the
// latest one.
void ShowVocalExportNote(std::wstring_view text);
