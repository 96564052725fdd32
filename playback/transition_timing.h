#pragma once
// Timing rules of the song transitions as pure functions: where the next song's downbeat goes so
// that its pick-up notes land before the rhythm's bar line, how much of the wait before the
// downbeat the next song's setup may use, and how long the song-to-song fill lasts.
#include <cstdint>
#include <vector>

#include "playback/rhythm_style.h"
#include "songs/song_model.h"

// Tick of the first note-on (velocity above 0) outside the drum channels 9 to 12; 0 when none.
uint32_t FirstMelodyNoteTick(const SongModel& song);

struct PickupInput {
  uint32_t firstNote = 0;            // G
  std::vector<uint32_t> bars;        // the song's bar starts; 480-tick bars when empty
  int songBaseBpm = 0;
  int songPpq = 120;
  int carryUs = 0;                   // carried tempo (0 = none: 500,000)
  double carryFactor = 1;            // carried pattern factor (not above 0: 1)
  int tempoOffsetBpm = 0;
  uint32_t downbeatMs = 0;           // D
  uint32_t nowMs = 0;
};
enum class PickupResult { kNone, kOnBarLine, kLastBar, kEarlier, kLater };
struct PickupAlignment {
  PickupResult result = PickupResult::kNone;
  uint32_t barLine = 0;  // H
  double pickupMs = 0;   // O
  double barMs = 0;      // B
  int shiftMs = 0;       // how far D moved (earlier or later, never negative)
  uint32_t downbeatMs = 0;  // the new D
};
PickupAlignment AlignPickup(const PickupInput& in);

// One bar of the rhythm engine in ms at the carried tempo (500,000 us when none) plus the tempo
// offset, over the carried pattern factor (1 when not above 0); 2000 when below 100 or above 20000.
double EngineBarMs(int carryUs, int tempoOffsetBpm, double carryFactor);
// The planned downbeat, or when it lies less than `minLeadMs` ahead of now (or has passed) the
// first later one whole bars on that leaves the lead: a start that cannot be ready in time goes
// to a later bar line of the rhythm, never between two.
uint32_t DownbeatWithLead(uint32_t downbeatMs, double barMs, uint32_t nowMs, int minLeadMs);

// The part of the wait before the downbeat given to the setup: (diff - 350) / 2 when that leaves
// more than 60 ms, else 0 (the last 350 ms are kept for the player's catch-up).
int SetupSpreadShareMs(int msToDownbeat);

// Length of a fill in ticks: its last event's tick, or one tick before a closing crash cymbal
// (note 49 or 57 on channels 9 to 12) struck by its last note-on.
uint32_t FillLengthTicks(const std::vector<StyleEvent>& fill);
// Milliseconds of `ticks` at a carried tempo and resolution plus the tempo offset.
double FillLengthMs(uint32_t ticks, int carryUs, int carryPpq, int tempoOffsetBpm);
