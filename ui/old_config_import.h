#pragma once
// Import of the older accompaniment program's settings file: the values this program has an
// equivalent for (channel and drum volumes, rhythm drum volumes, rhythm tones, equalizer,
// automatic key, output mode, module model) are applied and saved, and an HTML report says what
// was taken.
#include <string>
#include <string_view>
#include <vector>

#include "base/settings/old_imports.h"
#include "sound/tone_table.h"

// The largest file taken as an older settings file (they are a few kilobytes).
inline constexpr size_t kOldConfigMaxBytes = 1 << 20;

// Reads the file into `map`; the number of keys (0 also when the file cannot be read, is larger
// than kOldConfigMaxBytes or holds NUL bytes: then `why` says so).
size_t ParseOldConfigFile(const std::wstring& path, OldConfigMap& map, std::wstring* why = nullptr);

// Applies the file and saves the changed settings files; false (and nothing changed) when the
// file gave no keys, with `report` then naming why when the file was refused.
bool ImportOldConfig(const std::wstring& path, std::wstring& report);

// The report of a parsed file; with `apply` every value is also stored (without saving), else it
// is a dry run. The same walk serves the import and its tests. `table`: the tone table the rhythm
// tone numbers count in (empty: the tone line says it was skipped).
std::wstring ApplyOldConfig(const OldConfigMap& map, bool apply, const std::vector<SoundTableEntry>& table);
