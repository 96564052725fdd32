// Fuzz target for the readers of the older program's files: the loose settings text (with the
// whole report walk, which applies nothing) and the binary singer key records. Every song the
// key reader adds must come from a whole record, with keys in -5..+6 or 99.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "base/settings/old_imports.h"
#include "ui/old_config_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const OldConfigMap map = ParseOldConfigText(bytes);
  for (const auto& [key, value] : map)
    if (key.empty() || key != ToLowerNarrow(key)) __builtin_trap();
  // A small tone table of every part type, so the rhythm tone lines are walked too.
  static const std::vector<SoundTableEntry> table = {
      {L"Kit", 0, 0, 0, 0, 0, 36, 0}, {L"Snare", 1, 0, 2, 0, 16, 38, 0}, {L"Finger", 2, 0, 3, 0, 33, 0, 0},
      {L"Steel", 3, 0, 0, 0, 25, 0, 0}, {L"Hat", 4, 0, 0, 0, 0, 42, 0}};
  (void)ApplyOldConfig(map, false, table);

  std::map<int, UserKey> keys{{1, {0, 0}}};
  int skipped = 0;
  const int added = MergeOldUserKeyRecords(bytes, keys, skipped);
  if (added < 0 || skipped < 0 || static_cast<size_t>(added + skipped) > size / 8) __builtin_trap();
  for (const auto& [song, k] : keys) {
    if (song == 1) continue;
    if (static_cast<size_t>(song) >= size / 8) __builtin_trap();
    for (int v : {k.male, k.female})
      if (v != 99 && (v < -5 || v > 6)) __builtin_trap();
  }
  return 0;
}
