#pragma once
// Key information of the loaded song: the operator-maintained key signature table
// "<root>/system/keysig.txt" (per song number, the bars where the key changes), reread only
// when the file changed; and the singer transpositions from the song text's key line.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "songs/chords.h"
#include "songs/song_model.h"

inline constexpr std::wstring_view kKeySigTablePath = L"<root>/system/keysig.txt";

struct KeySigEntry {
  int bar = 1;  // 1-based
  int key = 0;  // sharps above 0, flats below 0, -6..6
  bool operator==(const KeySigEntry&) const = default;
};

// Sharps (above 0) or flats (below 0) of a key; a minor key counts as its relative major.
int KeyValueOf(int root, bool minor);

// The result of reading the table's text.
struct KeySigParse {
  std::map<int, std::vector<KeySigEntry>> table;
  int songsCounted = 0;
  std::vector<std::wstring> problems;  // at most 20, "N번째 줄(reason): line"
};
KeySigParse ParseKeySigText(std::string_view bytes);

// Rereads the table when the file's write time changed since the last read (or on first use);
// a missing file empties it.
void LoadKeySigTable();
// The song's entries (empty when the table has none).
std::vector<KeySigEntry> KeySigEntriesFor(int songNumber);

// The song number in a MIDI file's name: all its digits read as one number, 0 when none.
int SongNumberFromMidiPath(std::wstring_view midiPath);

// The key signatures for the page's score: [0-based bar, key] from the table when it lists the
// song, else from the MIDI file's own key signatures; one per bar, the first wins.
std::vector<std::pair<int, int>> BuildPageKeySignatures(const SongModel& song, std::wstring_view midiPath);

// Male and female transposition from the key line and the melody's range.
void ComputeSingerKeys(SongModel& song);

// A stored singer key as the transposition in effect: -12..12; 99 stays "no key".
inline constexpr int kNoSingerKey = 99;
int ClampSingerKey(int key);
// Replaces the loaded song's singer keys with stored ones (each unless it is 99).
void ApplyStoredSingerKeys(const SongModel& song, int male, int female);
