#include "songs/song_catalog.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <unordered_map>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/file_listing.h"
#include "songs/midi_probes.h"
#include "songs/song_file_cache.h"

namespace {

bool IsBlankChar(wchar_t c) { return c == L' ' || c == L'\t'; }

bool IsBlank(std::wstring_view s) { return std::all_of(s.begin(), s.end(), IsBlankChar); }

std::wstring Trim(std::wstring_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlankChar(s[b])) ++b;
  while (e > b && IsBlankChar(s[e - 1])) --e;
  return std::wstring(s.substr(b, e - b));
}

// Lyric text without the syllable-stretch marks "-", "_" and "~", trimmed.
std::wstring WithoutStretchMarks(std::wstring_view s) {
  std::wstring out;
  out.reserve(s.size());
  for (wchar_t c : s)
    if (c != L'-' && c != L'_' && c != L'~') out.push_back(c);
  return Trim(out);
}

std::vector<std::wstring> ReadSongTextFile(wchar_t kind, int number) {
  const std::string bytes = ReadSongBytesCached(SongFilePath(kind, number, L".txt"));
  if (bytes.empty()) return {};
  return TakeSongTextLines(DecodeTextToUtf8(bytes));
}

std::string QuoteCsvUtf8(std::string_view utf8) {
  if (utf8.find_first_of(",\"\n\r") == std::string_view::npos) return std::string(utf8);
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

// Lines of a catalogue file: byte-order mark skipped, split at LF, one CR cut, empty ones left out.
template <typename Fn>
void ForEachCsvLine(std::string_view bytes, Fn fn) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  ForEachTextLine(bytes, [&](std::string_view line) {
    if (!line.empty()) fn(line);
  });
}

std::string FirstCsvField(std::string_view line) {
  std::vector<std::string> fields;
  SplitCsvLineInto(line, fields);
  return fields.front();
}

}  // namespace

std::mutex& SongsCsvFileMutex() {
  static std::mutex m;
  return m;
}

std::mutex& SongNewCsvFileMutex() {
  static std::mutex m;
  return m;
}

std::string DecodeTextToUtf8(std::string_view bytes) {
  if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
    std::string_view body = bytes.substr(2);
    return plat::WideToUtf8Bytes(plat::Utf16BytesToWide(body.substr(0, body.size() & ~size_t(1)), false));
  }
  if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFE && uint8_t(bytes[1]) == 0xFF) {
    std::string_view body = bytes.substr(2);
    return plat::WideToUtf8Bytes(plat::Utf16BytesToWide(body.substr(0, body.size() & ~size_t(1)), true));
  }
  if (!bytes.empty() && !plat::DecodeUtf8Strict(bytes)) {
    std::wstring wide = plat::AnsiToWide(bytes);
    if (!wide.empty()) return plat::WideToUtf8Bytes(wide);
  }
  return std::string(bytes);
}

std::vector<std::wstring> TakeSongTextLines(std::string_view utf8) {
  std::vector<std::wstring> lines;
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t lf = utf8.find('\n', pos);
    if (lf == std::string_view::npos) lf = utf8.size();
    std::string line(utf8.substr(pos, lf - pos));
    pos = lf + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::erase(line, '\0');
    lines.push_back(Utf8ToWide(line));
  }
  return lines;
}

std::wstring ExtractChosung(std::wstring_view text) {
  static constexpr wchar_t kInitials[19] = {0x3131, 0x3132, 0x3134, 0x3137, 0x3138, 0x3139, 0x3141,
                                            0x3142, 0x3143, 0x3145, 0x3146, 0x3147, 0x3148, 0x3149,
                                            0x314A, 0x314B, 0x314C, 0x314D, 0x314E};
  std::wstring out;
  for (wchar_t c : text)
    if (c >= 0xAC00 && c <= 0xD7A3) out.push_back(kInitials[(c - 0xAC00) / 588]);
  return out;
}

std::string QuoteCsvField(std::wstring_view text) { return QuoteCsvUtf8(WideToUtf8(text)); }

