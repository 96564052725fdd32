#include "songs/file_listing.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

}  // namespace

bool MatchFileNamePattern(std::string_view pattern, std::string_view name) {
  // Iterative matcher with one backtrack point per '*': linear in practice, never recursive.
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> ListMatchingFiles(std::wstring_view installPattern) {
  std::vector<std::string> names;
  const size_t slash = installPattern.find_last_of(L"/\\");
  if (slash == std::wstring_view::npos) return names;
  const std::filesystem::path dir = plat::RealPath(installPattern.substr(0, slash));
  if (dir.empty()) return names;
  const std::string pattern = plat::WideToUtf8Bytes(installPattern.substr(slash + 1));
  return plat::ListFileNames(dir, [&](std::string_view name) { return MatchFileNamePattern(pattern, name); });
}

std::optional<int> ParseDigitRun(std::string_view digits) {
  long long value = 0;
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 0x7fffffff) return std::nullopt;
  }
  return int(value);
}
