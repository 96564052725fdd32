#pragma once
// Scanners of the vendor web board's pages (raw UTF-8 bytes, fixed markers, no HTML tree) and the
// song update's state files in the system folder.
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

inline constexpr std::wstring_view kSongBoard = L"tavelo_download_6";
inline constexpr std::wstring_view kProgramBoard = L"tavelo_program";

using BoardDateMap = std::map<int, std::wstring>;
using AppliedPostSet = std::unordered_set<int>;

struct PostInfo {
  std::wstring date;
  std::wstring downloadPath;
  bool found = false;
};

// Board paths on the web host.
std::wstring BoardListPath(std::wstring_view board, int page);
std::wstring BoardPostPath(std::wstring_view board, int id);

// "&amp;" -> "&", one pass, nothing else.
std::string DecodeAmp(std::string_view page);
// Distinct post numbers linked from the page for `board`, highest first.
std::vector<int> ExtractWrIds(std::string_view page, std::wstring_view board);
// Each linked post's list date (YYYY-MM-DD) from the "wr-date" cell of its row.
BoardDateMap ExtractWrIdDates(std::string_view page, std::wstring_view board);
// The first ten characters of the id's date; empty when absent or shorter.
std::wstring GetPostListDate(const BoardDateMap& dates, int id);
// The post's title meta; "(제목 없음)" when there is none.
std::wstring ExtractPostTitle(std::string_view page);
// The post's first attachment path and its published date.
PostInfo ParsePostInfo(std::string_view page, std::wstring_view board, int id);
// Attachment numbers of the first ZIP, the first program file and the first program file's
// signature ("<name>.exe.sig") linked from a post page; -1 for what is not linked.
void ParseDownloadLinks(std::string_view postPage, int& zipNo, int& exeNo, int& exeSigNo);

// State files of the song update.
void SaveLastAppliedSongPost(std::wstring_view id);
std::wstring LoadSongLastDate();
void SaveSongLastDate(std::wstring_view date);
AppliedPostSet LoadAppliedPostIds();
void SaveAppliedPostIds(const AppliedPostSet& ids);

// The largest post number the old single-number state file may stand for: a number above it
// (a damaged file) gives no applied posts rather than a set of billions.
inline constexpr int kMaxFallbackPostId = 1000000;
