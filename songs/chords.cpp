#include "songs/chords.h"

#include <algorithm>

#include "songs/bars.h"

ChordTimelineState Chords;

namespace {

// Guarded by Chords.ChordTimelineMutex.
CurrentChordValue LastComputedChord;
bool HasLastComputedChord = false;
CurrentChordValue PageActiveChord;

int PitchClassOfLetter(wchar_t c) {
  switch (c) {
    case L'C': case L'c': return 0;
    case L'D': case L'd': return 2;
    case L'E': case L'e': return 4;
    case L'F': case L'f': return 5;
    case L'G': case L'g': return 7;
    case L'A': case L'a': return 9;
    case L'B': case L'b': return 11;
    default: return -1;
  }
}

bool IsBarMark(wchar_t c) { return c == L'/' || c == L'|'; }
bool EndsToken(wchar_t c) { return c == L'.' || c == L',' || c == L' ' || IsBarMark(c); }

}  // namespace

bool IsNoteLetter(wchar_t c) { return PitchClassOfLetter(c) >= 0; }

ChordName ParseChordName(std::wstring_view text) {
  ChordName out;
  if (text.empty() || !IsNoteLetter(text[0])) return out;
  int root = PitchClassOfLetter(text[0]);
  size_t qualityStart = 1;
  if (text.size() > 1 && text[1] == L'#') {
    root = (root + 1) % 12;
    qualityStart = 2;
  } else if (text.size() > 1 && text[1] == L'b') {
    root = (root + 11) % 12;
    qualityStart = 2;
  }
  out.root = root;
  out.bass = root;
  const size_t slash = text.find(L'/');
  const size_t qualityEnd = slash == std::wstring_view::npos ? text.size() : slash;
  std::wstring_view quality;
  if (qualityStart < qualityEnd) quality = text.substr(qualityStart, qualityEnd - qualityStart);
  if (!quality.empty()) {
    if (quality[0] == L'm') {
      bool major7 = quality.size() >= 3 && (quality[1] == L'a' || quality[1] == L'A') &&
                    (quality[2] == L'j' || quality[2] == L'J');
      out.minor = !major7;
    } else if (quality[0] == L'M') {
      out.minor = false;
    } else if (quality.size() >= 3 && (quality[0] == L'd' || quality[0] == L'D') &&
               (quality[1] == L'i' || quality[1] == L'I') && (quality[2] == L'm' || quality[2] == L'M')) {
      out.minor = true;
    }
  }
  if (slash != std::wstring_view::npos && slash + 1 < text.size() && IsNoteLetter(text[slash + 1])) {
    int bass = PitchClassOfLetter(text[slash + 1]);
    if (slash + 2 < text.size() && text[slash + 2] == L'#') bass = (bass + 1) % 12;
    else if (slash + 2 < text.size() && text[slash + 2] == L'b') bass = (bass + 11) % 12;
    out.bass = bass;
  }
  return out;
}

std::vector<std::wstring> SplitChordRun(std::wstring_view token) {
  std::vector<std::wstring> names;
  if (token.empty()) return names;
  if (token == L"NC") return {L"NC"};
  std::wstring current(1, token[0]);
  for (size_t i = 1; i < token.size(); ++i) {
    const wchar_t c = token[i];
    if (c == L'N' && i + 1 < token.size() && token[i + 1] == L'C') {
      names.push_back(std::move(current));
      current = L"NC";
      ++i;
    } else if (c >= L'A' && c <= L'G' && !(c == L'C' && current == L"N")) {
      names.push_back(std::move(current));
      current.assign(1, c);
    } else {
      current.push_back(c);
    }
  }
  names.push_back(std::move(current));
  return names;
}

std::vector<ChordEntry> MakeChordTimeline(const std::vector<std::wstring>& chordLines,
                                          const std::vector<uint32_t>& barTicks, int ppq) {
  std::vector<ChordEntry> entries;
  auto barStart = [&](int64_t bar) -> uint64_t {
    if (bar < 0) bar = 0;
    if (barTicks.empty()) return static_cast<uint64_t>(bar) * kTicksPerBarWithoutBars;
    if (static_cast<size_t>(bar) < barTicks.size()) return barTicks[bar];
    return barTicks.back();
  };
  // A beat is a quarter note; a song without a division counts 120 ticks to it, as its bars do.
  const uint64_t beatTicks = ppq > 0 ? static_cast<uint64_t>(ppq) : 120;
  int64_t bar = 1;
  for (const auto& line : chordLines) {
    int64_t beat = 0;
    size_t i = 0;
    while (i < line.size()) {
      const wchar_t c = line[i];
      if (IsBarMark(c)) {
        ++bar;
        beat = 0;
        ++i;
      } else if (c == L'.' || c == L',') {
        ++beat;
        ++i;
      } else if (c == L' ' || c == L'\t') {
        ++i;
      } else {
        size_t end = i;
        while (end < line.size() && !EndsToken(line[end])) ++end;
        for (const auto& name : SplitChordRun(std::wstring_view(line).substr(i, end - i))) {
          ChordName chord = ParseChordName(name);
          uint64_t tick = barStart(bar) + static_cast<uint64_t>(beat) * beatTicks;
          ChordEntry e;
          e.tick = tick > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(tick);
          e.root = chord.root;
          e.bass = chord.bass;
          e.minor = chord.minor;
          e.noChord = name == L"NC";
          entries.push_back(e);
          ++beat;
        }
        i = end;
      }
    }
    size_t last = line.find_last_not_of(L" \t");
    if (last != std::wstring::npos && !IsBarMark(line[last])) ++bar;
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ChordEntry& a, const ChordEntry& b) { return a.tick < b.tick; });
  return entries;
}

void BuildChordTimeline(const SongModel& song) {
  std::vector<ChordEntry> fresh = MakeChordTimeline(song.ChordLines, song.BarTicks, song.SongPpq);
  {
    std::lock_guard lock(Chords.ChordTimelineMutex);
    Chords.ChordTimeline.swap(fresh);
  }
  // The old timeline is freed here, outside the lock.
}

void SetPageActiveChord(std::wstring_view name) {
  ChordName chord = ParseChordName(name);
  std::lock_guard lock(Chords.ChordTimelineMutex);
  PageActiveChord = {chord.root, chord.bass, chord.minor, name == L"NC"};
}

CurrentChordValue CurrentChord(const ChordClock& now) {
  std::lock_guard lock(Chords.ChordTimelineMutex);
  if (!now.playing)
    return HasLastComputedChord ? LastComputedChord : CurrentChordValue{};
  CurrentChordValue chord;
  if (Chords.ChordTimeline.empty()) {
    chord = PageActiveChord;
  } else {
    const uint32_t tick = now.tick;
    auto it = std::upper_bound(Chords.ChordTimeline.begin(), Chords.ChordTimeline.end(), tick,
                               [](uint32_t t, const ChordEntry& e) { return t < e.tick; });
    const ChordEntry& e = it == Chords.ChordTimeline.begin() ? Chords.ChordTimeline.front() : *(it - 1);
    chord = {e.root, e.bass, e.minor != 0, e.noChord != 0};
  }
  const int key = now.key;
  if (!chord.noChord && key != 0) {
    chord.root = ((chord.root + key) % 12 + 12) % 12;
    chord.bass = ((chord.bass + key) % 12 + 12) % 12;
  }
  LastComputedChord = chord;
  HasLastComputedChord = true;
  return chord;
}
