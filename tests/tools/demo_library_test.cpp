#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <mutex>
#include <shared_mutex>

#include <unistd.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "playback/medley.h"
#include "playback/red_editor.h"
#include "playback/red_pattern_midi.h"
#include "playback/rhythm_style.h"
#include "playback/song_prep.h"
#include "songs/song_load.h"
#include "songs/bars.h"
#include "songs/chords.h"
#include "songs/lyric_timing.h"
#include "songs/midi_parser.h"
#include "songs/song_catalog.h"
#include "songs/song_file_cache.h"
#include "songs/song_list.h"
#include "songs/song_model.h"
#include "songs/song_text.h"
#include "sound/module_sysex.h"
#include "base/text.h"
#include "tools/demo_songs.h"

namespace fs = std::filesystem;

namespace {

class DemoLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tavelo_demo_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    std::string error;
    ASSERT_TRUE(MakeDemoRoot(root_, &error)) << error;
    plat::SetRootDir(root_);
    ClearSongByteCache();
  }
  void TearDown() override {
    ClearSongByteCache();
    fs::remove_all(root_);
  }
  fs::path root_;
};

size_t SyllableCount(const std::vector<std::wstring>& lines) {
  size_t n = 0;
  for (const auto& line : lines)
    for (wchar_t c : line) n += c != L' ' && c != L'\t' && c != L'-' && c != L'_' && c != L'~';
  return n;
}

}  // namespace

TEST_F(DemoLibraryTest, EverySongLoadsWithLyricsMarksStavesAndChords) {
  ASSERT_GE(DemoSongs().size(), 10u);
  bool cp949 = false, utf16 = false, pop = false;
  for (const DemoSong& song : DemoSongs()) {
    SCOPED_TRACE(song.number);
    cp949 |= song.encoding == DemoTextEncoding::Cp949;
    utf16 |= song.encoding == DemoTextEncoding::Utf16Le;
    pop |= song.pop;
    SongModel model;
    ParseSongText(model, SongFilePath(L'P', song.number, L".txt"));
    ASSERT_TRUE(ParseSongMidi(model, SongFilePath(L'P', song.number, L".MID")));
    EXPECT_EQ(model.SongTitle, song.title);
    EXPECT_EQ(model.SongSinger, song.singer);
    EXPECT_EQ(model.LyricLines.size(), song.verses.size() * song.phrases.size());
    EXPECT_EQ(model.LyricLines.front(), song.verses[0][0]);
    EXPECT_EQ(model.ChordLines.size(), (song.phrases.size() + 1) * song.verses.size() + 1);
    EXPECT_EQ(model.LyricSyncTicks.size(), SyllableCount(model.LyricLines));
    EXPECT_TRUE(std::is_sorted(model.LyricSyncTicks.begin(), model.LyricSyncTicks.end()));
    EXPECT_EQ(model.SongBaseBpm, song.bpm);
    EXPECT_EQ(model.SongPpq, 480);
    EXPECT_FALSE(model.MelodyNotes.empty());
    EXPECT_FALSE(model.SecondStaffNotes.empty());
    std::vector<uint32_t> marks;
    for (const auto& m : model.JumpMarks) marks.push_back(m.id);
    std::vector<uint32_t> want{0, 10};
    if (song.verses.size() > 1) want.insert(want.end(), {20, 30});
    want.push_back(40);
    EXPECT_EQ(marks, want);
    ASSERT_GT(model.BarTicks.size(), 2u);
    EXPECT_EQ(model.BarTicks[1], uint32_t(song.beatsPerBar) * 480);
    FillBassPartNotes(model);
    EXPECT_FALSE(model.BassPartNotes.empty());
    // The chords of the text start at bar 1 with the intro's first chord.
    const auto timeline = MakeChordTimeline(model.ChordLines, model.BarTicks, model.SongPpq);
    ASSERT_FALSE(timeline.empty());
    EXPECT_EQ(timeline.front().tick, model.BarTicks[1]);
    EXPECT_EQ(timeline.front().root, ParseChordName(std::wstring(1, wchar_t(song.introChords[0]))).root);
    // Every lyric tick falls on a melody note start.
    for (uint32_t t : model.LyricSyncTicks)
      EXPECT_TRUE(std::any_of(model.MelodyNotes.begin(), model.MelodyNotes.end(),
                              [&](const NoteSpan& n) { return uint32_t(n.start) <= t && t < uint32_t(n.start + n.length); }))
          << t;
  }
  EXPECT_TRUE(cp949);
  EXPECT_TRUE(utf16);
  EXPECT_TRUE(pop);
}

