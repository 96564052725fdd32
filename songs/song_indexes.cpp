#include "songs/song_indexes.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "base/debug_log.h"
#include "base/program_messages.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/clock.h"
#include "songs/song_catalog.h"
#include "songs/song_list.h"

SongIndexState SongIndexes;

namespace {

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The background pause that keeps a build over the whole catalogue from saturating disk and CPU.
void PauseAfterEvery50(size_t done) {
  if (done % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// Calls fn for every line of the bytes without its LF and one trailing CR.
template <typename Fn>
void ForEachLine(std::string_view bytes, Fn fn) {
  ForEachTextLine(bytes, [&](std::string_view line) { fn(line); });
}

bool WriteWholeFile(std::wstring_view installPath, std::string_view bytes) {
  const std::filesystem::path path = plat::RealPath(installPath);
  return !path.empty() && plat::WriteFileAtomic(path, bytes);
}

bool InstallFileExists(std::wstring_view installPath) {
  const std::filesystem::path path = plat::RealPath(installPath);
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(path, ec);
}

void RemoveInstallFile(std::wstring_view installPath) {
  const std::filesystem::path path = plat::RealPath(installPath);
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove(path, ec);
}

// Starts a detached thread; false (logged) when the system refuses one.
template <typename Fn>
bool StartDetached(const wchar_t* what, Fn fn) {
  try {
    std::thread(std::move(fn)).detach();
    return true;
  } catch (const std::system_error&) {
    DebugLog(std::wstring(what) + L": 작업 스레드를 시작하지 못함");
    return false;
  }
}

// Text without TAB, CR and LF (each becomes a blank), so an index line keeps exactly three TABs.
std::string IndexField(const std::wstring& text) {
  std::string out = WideToUtf8(text);
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return out;
}

bool HasHangulSyllable(std::wstring_view text) {
  return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0xAC00 && c <= 0xD7A3; });
}

struct PopKoTexts {
  std::wstring title, singer, line1;
};

struct PopKoRead {
  bool opened = false;
  bool current = false;
  std::unordered_map<int, PopKoTexts> map;
  int accepted = 0;
  int withKoreanTitle = 0;
  std::wstring sample;
};

// Reads popko.idx whole: its header, every accepted line into the map (the last line of a number
// wins), and the counts the load logs.
PopKoRead ReadPopKoIndex() {
  PopKoRead r;
  const std::filesystem::path path = plat::RealPath(kPopKoIndexPath);
  std::optional<std::string> bytes;
  if (!path.empty()) bytes = plat::ReadFileBytes(path);
  if (!bytes) return r;
  r.opened = true;
  bool first = true;
  ForEachLine(*bytes, [&](std::string_view line) {
    if (first) {
      first = false;
      r.current = line == kPopKoIndexHeader;
    }
    if (!r.current || line.empty() || line.front() == '#') return;
    std::optional<PopKoLine> parsed = ParsePopKoLine(line);
    if (!parsed) return;
    ++r.accepted;
    if (HasHangulSyllable(parsed->title)) ++r.withKoreanTitle;
    if (r.accepted <= 3)
      r.sample += L" | " + std::to_wstring(parsed->number) + L"=[" + parsed->title + L"]/[" + parsed->singer +
                  L"]/[" + parsed->line1.substr(0, 12) + L"]";
    r.map[parsed->number] = PopKoTexts{std::move(parsed->title), std::move(parsed->singer), std::move(parsed->line1)};
  });
  return r;
}

// Holds a job flag for one job; released when the job ends.
class JobFlagHold {
 public:
  explicit JobFlagHold(std::atomic<bool>& flag) : flag_(flag) {}
  ~JobFlagHold() { flag_.store(false); }
  JobFlagHold(const JobFlagHold&) = delete;
  JobFlagHold& operator=(const JobFlagHold&) = delete;

 private:
  std::atomic<bool>& flag_;
};

}  // namespace

// ---- genre.idx ----

