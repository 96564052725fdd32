#include "tools/demo_songs.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "base/text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "playback/medley.h"
#include "sound/module_sysex.h"
#include "songs/song_catalog.h"
#include "songs/song_file_cache.h"
#include "tools/demo_midi.h"
#include "tools/demo_styles.h"

namespace {

using demo::Track;

constexpr int kPpq = 480;
constexpr int kEighth = kPpq / 2;

// ---- Music text -----------------------------------------------------------------------------

struct MelodyNote {
  int note = -1;  // -1: rest
  uint32_t length = 0;
  bool continuation = false;  // sung on the previous syllable
};

int PitchClass(char letter) {
  switch (letter) {
    case 'C': return 0;
    case 'D': return 2;
    case 'E': return 4;
    case 'F': return 5;
    case 'G': return 7;
    case 'A': return 9;
    case 'B': return 11;
    default: return -1;
  }
}

bool ParseMelody(const std::string& text, std::vector<MelodyNote>& notes, std::string* error) {
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos >= text.size()) break;
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    std::string token = text.substr(pos, end - pos);
    pos = end;
    MelodyNote n;
    size_t i = 0;
    if (token[i] == '~') {
      n.continuation = true;
      ++i;
    }
    int eighths = 2;
    if (size_t colon = token.find(':'); colon != std::string::npos) {
      eighths = std::atoi(token.c_str() + colon + 1);
      token.resize(colon);
    }
    n.length = uint32_t(std::max(1, eighths) * kEighth);
    if (token.substr(i) != "R") {
      const int pc = i < token.size() ? PitchClass(token[i]) : -1;
      if (pc < 0) {
        *error = "bad note '" + token + "'";
        return false;
      }
      ++i;
      int shift = 0;
      if (i < token.size() && token[i] == '#') shift = 1, ++i;
      else if (i < token.size() && token[i] == 'b') shift = -1, ++i;
      const int octave = i < token.size() ? token[i] - '0' : 4;
      n.note = (octave + 1) * 12 + pc + shift;
    }
    notes.push_back(n);
  }
  return true;
}

struct ChordAt {
  uint32_t tick;
  int root;
  bool minor;
};

int ChordRoot(const std::string& name, bool& minor) {
  int root = PitchClass(name[0]);
  size_t q = 1;
  if (name.size() > 1 && name[1] == '#') root = (root + 1) % 12, q = 2;
  else if (name.size() > 1 && name[1] == 'b') root = (root + 11) % 12, q = 2;
  minor = name.size() > q && name[q] == 'm' && name.compare(q, 3, "maj") != 0;
  return root;
}

