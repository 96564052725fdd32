#include "songs/loudness.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace {

constexpr double kWindowMs = 250;
constexpr double kUnclosedNoteMs = 500;
constexpr double kLongestNoteMs = 3000;

struct TimedNote {
  double start = 0;
  double end = -1;  // -1 while open
  double energy = 0;
};

// The note list keeps its memory from one song to the next on each thread that parses songs, as
// the song model keeps its spare event lists, and like those only up to a cap: a list grown by a
// crafted giant file is let go rather than held for the rest of the run. 6 MB, many times the
// notes of a long song.
constexpr size_t kMaxKeptNotes = size_t{1} << 18;
thread_local std::vector<TimedNote> t_notes;

// Lets go of the note list after the pass when it grew past the cap.
struct ReleaseLargeNoteList {
  ~ReleaseLargeNoteList() {
    if (t_notes.capacity() > kMaxKeptNotes) std::vector<TimedNote>().swap(t_notes);
  }
};

}  // namespace

size_t LoudnessNoteMemoryKept() { return t_notes.capacity() * sizeof(TimedNote); }

double Percentile90(std::vector<double>& values) {
  auto positiveEnd = std::partition(values.begin(), values.end(), [](double v) { return v > 0; });
  const size_t count = static_cast<size_t>(positiveEnd - values.begin());
  if (count < 8) return 0;
  size_t index = std::min(static_cast<size_t>(0.9 * static_cast<double>(count)), count - 1);
  std::nth_element(values.begin(), values.begin() + index, positiveEnd);
  return values[index];
}

int EstimateSongLoudness(const SongModel& model) {
  const auto& events = model.SongEventList;
  if (events.empty()) return kUnknownLoudness;
  const double division = model.SongPpq > 0 ? model.SongPpq : 480;

  std::array<int, 32> volume;
  std::array<int, 32> expression;
  volume.fill(100);
  expression.fill(127);
  std::vector<int> open(32 * 128, -1);  // open note per port, channel and note
  // Tens of thousands of notes per song.
  std::vector<TimedNote>& notes = t_notes;
  notes.clear();
  ReleaseLargeNoteList release;

  double tempo = 500000;
  double now = 0;
  uint32_t previous = 0;
  for (const auto& e : events) {
    if (e.tick > previous) {
      now += static_cast<double>(e.tick - previous) * tempo / 1000.0 / division;
      previous = e.tick;
    }
    if (e.kind == kSongEventTempo) {
      if (e.tempo > 0) tempo = e.tempo;
      continue;
    }
    if (e.kind != kSongEventChannel || e.port > 1) continue;
    const int slot = e.port * 16 + (e.status & 0x0F);
    const int type = e.status & 0xF0;
    if (type == 0xB0) {
      if (e.data1 == 7) volume[slot] = e.data2;
      else if (e.data1 == 11) expression[slot] = e.data2;
      continue;
    }
    const bool noteOn = type == 0x90 && e.data2 > 0;
    const bool noteOff = type == 0x80 || (type == 0x90 && e.data2 == 0);
    if ((!noteOn && !noteOff) || e.data1 > 127) continue;
    int& openNote = open[slot * 128 + e.data1];
    if (openNote >= 0) {
      notes[openNote].end = now;
      openNote = -1;
    }
    if (noteOn) {
      double v = e.data2 / 127.0, vol = volume[slot] / 127.0, ex = expression[slot] / 127.0;
      double energy = v * v * vol * vol * ex * ex;
      openNote = static_cast<int>(notes.size());
      notes.push_back({now, -1, energy * energy});
    }
  }
  if (notes.size() < 30) return kUnknownLoudness;

  double latest = 0;
  for (auto& n : notes) {
    if (n.end < 0 || n.end < n.start) n.end = n.start + kUnclosedNoteMs;
    if (n.end - n.start > kLongestNoteMs) n.end = n.start + kLongestNoteMs;
    latest = std::max(latest, n.end);
  }
  const double lastWindow = std::floor(latest / kWindowMs);
  if (lastWindow < 7 || lastWindow > 199999) return kUnknownLoudness;
  const size_t w = static_cast<size_t>(lastWindow);
  std::vector<double> windows(w + 1, 0.0);
  for (const auto& n : notes) {
    size_t first = static_cast<size_t>(std::max(0.0, std::floor(n.start / kWindowMs)));
    size_t last = static_cast<size_t>(std::max(0.0, std::floor(n.end / kWindowMs)));
    last = std::min(std::max(last, first), w);
    for (size_t i = first; i <= last; ++i) windows[i] += n.energy;
  }
  const double e = Percentile90(windows);
  if (!(e > 0)) return kUnknownLoudness;
  return static_cast<int>(std::lround(100.0 * std::log10(e)));
}