int LoadGenreIndex() {
  const std::filesystem::path path = plat::RealPath(kGenreIndexPath);
  std::optional<std::string> bytes;
  if (!path.empty()) bytes = plat::ReadFileBytes(path);
  if (!bytes) return 0;
  std::unordered_map<int, std::wstring> map;
  ForEachLine(*bytes, [&](std::string_view line) {
    const size_t tab = line.find('\t');
    if (line.empty() || tab == std::string_view::npos) return;
    const int number = LeadingInt(line.substr(0, tab), true);
    std::wstring genre = Utf8ToWide(line.substr(tab + 1));
    if (number > 0 && !genre.empty()) map[number] = std::move(genre);
  });
  int filled = 0;
  if (!map.empty()) {
    std::unique_lock lock(SongLibrary.SongListMutex);
    for (SongRecord& song : SongLibrary.SongList) {
      if (!song.genre.empty()) continue;
      if (auto it = map.find(song.id); it != map.end()) {
        song.genre = it->second;
        ++filled;
      }
    }
  }
  DebugLog(L"장르 인덱스 로드: " + std::to_wstring(map.size()) + L"개 -> 곡목록 반영 " + std::to_wstring(filled) + L"곡");
  return filled;
}

std::string BuildGenreIndexText(const std::vector<int>& numbers, int& lines) {
  std::string out;
  lines = 0;
  for (size_t i = 0; i < numbers.size(); ++i) {
    const std::wstring genre = ReadGenreFromSongText(numbers[i]);
    if (!genre.empty()) {
      out += std::to_string(numbers[i]);
      out += '\t';
      out += WideToUtf8(genre);
      out += '\n';
      ++lines;
    }
    PauseAfterEvery50(i + 1);
  }
  return out;
}

void BuildGenreIndexThread(const std::vector<int>& numbers) {
  plat::LowerThreadPriority();
  SleepMs(SongIndexes.genreBuildDelayMs.load());
  DebugLog(L"장르 인덱스 생성 시작(백그라운드): 대상 " + std::to_wstring(numbers.size()) + L"곡");
  int lines = 0;
  const std::string text = BuildGenreIndexText(numbers, lines);
  WriteWholeFile(kGenreIndexPath, text);
  DebugLog(L"장르 인덱스 생성 완료: " + std::to_wstring(lines) + L"곡 (다음 실행부터 '장르별' 랜덤에 사용)");
}

void StartGenreIndexBuild() {
  if (InstallFileExists(kGenreIndexPath)) return;
  std::vector<int> numbers;
  {
    std::shared_lock lock(SongLibrary.SongListMutex);
    const auto& list = SongLibrary.SongList;
    if (list.empty()) return;
    if (std::any_of(list.begin(), list.end(), [](const SongRecord& s) { return !s.genre.empty(); })) return;
    numbers.reserve(list.size());
    for (const SongRecord& s : list) numbers.push_back(s.id);
  }
  StartDetached(L"장르 인덱스 생성", [numbers = std::move(numbers)] { BuildGenreIndexThread(numbers); });
}

// ---- popko.idx ----

std::optional<PopKoLine> ParsePopKoLine(std::string_view line) {
  const size_t t1 = line.find('\t');
  if (t1 == std::string_view::npos) return std::nullopt;
  const size_t t2 = line.find('\t', t1 + 1);
  if (t2 == std::string_view::npos) return std::nullopt;
  const size_t t3 = line.find('\t', t2 + 1);
  if (t3 == std::string_view::npos) return std::nullopt;
  PopKoLine out;
  out.number = LeadingInt(line.substr(0, t1), true);
  if (out.number <= 0) return std::nullopt;
  out.title = Utf8ToWide(line.substr(t1 + 1, t2 - t1 - 1));
  out.singer = Utf8ToWide(line.substr(t2 + 1, t3 - t2 - 1));
  out.line1 = Utf8ToWide(line.substr(t3 + 1));
  return out;
}

bool IsPopKoIndexCurrent() {
  const std::filesystem::path path = plat::RealPath(kPopKoIndexPath);
  if (path.empty()) return false;
  std::string first;
  bool done = false;
  // Only the first line is wanted; the rest of the file is skipped.
  const bool opened = plat::ReadFileLines(path, [&](std::string_view line) {
    if (done) return;
    done = true;
    first = line;
  });
  if (!opened) return false;
  if (!first.empty() && first.back() == '\r') first.pop_back();
  return first == kPopKoIndexHeader;
}