void SplitCsvLineInto(std::string_view line, std::vector<std::string>& fields) {
  size_t used = 0;
  auto next = [&]() -> std::string& {
    if (used == fields.size()) fields.emplace_back();
    std::string& f = fields[used++];
    f.clear();
    return f;
  };
  std::string* field = &next();
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < line.size() && line[i + 1] == '"') {
          field->push_back('"');
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field->push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      field = &next();
    } else {
      field->push_back(c);
    }
  }
  fields.resize(used);
}

std::vector<std::string> SplitCsvLine(std::string_view line) {
  std::vector<std::string> fields;
  SplitCsvLineInto(line, fields);
  return fields;
}

bool ReadPopCompanionText(int number, std::wstring& koTitle, std::wstring& koSinger, std::wstring& koLine1) {
  koTitle.clear();
  koSinger.clear();
  koLine1.clear();
  const std::vector<std::wstring> lines = ReadSongTextFile(L'E', number);
  std::vector<std::wstring> header;
  bool inLyrics = false;
  for (const std::wstring& line : lines) {
    if (!inLyrics) {
      if (!line.empty() && line[0] == L'>') inLyrics = true;
      else if (line.empty() || line[0] != L'<') header.push_back(line);
      continue;
    }
    std::wstring text = WithoutStretchMarks(line);
    if (!text.empty()) {
      koLine1 = std::move(text);
      break;
    }
  }
  std::vector<std::wstring> candidates;
  for (const std::wstring& h : header)
    if (std::wstring t = Trim(h); !t.empty()) candidates.push_back(std::move(t));
  if (!candidates.empty() && candidates[0].size() >= 2 && candidates[0][0] >= L'0' &&
      candidates[0][0] <= L'9' && candidates[0].find(L'/') != std::wstring::npos)
    candidates.erase(candidates.begin());
  if (!candidates.empty()) koTitle = candidates[0];
  if (candidates.size() >= 4) koSinger = candidates[3];
  else if (candidates.size() >= 2) koSinger = candidates[1];
  return !koTitle.empty() || !koSinger.empty() || !koLine1.empty();
}

std::string BuildSongsCsvRow(int number) {
  const std::vector<std::wstring> lines = ReadSongTextFile(L'P', number);
  if (lines.empty()) return {};

  std::wstring origin = L"k", title, lyricist, composer, singer, sex, keys, genre, line1;
  int tempoFallback = 0;
  bool numberLine = false, inSection = false, haveLine1 = false;
  int headerIndex = 0;
  for (const std::wstring& line : lines) {
    if (!line.empty() && line[0] == L'>') {
      inSection = true;
      continue;
    }
    if (!line.empty() && line[0] == L'<') {
      inSection = false;
      continue;
    }
    if (inSection) {
      if (!haveLine1) {
        std::wstring text = WithoutStretchMarks(line);
        if (!text.empty()) {
          line1 = std::move(text);
          haveLine1 = true;
        }
      }
      continue;
    }
    const int index = headerIndex++;
    if (IsBlank(line)) continue;
    switch (index) {
      case 0: {
        const std::wstring t = Trim(line);
        numberLine = !t.empty() && t[0] >= L'0' && t[0] <= L'9';
        origin = L"k";
        if (size_t slash = line.find(L'/'); slash != std::wstring::npos) {
          size_t i = slash + 1;
          while (i < line.size() && IsBlankChar(line[i])) ++i;
          if (i < line.size()) origin = std::wstring(1, line[i]);
        }
        break;
      }
      case 1: title = line; break;
      case 2: lyricist = line; break;
      case 3: composer = line; break;
      case 4: singer = line; break;
      case 5: sex = line; break;
      case 6: keys = line; break;
      case 7: {
        const size_t slash = line.find(L'/');
        tempoFallback = LeadingInt(slash == std::wstring::npos ? std::wstring_view(line)
                                                               : std::wstring_view(line).substr(slash + 1), true);
        break;
      }
      case 8: genre = Trim(line); break;
      default: break;
    }
  }
  if (title.empty() || !numberLine) return {};

  std::wstring chosung = ExtractChosung(title);
  std::wstring singerChosung = ExtractChosung(singer);
  if (origin == L"p" || origin == L"P") {
    std::wstring koTitle, koSinger, koLine1;
    if (ReadPopCompanionText(number, koTitle, koSinger, koLine1)) {
      if (std::wstring c = ExtractChosung(koTitle); !c.empty()) chosung = std::move(c);
      if (std::wstring c = ExtractChosung(koSinger); !c.empty()) singerChosung = std::move(c);
      if (!koLine1.empty()) line1 = std::move(koLine1);
    }
  }
  const int midiTempo = ReadMidiTempoBpm(number);
  const int tempo = midiTempo >= 1 ? midiTempo : tempoFallback;

  std::string row = std::to_string(number);
  auto add = [&row](std::string_view field) {
    row += ',';
    row += field;
  };
  add(QuoteCsvField(origin));
  add(QuoteCsvField(sex));
  add(QuoteCsvField(keys));
  add("32");
  add(std::to_string(tempo));
  add(QuoteCsvField(genre));
  add(QuoteCsvField(title));
  add(QuoteCsvField(title));
  add("");
  add(QuoteCsvField(lyricist));
  add(QuoteCsvField(composer));
  add(QuoteCsvField(singer));
  add(QuoteCsvField(line1));
  for (int i = 0; i < 5; ++i) add("");
  add(QuoteCsvField(chosung));
  add(QuoteCsvField(singerChosung));
  return row;
}

