#include "online/board.h"

#include <algorithm>
#include <cstdlib>

#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

constexpr std::wstring_view kLastPostFile = L"<root>/system/song_update.cfg";
constexpr std::wstring_view kLastDateFile = L"<root>/system/song_last_date.cfg";
constexpr std::wstring_view kAppliedFile = L"<root>/system/applied_wrids.cfg";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string WrIdMarker(std::wstring_view board) { return "bo_table=" + WideToUtf8(board) + "&wr_id="; }

// Digits after `pos`: their count, the value (saturated) in `value`.
size_t ReadDigits(std::string_view s, size_t pos, int& value) {
  size_t n = 0;
  long long v = 0;
  while (pos + n < s.size() && IsDigit(s[pos + n])) {
    if (v < 1000000000000LL) v = v * 10 + (s[pos + n] - '0');
    ++n;
  }
  value = v > 2147483647LL ? 2147483647 : static_cast<int>(v);
  return n;
}

// atoi: optional blanks and sign, then leading digits; 0 when none.
int AtoI(std::string_view s) { return LeadingInt(s, true); }

std::string FirstLine(std::string_view bytes) {
  size_t e = bytes.find('\n');
  std::string line(bytes.substr(0, e));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void WriteState(std::wstring_view file, std::string_view bytes) {
  auto path = plat::RealPath(file);
  if (!path.empty()) plat::WriteFileAtomic(path, bytes);
}

}  // namespace

std::wstring BoardListPath(std::wstring_view board, int page) {
  return L"/bbs/board.php?bo_table=" + std::wstring(board) + L"&page=" + std::to_wstring(page);
}
std::wstring BoardPostPath(std::wstring_view board, int id) {
  return L"/bbs/board.php?bo_table=" + std::wstring(board) + L"&wr_id=" + std::to_wstring(id);
}

std::string DecodeAmp(std::string_view page) {
  std::string out;
  out.reserve(page.size());
  size_t pos = 0;
  while (pos < page.size()) {
    size_t hit = page.find("&amp;", pos);
    if (hit == std::string_view::npos) {
      out.append(page.substr(pos));
      break;
    }
    out.append(page.substr(pos, hit - pos));
    out += '&';
    pos = hit + 5;
  }
  return out;
}

std::vector<int> ExtractWrIds(std::string_view rawPage, std::wstring_view board) {
  std::string page = DecodeAmp(rawPage);
  std::string marker = WrIdMarker(board);
  std::vector<int> ids;
  size_t pos = 0;
  while ((pos = page.find(marker, pos)) != std::string::npos) {
    pos += marker.size();
    int id = 0;
    size_t n = ReadDigits(page, pos, id);
    if (n > 0) {
      ids.push_back(id);
      pos += n;
    }
  }
  std::sort(ids.begin(), ids.end(), std::greater<int>());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

BoardDateMap ExtractWrIdDates(std::string_view rawPage, std::wstring_view board) {
  std::string page = DecodeAmp(rawPage);
  std::string marker = WrIdMarker(board);
  static constexpr std::string_view kDateCell = "class=\"wr-date";
  BoardDateMap dates;
  size_t pos = 0;
  while ((pos = page.find(marker, pos)) != std::string::npos) {
    pos += marker.size();
    int id = 0;
    size_t n = ReadDigits(page, pos, id);
    if (n == 0) continue;
    pos += n;
    size_t bound = page.find(marker, pos);
    if (bound == std::string::npos) bound = page.size();
    if (page.size() - pos < kDateCell.size()) continue;
    size_t cell = page.find(kDateCell, pos);
    if (cell == std::string::npos || cell >= bound) continue;
    size_t gt = page.find('>', cell + kDateCell.size());
    if (gt == std::string::npos || gt >= bound) continue;
    size_t from = gt + 1;
    size_t len = std::min<size_t>(200, bound - from);
    std::string_view cellText = std::string_view(page).substr(from, len);
    for (size_t i = 0; i + 10 <= cellText.size(); ++i) {
      if (IsDigit(cellText[i]) && IsDigit(cellText[i + 1]) && IsDigit(cellText[i + 2]) && IsDigit(cellText[i + 3]) &&
          cellText[i + 4] == '-' && cellText[i + 7] == '-') {
        std::wstring date;
        for (char c : cellText.substr(i, 10)) date += static_cast<wchar_t>(static_cast<unsigned char>(c));
        dates[id] = date;
        break;
      }
    }
  }
  return dates;
}

std::wstring GetPostListDate(const BoardDateMap& dates, int id) {
  auto it = dates.find(id);
  if (it == dates.end() || it->second.size() < 10) return {};
  return it->second.substr(0, 10);
}

std::wstring ExtractPostTitle(std::string_view page) {
  static constexpr std::string_view kMarker = "name=\"title\" content=\"";
  size_t hit = page.find(kMarker);
  if (hit == std::string_view::npos) return L"(제목 없음)";
  size_t from = hit + kMarker.size();
  size_t end = page.find('"', from);
  if (end == std::string_view::npos) return L"(제목 없음)";
  return Utf8ToWide(page.substr(from, end - from));
}

PostInfo ParsePostInfo(std::string_view rawPage, std::wstring_view board, int id) {
  std::string page = DecodeAmp(rawPage);
  PostInfo info;
  std::string marker = "download.php?bo_table=" + WideToUtf8(board) + "&wr_id=" + std::to_string(id) + "&no=";
  size_t hit = page.find(marker);
  int no = 0;
  size_t n = hit == std::string::npos ? 0 : ReadDigits(page, hit + marker.size(), no);
  if (n > 0) {
    info.downloadPath = L"/bbs/" + Utf8ToWide(std::string_view(page).substr(hit, marker.size() + n));
  } else {
    info.downloadPath = L"/bbs/download.php?bo_table=" + std::wstring(board) + L"&wr_id=" + std::to_wstring(id);
  }
  static constexpr std::string_view kDate = "itemprop=\"datePublished\" content=\"";
  size_t d = page.find(kDate);
  if (d != std::string::npos && page.size() - (d + kDate.size()) >= 10) {
    std::string_view s = std::string_view(page).substr(d + kDate.size(), 10);
    bool ok = s[4] == '-' && s[7] == '-';
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) ok = ok && IsDigit(s[i]);
    if (ok) info.date = Utf8ToWide(s);
  }
  info.found = true;
  return info;
}

