#pragma once
// Rhythm styles: the small MIDI files of "<root>/pxr/" (one per style and part) read into
// event lists at the song's resolution, grouped into a style set. One set is active (played by the
// rhythm engine thread, which alone swaps it while it runs) and one pending (filled by a loader).
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// One event of a style pattern.
struct StyleEvent {
  uint32_t tick = 0;        // from the pattern start, in song ticks (already rescaled)
  uint8_t channel = 0;      // engine channel, 0-based: 6, 8..14
  uint8_t kind = 0;         // kStyleNoteOff, kStyleProgram, kStyleNoteOn, kStyleController
  uint8_t data1 = 0;        // note, program or controller number
  uint8_t data2 = 0;        // velocity (note on), controller value, else 0
  uint8_t followChord = 0;  // 1: transposed by the chord follower (bass and guitar notes)
  bool operator==(const StyleEvent&) const = default;
};
inline constexpr uint8_t kStyleNoteOff = 0, kStyleProgram = 1, kStyleNoteOn = 2, kStyleController = 3;

struct StylePattern {
  std::vector<StyleEvent> events;
  uint32_t length = 0;  // ticks, whole 4/4 bars
};

struct StyleFill {
  std::vector<StyleEvent> events;
  std::vector<StyleEvent> programs;  // program and controller events of channels 13 and 14
};

struct StyleSet {
  StylePattern main;                // "P1" or "P2"
  std::vector<StyleEvent> defaultFill;  // "F1": transition and style-change fills
  std::array<StyleFill, 4> fills;   // "F1".."F4": the page's fill keys A, S, D, F
  StylePattern ending;              // "ED"
  std::wstring name = L"DS1";
  int variation = 1;
};

// The style sets and their shared values. The active set is read by the engine thread without a
// lock; while the engine runs only that thread swaps it (CommitPendingStyle).
struct RhythmStyleStateValues {
  StyleSet active;
  StyleSet pending;                       // [loaders, under SetMutex]
  std::atomic<uint8_t> PendingStyleReady{0};
  std::atomic<int> PendingStyleBpm{-1};   // copied to ActiveStyleBpm at the swap when >= 0
  std::atomic<int> ActiveStyleBpm{0};     // fixed tempo of the active style, 0 none
  std::atomic<uint8_t> UserPickedStyle{0};
  std::atomic<uint8_t> StylesLoadedOnce{0};
  std::atomic<int> StyleLoadPpq{0};
  std::atomic<uint8_t> StyleChangeFillPending{0};
  // Per channel: has program, has bank, bank MSB, bank LSB, program.
  std::array<std::array<uint8_t, 5>, 16> StyleInitialPrograms{};
  std::mutex LoadMutex;  // whole loads, one after another; taken before SetMutex
  std::mutex SetMutex;   // the pending set, its ready flag, the swap
  // Name and variation of the active set for readers outside the engine (the page update).
  std::mutex NameMutex;
  std::wstring activeName = L"DS1";
  std::atomic<int> activeVariation{1};
  std::atomic<uint8_t> activeHasMain{0}, activeHasEnding{0};
};
extern RhythmStyleStateValues RhythmStyles;

// "DS1".."DS5", "SG1" (6), "DS7".."DS9"; empty for any other number.
std::wstring StyleNameFromNumber(int n);
// "<root>/pxr/" + style + "-" + part + ".MID" (found without regard to case).
std::wstring StylePartPath(std::wstring_view style, std::wstring_view part);
bool FileExists(std::wstring_view installPath);
// Style codes that have a main part: every "<code>-P1.MID" of the style folder, any case, as the
// code is written in the file name, sorted.
std::vector<std::wstring> ListStyleCodes();

// Reads style-file bytes at `songPpq` ticks per quarter; `bassGatePct` shortens bass notes when
// 1..99. Bad bytes give an empty or shorter list, never an error.
StylePattern ParseStylePattern(std::string_view bytes, int songPpq, int bassGatePct);
// Reads one style file at the loaded song's resolution; empty list and length 0 on any failure.
void LoadStylePattern(std::wstring_view path, std::vector<StyleEvent>& events, uint32_t& length);
// The resolution styles are read at: the loaded song's, 120 before any song.
int StyleSongPpq();

bool LoadStyleSet(std::wstring_view styleName, int variation);
bool CommitPendingStyle();
bool LoadAndCommitStyle(std::wstring_view styleName, int variation);
std::wstring DefaultStyleForSong(int bpm);
void SelectRhythmStyle(int n);
void LoadStyleSetThreadEntry(std::wstring style, int variation);
void CaptureStyleInitialPrograms();
std::wstring ActiveStyleName();
struct SongModel;
// Song preparation: the first load of the process picks the style for the song's tempo (unless
// the operator chose one); a new resolution reads the active style again.
void PrepareRhythmStyleForSong(const SongModel& song);
