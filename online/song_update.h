#pragma once
// The song update: reads the song board, downloads each post not applied yet, decrypts and
// unpacks its package into the system folder, merges its catalogue rows and records the post.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "online/board.h"
#include "online/https.h"

// The song update's state.
struct SongUpdateStateValues {
  // Set while a run goes on (taken by compare-and-exchange; the page refuses a start meanwhile).
  std::atomic<uint8_t> SongUpdateRunningFlag{0};
  // Set for a full reinstall's run: the stored last date and applied set are ignored.
  std::atomic<uint8_t> SongUpdateFullFlag{0};
};
extern SongUpdateStateValues SongUpdateState;

// The last run's result (LF-separated lines) and the song list script a manual run leaves for
// its caller; both read by the caller on the same thread after the run.
std::wstring SongUpdateResultText();
// The last run stopped before fetching (refused, not logged in, board not read).
bool SongUpdateFailed();
std::wstring TakePendingPageScript();

// One run. `automatic`: opens the page's dialog by itself when there is something to fetch and
// reports to it at the end. Refused (with its result text) while another run holds the flag.
void CheckAndApplySongUpdate(bool automatic);
// The same for a caller that already took SongUpdateRunningFlag and hands it to this run, which
// releases it however it ends.
void RunSongUpdateWithFlag(bool automatic);

void PostUpdateModalProgress(int percent, std::wstring_view status, int done, int total);
void ReportSongDownloadProgress(int id, int done, int total, uint64_t received, uint64_t announced);

// What one package brought.
struct PackageApplyResult {
  size_t entryCount = 0;
  int filesWritten = 0;
  bool writeFailed = false;               // a song file could not be written
  std::vector<std::string> catalogueRows;  // songs.csv lines of the package (header first)
  std::vector<int> songNumbers;           // numbers of the .mid and .txt files written
};
// Writes a decrypted package's entries below the system folder. Entry names that would leave it
// are refused and logged. False when the archive could not be unpacked (nothing is written then).
bool WritePackageEntries(std::string_view zip, int id, PackageApplyResult& out);

// Rewrites song_new.csv with the rows of songs.csv whose song number is in the list.
void WriteSongNewCsv(const std::vector<int>& songNumbers);

// Reads the song board page by page (at most 500): all post numbers (highest first) and their
// list dates. False when page 1 could not be read; `firstPage` keeps page 1's answer.
bool ReadSongBoard(std::wstring_view cookieHeader, std::vector<int>& posts, BoardDateMap& dates,
                   HttpResult& firstPage, int& pagesRead, bool logPages);
