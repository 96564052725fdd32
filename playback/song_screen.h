#pragma once
// The song screen script: everything the page draws of a prepared song (title, score staves,
// lyrics and their timing, chords, bars, key signatures, drum hits, jump marks, length, keys and
// tempo) in one page script, kept for the customer page and posted.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "songs/lyric_timing.h"  // FindJumpMarkTick
#include "songs/song_model.h"

// The values of the preparation that the script shows besides the song model.
struct SongScreenValues {
  std::wstring midiPath;
  int songNumber = 0;
  int catalogueTempo = 0;  // the catalogue's tempo of the song, used when the file has none
  int tempoOffset = 0;
  int currentKey = 0;
  int scoreKeyMode = 0;
  int male = 0, female = 0;
  int64_t userMarkJ = -1, userMarkK = -1, userMarkV3 = -1;  // the operator's marks, -1 unset
  int scoreOct[4] = {0, 0, 0, 0};                       // tU, tL, oU, oL
  uint32_t lastChordTick = 0;
  std::vector<std::pair<int, int>> keySignatures;      // [0-based bar, key]
};

// Lane of a drum note on the page's drum display.
int DrumNoteLane(int channel, int note);
// "[[a,b,c],...]" of note spans (a signed, b and c unsigned).
std::wstring FormatIntTriples(const std::vector<NoteSpan>& list);
// The first note-on at or after the mark within `beats` quarter notes, else the mark itself.
uint32_t SnapMarkToFirstNote(const SongModel& song, uint32_t markTick, double beats);

// The whole script.
std::wstring BuildSongScreenScript(const SongModel& song, const SongScreenValues& values);
// Builds the script of the loaded song with the preparation's values, caches it for the customer
// page and posts it.
void PostSongScreenScript(const SongModel& song, const SongScreenValues& values);
// Where the customer page's copy is kept (the page host installs it at start).
void SetSongScreenCache(void (*store)(const std::wstring& script));
