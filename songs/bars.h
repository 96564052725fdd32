#pragma once
// Bar arithmetic over the loaded song shared by the player, the page commands and the song start:
// ticks to bars and back, the current bar for bar jumps, the empty first bar and its count-in,
// and the song's length.
#include <atomic>
#include <cstdint>
#include <functional>

#include "songs/song_model.h"
#include "sound/midi_ports.h"

// The bar index the last bar jump moved to; -1 = none. Reset for every song start.
extern std::atomic<int> JumpTargetBar;

// Without bars a bar is this many ticks.
inline constexpr uint32_t kTicksPerBarWithoutBars = 480;

// The bar that holds `tick` (a tick before the first bar gives 0).
int TickToBar(const SongModel& song, uint32_t tick);
int TickToBar(uint32_t tick);
// Start tick of a 0-based bar: a negative bar is bar 0, a bar beyond the list the last bar.
uint32_t BarToTick(const SongModel& song, int bar);
uint32_t BarToTick(int bar);

// The bar of the current play position, or the last jump's target while the player has not yet
// reached it (so a second jump counts from the target).
int CurrentBarIndex();

// True when the song's first bar is empty (its first sounding note-on comes at or after the
// second bar); `tick` is then the second bar's start.
bool FindLeadInBar(const SongModel& song, uint32_t* tick);

// Count-in clicks before a song whose first bar is empty: click i sounds at start + interval x i
// (rounded to the millisecond, TimeGetTime clock) as a note-on on channel 10 of the handle's
// port, unless the player is paused or the click is more than half an interval late; the thread
// ends when the player stops. No note-off is sent.
void CountInClickThread(MidiOutHandle handle, int count, double intervalMs, uint32_t startMs, int note,
                        int velocity);

// The schedule of CountInClickThread with its clock, sleep, stop and send made replaceable.
struct CountInHooks {
  std::function<uint32_t()> now;
  std::function<void(unsigned)> sleepMs;  // 0 yields
  std::function<bool()> playing;
  std::function<bool()> paused;
  std::function<void(uint32_t)> send;
};
void RunCountIn(const CountInHooks& hooks, int count, double intervalMs, uint32_t startMs, int note, int velocity);

struct SongLength {
  uint32_t lastTick = 0;
  int64_t ms = 0;            // along the song's tempo changes
  int64_t msAtFirstTempo = 0;
};
// Length of the song in ticks and milliseconds; tempos slower than 20 bpm count as 20 bpm.
SongLength ComputeSongLength(const SongModel& song);