TEST_F(DemoLibraryTest, CatalogueListsEverySongAndRegeneratesTheSame) {
  LoadSongDb();
  EXPECT_EQ(GetSongCount(), int(DemoSongs().size()));
  {
    std::shared_lock lock(SongLibrary.SongListMutex);
    for (const SongRecord& r : SongLibrary.SongList) {
      EXPECT_FALSE(r.title.empty());
      EXPECT_FALSE(r.line1.empty());
      EXPECT_FALSE(r.chosung.empty()) << r.id;
      EXPECT_GT(r.tempo, 0);
    }
  }
  const std::string first = plat::ReadFileBytes(root_ / "system" / "songs.csv").value_or("");
  fs::remove(root_ / "system" / "songs.csv");
  ClearSongByteCache();
  ASSERT_TRUE(RegenerateSongsCsv({}, true));
  EXPECT_EQ(plat::ReadFileBytes(root_ / "system" / "songs.csv").value_or("x"), first);
}

TEST_F(DemoLibraryTest, ModuleSetupFilesHoldWholeGsMessages) {
  for (const wchar_t* name : {L"A-ProSet.syx", L"C-InsSet.syx"}) {
    const auto messages = ReadSyxFile(name);
    ASSERT_FALSE(messages.empty()) << WideToUtf8(name);
    for (const SysExMessage& m : messages) {
      ASSERT_GE(m.size(), 10u);
      EXPECT_EQ(m.front(), 0xF0);
      EXPECT_EQ(m.back(), 0xF7);
      EXPECT_EQ(std::vector<uint8_t>(m.begin() + 1, m.begin() + 5), (std::vector<uint8_t>{0x41, 0x10, 0x42, 0x12}));
    }
  }
}

TEST_F(DemoLibraryTest, ExistingFilesAreKept) {
  plat::WriteFileAtomic(root_ / "system" / "P1001.txt", "mine");
  std::string error;
  ASSERT_TRUE(MakeDemoRoot(root_, &error)) << error;
  EXPECT_EQ(plat::ReadFileBytes(root_ / "system" / "P1001.txt").value_or(""), "mine");
}

// The whole song model of each demo song, as a song start builds and publishes it.
TEST_F(DemoLibraryTest, EverySongRebuildsAConsistentSongModel) {
  for (const DemoSong& song : DemoSongs()) {
    SCOPED_TRACE(song.number);
    auto model = RebuildSongModel(SongFilePath(L'P', song.number, L".MID"), SongFilePath(L'P', song.number, L".txt"));
    ASSERT_EQ(LoadedSong(), model);
    const auto& events = model->SongEventList;
    ASSERT_FALSE(events.empty());
    EXPECT_TRUE(std::is_sorted(events.begin(), events.end(),
                               [](const SongEvent& a, const SongEvent& b) { return a.tick < b.tick; }));
    EXPECT_EQ(model->MelodyArticulation.size(), events.size());
    EXPECT_TRUE(std::any_of(model->MelodyArticulation.begin(), model->MelodyArticulation.end(),
                            [](const MelodyArticulationEntry& a) { return a.velocity != 0; }));
    EXPECT_NE(model->SongLoudness, kUnknownLoudness);
    // A GS reset opens the song on both sound ports, port 1's first and then port 2's, before any
    // channel message (the count-in click of tick 0 among them); port 2 carries a part of its own.
    std::vector<const SongEvent*> opening;
    for (const SongEvent& e : events)
      if (e.kind == kSongEventSysEx || e.kind == kSongEventChannel) opening.push_back(&e);
    ASSERT_GE(opening.size(), 3u);
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(opening[i]->tick, 0u);
      EXPECT_EQ(opening[i]->port, i);
      ASSERT_EQ(opening[i]->kind, kSongEventSysEx);
      const auto sysex = model->SysExOf(*opening[i]);
      EXPECT_EQ(std::vector<uint8_t>(sysex.begin(), sysex.end()), BuildGsDt1(0x40, 0x00, 0x7F, {0}));
    }
    EXPECT_EQ(opening[2]->kind, kSongEventChannel);
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const SongEvent& e) {
      return e.port == 1 && e.kind == kSongEventChannel && (e.status & 0xF0) == 0x90;
    }));
    const SongLength length = ComputeSongLength(*model);
    EXPECT_GT(length.ms, 10000);
    EXPECT_LE(model->LyricSyncTicks.back(), length.lastTick);
    for (const auto& mark : model->JumpMarks) EXPECT_LE(mark.tick, length.lastTick);
    EXPECT_LT(TickToBar(*model, length.lastTick), static_cast<int>(model->BarTicks.size()));
    EXPECT_GE(model->SongKeyRoots.originalRoot, 0);
    EXPECT_EQ(model->SongKeyRoots.originalMinor, song.minor);
    for (const auto& k : model->SongKeySignatures) EXPECT_EQ(k.sharpsOrFlats, song.keySharps);
  }
}

