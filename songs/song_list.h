#pragma once
// The in-memory song catalogue: one SongRecord per row of songs.csv whose MIDI file is present,
// in file order, and the page payloads built from it.
#include <atomic>
#include <cstddef>
#include <set>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

struct SongRecord {
  int id = 0;
  std::wstring nat;  // origin code; "p" marks a foreign pop song
  std::wstring keys;
  std::wstring genre;
  std::wstring title;
  std::wstring subtitle;
  std::wstring singer;
  std::wstring line1;  // first lyric line
  int tempo = 0;       // beats per minute, 0 when none
  std::wstring chosung;
  std::wstring singerChosung;
  std::wstring koTitle;   // Korean title and singer of a pop song (pop-song index)
  std::wstring koSinger;
  bool operator==(const SongRecord&) const = default;
};

// The song library's state. LoadSongDb replaces the song list whole under an exclusive lock of
// SongListMutex; every reader holds a shared lock while it walks the list, and the index passes
// that change fields of its records hold an exclusive lock.
struct SongLibraryState {
  std::vector<SongRecord> SongList;
  std::shared_mutex SongListMutex;
  // Set once when the program closes: a load under way stops reading and leaves the list as it is.
  std::atomic<bool> StopLoading{false};
};
extern SongLibraryState SongLibrary;

// Refills the song list from songs.csv, keeping the rows whose MIDI file is present; one log line,
// and one more naming the lines of rows with too few columns. A songs.csv over kSongsCsvMaxBytes
// is refused with a page notice and leaves the list empty.
void LoadSongDb();

int GetSongCount();

// Song numbers of the files "<root>/system/P*.MID".
std::unordered_set<int> CollectMidiSongNumbers();

// Adds to `numbers` the first digit run of the name of every file matching `installPattern`
// ("<root>/system/P*.MID"); names without digits, or whose digits overflow, add nothing.
void CollectFileNumbers(std::wstring_view installPattern, std::unordered_set<int>& numbers);

// Ascending song numbers that have a MIDI file but no record (empty while the list is empty).
std::vector<int> FindUnlistedSongNumbers();

// The page's song array ("[{id:12,title:'...',...},...]") of every record, in list order. It is
// the largest text the page receives (about 13 MB for 60,000 songs), so it is built directly in
// the UTF-8 that the page channel carries rather than as wide text converted afterwards.
std::string BuildSongListPayload();
// The same for the records whose id is in `numbers`, in list order.
std::string BuildSongListPayloadFor(const std::vector<int>& numbers);
// Every song of the list as data: the UTF-8 JSON table {"keys":["id","title",...,"koTitle","koSinger"],
// "rows":[[12,"...",...],...]} that the page parses itself and turns into the same song objects
// (a row is one song in list order; a missing or null cell leaves its key out). Parsing this is
// far less work for the page than running the script array, and it is a third smaller.
std::string BuildSongListTable();
// One song object of the array.
void AppendSongObject(std::string& out, const SongRecord& song);

// The script (UTF-8) that refreshes the page's song list after songs were added: a partial merge
// of up to 3000 songs, else the whole list. The caller posts it to the page.
std::string PostSongListUpdate(const std::vector<int>& addedNumbers);