std::wstring ReadGenreFromSongText(int number) {
  const std::vector<std::wstring> lines = ReadSongTextFile(L'P', number);
  for (size_t i = 0; i < lines.size() && i <= 8; ++i) {
    if (!lines[i].empty() && (lines[i][0] == L'>' || lines[i][0] == L'<')) return {};
    if (i == 8) return Trim(lines[i]);
  }
  return {};
}

bool WriteSongNewCsvRows(std::string_view header, const std::vector<std::string>& rows) {
  std::string out = "\xEF\xBB\xBF";
  out += header;
  out += "\r\n";
  for (const std::string& row : rows) {
    out += row;
    out += "\r\n";
  }
  std::lock_guard lock(SongNewCsvFileMutex());
  return plat::WriteFileAtomic(plat::RealPath(kSongNewCsvPath), out);
}

namespace {

bool WriteSongsCsvRows(const std::vector<std::string>& lines, bool keepRows, int& mergedCount,
                       std::wstring* failure) {
  mergedCount = 0;
  if (lines.empty()) return true;
  auto fail = [&](const wchar_t* what) {
    DebugLog(std::wstring(L"songs.csv 를 쓰지 못함 - ") + what);
    if (failure) *failure = what;
    return false;
  };
  std::lock_guard lock(SongsCsvFileMutex());
  const std::filesystem::path path = plat::RealPath(kSongsCsvPath);
  if (path.empty()) return fail(L"경로 없음");

  std::string header;
  std::vector<std::string> order;                    // one key per row of the file, in file order
  std::unordered_map<std::string, std::string> rows;  // key -> its latest row
  std::error_code ec;
  const bool exists = std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
  // The catalogue's permissions are the operator's: a read-only one is not replaced (a rename
  // would replace it regardless), and a rewritten one keeps its mode.
  std::optional<std::filesystem::perms> mode;
  if (exists) {
    if (std::filesystem::is_directory(path, ec)) return fail(L"같은 이름의 폴더가 있음");
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::is_regular_file(status)) {
      mode = status.permissions();
      if ((*mode & std::filesystem::perms::owner_write) == std::filesystem::perms::none)
        return fail(L"읽기 전용 파일이라 바꾸지 않음");
    }
  }
  if (exists && keepRows) {
    const std::optional<plat::FileStamp> stamp = plat::StatFile(path);
    if (stamp && stamp->size > kSongsCsvMaxBytes) return fail(L"파일이 너무 큼");
    // A catalogue that is there but cannot be read must not be replaced by the new rows alone.
    const std::optional<std::string> bytes = plat::ReadFileBytes(path);
    if (!bytes) return fail(L"있지만 읽을 수 없음");
    ForEachCsvLine(*bytes, [&](std::string_view line) {
      if (header.empty()) {
        header = line;
        return;
      }
      std::string key = FirstCsvField(line);
      order.push_back(key);
      rows[std::move(key)] = line;
    });
  }
  if (header.empty()) header = lines.front();
  while (!header.empty() && (header.back() == '\r' || header.back() == '\n')) header.pop_back();

