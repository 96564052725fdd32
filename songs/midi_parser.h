#pragma once
// The song's standard MIDI file analysed into the song model: events on two output ports,
// division, bars, key signatures, base tempo, and the companion tracks of the lyric timing and
// the two score staves.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "songs/song_model.h"

// Exists only while bars are built.
struct TimeSignature {
  uint32_t tick = 0;
  int numerator = 4;
  int denominatorPower = 2;  // the denominator as a power of two
};

// Fills the MIDI part of `model` from the file (read through the song file cache). An unreadable
// file, or one without a readable "MThd" header, leaves an empty event list and keeps the
// model's division, bars, loudness and articulation as they were. The lyric lines of the model
// must already be read (they decide the lyric tick de-duplication). A file in SMPTE time is read
// as quarter notes of one second under a single tempo; one whose SMPTE frame rate does not exist
// is logged and counts as unreadable.
// Returns whether the file had a readable header.
bool ParseSongMidi(SongModel& model, const std::wstring& midiPath);
bool ParseSongMidiBytes(SongModel& model, std::string_view bytes);

// Every time signature (FF 58) of every track, stable-sorted by tick.
std::vector<TimeSignature> ReadTimeSignatures(const std::wstring& midiPath);
std::vector<TimeSignature> ReadTimeSignaturesFromBytes(std::string_view bytes);

// Every key signature (FF 59) within -7..7, sorted by tick; a later one on the same tick replaces
// the earlier, one that repeats the previous key is dropped.
std::vector<KeySignature> ReadKeySignatures(const std::wstring& midiPath);
std::vector<KeySignature> ReadKeySignaturesFromBytes(std::string_view bytes);

// Bar start ticks from the time signatures (4/4 bars where there are none), below tick
// 2,000,000 and never more than kMaxBars of them.
inline constexpr uint64_t kBarTickLimit = 2000000;
inline constexpr size_t kMaxBars = 200000;
std::vector<uint32_t> BuildBarTicks(const std::vector<TimeSignature>& signatures, int division);
