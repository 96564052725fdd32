// Play history and favourites files.
#include "songs/play_history.h"

#include <filesystem>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"

SongHistoryState SongHistory;

namespace {

constexpr const wchar_t* kHistoryPath = L"<root>/system/history.log";
constexpr const wchar_t* kFavoritesPath = L"<root>/system/favorites.log";

// Every non-empty line, split at TAB, with one trailing CR cut.
template <typename Fn>
void ForEachFieldLine(std::string_view bytes, Fn fn) {
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) {
      std::vector<std::wstring> fields = SplitWide(Utf8ToWide(line), L'\t');
      if (fields.size() >= 3) fn(fields);
    }
    if (end == bytes.size()) break;
    start = end + 1;
  }
}

std::string ReadWhole(const wchar_t* installPath) {
  std::filesystem::path path = plat::RealPath(installPath);
  if (path.empty()) return {};
  return plat::ReadFileBytes(path).value_or(std::string());
}

bool WriteWhole(const wchar_t* installPath, std::string_view bytes) {
  std::filesystem::path path = plat::RealPath(installPath);
  if (path.empty() || !plat::WriteFileAtomic(path, bytes)) {
    DebugLog(std::wstring(L"[SONG] 파일을 쓰지 못함: ") + installPath);
    return false;
  }
  return true;
}

}  // namespace

std::vector<PlayHistoryEntry> ParsePlayHistory(std::string_view bytes) {
  std::vector<PlayHistoryEntry> out;
  ForEachFieldLine(bytes, [&](const std::vector<std::wstring>& f) {
    PlayHistoryEntry e;
    e.id = LeadingInt(f[0]);
    e.title = f[1];
    e.time = f[2];
    if (f.size() > 3 && !f[3].empty()) {
      for (std::wstring& name : SplitWide(f[3], L';')) {
        if (!name.empty()) e.performers.push_back(std::move(name));
      }
    }
    if (f.size() > 4) e.insUsed = f[4] == L"1";
    out.push_back(std::move(e));
  });
  return out;
}

std::vector<FavoriteEntry> ParseFavorites(std::string_view bytes) {
  std::vector<FavoriteEntry> out;
  ForEachFieldLine(bytes, [&](const std::vector<std::wstring>& f) {
    FavoriteEntry e;
    e.name = f[0];
    e.id = LeadingInt(f[1]);
    e.title = f[2];
    if (f.size() > 3) e.t = LeadingInt(f[3]);
    if (f.size() > 4) e.p = LeadingInt(f[4]);
    if (f.size() > 5) e.km = LeadingInt(f[5]);
    out.push_back(std::move(e));
  });
  return out;
}

std::optional<std::string> MarkEndOfRun(std::string_view bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) {
      lines.emplace_back(bytes.substr(start));
      break;
    }
    lines.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  for (size_t i = lines.size(); i-- > 0;) {
    std::string line = lines[i];
    bool cr = !line.empty() && line.back() == '\r';
    if (cr) line.pop_back();
    if (line.empty()) continue;
    size_t tabs = 0;
    for (char c : line) tabs += c == '\t';
    if (tabs >= 4) {
      line.erase(line.rfind('\t') + 1);
    } else {
      line.append(4 - tabs, '\t');
    }
    line += '1';
    if (cr) line += '\r';
    lines[i] = std::move(line);
    std::string out;
    for (size_t k = 0; k < lines.size(); ++k) {
      if (k) out += '\n';
      out += lines[k];
    }
    return out;
  }
  return std::nullopt;
}

void LoadPlayHistory() { SongHistory.history = ParsePlayHistory(ReadWhole(kHistoryPath)); }

void LoadFavorites() { SongHistory.favorites = ParseFavorites(ReadWhole(kFavoritesPath)); }

bool SavePlayHistory(std::wstring_view text) { return WriteWhole(kHistoryPath, WideToUtf8(text)); }

bool SaveFavorites(std::wstring_view text) { return WriteWhole(kFavoritesPath, WideToUtf8(text)); }

void MarkLastHistoryInsUsed() {
  std::filesystem::path path = plat::RealPath(kHistoryPath);
  if (path.empty()) return;
  std::optional<std::string> bytes = plat::ReadFileBytes(path);
  if (!bytes) return;
  std::optional<std::string> marked = MarkEndOfRun(*bytes);
  if (marked) WriteWhole(kHistoryPath, *marked);
}

std::wstring BuildHistoryPayload() {
  std::wstring out = L"[";
  for (size_t i = 0; i < SongHistory.history.size(); ++i) {
    const PlayHistoryEntry& e = SongHistory.history[i];
    if (i) out += L',';
    out += L"{id:" + std::to_wstring(e.id) + L",title:'";
    AppendEscapedForScript(out, e.title);
    out += L"',time:'";
    AppendEscapedForScript(out, e.time);
    out += L"',performers:[";
    for (size_t k = 0; k < e.performers.size(); ++k) {
      if (k) out += L',';
      out += L'\'';
      AppendEscapedForScript(out, e.performers[k]);
      out += L'\'';
    }
    out += L"],insUsed:";
    out += e.insUsed ? L"true}" : L"false}";
  }
  return out + L"]";
}

std::wstring BuildFavoritesPayload() {
  std::wstring out = L"[";
  for (size_t i = 0; i < SongHistory.favorites.size(); ++i) {
    const FavoriteEntry& e = SongHistory.favorites[i];
    if (i) out += L',';
    out += L"{name:'";
    AppendEscapedForScript(out, e.name);
    out += L"',id:" + std::to_wstring(e.id) + L",title:'";
    AppendEscapedForScript(out, e.title);
    out += L"',t:" + std::to_wstring(e.t) + L",p:" + std::to_wstring(e.p) + L",km:" + std::to_wstring(e.km) + L"}";
  }
  return out + L"]";
}