// Chords of "C . G ./Am" starting at `start`; returns the number of bars.
int ParseChords(const std::string& text, uint32_t start, uint32_t barTicks, std::vector<ChordAt>& chords) {
  int bar = 0;
  size_t pos = 0;
  for (;;) {
    size_t slash = text.find('/', pos);
    std::string item = text.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    int beat = 0;
    size_t i = 0;
    while (i < item.size()) {
      if (item[i] == ' ') {
        ++i;
        continue;
      }
      if (item[i] == '.') {
        ++beat, ++i;
        continue;
      }
      size_t e = item.find_first_of(" .", i);
      if (e == std::string::npos) e = item.size();
      bool minor = false;
      const int root = ChordRoot(item.substr(i, e - i), minor);
      chords.push_back({start + bar * barTicks + uint32_t(beat) * kPpq, root, minor});
      ++beat;
      i = e;
    }
    ++bar;
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  return bar;
}

std::string ChordLine(const std::string& chords) {
  std::string line;
  size_t pos = 0;
  for (;;) {
    size_t slash = chords.find('/', pos);
    std::string item = chords.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    while (!item.empty() && item.front() == ' ') item.erase(item.begin());
    while (!item.empty() && item.back() == ' ') item.pop_back();
    line += item + " / ";
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  line.pop_back();  // ends in "/": the line adds no extra bar
  return line;
}

bool IsStretchMark(wchar_t c) { return c == L'-' || c == L'_' || c == L'~'; }

// The sung units of a lyric line: each Hangul (or other non-ASCII) character alone, ASCII runs
// split at blanks and hyphens. Each unit takes one melody note; every character of it one lyric
// tick, spread over the note.
std::vector<std::wstring> LyricUnits(const std::wstring& line) {
  std::vector<std::wstring> units;
  std::wstring run;
  auto flush = [&] {
    if (!run.empty()) units.push_back(run), run.clear();
  };
  for (wchar_t c : line) {
    if (c == L' ' || c == L'\t' || IsStretchMark(c)) {
      flush();
    } else if (c < 0x80) {
      run += c;
    } else {
      flush();
      units.push_back(std::wstring(1, c));
    }
  }
  flush();
  return units;
}

std::string SongLabel(const DemoSong& s) { return std::to_string(s.number) + " " + WideToUtf8(s.title); }

}  // namespace

std::string BuildDemoMidi(const DemoSong& song, std::string* error) {
  const uint32_t barTicks = uint32_t(song.beatsPerBar) * kPpq;
  Track conductor, melody, chords, bass, drums, pad, gasa, staff1, staff2;
  conductor.Meta(0, 0x03, "Tavelo demo");
  const int microseconds = 60000000 / song.bpm;
  conductor.Meta(0, 0x51, std::string{char(microseconds >> 16), char((microseconds >> 8) & 0xFF), char(microseconds & 0xFF)});
  conductor.Meta(0, 0x58, std::string{char(song.beatsPerBar), 2, 24, 8});
  conductor.Meta(0, 0x59, std::string{char(int8_t(song.keySharps)), char(song.minor ? 1 : 0)});

  struct Part {
    Track* track;
    const char* name;
    int channel, program, volume, port;
  } parts[] = {
      {&melody, "Melody", 0, song.melodyProgram, 100, 0}, {&chords, "Chords", 1, 24, 80, 0},
      {&bass, "Bass", 8, 33, 95, 0},                       {&drums, "Drums", 9, 0, 95, 0},
      {&pad, "Strings", 2, 48, 60, 1},
      {&gasa, "gasa", 15, 0, 0, 2},                        {&staff1, "staff1", 15, 0, 0, 2},
      {&staff2, "staff2", 14, 0, 0, 2},
  };
  // A GS reset opens the song on each sound port, first thing on the first track, before any note
  // of tick 0: module 1's, then (the track's port switched for it) module 2's. The parts' programs
  // and levels follow an eighth of a beat later, once the modules have reset.
  const std::vector<uint8_t> gsReset = BuildGsDt1(0x40, 0x00, 0x7F, {0});
  conductor.SysEx(0, gsReset);
  conductor.Meta(0, 0x21, std::string(1, char(1)));
  conductor.SysEx(0, gsReset);
  conductor.Meta(0, 0x21, std::string(1, char(0)));
  constexpr uint32_t kSetupTick = kPpq / 8;
  for (const Part& p : parts) {
    p.track->Meta(0, 0x03, p.name);
    p.track->Meta(0, 0x21, std::string(1, char(p.port)));
    if (p.port < 2) {
      if (p.channel != 9) p.track->Channel(kSetupTick, 0xC0 | p.channel, p.program);
      p.track->Channel(kSetupTick, 0xB0 | p.channel, 7, p.volume);
      p.track->Channel(kSetupTick, 0xB0 | p.channel, 91, 40);
    }
  }

  if (song.tempoChangeBar > 0 && song.tempoChangeBpm > 0) {
    const int us = 60000000 / song.tempoChangeBpm;
    conductor.Meta(uint32_t(song.tempoChangeBar) * barTicks, 0x51, std::string{char(us >> 16), char((us >> 8) & 0xFF), char(us & 0xFF)});
  }
  if (song.rhythmPartTones) {
    // Channel: program (bank MSB 0, LSB 1 throughout); the bass keeps its program.
    static constexpr std::pair<int, int> kTones[] = {{6, 26}, {8, 33}, {9, 8}, {10, 16}, {11, 25}, {12, 48}, {13, 11}, {14, 12}};
    for (auto [channel, program] : kTones) {
      bass.Channel(kSetupTick, 0xB0 | channel, 0, 0);
      bass.Channel(kSetupTick, 0xB0 | channel, 32, 1);
      bass.Channel(kSetupTick, 0xC0 | channel, program);
    }
  }

  std::vector<ChordAt> chordList;
  // Bar 0 counts in; the chords and the song start with bar 1.
  for (int b = 0; b < song.beatsPerBar; ++b) drums.Note(uint32_t(b) * kPpq, 60, 9, 37, b == 0 ? 100 : 80);
  uint32_t at = barTicks;
  auto mark = [&](int id) { gasa.Channel(at, 0xBF, 10, id); };
  auto section = [&](const std::string& text) { at += uint32_t(ParseChords(text, at, barTicks, chordList)) * barTicks; };

  mark(0);
  section(song.introChords);
  for (size_t v = 0; v < song.verses.size(); ++v) {
    if (v > 0) {
      mark(20);
      section(song.interludeChords);
    }
    mark(v == 0 ? 10 : v == 1 ? 30 : 33);
    if (song.verses[v].size() != song.phrases.size()) {
      *error = SongLabel(song) + ": verse " + std::to_string(v + 1) + " needs one line per phrase";
      return {};
    }
    for (size_t p = 0; p < song.phrases.size(); ++p) {
      const DemoPhrase& phrase = song.phrases[p];
      std::vector<MelodyNote> notes;
      if (!ParseMelody(phrase.melody, notes, error)) return {};
      const std::vector<std::wstring> units = LyricUnits(song.verses[v][p]);
      const size_t sung = std::count_if(notes.begin(), notes.end(), [](const MelodyNote& n) {
        return n.note >= 0 && !n.continuation;
      });
      if (sung != units.size()) {
        *error = SongLabel(song) + ": phrase " + std::to_string(p + 1) + " of verse " + std::to_string(v + 1) +
                 " has " + std::to_string(sung) + " notes for " + std::to_string(units.size()) + " syllables";
        return {};
      }
      const uint32_t start = at;
      const int bars = ParseChords(phrase.chords, start, barTicks, chordList);
      uint32_t t = start;
      size_t unit = 0;
      for (const MelodyNote& n : notes) {
        if (n.note >= 0) {
          melody.Note(t, n.length - 20, 0, n.note, 96);
          staff1.Note(t, n.length, 15, n.note, 64);
          if (!n.continuation) {
            const std::wstring& u = units[unit++];
            for (size_t c = 0; c < u.size(); ++c) gasa.Note(t + uint32_t(n.length * c / u.size()), 30, 15, 60, 64);
          }
        }
        t += n.length;
      }
      if (t != start + uint32_t(bars) * barTicks) {
        *error = SongLabel(song) + ": phrase " + std::to_string(p + 1) + " lasts " + std::to_string(t - start) +
                 " ticks for " + std::to_string(bars) + " bars";
        return {};
      }
      at = t;
    }
  }
  mark(40);
  section(song.endingChords);
  const uint32_t songEnd = at;

  // Accompaniment from the chord list: each chord sounds until the next one or the end.
  for (size_t i = 0; i < chordList.size(); ++i) {
    const ChordAt& c = chordList[i];
    const uint32_t end = i + 1 < chordList.size() ? chordList[i + 1].tick : songEnd;
    const int root = 48 + c.root;  // C3..B3
    const int third = root + (c.minor ? 3 : 4), fifth = root + 7;
    for (uint32_t t = c.tick; t < end; t += barTicks) {
      const uint32_t len = std::min(end - t, barTicks);
      for (int n : {root + 12, third + 12, fifth + 12}) chords.Note(t, len - 10, 1, n > 71 ? n - 12 : n, 70);
      staff2.Note(t, len, 14, root, 64);
      for (int n : {root + 12, fifth + 12}) pad.Note(t, len - 10, 2, n, 50);
      bass.Note(t, std::min<uint32_t>(len, 2 * kPpq) - 10, 8, root - 12, 100);
      if (len > 2 * kPpq) bass.Note(t + 2 * kPpq, len - 2 * kPpq - 10, 8, fifth - 12, 90);
    }
  }
  // Drums: a plain beat for the time signature; the last bar only its first hit.
  for (uint32_t bar = barTicks; bar < songEnd; bar += barTicks) {
    const bool last = bar + barTicks >= songEnd;
    if (last) {
      drums.Note(bar, 120, 9, 36, 110);
      drums.Note(bar, 120, 9, 49, 100);
      break;
    }
    for (int beat = 0; beat < song.beatsPerBar; ++beat) {
      const uint32_t t = bar + uint32_t(beat) * kPpq;
      if (song.beatsPerBar == 4) {
        drums.Note(t, 60, 9, beat % 2 == 0 ? 36 : 38, beat == 0 ? 105 : 90);
        drums.Note(t, 60, 9, 42, 70);
        drums.Note(t + kEighth, 60, 9, 42, 55);
      } else {
        drums.Note(t, 60, 9, beat == 0 ? 36 : 37, beat == 0 ? 100 : 70);
        drums.Note(t, 60, 9, 42, beat == 0 ? 75 : 60);
      }
    }
  }
  conductor.Meta(songEnd, 0x01, "end");

  return demo::SmfFile(kPpq, {&conductor, &melody, &chords, &bass, &drums, &pad, &gasa, &staff1, &staff2});
}

namespace {

std::string Encode(const std::wstring& text, DemoTextEncoding encoding) {
  switch (encoding) {
    case DemoTextEncoding::Utf8: return WideToUtf8(text);
    case DemoTextEncoding::Utf8Bom: return "\xEF\xBB\xBF" + WideToUtf8(text);
    case DemoTextEncoding::Cp949: return plat::WideToAnsi(text);
    case DemoTextEncoding::Utf16Le: {
      std::string out = "\xFF\xFE";
      for (wchar_t c : text) {
        out += char(c & 0xFF);
        out += char((c >> 8) & 0xFF);
      }
      return out;
    }
  }
  return {};
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

std::string BuildDemoText(const DemoSong& song) {
  const bool windows = song.encoding == DemoTextEncoding::Cp949 || song.encoding == DemoTextEncoding::Utf16Le;
  const std::wstring nl = windows ? L"\r\n" : L"\n";
  // Length for header line 7: bars of the whole song at its tempo.
  auto bars = [](const std::string& chords) { return 1 + std::count(chords.begin(), chords.end(), '/'); };
  long total = 1 + bars(song.introChords) + bars(song.endingChords);
  for (const auto& p : song.phrases) total += bars(p.chords) * long(song.verses.size());
  total += bars(song.interludeChords) * long(song.verses.size() - 1);
  const long seconds = total * song.beatsPerBar * 60 / song.bpm;
  wchar_t length[32];
  std::swprintf(length, 32, L"%02ld:%02ld/%d", seconds / 60, seconds % 60, song.bpm);

  std::wstring t;
  t += std::to_wstring(song.number) + (song.pop ? L"/p" : L"") + nl;
  for (const std::wstring* h : {&song.title, &song.lyricist, &song.composer, &song.singer, &song.sex, &song.keys})
    t += *h + nl;
  t += std::wstring(length) + nl;
  t += song.genre + nl;
  t += L">" + nl;
  // Each lyric line stands above the chords of its phrase; the chords of the intro and of the
  // interlude come right after the first line of a verse, so the chord lines keep song order and
  // the first line of the section is sung text.
  for (size_t v = 0; v < song.verses.size(); ++v) {
    for (size_t p = 0; p < song.phrases.size(); ++p) {
      t += song.verses[v][p] + nl;
      if (p == 0) t += Widen(ChordLine(v == 0 ? song.introChords : song.interludeChords)) + nl;
      t += Widen(ChordLine(song.phrases[p].chords)) + nl;
    }
  }
  t += Widen(ChordLine(song.endingChords)) + nl;
  t += L"<" + nl;
  return Encode(t, song.encoding);
}

std::string BuildDemoPopText(const DemoSong& song) {
  std::wstring t = PadSongNumber(song.number) + L"/p\n" + song.koTitle + L"\n" + song.lyricist + L"\n" +
                   song.composer + L"\n" + song.koSinger + L"\n>\n" + song.koFirstLine + L"\n<\n";
  return WideToUtf8(t);
}

std::string BuildDemoModuleSetup(const std::string& fileName) {
  std::vector<SysExMessage> messages;
  if (fileName == "A-ProSet.syx") {
    // Once a run: a clean GS state with a hall reverb and a light chorus.
    messages = {BuildGsDt1(0x40, 0x00, 0x7F, {0}), BuildGsDt1(0x40, 0x01, 0x30, {4}),
                BuildGsDt1(0x40, 0x01, 0x38, {2}), BuildGsDt1(0x40, 0x01, 0x33, {64})};
  } else if (fileName == "C-InsSet.syx") {
    // Every song: no insertion effect, the chorus level the demo songs were balanced with.
    messages = {BuildGsDt1(0x40, 0x03, 0x00, {0, 0}), BuildGsDt1(0x40, 0x01, 0x3A, {32})};
  } else if (fileName == "B-AcGt.syx") {
    // The sax melody's insertion effect: an enhancer with a little reverb and chorus behind it.
    messages = {BuildGsDt1(0x40, 0x03, 0x00, {0x01, 0x12}), BuildGsDt1(0x40, 0x03, 0x03, {64}),
                BuildGsDt1(0x40, 0x03, 0x04, {64}), BuildGsDt1(0x40, 0x03, 0x17, {40}),
                BuildGsDt1(0x40, 0x03, 0x18, {20})};
  }
  std::string bytes;
  for (const SysExMessage& m : messages) bytes.append(m.begin(), m.end());
  return bytes;
}

std::string BuildDemoSoundTable() {
  return "; Tones of the rhythm parts: name type 0 bank32 bank0 program note 0\n"
         "; (GM numbers: every tone here plays on the demo SoundFont)\n"
         "Default 0 0 0 0 0 0 0\n"
         "Kick 0 0 0 0 0 36 0\n"
         "AcousticKick 0 0 0 0 0 35 0\n"
         "Default 1 0 0 0 0 0 0\n"
         "Snare 1 0 0 0 0 38 0\n"
         "ElectricSnare 1 0 0 0 0 40 0\n"
         "Default 2 0 0 0 0 0 0\n"
         "Fingered 2 0 0 0 33 0 0\n"
         "Picked 2 0 0 0 34 0 0\n"
         "Fretless 2 0 0 0 35 0 0\n"
         "AcousticBass 2 0 0 0 32 0 0\n"
         "SynthBass 2 0 0 0 38 0 0\n"
         "Default 3 0 0 0 0 0 0\n"
         "Nylon 3 0 0 0 24 0 0\n"
         "Steel 3 0 0 0 25 0 0\n"
         "JazzGuitar 3 0 0 0 26 0 0\n"
         "CleanGuitar 3 0 0 0 27 0 0\n"
         "Default 4 0 0 0 0 0 0\n"
         "ClosedHat 4 0 0 0 0 42 0\n"
         "PedalHat 4 0 0 0 0 44 0\n"
         "Default 7 0 0 0 0 0 0\n"
         "AltoSax 7 0 0 0 65 0 0\n"
         "TenorSax 7 0 0 0 66 0 0\n"
         "SopranoSax 7 0 0 0 64 0 0\n"
         "Flute 7 0 0 0 73 0 0\n"
         "Trumpet 7 0 0 0 56 0 0\n";
}

DemoSection DemoFirstVerse(const DemoSong& song) {
  // Bar 0 counts in, the intro starts at bar 1 (mark 0), the first verse after it (mark 10).
  auto bars = [](const std::string& chords) { return 1 + int(std::count(chords.begin(), chords.end(), '/')); };
  DemoSection verse;
  verse.startBar = 1 + bars(song.introChords);
  int length = 0;
  for (const DemoPhrase& p : song.phrases) length += bars(p.chords);
  verse.endBar = verse.startBar + length - 1;
  return verse;
}

std::vector<MedleyItem> DemoMedleyItems() {
  std::vector<MedleyItem> items;
  for (int number : {1001, 1003, 1009}) {
    for (const DemoSong& song : DemoSongs()) {
      if (song.number != number) continue;
      const DemoSection verse = DemoFirstVerse(song);
      MedleyItem item;
      item.id = number;
      item.start = verse.startBar;
      item.end = verse.endBar;
      item.fill = 1;
      item.name = song.title;
      items.push_back(item);
    }
  }
  return items;
}

bool MakeDemoRoot(const std::filesystem::path& root, std::string* error) {
  namespace fs = std::filesystem;
  const fs::path system = root / "system";
  std::error_code ec;
  fs::create_directories(system, ec);
  auto write = [&](const std::string& name, const std::string& bytes) {
    const fs::path path = system / name;
    if (fs::exists(path, ec)) return true;  // never replace a file someone put there
    if (plat::WriteFileAtomic(path, bytes)) return true;
    *error = "cannot write " + path.string();
    return false;
  };
  for (const DemoSong& song : DemoSongs()) {
    const std::string number = WideToUtf8(PadSongNumber(song.number));
    const std::string midi = BuildDemoMidi(song, error);
    if (midi.empty()) return false;
    if (!write("P" + number + ".MID", midi) || !write("P" + number + ".txt", BuildDemoText(song))) return false;
    if (song.pop && !write("E" + number + ".txt", BuildDemoPopText(song))) return false;
  }
  const fs::path exclive = system / "system-exclive";
  fs::create_directories(exclive, ec);
  for (const std::string name : {"A-ProSet.syx", "C-InsSet.syx", "B-AcGt.syx"}) {
    if (fs::exists(exclive / name, ec)) continue;
    if (!plat::WriteFileAtomic(exclive / name, BuildDemoModuleSetup(name))) {
      *error = "cannot write " + (exclive / name).string();
      return false;
    }
  }
  if (!WriteDemoStyles(root, error)) return false;
  const fs::path medley = root / "medley" / (WideToUtf8(kDemoMedleyName) + ".mdl");
  fs::create_directories(medley.parent_path(), ec);
  if (!fs::exists(medley, ec) && !plat::WriteFileAtomic(medley, FormatMedleyFile(DemoMedleyItems()))) {
    *error = "cannot write " + medley.string();
    return false;
  }
  if (!write("SOUNDTBL.CFG", BuildDemoSoundTable())) return false;
  const fs::path images = root / "images";
  fs::create_directories(images / "random", ec);
  fs::create_directories(root / "video", ec);
  const struct {
    const char* name;
    DemoPicture kind;
    int width, height;
  } pictures[] = {{"main_bg.bmp", DemoPicture::kStage, 640, 360}, {"header_bg.bmp", DemoPicture::kSteel, 640, 48}};
  for (const auto& p : pictures) {
    // A picture of the operator's own (any main_bg.* or header_bg.*) stays.
    bool own = false;
    const std::string base = std::string(p.name).substr(0, std::string(p.name).find('.') + 1);
    for (fs::directory_iterator it(images, ec), end; !ec && it != end; it.increment(ec))
      own = own || it->path().filename().string().rfind(base, 0) == 0;
    if (own) continue;
    if (!plat::WriteFileAtomic(images / p.name, BuildDemoPicture(p.kind, p.width, p.height))) {
      *error = "cannot write " + (images / p.name).string();
      return false;
    }
  }
  plat::SetRootDir(root);
  ClearSongByteCache();
  if (!RegenerateSongsCsv({}, false)) {
    *error = "cannot write songs.csv";
    return false;
  }
  return true;
}
