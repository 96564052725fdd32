#pragma once
// The go time: when a song started over the running rhythm (or a scheduled start) plays its
// downbeat, on a coming bar line of the rhythm, its first melodic note placed on that line.
#include <cstdint>
#include <optional>
#include <vector>

struct SongModel;

// Tick of the first note-on (velocity above 0) outside channels 9 to 12; false when none.
bool FirstNonDrumNoteTick(const SongModel& song, uint32_t* tick);

// Everything the go time depends on, read at one moment.
struct GoTimeInput {
  double now = 0;  // the fine clock (plat::NowMs); its whole milliseconds are TimeGetTime
  int rhythmTempoUs = 0, rhythmPpq = 0;
  double rhythmFactor = 1;
  int extraBars = 0;
  int minimumLeadMs = 0;
  bool attach = false;
  int newTempoUs = 0;
  double newFactor = 0;
  bool alignMelody = true;  // place the song's first melodic note on the bar line
  double songTick = 0;  // the rhythm's position at `now`, fraction included where known
  uint32_t phaseOrigin = 0;
  int offsetBpm = 0;
  std::optional<int> pendingOffset;
  // The loaded song: its first note-on outside the drum channels, bars, resolution, tempo.
  std::optional<uint32_t> firstNoteTick;
  std::vector<uint32_t> bars;
  int songPpq = 120, songBaseBpm = 0, currentTempoUs = 500000;
};
struct GoTime {
  uint32_t startAt = 0;  // never 0
  double barNowMs = 0, barAfterMs = 0, toBarMs = 0, pickupMs = 0, factorAfter = 1;
};
std::optional<GoTime> ComputeGoTime(const GoTimeInput& in);

// Sets `startAt` (and, for an attach, the carried tempo switch at the bar line); false only when
// `rhythmPpq` is not above 0. `alignMelody` false leaves the song's first note out of the placement.
bool ComputeCvtGoTime(int rhythmTempoUs, int rhythmPpq, double rhythmFactor, int extraBars, int minimumLeadMs, bool attach,
                      int newTempoUs, double newFactor, bool alignMelody = true);

