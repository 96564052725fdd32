#include "tools/demo_styles.h"

#include <cstdint>
#include <string_view>

#include "platform/files.h"
#include "tools/demo_midi.h"

namespace {

using demo::Track;

// Engine channels (0-based) the files write on port 0: bass 8, the drums split over 9 to 12
// (kick, snare and toms, cymbals, percussion) so the mixer can balance them, and pitched toms on
// 13. On port 1: the guitar on channel 0 and the synth toms on channel 14. Channels 13 and 14 are
// not drum parts of the module: their toms are melodic tones.
constexpr int kBassCh = 8, kKickCh = 9, kSnareCh = 10, kHatCh = 11, kPercCh = 12, kMelodicTomCh = 13;
constexpr int kGuitarCh = 0, kSynthTomCh = 14;
constexpr int kMelodicTomProgram = 117;  // GM "Melodic Tom"
constexpr int kSynthTomProgram = 118;    // GM "Synth Drum"

// One bar in sixteenth notes, one character per step ('.' nothing).
struct Bar {
  std::string kick;    // x accent, g ghost
  std::string snare;   // x hit, g ghost, r rim shot, R crescendo roll
  std::string tom;     // acoustic toms on the snare channel: H h M m L l, high to low
  std::string hat;     // x closed, o open, c crash
  std::string perc;    // t tambourine, m maracas, b cowbell, k clap
  std::string bass;    // C D E F G A B from C2, c = C3, g = G1; '-' holds the note before
  std::string guitar;  // x a C major chord; '-' holds it
  std::string synth;   // synth toms (port 1), letters as `tom`
  // The bass note held into the bar line ends on it. A fill is cut from its end (its last event)
  // backwards, so a fill whose last note-off sits on the bar line lands on the beat grid.
  bool ringOut = false;
  std::string melodicTom = {};  // pitched toms on channel 13, letters as `tom`
};

struct StyleSpec {
  const char* name;
  int division;       // ticks per quarter note of the files
  int kit;            // drum set program
  int bassProgram;
  int guitarProgram;  // -1: the style has no guitar
  const char* ownFills;  // digits of the fill parts the style has its own file for
  Bar main;
};

const std::string kRest = "................";

// The nine digit-key styles. Bass and guitar are written on C: the chord follower moves them.
const StyleSpec kStyles[] = {
    {"DS1", 480, 0, 33, 27, "1234",
     {"x.......x.......", "....x.......x...", "", "x.x.x.x.x.x.x.x.", "", "C.......G.......", "..x...x...x...x.", ""}},
    {"DS2", 480, 16, 34, 28, "1234",
     {"x.....x.x.......", "....x.......x...", "", "xxxxxxxxxxxxxxxx", "..t...t...t...t.", "C.....C.G.....G.",
      "..x-..x-..x-..x-", ""}},
    {"DS3", 480, 0, 33, -1, "1",
     {"x...x...x...x...", "....x.......x..g", "", "..x...x...x...x.", "t.t.t.t.t.t.t.t.", "C...c...G...g...", "", ""}},
    {"DS4", 480, 24, 38, 27, "12",
     {"x..x..x.x..x..x.", "....x.......x...", "", "x.x.x.x.x.x.x.xo", "", "C..C..C.G..G..G.", "x..x..x.x..x..x.", ""}},
    {"DS5", 480, 8, 33, -1, "14",
     {"x.......x.x.....", "....x..g....x...", "", "x.x.x.x.x.x.x.o.", "....k.......k...", "C.C.E.G.A.G.E.D.", "", ""}},
    {"SG1", 96, 32, 32, 24, "12",
     {"x.....x.x.......", "....r.......r...", "", "x..xx..xx..xx..x", "m.m.m.m.m.m.m.m.", "C-----G-c-----G.",
      "....x-......x-..", ""}},
    {"DS7", 192, 0, 33, 27, "123",
     {"x...x...x...x...", "....x.......x...", "", "..o...o...o...o.", "..b...b...b...b.", "C.c.C.c.G.g.G.g.",
      "..x...x...x...x.", ""}},
    {"DS8", 480, 16, 36, -1, "1",
     {"x.x...x.x.x...x.", "....x.......x...", "", "x.x.x.x.x.x.x.x.", "....t.......t...", "C.C...C.G.G...G.", "", ""}},
    {"DS9", 120, 0, 33, -1, "",
     {"x...x...x...x...", "..g.x...g...x...", "", "xxx.xxx.xxx.xxx.", "", "C...E...G...E...", "", ""}},
};

int DrumVelocity(char c, int step) {
  switch (c) {
    case 'x': return step % 4 == 0 ? 110 : 90;
    case 'g': return 48;
    case 'r': return 95;
    case 'R': return 60 + 7 * (step % 8);
    case 'o': return 85;
    case 'c': return 115;
    case 't': return 72;
    case 'm': return 60;
    case 'b': return 70;
    case 'k': return 92;
    default: return 100;
  }
}

int TomNote(char c) {
  switch (c) {
    case 'H': return 50;
    case 'h': return 48;
    case 'M': return 47;
    case 'm': return 45;
    case 'L': return 43;
    default: return 41;
  }
}

int HatNote(char c) { return c == 'o' ? 46 : c == 'c' ? 49 : 42; }
int SnareNote(char c) { return c == 'r' ? 37 : 38; }
int PercNote(char c) { return c == 'm' ? 70 : c == 'b' ? 56 : c == 'k' ? 39 : 54; }

int BassNote(char c) {
  switch (c) {
    case 'D': return 38;
    case 'E': return 40;
    case 'F': return 41;
    case 'G': return 43;
    case 'A': return 45;
    case 'B': return 47;
    case 'c': return 48;
    case 'g': return 31;
    default: return 36;
  }
}

// Steps a note starting at `i` lasts: itself plus the '-' after it.
uint32_t HeldSteps(const std::string& row, size_t i) {
  uint32_t n = 1;
  while (i + n < row.size() && row[i + n] == '-') ++n;
  return n;
}

struct StyleTracks {
  Track conductor, drums, bass, guitar, synth;
  bool hasGuitar = false, hasSynth = false, hasMelodicTom = false;
};

void WriteDrumRow(Track& t, const std::string& row, uint32_t start, uint32_t step, int channel, int (*note)(char)) {
  for (size_t i = 0; i < row.size(); ++i)
    if (row[i] != '.' && row[i] != '-')
      t.Note(start + uint32_t(i) * step, step / 2, channel, note(row[i]), DrumVelocity(row[i], int(i)));
}

void WriteBar(StyleTracks& t, const Bar& bar, uint32_t start, uint32_t step) {
  WriteDrumRow(t.drums, bar.kick, start, step, kKickCh, [](char) { return 36; });
  WriteDrumRow(t.drums, bar.snare, start, step, kSnareCh, SnareNote);
  WriteDrumRow(t.drums, bar.tom, start, step, kSnareCh, TomNote);
  WriteDrumRow(t.drums, bar.hat, start, step, kHatCh, HatNote);
  WriteDrumRow(t.drums, bar.perc, start, step, kPercCh, PercNote);
  WriteDrumRow(t.synth, bar.synth, start, step, kSynthTomCh, TomNote);
  WriteDrumRow(t.drums, bar.melodicTom, start, step, kMelodicTomCh, TomNote);
  for (size_t i = 0; i < bar.bass.size(); ++i) {
    if (bar.bass[i] == '.' || bar.bass[i] == '-') continue;
    const uint32_t held = HeldSteps(bar.bass, i);
    const uint32_t len = held * step - (bar.ringOut && i + held == bar.bass.size() ? 0 : step / 8);
    t.bass.Note(start + uint32_t(i) * step, len, kBassCh, BassNote(bar.bass[i]), i % 4 == 0 ? 105 : 92);
  }
  for (size_t i = 0; i < bar.guitar.size(); ++i) {
    if (bar.guitar[i] != 'x') continue;
    const uint32_t len = HeldSteps(bar.guitar, i) * step - step / 4;
    for (int n : {60, 64, 67}) t.guitar.Note(start + uint32_t(i) * step, len, kGuitarCh, n, 80);
  }
  t.hasGuitar |= bar.guitar.find('x') != std::string::npos;
  t.hasSynth |= !bar.synth.empty() && bar.synth != kRest;
  t.hasMelodicTom |= !bar.melodicTom.empty() && bar.melodicTom != kRest;
}

// A main pattern sets the style's tones at its start; fills and endings keep the tones playing,
// except the toms of channels 13 and 14, which bring their own tones.
std::string BuildStyleFile(const StyleSpec& s, const std::string& fileName, const std::vector<Bar>& bars,
                           bool mainPattern) {
  StyleTracks t;
  const uint32_t step = uint32_t(s.division) / 4;
  for (size_t i = 0; i < bars.size(); ++i) WriteBar(t, bars[i], uint32_t(i) * 16 * step, step);
  t.conductor.Meta(0, 0x03, fileName);
  t.conductor.Meta(0, 0x58, std::string{4, 2, 24, 8});
  t.conductor.Meta(0, 0x51, std::string{0x07, char(0xA1), 0x20});  // 120 bpm; the engine sets its own tempo
  t.guitar.Meta(0, 0x21, std::string(1, char(1)));
  t.synth.Meta(0, 0x21, std::string(1, char(1)));
  if (mainPattern) {
    for (int ch : {kKickCh, kSnareCh, kHatCh, kPercCh}) t.drums.Channel(0, 0xC0 | ch, s.kit);
    t.bass.Channel(0, 0xB0 | kBassCh, 0, 0);
    t.bass.Channel(0, 0xB0 | kBassCh, 32, 0);
    t.bass.Channel(0, 0xC0 | kBassCh, s.bassProgram);
    if (t.hasGuitar) {
      t.guitar.Channel(0, 0xB0 | kGuitarCh, 0, 0);
      t.guitar.Channel(0, 0xC0 | kGuitarCh, s.guitarProgram);
    }
  }
  if (t.hasSynth) t.synth.Channel(0, 0xC0 | kSynthTomCh, kSynthTomProgram);
  if (t.hasMelodicTom) t.drums.Channel(0, 0xC0 | kMelodicTomCh, kMelodicTomProgram);
  // DS1's main pattern has one tambourine hit off the sixteenth grid, which the pattern editor
  // shows as such.
  if (fileName == "DS1-P1.MID") t.drums.Note(3 * step + step / 3, step / 2, kPercCh, PercNote('t'), 60);
  if (t.hasGuitar && t.hasSynth) return demo::SmfFile(s.division, {&t.conductor, &t.drums, &t.bass, &t.guitar, &t.synth});
  if (t.hasGuitar) return demo::SmfFile(s.division, {&t.conductor, &t.drums, &t.bass, &t.guitar});
  if (t.hasSynth) return demo::SmfFile(s.division, {&t.conductor, &t.drums, &t.bass, &t.synth});
  return demo::SmfFile(s.division, {&t.conductor, &t.drums, &t.bass});
}

// Steps 0-7 of `first`, then steps 8-15 of `second`.
std::string Halves(const std::string& first, const std::string& second) {
  const std::string a = first.empty() ? kRest : first, b = second.empty() ? kRest : second;
  return a.substr(0, 8) + b.substr(8);
}

// The second variation: two bars, a tambourine or the style's percussion on the off-beats and an
// open hi-hat into the second bar, which pushes the kick and lifts the bass an octave at its end.
std::vector<Bar> SecondVariation(const Bar& m) {
  Bar one = m, two = m;
  if (one.perc.empty() || one.perc == kRest) one.perc = "..t...t...t...t.";
  one.hat[14] = 'o';
  two.kick[10] = 'x';
  two.bass[14] = 'c';
  if (two.bass.size() > 15 && two.bass[15] == '-') two.bass[15] = '.';
  return {one, two};
}

// Fills: one bar that starts like the main pattern and breaks in its second half.
std::vector<Bar> Fill(const StyleSpec& s, int n) {
  const Bar& m = s.main;
  Bar f;
  f.kick = Halves(m.kick, "x.......x.......");
  f.hat = Halves(m.hat, kRest);
  f.perc = Halves(m.perc, kRest);
  f.bass = Halves(m.bass, "C.......G-------");
  f.guitar = Halves(m.guitar, kRest);
  switch (n) {
    case 1:  // tom run
      f.snare = Halves(m.snare, kRest);
      f.tom = "........HHhhMmLl";
      break;
    case 2:  // snare roll
      f.snare = Halves(m.snare, "........RRRRRRRR");
      break;
    case 3:  // break with a crash; DS1 answers it on the synth toms
      f = Bar{"x.....x...x.....", "......x.....xxxx", "", "c...............", "", "C.....G...C-----", "x.....x...x.....",
              ""};
      if (std::string_view(s.name) == "DS1") {
        f.snare = "......x.........";
        f.synth = "........H.h.M.Ll";
      }
      break;
    default:  // open hi-hats; DS1 answers them on the pitched toms
      f.kick = "x...x...x...x...";
      f.snare = "............x.xx";
      f.hat = "o...o...o...o.o.";
      f.bass = "C...C...C...C---";
      if (std::string_view(s.name) == "DS1") f.melodicTom = "........H.h.M.Ll";
      break;
  }
  f.ringOut = true;
  return {f};
}

std::vector<Bar> Ending() {
  Bar run{"x...x...x...x...", "........RRRRRRRR", "", "x.x.x.x.........", "", "C...E...G...B...", "", ""};
  Bar last{"x...............", kRest, "", "c...............", "", "C-------........", "x-------........", ""};
  return {run, last};
}

// The ending flourish: a tom cascade, a snare roll and the final chord.
std::vector<Bar> Flourish() {
  Bar run{"x.......x.......", "............RRRR", "HhMmLlHhMmLl....", kRest, "", "C.......G.......", "", ""};
  Bar last{"x...............", kRest, "", "c...............", "", "C-------........", "x-------........", ""};
  return {run, last};
}

}  // namespace