namespace {

// Note-ons (velocity above 0) and program changes of one file, keyed by port and channel.
struct StyleFileNotes {
  std::map<std::pair<int, int>, std::vector<int>> notes;
  std::set<std::pair<int, int>> programs;
  uint32_t lastTick = 0, barTicks = 0;
};

StyleFileNotes ReadStyleNotes(const fs::path& path) {
  StyleFileNotes out;
  RedPattern p;
  EXPECT_TRUE(ReadRedPatternMidi(path, p)) << path;
  out.barTicks = uint32_t(p.division) * 4;
  for (const RedTrack& t : p.tracks)
    for (const RedEvent& e : t.events) {
      if (uint8_t(e.bytes[0]) != 0xFF) out.lastTick = std::max(out.lastTick, e.tick);
      const uint8_t s = uint8_t(e.bytes[0]);
      if ((s & 0xF0) == 0x90 && e.bytes.size() >= 3 && uint8_t(e.bytes[2]) > 0)
        out.notes[{t.port, s & 0x0F}].push_back(uint8_t(e.bytes[1]));
      if ((s & 0xF0) == 0xC0) out.programs.insert({t.port, s & 0x0F});
    }
  return out;
}

}  // namespace

// The nine digit-key styles carry both variations and an ending; fills are missing on purpose so
// the rhythm check can show own, borrowed and substituted fills.
TEST_F(DemoLibraryTest, StyleFilesCoverTheDigitStylesWithChosenGaps) {
  const std::map<std::string, std::string> ownFills = {{"DS1", "1234"}, {"DS2", "1234"}, {"DS3", "1"},
                                                       {"DS4", "12"},  {"DS5", "14"},   {"SG1", "12"},
                                                       {"DS7", "123"}, {"DS8", "1"},    {"DS9", ""}};
  const fs::path pxr = root_ / "pxr";
  // Engine channels a style file may use: port 0 channels 8 to 13, port 1 channels 0, 13 and 14.
  const std::set<std::pair<int, int>> allowed = {{0, 8},  {0, 9},  {0, 10}, {0, 11}, {0, 12},
                                                 {0, 13}, {1, 0},  {1, 13}, {1, 14}};
  std::set<std::string> tomFills;
  for (const auto& [style, fills] : ownFills) {
    SCOPED_TRACE(style);
    for (const char* part : {"P1", "P2", "ED"}) ASSERT_TRUE(fs::exists(pxr / (style + "-" + part + ".MID"))) << part;
    for (char d = '1'; d <= '4'; ++d)
      EXPECT_EQ(fs::exists(pxr / (style + "-F" + d + ".MID")), fills.find(d) != std::string::npos) << d;
    for (const auto& entry : fs::directory_iterator(pxr)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(style + "-", 0) != 0) continue;
      const StyleFileNotes f = ReadStyleNotes(entry.path());
      for (const auto& [key, notes] : f.notes) EXPECT_TRUE(allowed.count(key)) << name << " " << key.first << "/" << key.second;
      // Bass and guitar are written on C for the chord follower.
      ASSERT_TRUE(f.notes.count({0, 8})) << name;
      EXPECT_EQ(f.notes.at({0, 8}).front() % 12, 0) << name;
      if (f.notes.count({1, 0})) {
        EXPECT_EQ(f.notes.at({1, 0}).front() % 12, 0) << name;
      }
      if (name.find("-P") != std::string::npos) {
        EXPECT_TRUE(f.programs.count({0, 8})) << name;
      }
      // A fill plays from its end backwards: its last note-off sits on the bar line.
      if (name.find("-F") != std::string::npos) {
        EXPECT_EQ(f.lastTick, f.barTicks) << name;
      }
      // Toms on channels 13 and 14 bring their own tone.
      for (const auto& toms : {std::pair{0, 13}, std::pair{1, 13}, std::pair{1, 14}})
        if (f.notes.count(toms)) {
          EXPECT_TRUE(f.programs.count(toms)) << name;
          tomFills.insert(name);
        }
    }
  }
  EXPECT_EQ(tomFills, (std::set<std::string>{"DS1-F3.MID", "DS1-F4.MID"}));
  EXPECT_TRUE(ReadStyleNotes(pxr / "DS1-P1.MID").notes.count({1, 0}));  // DS1 has a guitar on port 1
  EXPECT_TRUE(ReadStyleNotes(pxr / "DS1-F3.MID").notes.count({1, 14}));
  EXPECT_FALSE(ReadStyleNotes(pxr / "GG3-ED.MID").notes.empty());
}

