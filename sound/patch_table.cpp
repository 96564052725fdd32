// Reading "PATCHTBL.CFG" into the substitution map.
#include "sound/patch_table.h"

#include <cwchar>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"

PatchTableState PatchTable;


namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring TrimSpacesAndTabs(std::wstring_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::wstring(s.substr(b, e - b));
}

// Reads one decimal integer word; false when the word is not wholly a number.
bool ReadInt(const std::wstring& text, size_t& pos, int& out) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  size_t start = pos;
  if (pos < text.size() && (text[pos] == L'-' || text[pos] == L'+')) ++pos;
  size_t digits = pos;
  while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9') ++pos;
  if (pos == digits || pos - digits > 9) return false;
  out = static_cast<int>(std::wcstol(text.c_str() + start, nullptr, 10));
  return true;
}

}  // namespace

void LoadPatchTable() {
  PatchTable.PatchSubstitutions.clear();
  auto bytes = plat::ReadFileBytes(plat::RealPath(L"<root>/system/PATCHTBL.CFG"));
  if (!bytes) {
    DebugLog(L"[음색표] PATCHTBL.CFG 없음 - 음색 바꿔치기 안 함");
    return;
  }
  std::map<std::wstring, PatchTone> names;
  std::vector<std::pair<std::wstring, std::wstring>> rules;
  int unreadable = 0, perTrack = 0;
  size_t pos = 0;
  while (pos <= bytes->size()) {
    size_t end = bytes->find('\n', pos);
    if (end == std::string::npos) end = bytes->size();
    std::wstring line = Utf8ToWide(std::string_view(*bytes).substr(pos, end - pos));
    pos = end + 1;
    if (size_t semi = line.find(L';'); semi != std::wstring::npos) line.resize(semi);
    size_t b = 0;
    while (b < line.size() && IsBlank(line[b])) ++b;
    size_t e = line.size();
    while (e > b && (IsBlank(line[e - 1]) || line[e - 1] == L'\r')) --e;
    line = line.substr(b, e - b);
    if (line.empty()) continue;
    if (line[0] == L'@') {
      size_t p = 1;
      while (p < line.size() && IsBlank(line[p])) ++p;
      size_t nameEnd = p;
      while (nameEnd < line.size() && !IsBlank(line[nameEnd])) ++nameEnd;
      std::wstring name = line.substr(p, nameEnd - p);
      PatchTone t;
      size_t q = nameEnd;
      if (name.empty() || !ReadInt(line, q, t.lsb) || !ReadInt(line, q, t.msb) ||
          !ReadInt(line, q, t.program) || !ReadInt(line, q, t.volume)) {
        ++unreadable;
        continue;
      }
      names[name] = t;
    } else if (line[0] == L'#') {
      size_t gt = line.find(L'>');
      if (gt == std::wstring::npos) {
        ++unreadable;
        continue;
      }
      std::wstring from = TrimSpacesAndTabs(std::wstring_view(line).substr(1, gt - 1));
      std::wstring to = TrimSpacesAndTabs(std::wstring_view(line).substr(gt + 1));
      if (from.empty() || to.empty()) {
        ++unreadable;
        continue;
      }
      rules.emplace_back(from, to);
    } else if (line[0] == L'$') {
      ++perTrack;
    }
    if (end == bytes->size()) break;
  }
  int notFound = 0, duplicates = 0;
  for (const auto& [from, to] : rules) {
    auto src = names.find(from);
    auto dst = names.find(to);
    if (src == names.end() || dst == names.end()) {
      ++notFound;
      continue;
    }
    uint32_t key = PatchToneKey(src->second.lsb, src->second.msb, src->second.program);
    if (PatchTable.PatchSubstitutions.count(key)) ++duplicates;
    PatchTable.PatchSubstitutions[key] = dst->second;
  }
  std::wstring log = L"[음색표] 음색 " + std::to_wstring(names.size()) + L"개 / 변환규칙 " +
                     std::to_wstring(rules.size()) + L"개 -> 실제 적용 " +
                     std::to_wstring(PatchTable.PatchSubstitutions.size()) + L"개";
  if (notFound) log += L" / 이름을 못 찾은 규칙 " + std::to_wstring(notFound) + L"개";
  if (duplicates) log += L" / 같은 원본 중복 " + std::to_wstring(duplicates) + L"개(뒤엣것 적용)";
  if (unreadable) log += L" / 못 읽은 줄 " + std::to_wstring(unreadable) + L"개";
  if (perTrack) log += L" / 트랙별 규칙 " + std::to_wstring(perTrack) + L"개(지금은 안 씀)";
  DebugLog(log);
}

void ApplyPatchTable(std::vector<SongEvent>& events) {
  std::wstring summary;
  int count = ApplyPatchTableTo(events, PatchTable.PatchEventVolume, summary);
  if (count > 0) DebugLog(L"[음색표] 이 곡에서 바꾼 음색 " + std::to_wstring(count) + L"곳: " + summary);
}
