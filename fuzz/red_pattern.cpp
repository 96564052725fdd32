// Fuzz target for the pattern editor's MIDI reader and writer: a pattern that the writer takes must
// read back equal (the editor verifies every save that way). The writer may refuse one whose
// events lie further apart than a delta time holds (a skipped end-of-track inside a track adds
// its delta to the next event's).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "playback/red_pattern_midi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  RedPattern first;
  if (!ReadRedPatternBytes(bytes, first)) return 0;
  const auto written = BuildRedPatternBytes(first);
  if (!written) return 0;
  RedPattern again;
  if (!ReadRedPatternBytes(*written, again) || !RedPatternsEqual(first, again)) __builtin_trap();
  return 0;
}
