#pragma once
// The rhythm-pattern editor: the six pattern files of one style (P1, P2, F1..F4) held in memory,
// edited by rows of the rhythm engine's channels on a sixteenth-note grid, saved with a backup
// and a read-back check, restored from the backups, and heard as a loop or as single hits.
// Page commands run on the window thread; previews and hits run on their own threads on copies.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "playback/red_pattern_midi.h"
#include "playback/rhythm_style.h"
#include "sound/sound_state.h"

inline constexpr std::array<std::wstring_view, 6> kRedPartNames = {L"P1", L"P2", L"F1", L"F2", L"F3", L"F4"};
// The rows the page shows, in its order.
inline constexpr std::array<int, 7> kRedPageRows = {9, 10, 11, 12, 13, 14, 8};

// Editor state. The patterns, their flags and the style name are guarded by RedMutex; the mute
// flags and the tempo are written by the window thread and read by a running preview.
struct RedEditorStateValues {
  std::mutex RedMutex;
  std::array<RedPattern, 6> RedPatterns;     // [RedMutex]
  std::array<bool, 6> RedPatternLoaded{};    // [RedMutex]
  std::wstring RedStyleName;                 // [RedMutex] the open style
  std::array<std::atomic<uint8_t>, 16> RedMuted{};  // rows left out of the preview
  std::atomic<int> RedBpm{120};              // preview tempo, 40..220
  std::atomic<uint64_t> RedPreviewGeneration{0};  // a preview runs while this keeps its value
  std::atomic<uint8_t> RedPreviewRunning{0};
};
extern RedEditorStateValues RedEditor;

struct RedHit {
  uint32_t tick = 0;
  int note = 0;
  int velocity = 0;
  int length = 15;
  bool operator==(const RedHit&) const = default;
};

// Row of a channel message on a track of the given port value; -1 for none.
int RedEditorRow(uint8_t port, int channel);
std::wstring RedPatternFileName(std::wstring_view path);
// A style name usable in file names: letters and digits only, not empty.
bool IsRedStyleName(std::wstring_view style);

int FindRedRowTrack(const RedPattern& p, int row);
int FindRedRowProgram(const RedPattern& p, int row);
int CountRedRowHits(const RedPattern& p, int row);
int CountRedPatternBars(const RedPattern& p);
std::vector<RedHit> CollectRedRowHits(const RedPattern& p, int row);
void CollectRedRowNotes(const RedPattern& p, int row, std::vector<int>& notes);

int AddRedRowTrack(RedPattern& p, int row, const RedPattern* source);
// A hit here is {step, note, velocity, length}: `tick` holds the step.
void ReplaceRedRowHits(RedPattern& p, int row, const std::vector<RedHit>& hits, const RedPattern* source);
struct RedRowEdit {
  int row = 0;
  int hits = 0;
  bool operator==(const RedRowEdit&) const = default;
};
// `fields` as the page sends them (field 0 the pattern index, then "row=hits"); the source of a
// new track is the first of `others` (loaded patterns, in order) that has the row.
std::vector<RedRowEdit> ApplyRedEdits(RedPattern& p, const std::vector<std::wstring>& fields,
                                      const std::vector<const RedPattern*>& others);

std::vector<StyleEvent> CollectRedPreviewEvents(const RedPattern& p);
// Plays the events four times at RedBpm on `port` until they end or the generation changes.
void RunRedPreview(MidiOutHandle port, std::vector<StyleEvent> events, int division, int bars, uint64_t generation);
void StopRedPreview();

// The page payload of the open style. Caller holds RedMutex.
std::wstring BuildSetRedDataScript();

// Page operations (window thread). `arg` is the text after the command name.
void RedOpen(std::wstring_view arg);
void RedSave(std::wstring_view arg);
void RedRestore(std::wstring_view arg);
void RedPreview(std::wstring_view arg);
void RedStop();
void RedMute(std::wstring_view arg);
void RedSetBpm(std::wstring_view arg);
void RedHitCommand(std::wstring_view arg);
// One heard hit on `row`: its note through the rhythm sender (bass and guitar follow the chord),
// ended after `holdMs` (sleeping on the calling thread).
void SoundRedHitNote(MidiOutHandle port, int row, int note, int velocity, unsigned holdMs);

// File steps of a save and a restore, the style reload, the hit thread and the page posts,
// replaceable by tests (to inject failures and see replies). Null members keep the default.
struct RedFileOps {
  bool (*copy)(std::wstring_view fromInstallPath, std::wstring_view toInstallPath) = nullptr;
  bool (*write)(std::wstring_view installPath, const RedPattern& p) = nullptr;
  bool (*read)(std::wstring_view installPath, RedPattern& p) = nullptr;
  void (*reload)(std::wstring style, int variation) = nullptr;  // the running engine's style
  void (*hit)(RedPattern source, int row, int note, int velocity) = nullptr;  // started on a thread
  void (*post)(std::wstring_view script) = nullptr;
};
void SetRedFileOps(const RedFileOps& ops);
