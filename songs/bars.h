#pragma once
// Bar arithmetic over the loaded song shared by the player, the page commands and the song start:
// ticks to bars and back, the empty first bar, and the song's length.
#include <atomic>
#include <cstdint>
#include <functional>

#include "songs/song_model.h"

// Without bars a bar is this many ticks.
inline constexpr uint32_t kTicksPerBarWithoutBars = 480;

// The bar that holds `tick` (a tick before the first bar gives 0).
int TickToBar(const SongModel& song, uint32_t tick);
int TickToBar(uint32_t tick);
// Start tick of a 0-based bar: a negative bar is bar 0, a bar beyond the list the last bar.
uint32_t BarToTick(const SongModel& song, int bar);
uint32_t BarToTick(int bar);

// True when the song's first bar is empty (its first sounding note-on comes at or after the
// second bar); `tick` is then the second bar's start.
bool FindLeadInBar(const SongModel& song, uint32_t* tick);

struct SongLength {
  uint32_t lastTick = 0;
  int64_t ms = 0;            // along the song's tempo changes
  int64_t msAtFirstTempo = 0;
};
// Length of the song in ticks and milliseconds; tempos slower than 20 bpm count as 20 bpm.
SongLength ComputeSongLength(const SongModel& song);