std::vector<DemoStyleFile> DemoStyleFiles() {
  std::vector<DemoStyleFile> files;
  auto add = [&](const StyleSpec& s, const std::string& part, const std::vector<Bar>& bars, bool main) {
    const std::string name = std::string(s.name) + "-" + part + ".MID";
    files.push_back({name, BuildStyleFile(s, name, bars, main)});
  };
  for (const StyleSpec& s : kStyles) {
    add(s, "P1", {s.main}, true);
    add(s, "P2", SecondVariation(s.main), true);
    for (const char* d = s.ownFills; *d; ++d) add(s, std::string("F") + *d, Fill(s, *d - '0'), false);
    add(s, "ED", Ending(), false);
  }
  files.push_back({"GG3-ED.MID", BuildStyleFile(kStyles[0], "GG3-ED.MID", Flourish(), false)});
  return files;
}

std::string DemoHalftimeSongFile() { return "P1008.MID"; }

bool WriteDemoStyles(const std::filesystem::path& root, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  auto write = [&](const fs::path& path, const std::string& bytes) {
    if (fs::exists(path, ec)) return true;  // never replace a file someone put there
    if (plat::WriteFileAtomic(path, bytes)) return true;
    *error = "cannot write " + path.string();
    return false;
  };
  const fs::path pxr = root / "pxr";
  fs::create_directories(pxr, ec);
  for (const DemoStyleFile& f : DemoStyleFiles())
    if (!write(pxr / f.name, f.bytes)) return false;
  fs::create_directories(root / "system", ec);
  return write(root / "system" / "halftime_songs.txt",
               "# Songs the rhythm plays at half speed, one file name a line\n" + DemoHalftimeSongFile() + "\n");
}