std::vector<int> CollectPopTextSongNumbers() {
  std::unordered_set<int> numbers;
  CollectFileNumbers(L"<root>/system/E*.txt", numbers);
  std::vector<int> out(numbers.begin(), numbers.end());
  std::sort(out.begin(), out.end());
  return out;
}

int LoadPopKoIndex() {
  PopKoRead r = ReadPopKoIndex();
  if (!r.opened || !r.current) return 0;
  int matched = 0, changed = 0, listed = 0, pop = 0, missing = 0;
  std::vector<int> missingSample;  // the first six pop songs without a reading
  {
    std::unique_lock lock(SongLibrary.SongListMutex);
    listed = int(SongLibrary.SongList.size());
    for (SongRecord& song : SongLibrary.SongList) {
      const auto it = r.map.find(song.id);
      if (song.nat.size() == 1 && (song.nat[0] == L'p' || song.nat[0] == L'P')) {
        ++pop;
        if (it == r.map.end() && ++missing <= 6) missingSample.push_back(song.id);
      }
      if (it == r.map.end()) continue;
      ++matched;
      const PopKoTexts& ko = it->second;
      bool any = false;
      if (std::wstring c = ExtractChosung(ko.title); !c.empty() && c != song.chosung) {
        song.chosung = std::move(c);
        any = true;
      }
      if (std::wstring c = ExtractChosung(ko.singer); !c.empty() && c != song.singerChosung) {
        song.singerChosung = std::move(c);
        any = true;
      }
      if (!ko.line1.empty() && ko.line1 != song.line1) {
        song.line1 = ko.line1;
        any = true;
      }
      if (ko.title != song.koTitle) {
        song.koTitle = ko.title;
        any = true;
      }
      if (ko.singer != song.koSinger) {
        song.koSinger = ko.singer;
        any = true;
      }
      if (any) ++changed;
    }
  }
  DebugLog(L"팝송 한글검색 인덱스 로드: 줄 " + std::to_wstring(r.accepted) + L" / 한글제목 있는 줄 " +
           std::to_wstring(r.withKoreanTitle) + L" / 곡번호 일치 " + std::to_wstring(matched) + L" / 실제 반영 " +
           std::to_wstring(changed) + L" (목록 " + std::to_wstring(listed) + L"곡)");
  if (!r.sample.empty()) DebugLog(L"팝송 한글검색 표본" + r.sample);
  std::wstring missingLine = L"팝송 한글검색: 목록의 팝송(nat=p) " + std::to_wstring(pop) + L"곡 중 한글읽기 없는 곡 " +
                             std::to_wstring(missing) + L"곡";
  if (missing > 0) {
    missingLine += L" (예:";
    for (int n : missingSample) missingLine += L" " + std::to_wstring(n);
    missingLine += L")";
  }
  DebugLog(missingLine);
  if (r.accepted > 0 && matched == 0)
    DebugLog(L"팝송 한글검색: 곡번호가 하나도 안 맞습니다 - E 파일 번호와 곡 번호 체계가 다릅니다");
  else if (matched > 0 && r.withKoreanTitle == 0)
    DebugLog(L"팝송 한글검색: 한글 제목을 못 읽었습니다 - E 파일의 줄 구조(몇 번째 줄이 제목인지)를 확인해야 합니다");
  return changed;
}

