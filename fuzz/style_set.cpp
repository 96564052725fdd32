// Fuzz target for the rhythm-style reader: any bytes at a few song resolutions and bass gates must
// give a sorted list inside 32-bit ticks, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "playback/rhythm_style.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int ppq[] = {0, 1, 96, 120, 480, 960, 30000};
  const int choice = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const StylePattern p = ParseStylePattern(bytes, ppq[choice % 7], (choice / 7) % 2 ? 50 : 100);
  for (size_t i = 1; i < p.events.size(); ++i)
    if (p.events[i - 1].tick > p.events[i].tick) __builtin_trap();
  if (ppq[choice % 7] > 0 && !p.events.empty() && p.length == 0) __builtin_trap();
  return 0;
}
