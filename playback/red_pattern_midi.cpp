#include "playback/red_pattern_midi.h"

#include <algorithm>
#include <limits>

#include "platform/files.h"

namespace {

constexpr uint32_t kMaxDelta = 0x0FFFFFFF;  // what a 4-byte variable-length number holds

uint32_t Be(std::string_view s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}

// A variable-length number of at most 4 bytes starting at `pos`, which must stay below `end`;
// `pos` moves past it. False when the chunk ends inside it.
bool ReadVarLen(std::string_view s, size_t& pos, size_t end, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos >= end) return false;
    const uint8_t b = static_cast<uint8_t>(s[pos++]);
    value = (value << 7) | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  return true;
}

// Reads the events of one track chunk [pos, end) into `track`, numbering them from `seq`.
void ReadTrack(std::string_view s, size_t pos, size_t end, RedTrack& track, int32_t& seq) {
  uint64_t tick = 0;
  uint8_t running = 0;
  while (pos < end) {
    uint32_t delta = 0;
    if (!ReadVarLen(s, pos, end, delta) || pos >= end) return;
    tick = std::min<uint64_t>(tick + delta, std::numeric_limits<uint32_t>::max());
    const size_t start = pos;
    uint8_t status = static_cast<uint8_t>(s[pos]);
    if (status & 0x80) {
      ++pos;
      if (status < 0xF0) running = status;
    } else if (running) {
      status = running;
    } else {
      return;  // a data byte before any channel status: the rest of the track is unreadable
    }
    std::string bytes;
    if (status == 0xFF) {
      if (pos >= end) return;
      const uint8_t type = static_cast<uint8_t>(s[pos++]);
      uint32_t length = 0;
      if (!ReadVarLen(s, pos, end, length) || length > end - pos) return;
      const size_t dataAt = pos;
      pos += length;
      if (type == 0x2F) continue;  // written anew at the end of the track
      if (type == 0x21 && length > 0) track.port = static_cast<uint8_t>(s[dataAt]);
      bytes.assign(s.substr(start, pos - start));
    } else if (status == 0xF0 || status == 0xF7) {
      uint32_t length = 0;
      if (!ReadVarLen(s, pos, end, length) || length > end - pos) return;
      pos += length;
      bytes.assign(s.substr(start, pos - start));
    } else {
      const size_t dataBytes = (status & 0xE0) == 0xC0 ? 1 : 2;  // C0..DF take one
      if (dataBytes > end - pos) return;
      bytes.push_back(static_cast<char>(status));
      bytes.append(s.substr(pos, dataBytes));
      pos += dataBytes;
    }
    track.events.push_back(RedEvent{static_cast<uint32_t>(tick), seq++, std::move(bytes)});
  }
}

void AppendVarLen(std::string& out, uint32_t v) {
  char buf[4];
  int n = 0;
  buf[n++] = static_cast<char>(v & 0x7F);
  while (v >>= 7) buf[n++] = static_cast<char>(0x80 | (v & 0x7F));
  while (n > 0) out.push_back(buf[--n]);
}

void AppendBe(std::string& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::vector<const RedEvent*> InTickOrder(const RedTrack& track) {
  std::vector<const RedEvent*> order;
  order.reserve(track.events.size());
  for (const RedEvent& e : track.events) order.push_back(&e);
  std::stable_sort(order.begin(), order.end(), [](const RedEvent* a, const RedEvent* b) {
    return a->tick != b->tick ? a->tick < b->tick : a->seq < b->seq;
  });
  return order;
}

}  // namespace

bool ReadRedPatternBytes(std::string_view s, RedPattern& pattern) {
  pattern = InitRedPattern();
  if (s.size() <= 13 || s.substr(0, 4) != "MThd") return false;
  const int32_t format = static_cast<int32_t>(Be(s, 8, 2));
  const int32_t division = static_cast<int32_t>(Be(s, 12, 2));
  if (division == 0) return false;
  pattern.format = format;
  pattern.division = division;
  int32_t seq = 0;
  uint64_t pos = 8 + uint64_t{Be(s, 4, 4)};
  while (pos + 8 <= s.size() && s.substr(pos, 4) == "MTrk") {
    const uint64_t end = std::min<uint64_t>(pos + 8 + Be(s, pos + 4, 4), s.size());
    RedTrack track;
    ReadTrack(s, pos + 8, end, track, seq);
    pattern.tracks.push_back(std::move(track));
    pos = end;
  }
  pattern.loaded = !pattern.tracks.empty();
  if (!pattern.loaded) pattern = InitRedPattern();
  return pattern.loaded;
}

bool ReadRedPatternMidi(const std::filesystem::path& path, RedPattern& pattern) {
  const auto bytes = plat::ReadFileBytes(path);
  if (!bytes) {
    pattern = InitRedPattern();
    return false;
  }
  return ReadRedPatternBytes(*bytes, pattern);
}

std::optional<std::string> BuildRedPatternBytes(const RedPattern& pattern) {
  if (pattern.tracks.size() > 0xFFFF) return std::nullopt;
  std::string file = "MThd";
  AppendBe(file, 6, 4);
  AppendBe(file, static_cast<uint32_t>(pattern.format) & 0xFFFF, 2);
  AppendBe(file, static_cast<uint32_t>(pattern.tracks.size()), 2);
  AppendBe(file, static_cast<uint32_t>(pattern.division) & 0xFFFF, 2);
  for (const RedTrack& track : pattern.tracks) {
    std::string data;
    uint32_t last = 0;
    for (const RedEvent* e : InTickOrder(track)) {
      const uint32_t delta = e->tick > last ? e->tick - last : 0;
      // A longer delta would need a fifth byte, which no reader takes: refuse rather than write
      // a file that reads back differently.
      if (delta > kMaxDelta) return std::nullopt;
      AppendVarLen(data, delta);
      data += e->bytes;
      last = std::max(last, e->tick);
    }
    data += std::string{'\0', '\xFF', '\x2F', '\0'};
    file += "MTrk";
    AppendBe(file, static_cast<uint32_t>(data.size()), 4);
    file += data;
  }
  return file;
}

bool WriteRedPatternMidi(const std::filesystem::path& path, const RedPattern& pattern) {
  const auto bytes = BuildRedPatternBytes(pattern);
  return bytes && plat::WriteFileAtomic(path, *bytes);
}

bool RedPatternsEqual(const RedPattern& a, const RedPattern& b) {
  if (a.format != b.format || a.division != b.division || a.tracks.size() != b.tracks.size()) return false;
  for (size_t t = 0; t < a.tracks.size(); ++t) {
    const auto x = InTickOrder(a.tracks[t]);
    const auto y = InTickOrder(b.tracks[t]);
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i)
      if (x[i]->tick != y[i]->tick || x[i]->bytes != y[i]->bytes) return false;
  }
  return true;
}
