// Score octave and user mark files.
#include "songs/score_files.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <optional>
#include <vector>

#include "base/debug_log.h"
#include "platform/files.h"
#include "platform/paths.h"

ScoreFilesState ScoreFiles;

namespace {

constexpr const wchar_t* kScoreOctPath = L"<root>/system/score_oct.cfg";
constexpr const wchar_t* kUserMarksPath = L"<root>/system/usermarks.cfg";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The white-space separated words of one line.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

// A whole word as a decimal integer of type T (a leading '+' allowed); none when it is not one or
// does not fit.
template <typename T>
std::optional<T> ReadInt(std::string_view word) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  T value{};
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc() || end != word.data() + word.size() || word.empty()) return std::nullopt;
  return value;
}

template <typename Fn>
void ForEachLine(std::string_view bytes, Fn fn) {
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    fn(bytes.substr(start, end - start));
    start = end + 1;
  }
}

std::string ReadWhole(const wchar_t* installPath) {
  const std::filesystem::path path = plat::RealPath(installPath);
  if (path.empty()) return {};
  return plat::ReadFileBytes(path).value_or(std::string());
}

// Write failures stay silent for the operator: the maps keep their values, and the next change
// writes the whole file again.
void WriteWhole(const wchar_t* installPath, std::string_view bytes) {
  const std::filesystem::path path = plat::RealPath(installPath);
  std::error_code ec;
  if (!path.empty()) std::filesystem::create_directories(path.parent_path(), ec);
  if (path.empty() || !plat::WriteFileAtomic(path, bytes))
    DebugLog(std::wstring(L"[SONG] 파일을 쓰지 못함: ") + installPath);
}

}  // namespace

std::map<int, std::array<int, 4>> ParseScoreOct(std::string_view bytes) {
  std::map<int, std::array<int, 4>> map;
  ForEachLine(bytes, [&](std::string_view line) {
    const std::vector<std::string_view> w = Words(line);
    if (w.size() < 5) return;
    std::optional<int> v[5];
    for (int i = 0; i < 5; ++i) {
      v[i] = ReadInt<int>(w[static_cast<size_t>(i)]);
      if (!v[i]) return;
    }
    if (*v[0] <= 0) return;
    map[*v[0]] = {std::clamp(*v[1], -11, 11), std::clamp(*v[2], -11, 11), std::clamp(*v[3], -3, 3),
                  std::clamp(*v[4], -3, 3)};
  });
  return map;
}

std::string FormatScoreOct(const std::map<int, std::array<int, 4>>& map) {
  std::string out;
  for (const auto& [song, v] : map) {
    out += std::to_string(song);
    for (int x : v) out += ' ' + std::to_string(x);
    out += '\n';
  }
  return out;
}

std::map<int, UserMarks> ParseUserMarks(std::string_view bytes) {
  std::map<int, UserMarks> map;
  ForEachLine(bytes, [&](std::string_view line) {
    const std::vector<std::string_view> w = Words(line);
    if (w.size() < 4 || w[0] != "M") return;
    const auto song = ReadInt<int>(w[1]);
    const auto j = ReadInt<int64_t>(w[2]);
    const auto k = ReadInt<int64_t>(w[3]);
    if (!song || !j || !k) return;
    std::optional<int64_t> v3;
    if (w.size() > 4) v3 = ReadInt<int64_t>(w[4]);
    map[*song] = UserMarks{*j, *k, v3.value_or(-1)};
  });
  return map;
}

std::string FormatUserMarks(const std::map<int, UserMarks>& map) {
  std::string out;
  for (const auto& [song, m] : map) {
    if (m.j < 0 && m.k < 0 && m.v3 < 0) continue;
    out += "M " + std::to_string(song) + ' ' + std::to_string(m.j) + ' ' + std::to_string(m.k) + ' ' +
           std::to_string(m.v3) + '\n';
  }
  return out;
}

void LoadScoreOctConfig() { ScoreFiles.ScoreOctMap = ParseScoreOct(ReadWhole(kScoreOctPath)); }
void SaveScoreOctConfig() { WriteWhole(kScoreOctPath, FormatScoreOct(ScoreFiles.ScoreOctMap)); }
void LoadUserMarks() { ScoreFiles.UserMarkMap = ParseUserMarks(ReadWhole(kUserMarksPath)); }
void SaveUserMarks() { WriteWhole(kUserMarksPath, FormatUserMarks(ScoreFiles.UserMarkMap)); }
