#pragma once
// The loaded song: one standard MIDI file and its song text analysed into the values the player,
// the rhythm engine and the page read. A song model is built aside and then published whole, so
// a reader on another thread (rhythm engine, window handlers, exports) sees either the previous
// song or the new one, never half of either. Readers take a snapshot with LoadedSong() and keep
// it for as long as they work on that song.
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

// One event of the loaded song. Small and trivially copyable: a song has hundreds of thousands of
// them, and they are put in order and scanned on every song start. A SysEx event's bytes are kept
// in the model (SongModel::SysExOf).
struct SongEvent {
  uint32_t tick = 0;
  uint8_t kind = 0;    // kSongEventChannel, kSongEventSysEx or kSongEventTempo
  uint8_t status = 0;  // channel messages only
  uint8_t data1 = 0;
  uint8_t data2 = 0;   // 0 for program change and channel pressure
  uint8_t port = 0;    // 0 = port 1 (channels 1-16), 1 = port 2 (channels 17-32)
  union {
    uint32_t tempo = 0;  // tempo events: microseconds per quarter note
    uint32_t sysex;      // SysEx events: the index of its bytes in the model's SysEx list
  };
};
static_assert(sizeof(SongEvent) == 16 && std::is_trivially_copyable_v<SongEvent>);
inline constexpr uint8_t kSongEventChannel = 0;
inline constexpr uint8_t kSongEventSysEx = 1;
inline constexpr uint8_t kSongEventTempo = 2;

// A note of a named staff track (or of the bass part).
struct NoteSpan {
  int note = 0;
  int start = 0;
  int length = 0;  // 0 while open, or when it was never closed
  bool operator==(const NoteSpan&) const = default;
};

struct KeySignature {
  uint32_t tick = 0;
  int sharpsOrFlats = 0;  // -7..7, negative = flats
  int minor = 0;
  bool operator==(const KeySignature&) const = default;
};

struct JumpMark {
  uint32_t tick = 0;
  uint32_t id = 0;  // 0 intro, 5 short intro, 10 verse 1, 20 interlude, 30 verse 2, 40 ending...
  bool operator==(const JumpMark&) const = default;
};

// What the player's melody expression needs for one melody note-on (zero for other events).
struct MelodyArticulationEntry {
  uint8_t velocity = 0;  // accented velocity 45..127, 0 = no entry
  uint8_t amount1 = 0;   // 0, 26 or 40
  uint8_t amount2 = 0;   // 0, 90, 130 or 170
  uint8_t level = 0;     // note / 12 + 95
  uint32_t length = 0;   // note length in ticks
};
static_assert(sizeof(MelodyArticulationEntry) == 8);

// Key roots from the song text's key line (pitch classes 0 = C .. 11 = B).
struct SongKeyRootSet {
  int originalRoot = -1;     // -1: the text has no key line
  int pageOriginalRoot = 0;  // the same root for the page, always a valid pitch class
  bool originalMinor = false;
  int maleRoot = -1;
  int femaleRoot = -1;
};

// Semitones of transposition for a male and a female singer. The song analysis computes them;
// a stored per-song key may replace them while the song is loaded, so they can change on a
// published model and are atomic.
struct SingerKeyPair {
  std::atomic<int> male{0};
  std::atomic<int> female{0};
  SingerKeyPair() = default;
  SingerKeyPair(const SingerKeyPair& o) : male(o.male.load()), female(o.female.load()) {}
  SingerKeyPair& operator=(const SingerKeyPair& o) {
    male = o.male.load();
    female = o.female.load();
    return *this;
  }
};

inline constexpr int kUnknownLoudness = -9999;

struct SongModel {
  // From the MIDI file.
  std::vector<SongEvent> SongEventList;  // stable-sorted by tick
  // The bytes of every SysEx event, one after another (F0 first for F0 messages, the stored
  // bytes for F1-F7); those of SysEx number i are [SongSysExStarts[i], SongSysExStarts[i + 1]).
  std::vector<uint8_t> SongSysExData;
  std::vector<size_t> SongSysExStarts;
  int SongPpq = 120;                     // the header's division as stored; 0 allowed
  std::vector<uint32_t> BarTicks;        // start tick of every bar
  std::vector<KeySignature> SongKeySignatures;
  int SongBaseBpm = 0;                   // 0 = unknown
  std::vector<NoteSpan> MelodyNotes;       // staff1, file order
  std::vector<NoteSpan> SecondStaffNotes;  // staff2, sorted and thinned
  std::vector<NoteSpan> BassPartNotes;     // port 1, channel 9
  std::vector<uint32_t> LyricSyncTicks;    // one per sung syllable
  std::vector<JumpMark> JumpMarks;
  int SongLoudness = kUnknownLoudness;
  std::vector<MelodyArticulationEntry> MelodyArticulation;  // one per event

  // From the song text.
  std::wstring SongTitle = L"제목 없음";
  std::wstring SongSinger;
  std::vector<std::wstring> LyricLines;
  std::vector<std::wstring> ChordLines;
  std::vector<std::wstring> ExtraTextLines;
  SongKeyRootSet SongKeyRoots;
  mutable SingerKeyPair SingerTransposition;

  // The bytes of a SysEx event of this model (empty for any other event).
  std::span<const uint8_t> SysExOf(const SongEvent& e) const {
    if (e.kind != kSongEventSysEx || size_t{e.sysex} + 1 >= SongSysExStarts.size()) return {};
    const size_t begin = SongSysExStarts[e.sysex], end = SongSysExStarts[e.sysex + 1];
    if (begin > end || end > SongSysExData.size()) return {};
    return {SongSysExData.data() + begin, end - begin};
  }
};

// The published song model; never null (an empty model before the first song).
std::shared_ptr<const SongModel> LoadedSong();

// Makes `model` the loaded song. Readers holding the previous snapshot keep it until they let go.
void PublishSongModel(std::shared_ptr<const SongModel> model);


// Fills BassPartNotes from the event list: port 1, channel 9 (0-based 8).
void FillBassPartNotes(SongModel& model);
