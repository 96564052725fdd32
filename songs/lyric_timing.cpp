#include "songs/lyric_timing.h"

#include <algorithm>

void ThinSecondStaffNotes(std::vector<NoteSpan>& notes) {
  std::stable_sort(notes.begin(), notes.end(), [](const NoteSpan& a, const NoteSpan& b) {
    if (a.start != b.start) return a.start < b.start;
    return a.note < b.note;
  });
  std::vector<NoteSpan> kept;
  kept.reserve(notes.size());
  for (const auto& n : notes) {
    if (kept.empty() || static_cast<int64_t>(n.start) - kept.back().start >= 10) kept.push_back(n);
  }
  notes = std::move(kept);
}

int CountLyricSyllables(const std::vector<std::wstring>& lyricLines) {
  int count = 0;
  for (const auto& line : lyricLines)
    for (wchar_t c : line)
      if (c != L'\t' && c != L' ' && c != L'-' && c != L'_' && c != L'~') ++count;
  return count;
}

void DeduplicateLyricTicks(std::vector<uint32_t>& ticks, int syllables) {
  if (syllables <= 0 || ticks.empty()) return;
  if (static_cast<int64_t>(ticks.size()) < (3 * static_cast<int64_t>(syllables)) / 2) return;
  ticks.erase(std::unique(ticks.begin(), ticks.end()), ticks.end());
}

void SnapLyricTicksToMelody(std::vector<uint32_t>& ticks, const std::vector<NoteSpan>& melody) {
  if (melody.empty() || ticks.empty()) return;
  std::vector<int64_t> starts;
  starts.reserve(melody.size());
  for (const auto& n : melody) starts.push_back(static_cast<uint32_t>(n.start));
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  for (auto& tick : ticks) {
    const int64_t t = tick;
    auto after = std::lower_bound(starts.begin(), starts.end(), t);
    int64_t best = -1;
    int64_t bestDistance = 0;
    if (after != starts.end()) {
      best = *after;
      bestDistance = *after - t;
    }
    if (after != starts.begin()) {
      int64_t before = *(after - 1);
      if (best < 0 || t - before < bestDistance) {  // a tie keeps the later start
        best = before;
        bestDistance = t - before;
      }
    }
    if (best >= 0 && bestDistance <= 20) tick = static_cast<uint32_t>(best);
  }
}

int64_t FindJumpMarkTick(const SongModel& model, uint32_t id) {
  for (const auto& m : model.JumpMarks)
    if (m.id == id) return m.tick;
  return -1;
}
