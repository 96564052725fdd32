#pragma once
// Chord symbols and the loaded song's chord timeline: the one chord-symbol grammar (also used
// for key names), runs of chords written without spaces, the timeline in song ticks built from
// the song text's chord lines, and the chord sounding now for the rhythm engine.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "songs/song_model.h"

struct ChordName {
  int root = 0;  // pitch class 0 = C .. 11 = B
  int bass = 0;
  bool minor = false;
  bool operator==(const ChordName&) const = default;
};

struct ChordEntry {
  uint32_t tick = 0;
  int root = 0;
  int bass = 0;
  uint8_t minor = 0;
  uint8_t noChord = 0;
  bool operator==(const ChordEntry&) const = default;
};

// The chord the rhythm engine follows.
struct CurrentChordValue {
  int root = 0;
  int bass = 0;
  bool minor = false;
  bool noChord = false;
  bool operator==(const CurrentChordValue&) const = default;
};

// Never fails: text that is not a chord gives root 0 (C), bass 0, major.
ChordName ParseChordName(std::wstring_view text);

// True when the character is a note letter A-G or a-g.
bool IsNoteLetter(wchar_t c);

// "CG" -> C, G; "Am7D" -> Am7, D; "GNC" -> G, NC.
std::vector<std::wstring> SplitChordRun(std::wstring_view token);

// The timeline of a song's chord lines over its bars, sorted by tick (entries of one tick keep
// text order). The first chord line starts at the song's second bar.
std::vector<ChordEntry> MakeChordTimeline(const std::vector<std::wstring>& chordLines,
                                          const std::vector<uint32_t>& barTicks, int ppq);

// Builds the timeline of `song` and swaps it in under Chords.ChordTimelineMutex.
void BuildChordTimeline(const SongModel& song);

// The timeline and its mutex. The mutex also guards the rhythm engine's bass-note list and bass
// octave shift that the song start computes next to the timeline.
struct ChordTimelineState {
  std::mutex ChordTimelineMutex;
  std::vector<ChordEntry> ChordTimeline;  // guarded by ChordTimelineMutex
};
extern ChordTimelineState Chords;

// The chord name the page last reported ("ACTIVECHORD:"); used when the song has no chord lines.
void SetPageActiveChord(std::wstring_view name);

// Where the player stands, as the caller (the player or the rhythm engine) reads it.
struct ChordClock {
  bool playing = false;  // the song plays and does not wait for its downbeat
  uint32_t tick = 0;
  int key = 0;           // semitones of transposition in effect
};
// The chord at `now.tick`, transposed by `now.key` (a no-chord entry is not transposed). While
// nothing plays, or the player waits for its downbeat: the last chord computed.
CurrentChordValue CurrentChord(const ChordClock& now);
