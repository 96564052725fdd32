#pragma once
// Medleys: ordered sections of songs (a song, its first and last bar, key and tempo) collected
// while songs play (ALT+[ and ALT+]), edited in the page's medley panel, kept as named "*.mdl"
// files in "<root>/medley/", and played section by section. The item playing and the end tick
// of its section are in PlaybackState (the player reads them); the rest is window-thread state.
#include <string>
#include <string_view>
#include <vector>

struct MedleyItem {
  int id = 0;         // song number, above 0
  int start = 0;      // first bar, 0-based
  int end = 0;        // last bar, never below start
  int keyMode = 0;    // 0 the song's key, 1 male singer key, 2 female singer key
  int keyOffset = 0;  // semitones added to the key-mode key
  int tempo = 0;      // tempo offset in bpm
  int fill = 0;       // fill mark, kept and shown
  std::wstring name;  // display name
  bool operator==(const MedleyItem&) const = default;
};

// Window thread only.
struct MedleyState {
  std::vector<MedleyItem> MedleyList;         // the medley being assembled, edited, saved, loaded
  std::vector<MedleyItem> RunningMedleyList;  // the copy that plays
  std::wstring MedleyName;                    // last saved or loaded, empty after a clear
  int MedleyMarkBar = -1;                     // start bar marked with ALT+[, -1 none
};
extern MedleyState Medley;

// "<root>/medley/".
std::wstring GetMedleyFolder();
// Names of the "*.mdl" files of the medley folder (created when missing), without ".mdl", sorted.
std::vector<std::wstring> ListMedleyFiles();
// Drops control characters, the characters "*/:<>?\| and the apostrophe, then trailing blanks and
// full stops; at most 60 characters.
std::wstring SanitizeMedleyName(std::wstring_view name);

// The file's bytes and its reader (lines "item=id|start|end|keyMode|keyOffset|tempo|fill|name").
std::string FormatMedleyFile(const std::vector<MedleyItem>& items);
std::vector<MedleyItem> ParseMedleyFile(std::string_view bytes);

bool SaveMedleyFile(std::wstring_view name);
bool LoadMedleyFile(std::wstring_view name);
// Deletes the named medley file; the sanitised name.
std::wstring DeleteMedleyFile(std::wstring_view name);

// `initMedley(items, files, name, markBar)` for the page.
std::wstring BuildInitMedleyScript();

// ALT+[ (false) marks the start bar of the playing song, ALT+] (true) adds the marked section.
void MarkMedleyBar(bool isEnd);
// Panel edits; out-of-range indexes change nothing.
void DeleteMedleyItem(int index);
void MoveMedleyItem(int index, int step);
// `field` is one of s, e, k, p, t, f; values are clamped as the panel allows.
void SetMedleyItemField(int index, wchar_t field, int value);
void ClearMedley();

// Starts the medley from its first item; false (with the page's notice) when it is empty.
bool StartMedley();
// A next-song request for song `n` while a medley plays: the next item's section, key and tempo
// when n is that item's song; otherwise the medley ends.
void CheckMedleyNextSong(int n);
// The medley ends; the song plays on to its end.
void StopMedleyMode();
