#pragma once
// The demo song library: traditional Korean folk songs and public-domain melodies in our own
// arrangements, written as the program's real song files (MIDI file, song text, pop-song Korean
// text). Used by tools/make-demo-root and by the tests that check the files load.
#include <filesystem>
#include <string>
#include <vector>

#include "playback/medley.h"

enum class DemoTextEncoding { Utf8, Utf8Bom, Cp949, Utf16Le };

// One phrase: a melody and the chords of its bars. Melody tokens are separated by spaces:
// note name, optional sharp '#' or flat 'b', octave, then ':' and the length in eighth notes
// (default 2): "G4:3". A leading '~' marks a note sung on the previous syllable; "R:2" is a rest.
// Chords: one entry per bar separated by '/'; inside a bar, names and '.' beats as in a song text
// ("C . G .").
struct DemoPhrase {
  std::string melody;
  std::string chords;
};

struct DemoSong {
  int number = 0;
  bool pop = false;
  std::wstring title, lyricist, composer, singer, sex, keys, genre;
  int bpm = 100;
  int beatsPerBar = 4;  // quarter-note beats
  int keySharps = 0;    // key signature: -7..7
  bool minor = false;
  int melodyProgram = 73;
  std::vector<DemoPhrase> phrases;
  std::vector<std::vector<std::wstring>> verses;  // per verse, one lyric line per phrase
  std::string introChords, interludeChords, endingChords;
  // A second tempo from the start of this bar (bar 0 counts in; 0: none).
  int tempoChangeBar = 0, tempoChangeBpm = 0;
  // Bank and program of its own on every rhythm channel of port 1 (6, 8 to 14).
  bool rhythmPartTones = false;
  DemoTextEncoding encoding = DemoTextEncoding::Utf8;
  // Pop songs: the Korean title, singer and first line of the "E" file.
  std::wstring koTitle, koSinger, koFirstLine;
};

const std::vector<DemoSong>& DemoSongs();

// The song's files as bytes. An empty string and a message in `error` when the melody and the
// lyrics of a verse do not match.
std::string BuildDemoMidi(const DemoSong& song, std::string* error);
std::string BuildDemoText(const DemoSong& song);
std::string BuildDemoPopText(const DemoSong& song);

// The module setup files of "<root>/system/system-exclive" ("A-ProSet.syx", "C-InsSet.syx",
// and the sax melody's insertion effect "B-AcGt.syx"):
// GS messages one after another.
std::string BuildDemoModuleSetup(const std::string& fileName);

// "<root>/system/SOUNDTBL.CFG": tones of every rhythm part that the demo SoundFont plays.
std::string BuildDemoSoundTable();

// The bars (0-based, both included) of a song's first verse: from its jump mark 10 up to the
// bar before the interlude's (or the ending's) mark.
struct DemoSection {
  int startBar = 0, endBar = 0;
};
DemoSection DemoFirstVerse(const DemoSong& song);

// The saved demo medley "<root>/medley/데모 메들리.mdl": the first verses of three demo songs.
inline constexpr const wchar_t* kDemoMedleyName = L"데모 메들리";
std::vector<MedleyItem> DemoMedleyItems();

// Writes every demo song into "<root>/system" and the demo rhythm styles (tools/demo_styles.h)
// (existing files are kept), the demo medley, the module setup files, and rebuilds songs.csv.
// False with a message when a song could not be made or written.
bool MakeDemoRoot(const std::filesystem::path& root, std::string* error);

// A background picture of the demo library as a 24-bit BMP file.
enum class DemoPicture { kStage, kSteel };
std::string BuildDemoPicture(DemoPicture kind, int width, int height);
