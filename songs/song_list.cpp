#include "songs/song_list.h"

#include <algorithm>
#include <mutex>

#include "app/debug_log.h"
#include "app/text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/file_listing.h"
#include "songs/song_catalog.h"

std::vector<SongRecord> SongList;
std::shared_mutex SongListMutex;

namespace {

// A text column into its field: strict UTF-8 decoded in place, anything else as Utf8ToWide reads it.
void AssignTextColumn(std::wstring& field, std::string_view utf8) {
  if (utf8.find('\0') != std::string_view::npos || !plat::DecodeUtf8StrictInto(utf8, field))
    field = Utf8ToWide(utf8);
}

// The columns of one row. Most rows hold no quote and are cut at their commas as views; a row
// with quotes goes through the full CSV splitter.
void SplitRow(std::string_view line, std::vector<std::string>& owned, std::vector<std::string_view>& columns) {
  columns.clear();
  if (line.find('"') == std::string_view::npos) {
    size_t start = 0;
    for (;;) {
      const size_t comma = line.find(',', start);
      if (comma == std::string_view::npos) {
        columns.push_back(line.substr(start));
        return;
      }
      columns.push_back(line.substr(start, comma - start));
      start = comma + 1;
    }
  }
  SplitCsvLineInto(line, owned);
  for (const std::string& f : owned) columns.emplace_back(f);
}

// Decimal digits of `value` (std::to_wstring goes through swprintf: too slow for every song).
void AppendInt(std::wstring& out, int value) {
  wchar_t digits[12];
  int n = 0;
  unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
  do {
    digits[n++] = wchar_t(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) out += L'-';
  while (n) out += digits[--n];
}

void AppendTextKey(std::wstring& out, std::wstring_view key, std::wstring_view value) {
  out += key;
  AppendEscapedForScript(out, value);
  out += L'\'';
}

}  // namespace

void CollectFileNumbers(std::wstring_view installPattern, std::unordered_set<int>& numbers) {
  for (const std::string& name : ListMatchingFiles(installPattern)) {
    const size_t first = name.find_first_of("0123456789");
    if (first == std::string::npos) continue;
    size_t end = name.find_first_not_of("0123456789", first);
    if (end == std::string::npos) end = name.size();
    // A digit run too long for a song number names no song.
    if (std::optional<int> n = ParseDigitRun(std::string_view(name).substr(first, end - first))) numbers.insert(*n);
  }
}

std::unordered_set<int> CollectMidiSongNumbers() {
  std::unordered_set<int> numbers;
  CollectFileNumbers(L"C:/tavelo/system/P*.MID", numbers);
  return numbers;
}

void LoadSongDb() {
  std::vector<SongRecord> list;
  const std::optional<std::string> bytes = plat::ReadFileBytes(plat::RealPath(kSongsCsvPath));
  if (!bytes) {
    std::unique_lock lock(SongListMutex);
    SongList.clear();
    return;
  }
  const std::unordered_set<int> midi = CollectMidiSongNumbers();

  std::string_view text = *bytes;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  list.reserve(std::count(text.begin(), text.end(), '\n') + 1);
  std::vector<std::string> owned;
  std::vector<std::string_view> fields;
  bool header = true;
  size_t rows = 0, excluded = 0, pos = 0;
  while (pos < text.size()) {
    size_t lf = text.find('\n', pos);
    if (lf == std::string_view::npos) lf = text.size();
    std::string_view line = text.substr(pos, lf - pos);
    pos = lf + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (header) {
      header = false;
      continue;
    }
    SplitRow(line, owned, fields);
    if (fields.size() < size_t(kSongsCsvColumns)) continue;
    ++rows;
    const int id = LeadingInt(fields[0], true);
    if (!midi.contains(id)) {
      ++excluded;
      continue;
    }
    SongRecord& song = list.emplace_back();
    song.id = id;
    AssignTextColumn(song.nat, fields[1]);
    AssignTextColumn(song.keys, fields[3]);
    AssignTextColumn(song.genre, fields[6]);
    AssignTextColumn(song.title, fields[7]);
    AssignTextColumn(song.subtitle, fields[9]);
    AssignTextColumn(song.singer, fields[12]);
    AssignTextColumn(song.line1, fields[13]);
    song.tempo = LeadingInt(fields[5], true);
    AssignTextColumn(song.chosung, fields[19]);
    AssignTextColumn(song.singerChosung, fields[20]);
  }
  const size_t listed = list.size();
  {
    std::unique_lock lock(SongListMutex);
    SongList.swap(list);
  }
  DebugLog(L"LoadSongDb: songs.csv " + std::to_wstring(rows) + L"행, 실제 MID 있는 곡 " + std::to_wstring(midi.size()) +
           L"개 -> 목록 반영 " + std::to_wstring(listed) + L"곡 (MID 없어 제외 " + std::to_wstring(excluded) + L")");
}

int GetSongCount() {
  std::shared_lock lock(SongListMutex);
  return int(SongList.size());
}

std::vector<int> FindUnlistedSongNumbers() {
  std::unordered_set<int> listed;
  {
    std::shared_lock lock(SongListMutex);
    if (SongList.empty()) return {};
    for (const SongRecord& song : SongList) listed.insert(song.id);
  }
  std::vector<int> result;
  for (int n : CollectMidiSongNumbers())
    if (!listed.contains(n)) result.push_back(n);
  std::sort(result.begin(), result.end());
  return result;
}

void AppendSongObject(std::wstring& out, const SongRecord& song) {
  out += L"{id:";
  AppendInt(out, song.id);
  AppendTextKey(out, L",title:'", song.title);
  AppendTextKey(out, L",subtitle:'", song.subtitle);
  AppendTextKey(out, L",singer:'", song.singer);
  out += L",tempo:";
  AppendInt(out, song.tempo);
  AppendTextKey(out, L",genre:'", song.genre);
  AppendTextKey(out, L",keys:'", song.keys);
  AppendTextKey(out, L",chosung:'", song.chosung);
  AppendTextKey(out, L",singerChosung:'", song.singerChosung);
  AppendTextKey(out, L",line1:'", song.line1);
  if (!song.koTitle.empty()) AppendTextKey(out, L",koTitle:'", song.koTitle);
  if (!song.koSinger.empty()) AppendTextKey(out, L",koSinger:'", song.koSinger);
  out += L'}';
}

namespace {

template <typename Keep>
std::wstring BuildPayload(bool whole, Keep keep) {
  std::shared_lock lock(SongListMutex);
  std::wstring out;
  if (whole) {
    // One allocation for the whole array: it holds every song of the catalogue.
    size_t estimate = 2;
    for (const SongRecord& s : SongList)
      estimate += 120 + s.title.size() + s.subtitle.size() + s.singer.size() + s.genre.size() + s.keys.size() +
                  s.chosung.size() + s.singerChosung.size() + s.line1.size() + s.koTitle.size() + s.koSinger.size();
    out.reserve(estimate);
  }
  out += L'[';
  bool first = true;
  for (const SongRecord& song : SongList) {
    if (!keep(song)) continue;
    if (!first) out += L',';
    first = false;
    AppendSongObject(out, song);
  }
  out += L']';
  return out;
}

}  // namespace

std::wstring BuildSongListPayload() {
  return BuildPayload(true, [](const SongRecord&) { return true; });
}

std::wstring BuildSongListPayloadFor(const std::vector<int>& numbers) {
  const std::unordered_set<int> wanted(numbers.begin(), numbers.end());
  return BuildPayload(false, [&](const SongRecord& song) { return wanted.contains(song.id); });
}

std::wstring PostSongListUpdate(const std::vector<int>& addedNumbers) {
  std::vector<int> numbers = addedNumbers;
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  if (numbers.empty() || numbers.size() > 3000) {
    DebugLog(L"화면 곡목록 갱신: 전체 " + std::to_wstring(GetSongCount()) + L"곡 다시 심음");
    return L"try { initSongDb(" + BuildSongListPayload() +
           L"); if(typeof renderSearchResults==='function') renderSearchResults(); } catch(e) { console.log(e); }";
  }
  DebugLog(L"화면 곡목록 갱신: 새 곡 " + std::to_wstring(numbers.size()) + L"곡만 반영(부분 갱신 - 빠름)");
  return L"try { mergeSongDb(" + BuildSongListPayloadFor(numbers) +
         L"); if(typeof renderSearchResults==='function') renderSearchResults(); } catch(e) { console.log(e); }";
}