  for (size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.empty()) continue;
    std::string key = FirstCsvField(line);
    auto [it, inserted] = rows.try_emplace(key, line);
    if (inserted) order.push_back(std::move(key));
    else it->second = line;
    ++mergedCount;
  }

  std::string out;
  size_t total = header.size() + 1;
  for (const std::string& key : order) total += rows[key].size() + 1;
  out.reserve(total);
  out += header;
  out += '\n';
  for (const std::string& key : order) {
    out += rows[key];
    out += '\n';
  }
  if (!plat::WriteFileAtomic(path, out)) return fail(L"쓰기 실패(폴더 권한 또는 디스크 공간)");
  if (mode) std::filesystem::permissions(path, *mode, std::filesystem::perm_options::replace, ec);
  return true;
}

}  // namespace

bool MergeSongsCsvRows(const std::vector<std::string>& lines, int& mergedCount, std::wstring* failure) {
  return WriteSongsCsvRows(lines, true, mergedCount, failure);
}

bool ReplaceSongsCsvRows(const std::vector<std::string>& lines, int& writtenCount, std::wstring* failure) {
  return WriteSongsCsvRows(lines, false, writtenCount, failure);
}

bool RegenerateSongsCsv(const std::vector<int>& numbers, bool writeSongNew) {
  std::vector<int> songs = numbers;
  const bool listGiven = !numbers.empty();
  if (!listGiven) {
    for (const std::string& name : ListMatchingFiles(L"<root>/system/P*")) {
      if (name.size() < 4) continue;
      std::string ext = name.substr(name.size() - 4);
      for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
      if (ext != ".txt") continue;
      std::string digits;
      for (char c : name)
        if (c >= '0' && c <= '9') digits += c;
      // A digit run too long for a song number names no song.
      if (std::optional<int> n = ParseDigitRun(digits); n && *n > 0) songs.push_back(*n);
    }
  }
  std::sort(songs.begin(), songs.end());
  songs.erase(std::unique(songs.begin(), songs.end()), songs.end());
  if (songs.empty()) return true;

  std::vector<std::string> lines{std::string(kSongsCsvHeader)};
  for (int n : songs)
    if (std::string row = BuildSongsCsvRow(n); !row.empty()) lines.push_back(std::move(row));
  const size_t made = lines.size() - 1;
  const std::wstring scanned = L"txt " + std::to_wstring(songs.size()) + L"개 스캔, ";

  bool ok = true;
  if (writeSongNew && listGiven && made > 0) {
    const std::vector<std::string> rows(lines.begin() + 1, lines.end());
    if (WriteSongNewCsvRows(kSongsCsvHeader, rows)) {
      DebugLog(L"song_new.csv 생성: 이번 업데이트 " + std::to_wstring(made) + L"곡 기록");
    } else {
      DebugLog(L"song_new.csv 를 쓰지 못함");
      ok = false;
    }
  }
  int merged = 0;
  std::wstring failure;
  const bool written = listGiven ? MergeSongsCsvRows(lines, merged, &failure) : ReplaceSongsCsvRows(lines, merged, &failure);
  if (!written) {
    DebugLog(L"songs.csv 재생성 실패: " + scanned + std::to_wstring(made) + L"곡 만들었으나 반영 못함 - " + failure);
    return false;
  }
  DebugLog(L"songs.csv 재생성: " + scanned + std::to_wstring(made) + L"곡 반영");
  return ok;
}
