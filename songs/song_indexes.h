#pragma once
// The two indexes that fill fields of the song list: the genre index "genre.idx" (a genre per song
// for catalogues whose songs.csv carries none) and the pop-song Korean index "popko.idx" (Korean
// title, singer and first lyric line of every foreign pop song, so the search finds them by their
// Korean readings). Both are applied at every start and after every reload of the list, and built
// in the background when missing; the Korean readings are also patched into songs.csv itself.
#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::wstring_view kGenreIndexPath = L"<root>/system/genre.idx";
inline constexpr std::wstring_view kPopKoIndexPath = L"<root>/system/popko.idx";
inline constexpr std::string_view kPopKoIndexHeader = "#POPKO2";

// The indexes' shared state.
struct SongIndexState {
  // Waits before background work, in milliseconds: the genre build, the pop index build, the
  // songs.csv patch of a start that found the pop index, and the hand-placed songs after the first
  // batch. Tests shorten them.
  std::atomic<int> genreBuildDelayMs{20000};
  std::atomic<int> popKoBuildDelayMs{25000};
  std::atomic<int> popKoSyncDelayMs{30000};
  std::atomic<int> remainingSongsDelayMs{15000};
  // Set while a pop index job runs (start-up build, start-up patch, manual rebuild): one at a time,
  // so two writers never race on popko.idx and songs.csv.
  std::atomic<bool> popKoJobBusy{false};
  // Set while the hand-placed song sync runs, from its first batch to the end of the rest.
  std::atomic<bool> songSyncBusy{false};
};
extern SongIndexState SongIndexes;

// ---- genre.idx ----

// Fills the empty genres of the song list from genre.idx; the number of songs filled.
int LoadGenreIndex();
// At start: builds genre.idx in the background when it is missing and no song has a genre.
void StartGenreIndexBuild();
// The text of genre.idx for the songs in order ("number TAB genre LF" per song with a genre), with
// the number of lines.
std::string BuildGenreIndexText(const std::vector<int>& numbers, int& lines);
// Body of the build thread: waits, builds and writes genre.idx.
void BuildGenreIndexThread(const std::vector<int>& numbers);

// ---- popko.idx ----

struct PopKoLine {
  int number = 0;
  std::wstring title, singer, line1;
};
// One index line (UTF-8, no line end): number TAB title TAB singer TAB first line (the rest).
std::optional<PopKoLine> ParsePopKoLine(std::string_view line);
// True when popko.idx opens and its first line is the current header.
bool IsPopKoIndexCurrent();
// Ascending song numbers of the Korean text files "E*.txt".
std::vector<int> CollectPopTextSongNumbers();
// Applies popko.idx to the song list; the number of songs that changed.
int LoadPopKoIndex();
// Writes the Korean readings of popko.idx into columns 13, 19 and 20 of songs.csv; the number of
// rows changed (0 when the file was left alone). Holds the songs.csv lock; songs.csv stays present
// throughout (the previous file is kept as songs.csv.bak).
int PatchSongsCsvFromPopKo();
// At start, after LoadPopKoIndex: removes an older index, then schedules the patch (index present)
// or the background build.
void StartPopKoIndexBuild();
// The text of popko.idx for the songs in order (header line first), with the songs read.
std::string BuildPopKoIndexText(const std::vector<int>& numbers, int& read);
// Body of the background build thread: waits, builds popko.idx, patches songs.csv, refreshes the list.
void BuildPopKoIndexThread(const std::vector<int>& numbers);
// Body of the start-up patch thread: waits, patches songs.csv, refreshes the list when rows changed.
void DelayedPopSongSyncThread();