void ParseDownloadLinks(std::string_view page, int& zipNo, int& exeNo, int& exeSigNo) {
  zipNo = -1;
  exeNo = -1;
  exeSigNo = -1;
  static constexpr std::string_view kLink = "download.php";
  size_t pos = page.find(kLink);
  while (pos != std::string_view::npos) {
    size_t next = page.find(kLink, pos + 12);
    size_t end = next == std::string_view::npos ? page.size() : next;
    std::string_view window = page.substr(pos, end - pos);
    size_t no = window.find("no=");
    if (no != std::string_view::npos) {
      int number = AtoI(window.substr(no + 3));
      if (number >= 0) {
        std::string lower(window);
        for (char& c : lower)
          if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        size_t zip = lower.find(".zip");
        size_t exe = lower.find(".exe");
        if (zip != std::string::npos && (exe == std::string::npos || exe > zip)) {
          if (zipNo == -1) zipNo = number;
        } else if (exe != std::string::npos && lower.compare(exe, 8, ".exe.sig") == 0) {
          // The program file's detached signature, not a program file.
          if (exeSigNo == -1) exeSigNo = number;
        } else if (exe != std::string::npos) {
          if (exeNo == -1) exeNo = number;
        }
      }
    }
    pos = next;
  }
}

void SaveLastAppliedSongPost(std::wstring_view id) { WriteState(kLastPostFile, WideToUtf8(id)); }

std::wstring LoadSongLastDate() {
  auto bytes = plat::ReadFileBytes(plat::RealPath(kLastDateFile));
  if (!bytes) return {};
  std::wstring text = Utf8ToWide(FirstLine(*bytes));
  if (text.size() > 10) text.resize(10);
  return text.size() == 10 ? text : std::wstring();
}

void SaveSongLastDate(std::wstring_view date) { WriteState(kLastDateFile, WideToUtf8(date)); }

AppliedPostSet LoadAppliedPostIds() {
  AppliedPostSet set;
  if (auto bytes = plat::ReadFileBytes(plat::RealPath(kAppliedFile))) {
    ForEachTextLine(*bytes, [&](std::string_view line) {
      if (line.empty()) return;
      int v = AtoI(line);
      if (v > 0) set.insert(v);
    });
    return set;
  }
  auto old = plat::ReadFileBytes(plat::RealPath(kLastPostFile));
  if (!old) return set;
  int last = AtoI(WideToUtf8(Utf8ToWide(FirstLine(*old))));
  if (last > kMaxFallbackPostId) return set;
  for (int i = 1; i <= last; ++i) set.insert(i);
  return set;
}

void SaveAppliedPostIds(const AppliedPostSet& ids) {
  std::string text;
  for (int id : ids) text += std::to_string(id) + "\n";
  WriteState(kAppliedFile, text);
}
