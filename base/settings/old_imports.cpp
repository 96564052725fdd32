#include "base/settings/old_imports.h"

#include <algorithm>
#include <cstdint>

#include "base/text.h"

std::string TrimNarrow(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r\n";
  const size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kBlank);
  return std::string(text.substr(first, last - first + 1));
}

std::string ToLowerNarrow(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

OldConfigMap ParseOldConfigText(std::string_view bytes) {
  OldConfigMap map;
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string line = TrimNarrow(bytes.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = ToLowerNarrow(TrimNarrow(std::string_view(line).substr(0, eq)));
    if (key.empty()) continue;
    map[std::move(key)] = TrimNarrow(std::string_view(line).substr(eq + 1));
  }
  return map;
}

namespace {

const std::string* Find(const OldConfigMap& map, const std::string& key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

}  // namespace

bool LookupOldConfigInt(const OldConfigMap& map, std::string_view name, int& value) {
  const std::string key = ToLowerNarrow(name);
  const std::string* found = nullptr;
  for (const char* prefix : {"", "_", "n", "n_", "_n"})
    if ((found = Find(map, prefix + key))) break;
  if (!found && key.size() > 1 && (key[0] == '_' || key[0] == 'n')) found = Find(map, key.substr(1));
  if (!found) return false;
  value = LeadingInt(std::string_view(*found));
  return true;
}

bool LookupOldConfigText(const OldConfigMap& map, std::string_view name, std::string& text) {
  const std::string key = ToLowerNarrow(name);
  for (const char* prefix : {"", "_", "n"}) {
    if (const std::string* found = Find(map, prefix + key)) {
      text = *found;
      return true;
    }
  }
  return false;
}

int OldLevelToPercent(const OldConfigMap& map, std::string_view key) {
  int v = 0;
  if (!LookupOldConfigInt(map, key, v) || v < 0 || v > 13) return -1;
  const std::string nn = (v < 10 ? "0" : "") + std::to_string(v);
  int mute = 0;
  if (LookupOldConfigInt(map, "UserMute_" + nn, mute) && mute != 0) return 0;
  int volume = 100;
  LookupOldConfigInt(map, "UserVolume_" + nn, volume);
  return std::clamp(volume, 0, 150);
}

int OldKeyToOffset(int original, int key) {
  if (key == 255) return 99;
  const int d = ((key - original) % 12 + 12) % 12;
  return d <= 6 ? d : d - 12;
}

int MergeOldUserKeyRecords(std::string_view bytes, std::map<int, UserKey>& keys, int& skipped) {
  skipped = 0;
  int added = 0;
  constexpr size_t kRecord = 8;
  const size_t count = bytes.size() / kRecord;
  for (size_t i = 0; i < count; ++i) {
    const auto* r = reinterpret_cast<const unsigned char*>(bytes.data() + i * kRecord);
    if (std::all_of(r, r + 6, [](unsigned char b) { return b == 0; })) continue;
    // Record numbers beyond the int range cannot be songs; such a file is not a key file.
    if (i > static_cast<size_t>(INT32_MAX)) break;
    const int song = static_cast<int>(i);
    if (keys.count(song)) {
      ++skipped;
      continue;
    }
    keys[song] = UserKey{OldKeyToOffset(r[0], r[2]), OldKeyToOffset(r[0], r[4])};
    ++added;
  }
  return added;
}
