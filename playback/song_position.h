#pragma once
// Where the player stands in bars: the bar that bar jumps count from, and the count-in clicks
// before a song whose first bar is empty.
#include <atomic>
#include <cstdint>
#include <functional>

#include "sound/midi_ports.h"

// The bar of the current play position, or the last jump's target while the player has not yet
// reached it (so a second jump counts from the target).
int CurrentBarIndex();

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

