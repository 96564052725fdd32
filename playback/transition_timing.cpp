#include "playback/transition_timing.h"

#include <algorithm>
#include <cmath>

uint32_t FirstMelodyNoteTick(const SongModel& song) {
  for (const SongEvent& e : song.SongEventList) {
    if (e.kind != kSongEventChannel || (e.status & 0xF0) != 0x90 || e.data2 == 0) continue;
    const int ch = e.status & 0x0F;
    if (ch >= 9 && ch <= 12) continue;
    return e.tick;
  }
  return 0;
}

PickupAlignment AlignPickup(const PickupInput& in) {
  PickupAlignment a;
  a.downbeatMs = in.downbeatMs;
  const uint32_t g = in.firstNote;
  if (g == 0) return a;
  uint32_t h;
  if (in.bars.empty()) {
    if (g % 480 == 0) {
      a.result = PickupResult::kOnBarLine;
      return a;
    }
    h = (g / 480 + 1) * 480;
  } else {
    if (std::binary_search(in.bars.begin(), in.bars.end(), g)) {
      a.result = PickupResult::kOnBarLine;
      return a;
    }
    auto it = std::upper_bound(in.bars.begin(), in.bars.end(), g);
    if (it == in.bars.end()) {
      a.result = PickupResult::kLastBar;
      a.barLine = in.bars.back();
      return a;
    }
    h = *it;
  }
  a.barLine = h;
  const int ppq = in.songPpq > 0 ? in.songPpq : 120;
  const double carriedUs = in.carryUs > 0 ? in.carryUs : 500000.0;
  const double songUs = in.songBaseBpm > 0 ? 60000000.0 / in.songBaseBpm : carriedUs;
  const double bpm = std::max(20.0, 60000000.0 / songUs + in.tempoOffsetBpm);
  a.pickupMs = double(h - g) * 60000000.0 / bpm / 1000.0 / ppq;
  const double bar = EngineBarMs(in.carryUs, in.tempoOffsetBpm, in.carryFactor);
  a.barMs = bar;
  double s = a.pickupMs;
  while (s > bar) s -= bar;
  uint32_t d = in.downbeatMs;
  if (s <= bar / 2) {
    a.result = PickupResult::kEarlier;
    a.shiftMs = static_cast<int>(std::lround(s));
    d -= static_cast<uint32_t>(a.shiftMs);
  } else {
    a.result = PickupResult::kLater;
    a.shiftMs = static_cast<int>(std::lround(bar - s));
    d += static_cast<uint32_t>(a.shiftMs);
  }
  a.downbeatMs = DownbeatWithLead(d, bar, in.nowMs, 250);
  return a;
}

double EngineBarMs(int carryUs, int tempoOffsetBpm, double carryFactor) {
  const double us = carryUs > 0 ? carryUs : 500000.0;
  const double factor = carryFactor > 0 ? carryFactor : 1;
  const double bar = 4 * 60000000.0 / std::max(20.0, 60000000.0 / us + tempoOffsetBpm) / 1000.0 / factor;
  return bar < 100 || bar > 20000 ? 2000 : bar;
}

uint32_t DownbeatWithLead(uint32_t downbeatMs, double barMs, uint32_t nowMs, int minLeadMs) {
  if (!(barMs >= 1)) barMs = 2000;
  // Whole bars from the planned downbeat, so the song stays on the rhythm's grid.
  const double lead = static_cast<int32_t>(downbeatMs - nowMs);
  if (lead >= minLeadMs) return downbeatMs;
  const double bars = std::ceil((minLeadMs - lead) / barMs);
  return downbeatMs + static_cast<uint32_t>(std::llround(bars * barMs));
}

int SetupSpreadShareMs(int msToDownbeat) { return msToDownbeat - 350 > 60 ? (msToDownbeat - 350) / 2 : 0; }

uint32_t FillLengthTicks(const std::vector<StyleEvent>& fill) {
  uint32_t length = 0;
  for (const StyleEvent& e : fill) length = std::max(length, e.tick);
  for (auto it = fill.rbegin(); it != fill.rend(); ++it) {
    if (it->kind != kStyleNoteOn) continue;
    if ((it->data1 == 49 || it->data1 == 57) && it->channel >= 9 && it->channel <= 12) length = it->tick > 0 ? it->tick - 1 : 0;
    break;
  }
  return length;
}

double FillLengthMs(uint32_t ticks, int carryUs, int carryPpq, int tempoOffsetBpm) {
  const double us = carryUs > 0 ? carryUs : 500000.0;
  const int ppq = carryPpq > 0 ? carryPpq : 120;
  const double msPerTick = 60000000.0 / std::max(20.0, 60000000.0 / us + tempoOffsetBpm) / 1000.0 / ppq;
  return std::max(0.0, ticks * msPerTick);
}
