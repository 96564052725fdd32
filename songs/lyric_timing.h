#pragma once
// Clean-up of the companion tracks after the MIDI walk: the second staff keeps one note per
// onset, the lyric ticks lose duplicates and are snapped onto the melody's note starts.
#include <cstdint>
#include <string>
#include <vector>

#include "songs/song_model.h"

// Sorts by start, then note, and keeps a note only when it starts 10 ticks or more after the
// last kept one (a chord keeps its lowest note).
void ThinSecondStaffNotes(std::vector<NoteSpan>& notes);

// Sung syllables of the lyric lines: every character except tab, space, "-", "_" and "~".
int CountLyricSyllables(const std::vector<std::wstring>& lyricLines);

// When the ticks are at least one and a half times the syllables, a tick equal to the one kept
// before it is a duplicate and removed.
void DeduplicateLyricTicks(std::vector<uint32_t>& ticks, int syllables);

// Each lyric tick within 20 ticks of a melody note start moves onto that start (the nearer of the
// starts around it; the later one on a tie).
void SnapLyricTicksToMelody(std::vector<uint32_t>& ticks, const std::vector<NoteSpan>& melody);

// Tick of the first jump mark with this id, -1 when the song has none.
int64_t FindJumpMarkTick(const SongModel& model, uint32_t id);