TEST_F(DemoLibraryTest, HalftimeListNamesOneFastFourFourSong) {
  int listed = 0;
  for (const DemoSong& song : DemoSongs()) {
    if (!IsHalftimeSong(SongFilePath(L'P', song.number, L".MID"))) continue;
    ++listed;
    EXPECT_EQ(song.beatsPerBar, 4);
    EXPECT_GE(song.bpm, 110);
  }
  EXPECT_EQ(listed, 1);
}

// Every digit style loads as the engine reads it: both variations, four fills (own, borrowed from
// DS1 or the style's own F1), an ending; the flourish file reads.
TEST_F(DemoLibraryTest, EveryDigitStyleLoadsWithFillsAndEnding) {
  for (int n = 1; n <= 9; ++n) {
    const std::wstring style = StyleNameFromNumber(n);
    SCOPED_TRACE(WideToUtf8(style));
    for (int variation : {1, 2}) {
      ASSERT_TRUE(LoadStyleSet(style, variation));
      std::lock_guard lock(RhythmStyles.SetMutex);
      const StyleSet& s = RhythmStyles.pending;
      EXPECT_EQ(s.variation, variation);
      EXPECT_FALSE(s.main.events.empty());
      EXPECT_EQ(s.main.length % (4 * uint32_t(StyleSongPpq())), 0u);
      EXPECT_FALSE(s.ending.events.empty());
      for (int k = 0; k < 4; ++k) EXPECT_FALSE(s.fills[k].events.empty()) << k;
    }
  }
  std::vector<StyleEvent> events;
  uint32_t length = 0;
  LoadStylePattern(L"C:/tavelo/pxr/GG3-ED.MID", events, length);
  EXPECT_FALSE(events.empty());
  EXPECT_EQ(length, 8u * uint32_t(StyleSongPpq()));
}

TEST_F(DemoLibraryTest, BackgroundPicturesAreWholeBitmapsAndAnOwnPictureStays) {
  const struct {
    const char* name;
    uint32_t width, height;
  } cases[] = {{"main_bg.bmp", 640, 360}, {"header_bg.bmp", 640, 48}};
  for (const auto& c : cases) {
    const std::string bytes = plat::ReadFileBytes(root_ / "images" / c.name).value_or("");
    ASSERT_GE(bytes.size(), 54u) << c.name;
    auto u32 = [&](size_t at) {
      return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
             uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
    };
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(u32(2), bytes.size());
    EXPECT_EQ(u32(18), c.width);
    EXPECT_EQ(u32(22), c.height);
    EXPECT_EQ(bytes.size(), 54u + ((c.width * 3 + 3) & ~3u) * c.height);
  }
  // The operator's own picture under another extension keeps the demo one out.
  fs::remove(root_ / "images" / "main_bg.bmp");
  ASSERT_TRUE(plat::WriteFileAtomic(root_ / "images" / "main_bg.jpg", "mine"));
  std::string error;
  ASSERT_TRUE(MakeDemoRoot(root_, &error)) << error;
  EXPECT_FALSE(fs::exists(root_ / "images" / "main_bg.bmp"));
}

