#include "songs/song_list.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <future>
#include <system_error>
#include <mutex>
#include <optional>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "songs/file_listing.h"
#include "songs/song_catalog.h"


SongLibraryState SongLibrary;

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

void AppendInt(std::string& out, int value) {
  char digits[12];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void AppendTextKey(std::string& out, std::string_view key, std::wstring_view value) {
  out += key;
  AppendEscapedForScript(out, value);
  out += '\'';
}

// A JSON string of the text, holding the same characters as the script form: characters below
// U+0020 dropped, a backslash before " and \ (JSON needs none before an apostrophe).
void AppendJsonString(std::string& out, std::wstring_view text) {
  out += '"';
  AppendEscapedUtf8(out, text, false);
  out += '"';
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
  CollectFileNumbers(L"<root>/system/P*.MID", numbers);
  return numbers;
}

namespace {

// One log line naming the catalogue lines that were left out (the first 200 of them).
void LogDroppedRows(const std::vector<size_t>& lineNumbers) {
  constexpr size_t kNamed = 200;
  std::wstring text = L"LoadSongDb: songs.csv 열이 모자라 뺀 줄 " + std::to_wstring(lineNumbers.size()) + L"개 - 줄 번호 ";
  for (size_t i = 0; i < lineNumbers.size() && i < kNamed; ++i) {
    if (i) text += L", ";
    text += std::to_wstring(lineNumbers[i]);
  }
  if (lineNumbers.size() > kNamed) text += L" 외 " + std::to_wstring(lineNumbers.size() - kNamed) + L"줄";
  DebugLog(text);
}

}  // namespace

void LoadSongDb() {
  // The MIDI folder is listed on its own thread while songs.csv is read; both take about as long.
  std::future<std::unordered_set<int>> midiListing;
  try {
    midiListing = std::async(std::launch::async, CollectMidiSongNumbers);
  } catch (const std::system_error&) {
    midiListing = std::async(std::launch::deferred, CollectMidiSongNumbers);
  }

  const std::filesystem::path csvPath = plat::RealPath(kSongsCsvPath);
  if (const std::optional<plat::FileStamp> stamp = csvPath.empty() ? std::nullopt : plat::StatFile(csvPath);
      stamp && stamp->size > kSongsCsvMaxBytes) {
    // Far beyond any real catalogue: reading it would take minutes and gigabytes.
    ShowPageNotice(L"곡 목록을 읽을 수 없습니다: " + plat::ShownPath(kSongsCsvPath) + L" (파일이 너무 큽니다: " +
                   std::to_wstring(stamp->size >> 20) + L" MB, 최대 " + std::to_wstring(kSongsCsvMaxBytes >> 20) +
                   L" MB)");
    midiListing.wait();
    std::unique_lock lock(SongLibrary.SongListMutex);
    SongLibrary.SongList.clear();
    return;
  }
  std::vector<SongRecord> list;
  // The file lock keeps a rewrite of songs.csv from landing between the two passes below.
  std::unique_lock fileLock(SongsCsvFileMutex());
  // A first quick pass counts the lines, so the list is allocated once at its size (a list of
  // tens of thousands of records is costly to grow and to over-allocate).
  size_t lines = 0;
  auto stopped = [] { return SongLibrary.StopLoading.load(std::memory_order_relaxed); };
  if (!csvPath.empty()) plat::ReadFileLines(csvPath, [&](std::string_view) { lines += !stopped(); });
  list.reserve(lines);
  plat::AdviseLargePages(list.data(), list.capacity() * sizeof(SongRecord));
  std::vector<std::string> owned;
  std::vector<std::string_view> fields;
  bool first = true, header = true;
  size_t rows = 0, lineNumber = 0;
  std::vector<size_t> dropped;  // line numbers of rows with too few columns
  const bool read = !csvPath.empty() && plat::ReadFileLines(csvPath, [&](std::string_view line) {
    ++lineNumber;
    if (stopped()) return;
    if (first && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    first = false;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return;
    if (header) {
      header = false;
      return;
    }
    SplitRow(line, owned, fields);
    if (fields.size() < size_t(kSongsCsvColumns)) {
      dropped.push_back(lineNumber);
      return;
    }
    ++rows;
    SongRecord& song = list.emplace_back();
    song.id = LeadingInt(fields[0], true);
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
  });
  fileLock.unlock();
  const std::unordered_set<int> midi = midiListing.get();
  if (stopped()) return;  // the program is closing: the list is not needed any more
  if (!dropped.empty()) LogDroppedRows(dropped);
  if (!read) {
    std::unique_lock lock(SongLibrary.SongListMutex);
    SongLibrary.SongList.clear();
    return;
  }
  // Only songs that can play are offered.
  const size_t excluded = std::erase_if(list, [&](const SongRecord& song) { return !midi.contains(song.id); });
  const size_t listed = list.size();
  {
    std::unique_lock lock(SongLibrary.SongListMutex);
    SongLibrary.SongList.swap(list);
  }
  DebugLog(L"LoadSongDb: songs.csv " + std::to_wstring(rows) + L"행, 실제 MID 있는 곡 " + std::to_wstring(midi.size()) +
           L"개 -> 목록 반영 " + std::to_wstring(listed) + L"곡 (MID 없어 제외 " + std::to_wstring(excluded) + L")");
}

int GetSongCount() {
  std::shared_lock lock(SongLibrary.SongListMutex);
  return int(SongLibrary.SongList.size());
}

std::vector<int> FindUnlistedSongNumbers() {
  std::unordered_set<int> listed;
  {
    std::shared_lock lock(SongLibrary.SongListMutex);
    if (SongLibrary.SongList.empty()) return {};
    for (const SongRecord& song : SongLibrary.SongList) listed.insert(song.id);
  }
  std::vector<int> result;
  for (int n : CollectMidiSongNumbers())
    if (!listed.contains(n)) result.push_back(n);
  std::sort(result.begin(), result.end());
  return result;
}

void AppendSongObject(std::string& out, const SongRecord& song) {
  out += "{id:";
  AppendInt(out, song.id);
  AppendTextKey(out, ",title:'", song.title);
  AppendTextKey(out, ",subtitle:'", song.subtitle);
  AppendTextKey(out, ",singer:'", song.singer);
  out += ",tempo:";
  AppendInt(out, song.tempo);
  AppendTextKey(out, ",genre:'", song.genre);
  AppendTextKey(out, ",keys:'", song.keys);
  AppendTextKey(out, ",chosung:'", song.chosung);
  AppendTextKey(out, ",singerChosung:'", song.singerChosung);
  AppendTextKey(out, ",line1:'", song.line1);
  if (!song.koTitle.empty()) AppendTextKey(out, ",koTitle:'", song.koTitle);
  if (!song.koSinger.empty()) AppendTextKey(out, ",koSinger:'", song.koSinger);
  out += '}';
}

namespace {

template <typename Keep>
std::string BuildPayload(bool whole, Keep keep) {
  std::shared_lock lock(SongLibrary.SongListMutex);
  std::string out;
  if (whole) {
    // One allocation for the whole array: it holds every song of the catalogue. Three bytes per
    // character covers Hangul; only the pages written are ever touched.
    size_t estimate = 2;
    for (const SongRecord& s : SongLibrary.SongList)
      estimate += 120 + 3 * (s.title.size() + s.subtitle.size() + s.singer.size() + s.genre.size() +
                             s.keys.size() + s.chosung.size() + s.singerChosung.size() + s.line1.size() +
                             s.koTitle.size() + s.koSinger.size());
    out.reserve(estimate);
    plat::AdviseLargePages(out.data(), out.capacity());
  }
  out += '[';
  bool first = true;
  for (const SongRecord& song : SongLibrary.SongList) {
    if (!keep(song)) continue;
    if (!first) out += ',';
    first = false;
    AppendSongObject(out, song);
  }
  out += ']';
  return out;
}

}  // namespace

std::string BuildSongListTable() {
  std::shared_lock lock(SongLibrary.SongListMutex);
  std::string out;
  size_t estimate = 160;
  for (const SongRecord& s : SongLibrary.SongList)
    estimate += 48 + 3 * (s.title.size() + s.subtitle.size() + s.singer.size() + s.genre.size() + s.keys.size() +
                          s.chosung.size() + s.singerChosung.size() + s.line1.size() + s.koTitle.size() +
                          s.koSinger.size());
  out.reserve(estimate);
  plat::AdviseLargePages(out.data(), out.capacity());
  out += "{\"keys\":[\"id\",\"title\",\"subtitle\",\"singer\",\"tempo\",\"genre\",\"keys\",\"chosung\","
         "\"singerChosung\",\"line1\",\"koTitle\",\"koSinger\"],\"rows\":[";
  bool first = true;
  for (const SongRecord& song : SongLibrary.SongList) {
    if (!first) out += ',';
    first = false;
    out += '[';
    AppendInt(out, song.id);
    for (const std::wstring* text : {&song.title, &song.subtitle, &song.singer}) {
      out += ',';
      AppendJsonString(out, *text);
    }
    out += ',';
    AppendInt(out, song.tempo);
    for (const std::wstring* text : {&song.genre, &song.keys, &song.chosung, &song.singerChosung, &song.line1}) {
      out += ',';
      AppendJsonString(out, *text);
    }
    // The Korean texts of a pop song are keys only when present: null leaves one out, and a row
    // without them simply ends early.
    if (!song.koTitle.empty() || !song.koSinger.empty()) {
      out += ',';
      if (song.koTitle.empty()) out += "null";
      else AppendJsonString(out, song.koTitle);
      if (!song.koSinger.empty()) {
        out += ',';
        AppendJsonString(out, song.koSinger);
      }
    }
    out += ']';
  }
  out += "]}";
  return out;
}

std::string BuildSongListPayload() {
  return BuildPayload(true, [](const SongRecord&) { return true; });
}

std::string BuildSongListPayloadFor(const std::vector<int>& numbers) {
  const std::unordered_set<int> wanted(numbers.begin(), numbers.end());
  return BuildPayload(false, [&](const SongRecord& song) { return wanted.contains(song.id); });
}

namespace {
// Redraws the search results with the new list, when the page has them.
constexpr const wchar_t* kRenderSearchResults =
    L"; if(typeof renderSearchResults==='function') renderSearchResults();";
}  // namespace

std::string PostSongListUpdate(const std::vector<int>& addedNumbers) {
  std::vector<int> numbers = addedNumbers;
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  if (numbers.empty() || numbers.size() > 3000) {
    DebugLog(L"화면 곡목록 갱신: 전체 " + std::to_wstring(GetSongCount()) + L"곡 다시 심음");
    return WideToUtf8(GuardedScript(PageCallText(L"initSongDb", ScriptLiteral{Utf8ToWide(BuildSongListPayload())}) +
                                        kRenderSearchResults,
                                    L"initSongDb"));
  }
  DebugLog(L"화면 곡목록 갱신: 새 곡 " + std::to_wstring(numbers.size()) + L"곡만 반영(부분 갱신 - 빠름)");
  return WideToUtf8(GuardedScript(
      PageCallText(L"mergeSongDb", ScriptLiteral{Utf8ToWide(BuildSongListPayloadFor(numbers))}) + kRenderSearchResults,
      L"mergeSongDb"));
}
