#pragma once
// Readers of the older accompaniment program's files: its loose "key = value" settings file and
// its binary per-song singer key file. Both take the file's bytes and check every length; a
// broken file gives an empty result, never a partial write.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "base/settings/song_settings.h"

// The older settings file as one map from lower-cased key to value text (sections do not separate
// keys; a later line replaces an earlier one). Lines are split at LF and trimmed of blanks, tabs,
// CR and LF; empty lines and lines starting with ";", "#" or "[" are skipped, as are lines
// without "=" and empty keys.
using OldConfigMap = std::map<std::string, std::string>;
OldConfigMap ParseOldConfigText(std::string_view bytes);

std::string TrimNarrow(std::string_view text);
std::string ToLowerNarrow(std::string_view text);

// A number by the older program's loose key names: bare, then "_", "n", "n_", "_n" before it, then
// without a leading "_" or "n". The value is the leading integer of the text.
bool LookupOldConfigInt(const OldConfigMap& map, std::string_view name, int& value);
// A text by name, bare or with "_" or "n" before it.
bool LookupOldConfigText(const OldConfigMap& map, std::string_view name, std::string& text);
// The percent of an older level key (0..13 into the user volume table), or -1.
int OldLevelToPercent(const OldConfigMap& map, std::string_view key);

// One singer key of an older record: 255 (no key) gives 99, any other pitch the interval from the
// original key in -5..+6.
int OldKeyToOffset(int original, int key);

// Adds the songs of an older key file (8-byte records, record i = song i; a short tail is
// ignored) to `keys`; a song that already has keys is left alone and counted in `skipped`.
// Returns the number of songs added.
int MergeOldUserKeyRecords(std::string_view bytes, std::map<int, UserKey>& keys, int& skipped);