namespace {

// The fields of one CSV line with the byte range each occupies (quotes included, comma excluded).
struct CsvFieldRange {
  size_t begin = 0, end = 0;
  std::string value;
};
void SplitCsvLineWithRanges(std::string_view line, std::vector<CsvFieldRange>& fields) {
  fields.clear();
  fields.emplace_back();
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    CsvFieldRange& f = fields.back();
    if (quoted) {
      if (c == '"') {
        if (i + 1 < line.size() && line[i + 1] == '"') {
          f.value.push_back('"');
          ++i;
        } else {
          quoted = false;
        }
      } else {
        f.value.push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      f.end = i;
      fields.emplace_back().begin = i + 1;
    } else {
      f.value.push_back(c);
    }
  }
  fields.back().end = line.size();
}

// The songs.csv quoting of a UTF-8 value: quoted, inner quotes doubled, only when it holds a
// comma, a double quote, CR or LF.
std::string QuoteCsvUtf8(std::string_view utf8) {
  if (utf8.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(utf8);
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

int PatchSongsCsvFromPopKo() {
  PopKoRead r = ReadPopKoIndex();
  if (r.opened && !r.current) {
    DebugLog(L"[POPKO] songs.csv 반영: 예전 판 색인이라 건너뜁니다");
    return 0;
  }
  if (!r.opened) {
    DebugLog(L"[POPKO] songs.csv 반영: popko.idx 가 없습니다");
    return 0;
  }
  if (r.map.empty()) {
    DebugLog(L"[POPKO] songs.csv 반영: 인덱스가 비어 있습니다");
    return 0;
  }
  // Precomputed new values per song: singer initials, title initials, first line (UTF-8).
  struct NewValues {
    std::string singerChosung, chosung, line1;
  };
  std::unordered_map<int, NewValues> values;
  values.reserve(r.map.size());
  for (const auto& [number, ko] : r.map)
    values.emplace(number, NewValues{WideToUtf8(ExtractChosung(ko.singer)), WideToUtf8(ExtractChosung(ko.title)),
                                     WideToUtf8(ko.line1)});

  // One lock over the read and the rewrite: no other rewrite and no load runs in between.
  std::lock_guard lock(SongsCsvFileMutex());
  const std::filesystem::path csv = plat::RealPath(kSongsCsvPath);
  std::optional<std::string> bytes;
  if (!csv.empty()) bytes = plat::ReadFileBytes(csv);
  if (!bytes) {
    DebugLog(L"[POPKO] songs.csv 를 열지 못했습니다");
    return 0;
  }
  // The catalogue's permissions are the operator's, as for every rewrite of it: a read-only one is
  // left alone, and a rewritten one keeps its mode.
  std::error_code statError;
  const std::filesystem::perms mode = std::filesystem::status(csv, statError).permissions();
  if (!statError && (mode & std::filesystem::perms::owner_write) == std::filesystem::perms::none) {
    DebugLog(L"[POPKO] songs.csv 반영: 읽기 전용 파일이라 바꾸지 않음");
    return 0;
  }
  std::string_view body = *bytes;
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);

  std::string out;
  out.reserve(body.size() + body.size() / 8 + 64);
  int changed = 0;
  bool header = true;
  std::vector<CsvFieldRange> fields;
  std::string row;
  ForEachLine(body, [&](std::string_view line) {
    if (header) {
      header = false;
      out += line;
      out += "\r\n";
      return;
    }
    if (line.empty()) return;
    SplitCsvLineWithRanges(line, fields);
    const NewValues* nv = nullptr;
    if (fields.size() >= size_t(kSongsCsvColumns)) {
      if (auto it = values.find(LeadingInt(fields[0].value, true)); it != values.end()) nv = &it->second;
    }
    if (!nv) {
      out += line;
      out += "\r\n";
      return;
    }
    row.assign(line);
    bool replaced = false;
    // Right to left, so the ranges of the columns still to visit stay valid.
    const std::pair<int, const std::string*> columns[] = {{20, &nv->singerChosung}, {19, &nv->chosung}, {13, &nv->line1}};
    for (const auto& [column, value] : columns) {
      const CsvFieldRange& f = fields[size_t(column)];
      if (value->empty() || *value == f.value) continue;
      row.replace(f.begin, f.end - f.begin, QuoteCsvUtf8(*value));
      replaced = true;
    }
    out += replaced ? std::string_view(row) : line;
    out += "\r\n";
    if (replaced) ++changed;
  });
  if (changed == 0) {
    DebugLog(L"[POPKO] songs.csv 반영: 바뀐 줄이 없어 파일을 건드리지 않았습니다");
    return 0;
  }
  const std::filesystem::path tmp = plat::RealPath(L"<root>/system/songs.csv.tmp");
  const std::filesystem::path bak = plat::RealPath(L"<root>/system/songs.csv.bak");
  if (tmp.empty() || !plat::WriteFileAtomic(tmp, "\xEF\xBB\xBF" + out)) {
    DebugLog(L"[POPKO] songs.csv.tmp 를 만들지 못했습니다");
    return 0;
  }
  // The previous catalogue is kept as a copy, so songs.csv itself never goes missing: the new file
  // replaces it in one rename.
  std::error_code ec;
  if (bak.empty() || !plat::WriteFileAtomic(bak, *bytes)) DebugLog(L"[POPKO] songs.csv.bak 를 만들지 못했습니다");
  if (!statError) std::filesystem::permissions(tmp, mode, std::filesystem::perm_options::replace, ec);
  std::filesystem::rename(tmp, csv, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    DebugLog(L"[POPKO] songs.csv 바꿔치기 실패 - 원본을 되돌렸습니다");
    return 0;
  }
  DebugLog(L"[POPKO] songs.csv 반영 완료: " + std::to_wstring(changed) + L"줄 (이전 파일은 songs.csv.bak)");
  return changed;
}

std::string BuildPopKoIndexText(const std::vector<int>& numbers, int& read) {
  std::string out(kPopKoIndexHeader);
  out += '\n';
  read = 0;
  std::wstring title, singer, line1;
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (ReadPopCompanionText(numbers[i], title, singer, line1)) {
      out += std::to_string(numbers[i]);
      for (const std::wstring* text : {&title, &singer, &line1}) {
        out += '\t';
        out += IndexField(*text);
      }
      out += '\n';
      ++read;
    }
    PauseAfterEvery50(i + 1);
  }
  return out;
}

void BuildPopKoIndexThread(const std::vector<int>& numbers) {
  plat::LowerThreadPriority();
  SleepMs(SongIndexes.popKoBuildDelayMs.load());
  if (SongIndexes.popKoJobBusy.exchange(true)) {
    DebugLog(L"팝송 한글검색: 다른 색인 작업이 돌고 있어 시작 시 생성은 건너뜀");
    return;
  }
  JobFlagHold hold(SongIndexes.popKoJobBusy);
  DebugLog(L"팝송 한글검색 인덱스 생성 시작(백그라운드): 대상 " + std::to_wstring(numbers.size()) + L"곡");
  int read = 0;
  const std::string text = BuildPopKoIndexText(numbers, read);
  if (read == 0) return;
  WriteWholeFile(kPopKoIndexPath, text);
  DebugLog(L"팝송 한글검색 인덱스 생성 완료: " + std::to_wstring(read) + L"곡");
  PatchSongsCsvFromPopKo();
  plat::PostWindowMessage(WM_REFRESH_SONG_LIST);
}

void DelayedPopSongSyncThread() {
  plat::LowerThreadPriority();
  SleepMs(SongIndexes.popKoSyncDelayMs.load());
  if (SongIndexes.popKoJobBusy.exchange(true)) {
    DebugLog(L"팝송 한글검색: 다른 색인 작업이 돌고 있어 시작 시 songs.csv 반영은 건너뜀");
    return;
  }
  JobFlagHold hold(SongIndexes.popKoJobBusy);
  if (PatchSongsCsvFromPopKo() > 0) plat::PostWindowMessage(WM_REFRESH_SONG_LIST);
}

void StartPopKoIndexBuild() {
  if (InstallFileExists(kPopKoIndexPath) && !IsPopKoIndexCurrent()) {
    DebugLog(L"팝송 한글검색: 예전 판 색인을 지우고 다시 만듭니다");
    RemoveInstallFile(kPopKoIndexPath);
  }
  if (InstallFileExists(kPopKoIndexPath)) {
    StartDetached(L"팝송 한글검색 songs.csv 반영", DelayedPopSongSyncThread);
    return;
  }
  std::unordered_set<int> listed;
  {
    std::shared_lock lock(SongLibrary.SongListMutex);
    if (SongLibrary.SongList.empty()) return;
    for (const SongRecord& s : SongLibrary.SongList) listed.insert(s.id);
  }
  const std::vector<int> files = CollectPopTextSongNumbers();
  if (files.empty()) {
    DebugLog(L"팝송 한글검색: E####.txt 가 하나도 없어 인덱스를 만들지 않음");
    return;
  }
  std::vector<int> kept;
  for (int n : files)
    if (listed.contains(n)) kept.push_back(n);
  if (kept.empty()) {
    DebugLog(L"팝송 한글검색: E 파일 " + std::to_wstring(files.size()) + L"개가 모두 목록 밖 - 건너뜀");
    return;
  }
  StartDetached(L"팝송 한글검색 인덱스 생성", [kept = std::move(kept)] { BuildPopKoIndexThread(kept); });
}
