#pragma once
// The rhythm-pattern editor's own view of a style part file (a standard MIDI file): every event
// kept as the bytes it was read as, so a save changes only the notes the operator touched. It
// knows nothing of rows, hits or the page.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RedEvent {
  uint32_t tick = 0;  // absolute
  int32_t seq = 0;    // file order: keeps events of one tick in order
  // Status byte and data (running status written out); meta events as FF, type, length, data;
  // SysEx as F0 or F7, length, data.
  std::string bytes;
};

struct RedTrack {
  uint8_t port = 0;  // from the track's port meta event (FF 21), else 0
  std::vector<RedEvent> events;  // file order
};

struct RedPattern {
  int32_t format = 1;
  int32_t division = 120;  // ticks per quarter note
  std::vector<RedTrack> tracks;
  bool loaded = false;
};

inline RedPattern InitRedPattern() { return RedPattern{}; }

// Reads a pattern from file bytes / a file. False (and an empty pattern) for a file of 13 bytes or
// less, without "MThd" or with division 0; a damaged track is kept as far as it reads.
bool ReadRedPatternBytes(std::string_view file, RedPattern& pattern);
bool ReadRedPatternMidi(const std::filesystem::path& path, RedPattern& pattern);

// The file bytes of a pattern: each track's events by tick then file order, no running status, one
// end-of-track each. Nothing when a delta time does not fit a 4-byte variable-length number.
std::optional<std::string> BuildRedPatternBytes(const RedPattern& pattern);
// Writes the pattern through a temporary file and a rename. False when it cannot be built or
// written (the old file stays as it was).
bool WriteRedPatternMidi(const std::filesystem::path& path, const RedPattern& pattern);

// Same format, division and track count, and per track the same events (tick and bytes) in
// tick-then-file order; file order numbers and ports are not compared. Checks a save read back.
bool RedPatternsEqual(const RedPattern& a, const RedPattern& b);
