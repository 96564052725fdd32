#pragma once
// Play history and favourite sets: the two files under the system folder that outlive the
// program. The page owns both lists while it runs and sends the whole text after every change;
// the program hands them to the page at boot and writes what it receives over the files.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct PlayHistoryEntry {
  int id = 0;                           // song number
  std::wstring title;                   // as the page recorded it
  std::wstring time;                    // "year-month-day hour:minute", as the page wrote it
  std::vector<std::wstring> performers; // names entered for the song
  bool insUsed = false;                 // a performer was entered, or the entry ends a program run
  bool operator==(const PlayHistoryEntry&) const = default;
};

struct FavoriteEntry {
  std::wstring name;   // set name
  int id = 0;          // song number
  std::wstring title;  // title with subtitle, as the page wrote it
  int t = 0;           // tempo offset
  int p = 0;           // pitch offset in semitones
  int km = -1;         // key mode: -1 default, 0 original, 1 male, 2 female
  bool operator==(const FavoriteEntry&) const = default;
};

// The lists read at start. Written by the start-up load thread before the boot script is built
// (the boot joins that thread first), read by the window thread afterwards; never changed later,
// since the page's saves go straight to the files.
struct SongHistoryState {
  std::vector<PlayHistoryEntry> history;  // oldest first
  std::vector<FavoriteEntry> favorites;   // in file order
};
extern SongHistoryState SongHistory;

// File text to records: lines split at LF (one CR cut), empty lines and lines of fewer than
// three TAB fields skipped.
std::vector<PlayHistoryEntry> ParsePlayHistory(std::string_view bytes);
std::vector<FavoriteEntry> ParseFavorites(std::string_view bytes);
// The history text with its last non-empty line marked as the end of a run; nothing when there
// is no such line.
std::optional<std::string> MarkEndOfRun(std::string_view bytes);

// Start-up load thread: fill the lists from history.log and favorites.log (empty when missing).
void LoadPlayHistory();
void LoadFavorites();
// Window thread, page commands: the text is the whole new file content.
bool SavePlayHistory(std::wstring_view text);
bool SaveFavorites(std::wstring_view text);
// Window thread, at destroy: marks the last history line as the end of this run.
void MarkLastHistoryInsUsed();
// The array literals handed to the page's initPlayedHistory and initFavorites.
std::wstring BuildHistoryPayload();
std::wstring BuildFavoritesPayload();