void BuildMelodyArticulation(SongModel& model) {
  const auto& events = model.SongEventList;
  auto& out = model.MelodyArticulation;
  out.assign(events.size(), MelodyArticulationEntry{});

  const int64_t beat = model.SongPpq > 0 ? model.SongPpq : 120;
  const int64_t half = beat / 2;
  const int64_t oneAndHalf = beat * 3 / 2;

  struct Note {
    size_t index;
    int64_t start;
    int64_t length;
    int velocity;
    int note;
  };
  std::vector<Note> notes;
  std::array<int, 128> open;
  open.fill(-1);
  for (size_t i = 0; i < events.size(); ++i) {
    const auto& e = events[i];
    if (e.kind != kSongEventChannel || e.port != 0 || (e.status & 0x0F) != 0 || e.data1 > 127) continue;
    const int type = e.status & 0xF0;
    const bool noteOn = type == 0x90 && e.data2 > 0;
    const bool noteOff = type == 0x80 || (type == 0x90 && e.data2 == 0);
    if (!noteOn && !noteOff) continue;
    int& slot = open[e.data1];
    if (slot >= 0) {
      notes[slot].length = static_cast<int64_t>(e.tick) - notes[slot].start;
      slot = -1;
    }
    if (noteOn) {
      slot = static_cast<int>(notes.size());
      notes.push_back({i, e.tick, -1, e.data2, e.data1});
    }
  }
  for (auto& n : notes)
    if (n.length < 0) n.length = beat;
  std::stable_sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) { return a.start < b.start; });

  const auto& bars = model.BarTicks;
  for (size_t i = 0; i < notes.size(); ++i) {
    const Note& n = notes[i];
    int64_t gapBefore = i == 0 ? -1 : n.start - (notes[i - 1].start + notes[i - 1].length);
    int64_t gapAfter = i + 1 == notes.size() ? -1 : notes[i + 1].start - (n.start + n.length);
    gapBefore = std::max<int64_t>(gapBefore, 0);
    gapAfter = std::max<int64_t>(gapAfter, 0);
    const bool shortLeadIn = gapBefore < half;

    int accent = 40;
    if (!bars.empty()) {
      auto it = std::upper_bound(bars.begin(), bars.end(), static_cast<uint32_t>(n.start));
      int64_t barStart = it == bars.begin() ? bars.front() : *(it - 1);
      int64_t beatInBar = (n.start - barStart) / beat;
      accent = beatInBar == 0 ? 40 : beatInBar == 2 ? 30 : 16;
    }
    if (shortLeadIn) accent -= 10;

    int v = n.velocity + accent;
    if (gapAfter >= half && n.length >= beat) v -= 14;
    if (n.length < half) v -= 14;
    v = std::clamp(v, 45, 127);

    MelodyArticulationEntry entry;
    entry.velocity = static_cast<uint8_t>(v);
    if (n.length < oneAndHalf) {
      entry.amount1 = n.length < beat ? 0 : 26;
      entry.amount2 = n.length >= beat ? 130 : (shortLeadIn ? 0 : 90);
    } else {
      entry.amount1 = 40;
      entry.amount2 = 170;
    }
    entry.level = static_cast<uint8_t>(n.note / 12 + 95);
    entry.length = static_cast<uint32_t>(n.length);
    out[n.index] = entry;
  }
}
