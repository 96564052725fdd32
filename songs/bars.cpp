#include "songs/bars.h"

#include <algorithm>
#include <cmath>



int TickToBar(const SongModel& song, uint32_t tick) {
  const auto& bars = song.BarTicks;
  if (bars.empty()) return static_cast<int>(tick / kTicksPerBarWithoutBars);
  auto it = std::upper_bound(bars.begin(), bars.end(), tick);
  if (it == bars.begin()) return 0;
  return static_cast<int>(it - bars.begin()) - 1;
}

int TickToBar(uint32_t tick) { return TickToBar(*LoadedSong(), tick); }

uint32_t BarToTick(const SongModel& song, int bar) {
  if (bar < 0) bar = 0;
  const auto& bars = song.BarTicks;
  if (bars.empty()) return static_cast<uint32_t>(static_cast<uint64_t>(bar) * kTicksPerBarWithoutBars);
  if (static_cast<size_t>(bar) < bars.size()) return bars[bar];
  return bars.back();
}

uint32_t BarToTick(int bar) { return BarToTick(*LoadedSong(), bar); }

bool FindLeadInBar(const SongModel& song, uint32_t* tick) {
  const auto& bars = song.BarTicks;
  if (bars.size() < 2 || song.SongEventList.empty() || bars[1] == 0) return false;
  for (const auto& e : song.SongEventList) {
    if (e.kind == kSongEventChannel && (e.status & 0xF0) == 0x90 && e.data2 > 0) {
      if (e.tick < bars[1]) return false;
      *tick = bars[1];
      return true;
    }
  }
  return false;
}

SongLength ComputeSongLength(const SongModel& song) {
  SongLength out;
  const auto& events = song.SongEventList;
  if (events.empty() || song.SongPpq <= 0) return out;
  // Milliseconds per quarter note, never slower than 20 beats per minute.
  auto quarterMs = [](double tempo) { return 60000000.0 / std::max(20.0, 60000000.0 / tempo) / 1000.0; };
  double firstTempo = 500000;
  for (const auto& e : events)
    if (e.kind == kSongEventTempo && e.tempo > 0) {
      firstTempo = e.tempo;
      break;
    }
  double tempo = firstTempo;
  double ms = 0;
  uint32_t last = 0;
  for (const auto& e : events) {
    if (e.tick > last) ms += static_cast<double>(e.tick - last) * quarterMs(tempo) / song.SongPpq;
    if (e.kind == kSongEventTempo && e.tempo > 0) tempo = e.tempo;
    last = std::max(last, e.tick);
  }
  out.lastTick = last;
  out.ms = std::llround(ms);
  out.msAtFirstTempo = std::llround(static_cast<double>(last) * quarterMs(firstTempo) / song.SongPpq);
  return out;
}