// DS1 shows the pattern editor every row it has (kick 9, snare 10, hi-hat 11, percussion 12, toms
// 13, synth toms 14, bass 8) across its six parts, programs and bank selects, rows a part lacks
// that another has, and one hit off the sixteenth grid.
TEST_F(DemoLibraryTest, Ds1FillsEveryEditorRow) {
  const char* parts[] = {"P1", "P2", "F1", "F2", "F3", "F4"};
  const int rows[] = {9, 10, 11, 12, 13, 14, 8};
  std::map<int, std::set<std::string>> partsOfRow;
  int offGrid = 0;
  bool bankSelect = false, program = false;
  for (const char* part : parts) {
    SCOPED_TRACE(part);
    RedPattern p;
    ASSERT_TRUE(ReadRedPatternMidi(root_ / "pxr" / (std::string("DS1-") + part + ".MID"), p));
    const uint32_t step = uint32_t(p.division) / 4;
    for (int row : rows) {
      if (CountRedRowHits(p, row) == 0) continue;
      partsOfRow[row].insert(part);
      program |= FindRedRowProgram(p, row) >= 0;
      for (const RedHit& h : CollectRedRowHits(p, row)) offGrid += h.tick % step != 0;
    }
    for (const RedTrack& t : p.tracks)
      for (const RedEvent& e : t.events)
        bankSelect |= (uint8_t(e.bytes[0]) & 0xF0) == 0xB0 && e.bytes.size() >= 3 && (e.bytes[1] == 0 || e.bytes[1] == 32);
  }
  for (int row : rows) EXPECT_FALSE(partsOfRow[row].empty()) << row;
  EXPECT_LT(partsOfRow[13].size(), 6u);
  EXPECT_LT(partsOfRow[14].size(), 6u);
  EXPECT_EQ(partsOfRow[14], std::set<std::string>{"F3"});
  EXPECT_EQ(offGrid, 1);
  EXPECT_TRUE(program);
  EXPECT_TRUE(bankSelect);
}

// The saved demo medley: the panel's list holds it, it loads as the first verses of three demo
// songs (from each song's verse-1 mark up to the bar before its next mark), and it saves and loads
// again under another name.
TEST_F(DemoLibraryTest, DemoMedleyHoldsThreeVersesThatLoadAndSaveUnderAnotherName) {
  const std::vector<std::wstring> files = ListMedleyFiles();
  EXPECT_NE(std::find(files.begin(), files.end(), kDemoMedleyName), files.end());
  EXPECT_NE(BuildInitMedleyScript().find(L"'데모 메들리'"), std::wstring::npos);
  ASSERT_TRUE(LoadMedleyFile(kDemoMedleyName));
  const std::vector<MedleyItem> items = Medley.MedleyList;
  ASSERT_EQ(items.size(), 3u);
  std::set<int> songs;
  for (const MedleyItem& item : items) {
    SCOPED_TRACE(item.id);
    songs.insert(item.id);
    SongModel model;
    ParseSongText(model, SongFilePath(L'P', item.id, L".txt"));
    ASSERT_TRUE(ParseSongMidi(model, SongFilePath(L'P', item.id, L".MID")));
    EXPECT_EQ(item.name, model.SongTitle);
    const int64_t verse = FindJumpMarkTick(model, 10);
    const int64_t next = FindJumpMarkTick(model, 20) >= 0 ? FindJumpMarkTick(model, 20) : FindJumpMarkTick(model, 40);
    ASSERT_GE(verse, 0);
    ASSERT_GT(next, verse);
    EXPECT_EQ(item.start, TickToBar(model, uint32_t(verse)));
    EXPECT_EQ(item.end, TickToBar(model, uint32_t(next)) - 1);
    EXPECT_GE(item.end - item.start, 3);
  }
  EXPECT_EQ(songs.size(), 3u);
  ASSERT_TRUE(SaveMedleyFile(L"세 곡"));
  Medley.MedleyList.clear();
  ASSERT_TRUE(LoadMedleyFile(L"세 곡"));
  EXPECT_EQ(Medley.MedleyList, items);
  EXPECT_EQ(Medley.MedleyName, L"세 곡");
  ASSERT_TRUE(LoadMedleyFile(kDemoMedleyName));
  EXPECT_EQ(Medley.MedleyList, items);
}
