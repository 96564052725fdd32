// Style files: the reader's rescaling, bar length, loop-point and bass-gate rules, channel table
// and order, its handling of broken bytes; loading a whole style with its fallbacks; the swap and
// the style choices.
#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sound/tone_table.h"
#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "playback/rhythm_style.h"
#include "playback/services.h"
#include "songs/midi_writer.h"

namespace {

StyleEvent On(uint32_t t, int ch, int note, int vel, int follow = 0) {
  return {t, uint8_t(ch), kStyleNoteOn, uint8_t(note), uint8_t(vel), uint8_t(follow)};
}
StyleEvent Off(uint32_t t, int ch, int note, int follow = 0) {
  return {t, uint8_t(ch), kStyleNoteOff, uint8_t(note), 0, uint8_t(follow)};
}
StyleEvent Prog(uint32_t t, int ch, int p) { return {t, uint8_t(ch), kStyleProgram, uint8_t(p), 0, 0}; }
StyleEvent Cc(uint32_t t, int ch, int c, int v) { return {t, uint8_t(ch), kStyleController, uint8_t(c), uint8_t(v), 0}; }

struct ReaderCase {
  const char* name;
  int division, songPpq, gate;
  TestTrack track;
  std::vector<StyleEvent> events;
  uint32_t length;
};

TEST(StyleReader, TableOfFiles) {
  const std::vector<ReaderCase> cases = {
      {"rescale 480 to 96, a one-tick note lasts one tick", 480, 96, 100,
       TestTrack().Note(480, 9, 36, 100, 1).Note(960, 9, 38, 90, 240), {On(96, 9, 36, 100), Off(97, 9, 36),
        On(192, 9, 38, 90), Off(240, 9, 38)}, 384},
      {"rounding half up", 10, 96, 100, TestTrack().Note(1, 9, 36, 100, 2),
       // 1 x 9.6 = 9.6 -> 10; 2 x 9.6 = 19.2 -> 19
       {On(10, 9, 36, 100), Off(29, 9, 36)}, 384},
      {"last note ends at 1.2 bars: two bars", 120, 120, 100, TestTrack().Note(0, 10, 42, 80, 576),
       {On(0, 10, 42, 80), Off(576, 10, 42)}, 960},
      {"a note ending on the loop point stops one tick before", 120, 120, 100, TestTrack().Note(240, 11, 40, 70, 240),
       {On(240, 11, 40, 70), Off(479, 11, 40)}, 480},
      {"bass gate 50 halves bass notes only", 120, 120, 50,
       TestTrack().On(0, 8, 40, 100).On(0, 9, 36, 100).Off(100, 8, 40).Off(100, 9, 36),
       {On(0, 8, 40, 100, 1), On(0, 9, 36, 100), Off(50, 8, 40, 1), Off(100, 9, 36)}, 480},
      {"bass gate 100 leaves it", 120, 120, 100, TestTrack().Note(0, 8, 40, 100, 100),
       {On(0, 8, 40, 100, 1), Off(100, 8, 40, 1)}, 480},
      {"bass gate 0 leaves it", 120, 120, 0, TestTrack().Note(0, 8, 40, 100, 100),
       {On(0, 8, 40, 100, 1), Off(100, 8, 40, 1)}, 480},
      {"channel table: port 0 keeps 8..13, drops the rest; controllers only bank select", 120, 120, 100,
       TestTrack()
           .Note(0, 0, 60, 100, 10)
           .Note(10, 13, 61, 100, 10)
           .Note(20, 14, 62, 100, 10)
           .Cc(30, 9, 7, 100)
           .Cc(30, 9, 0, 1)
           .Cc(30, 9, 32, 2),
       {On(10, 13, 61, 100), Off(20, 13, 61), Cc(30, 9, 0, 1), Cc(30, 9, 32, 2)}, 480},
      {"channel table: port 1 gives guitar 6 and 13, 14; drops 9", 120, 120, 100,
       TestTrack().Port(0, 1).Note(0, 0, 52, 90, 10).Note(10, 9, 36, 100, 10).Program(20, 14, 5).Note(20, 14, 70, 80, 10),
       {On(0, 6, 52, 90, 1), Off(10, 6, 52, 1), Prog(20, 14, 5), On(20, 14, 70, 80), Off(30, 14, 70)}, 480},
      {"equal ticks: off, controller, program, on", 120, 120, 100,
       TestTrack().On(0, 9, 36, 100).Program(10, 9, 3).Cc(10, 9, 0, 4).On(10, 9, 38, 90).Off(10, 9, 36).Off(20, 9, 38),
       {On(0, 9, 36, 100), Off(10, 9, 36), Cc(10, 9, 0, 4), Prog(10, 9, 3), On(10, 9, 38, 90), Off(20, 9, 38)}, 480},
      {"note on velocity 0 ends a note; unpaired offs and unended notes vanish", 120, 120, 100,
       TestTrack().Off(0, 9, 50).On(5, 9, 36, 100).On(15, 9, 36, 0).On(20, 9, 40, 100),
       {On(5, 9, 36, 100), Off(15, 9, 36)}, 480},
      {"division 0 keeps the ticks", 0, 96, 100, TestTrack().Note(7, 9, 36, 100, 3), {On(7, 9, 36, 100), Off(10, 9, 36)},
       384},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const StylePattern p = ParseStylePattern(MakeMidiFile(c.division, {c.track}), c.songPpq, c.gate);
    EXPECT_EQ(p.events, c.events);
    EXPECT_EQ(p.length, c.length);
  }
}

TEST(StyleReader, EmptyValidFileIsOneBar) {
  const StylePattern p = ParseStylePattern(MakeMidiFile(480, {TestTrack()}), 96, 100);
  EXPECT_TRUE(p.events.empty());
  EXPECT_EQ(p.length, 384u);
  EXPECT_EQ(ParseStylePattern(MakeMidiFile(480, {TestTrack()}), 0, 100).length, 0u);
}

TEST(StyleReader, PortsShareOneNoteSlotPerFileChannel) {
  // A note started on port 0 channel 13 is ended by the same note on port 1 channel 13.
  TestTrack t;
  t.On(0, 13, 60, 100).Port(10, 1).Off(20, 13, 60);
  const StylePattern p = ParseStylePattern(MakeMidiFile(120, {t}), 120, 100);
  EXPECT_EQ(p.events, (std::vector<StyleEvent>{On(0, 13, 60, 100), Off(20, 13, 60)}));
}

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s.push_back(char(x));
  return s;
}

TEST(StyleReader, BrokenBytesGiveShorterLists) {
  const std::string good = TestTrack().Note(0, 9, 36, 100, 10).Note(20, 9, 38, 100, 10).Body();
  const std::string header6 = MidiHeader(120, 1);
  struct Case {
    const char* name;
    std::string bytes;
    size_t events;
  };
  std::string longHeader = MidiHeader(120, 1);
  longHeader[7] = 8;  // header of 8 bytes: two extra bytes before the track
  longHeader += "xx";
  std::string shortHeader = header6;
  shortHeader[7] = 4;
  const std::vector<Case> cases = {
      {"no MThd", "MThx" + header6.substr(4) + TestTrack::ChunkOf("MTrk", good), 0},
      {"empty", "", 0},
      {"header only half there", header6.substr(0, 10), 0},
      {"header length honoured", longHeader + TestTrack::ChunkOf("MTrk", good), 4},
      {"header length below 6", shortHeader + TestTrack::ChunkOf("MTrk", good), 0},
      {"track cut short: what is there is read", header6 + TestTrack::ChunkOf("MTrk", good).substr(0, 8 + 8), 2},
      {"track length past the end", header6 + "MTrk" + Bytes({0x7F, 0xFF, 0xFF, 0xFF}) + good, 4},
      {"foreign chunk skipped", MidiHeader(120, 2) + TestTrack::ChunkOf("XYZW", "abc") + TestTrack::ChunkOf("MTrk", good), 4},
      {"five-byte delta stops the track", header6 + TestTrack::ChunkOf("MTrk", good + Bytes({0x81, 0x81, 0x81, 0x81, 0x01, 0x99, 40, 1})), 4},
      {"data byte without running status", header6 + TestTrack::ChunkOf("MTrk", Bytes({0, 40, 100}) + good), 0},
      {"meta length past the chunk", header6 + TestTrack::ChunkOf("MTrk", good + Bytes({0, 0xFF, 0x01, 0x7F, 'a'})), 4},
      {"sysex length past the chunk", header6 + TestTrack::ChunkOf("MTrk", good + Bytes({0, 0xF0, 0x8F, 0x7F})), 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseStylePattern(c.bytes, 120, 100).events.size(), c.events);
  }
}

TEST(StyleReader, HugeTicksClampTo32Bits) {
  // Delta times near 2^28 many times over, rescaled by 960: far past 32 bits.
  std::string body;
  for (int i = 0; i < 20; ++i) body += Bytes({0xFF, 0xFF, 0xFF, 0x7F, 0xB9, 0, 1});
  body += Bytes({0, 0x99, 36, 100, 0x81, 0x00, 0x89, 36, 0});
  const StylePattern p = ParseStylePattern(MidiHeader(1, 1) + TestTrack::ChunkOf("MTrk", body), 960, 100);
  ASSERT_FALSE(p.events.empty());
  for (const StyleEvent& e : p.events)
    if (e.kind != kStyleNoteOff) {
      EXPECT_EQ(e.tick, UINT32_MAX) << int(e.kind);
    }
  EXPECT_GT(p.length, 0u);
  EXPECT_EQ(p.length % (4 * 960), 0u);
}

TEST(StyleNames, NumbersAndDefaults) {
  const std::vector<std::pair<int, std::wstring>> names = {{1, L"DS1"}, {5, L"DS5"}, {6, L"SG1"}, {7, L"DS7"},
                                                           {9, L"DS9"}, {0, L""},    {10, L""},   {-1, L""}};
  for (const auto& [n, name] : names) EXPECT_EQ(StyleNameFromNumber(n), name) << n;
  EXPECT_EQ(StylePartPath(L"DS3", L"P2"), L"<root>/pxr/DS3-P2.MID");
  EXPECT_EQ(DefaultStyleForSong(0), L"DS1");
  EXPECT_EQ(DefaultStyleForSong(1), L"SG1");
  EXPECT_EQ(DefaultStyleForSong(99), L"SG1");
  EXPECT_EQ(DefaultStyleForSong(100), L"DS1");
}

// A style folder of small files in a temporary root.
class StyleSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_.path() / "pxr");
    ResetStyles();
  }
  void TearDown() override { ResetStyles(); }
  static void ResetStyles() {
    RhythmStyles.active = StyleSet{};
    RhythmStyles.pending = StyleSet{};
    RhythmStyles.PendingStyleReady = 0;
    RhythmStyles.PendingStyleBpm = -1;
    RhythmStyles.ActiveStyleBpm = 0;
    RhythmStyles.UserPickedStyle = 0;
    RhythmStyles.StyleChangeFillPending = 0;
    RhythmStyles.activeName = L"DS1";
    RhythmStyles.activeVariation = 1;
  }
  // A part file with one drum note whose note number tells the file apart.
  void Write(const std::string& fileName, TestTrack track) {
    ASSERT_TRUE(plat::WriteFileAtomic(root_.path() / "pxr" / fileName, MakeMidiFile(120, {track})));
  }
  void WriteTagged(const std::string& fileName, int tag) { Write(fileName, TestTrack().Note(0, 9, tag, 100, 10)); }
  static int Tag(const std::vector<StyleEvent>& events) { return events.empty() ? -1 : events.front().data1; }
  TempRoot root_;
};

TEST_F(StyleSetTest, FillSourcesAndFallbacks) {
  WriteTagged("DS1-P1.MID", 1);
  WriteTagged("DS1-F1.MID", 11);
  WriteTagged("DS1-F3.MID", 13);
  WriteTagged("ds4-p1.mid", 4);  // any case
  WriteTagged("DS4-F1.MID", 41);
  WriteTagged("SG1-P1.MID", 6);
  WriteTagged("SG1-F1.MID", 61);
  WriteTagged("DS2-P1.MID", 2);  // no fills at all
  struct Case {
    const wchar_t* style;
    std::array<int, 4> fills;
  };
  const std::vector<Case> cases = {
      {L"DS4", {41, 41, 13, 41}},  // F3 from DS1, the others its own F1
      {L"SG1", {61, 61, 61, 61}},  // no fallback style: its own F1
      {L"DS1", {11, 11, 13, 11}},  // never its own fallback
      {L"DS2", {11, -1, 13, -1}},  // DS1's fills where it has them; no own F1 to fall back on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.style, c.style + 3));
    ASSERT_TRUE(LoadStyleSet(c.style, 1));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(Tag(RhythmStyles.pending.fills[k].events), c.fills[k]) << k;
  }
}

TEST_F(StyleSetTest, MainPartRulesAndVariation) {
  WriteTagged("DS3-P1.MID", 31);
  WriteTagged("DS3-P2.MID", 32);
  WriteTagged("DS5-P1.MID", 51);
  Write("DS7-P1.MID", TestTrack());  // valid but empty
  EXPECT_FALSE(LoadStyleSet(L"", 1));
  EXPECT_FALSE(LoadStyleSet(L"DS8", 1));
  EXPECT_FALSE(LoadStyleSet(L"DS7", 1));
  EXPECT_FALSE(RhythmStyles.PendingStyleReady.load());
  ASSERT_TRUE(LoadStyleSet(L"DS3", 2));
  EXPECT_EQ(Tag(RhythmStyles.pending.main.events), 32);
  EXPECT_EQ(RhythmStyles.pending.variation, 2);
  ASSERT_TRUE(LoadStyleSet(L"DS5", 2));  // no P2: P1 and variation 1
  EXPECT_EQ(Tag(RhythmStyles.pending.main.events), 51);
  EXPECT_EQ(RhythmStyles.pending.variation, 1);
  EXPECT_TRUE(RhythmStyles.PendingStyleReady.load());
  EXPECT_EQ(RhythmStyles.StyleLoadPpq.load(), 120);
}

TEST_F(StyleSetTest, FillChannelWithoutProgramIsDropped) {
  WriteTagged("DS1-P1.MID", 1);
  Write("DS1-F1.MID", TestTrack().On(0, 9, 36, 100).On(0, 13, 60, 100).Off(10, 9, 36).Off(10, 13, 60));
  Write("DS1-F2.MID",
        TestTrack().Cc(0, 13, 0, 8).Program(0, 13, 117).On(0, 9, 36, 100).On(0, 13, 60, 100).Off(10, 9, 36).Off(10, 13, 60));
  ASSERT_TRUE(LoadStyleSet(L"DS1", 1));
  const auto& f1 = RhythmStyles.pending.fills[0];
  EXPECT_EQ(f1.events, (std::vector<StyleEvent>{On(0, 9, 36, 100), Off(10, 9, 36)}));
  EXPECT_TRUE(f1.programs.empty());
  const auto& f2 = RhythmStyles.pending.fills[1];
  EXPECT_EQ(f2.programs, (std::vector<StyleEvent>{Cc(0, 13, 0, 8), Prog(0, 13, 117)}));
  EXPECT_EQ(f2.events.size(), 6u);
}

TEST_F(StyleSetTest, CommitSwapsAndKeepsTheOldDefaultFill) {
  WriteTagged("DS1-P1.MID", 1);
  WriteTagged("DS1-F1.MID", 11);
  WriteTagged("DS2-P1.MID", 2);
  WriteTagged("DS2-ED.MID", 22);
  EXPECT_FALSE(CommitPendingStyle());
  ASSERT_TRUE(LoadAndCommitStyle(L"DS1", 1));
  EXPECT_EQ(Tag(RhythmStyles.active.defaultFill), 11);
  RhythmStyles.PendingStyleBpm = 65;
  ASSERT_TRUE(LoadStyleSet(L"DS2", 1));
  ASSERT_TRUE(CommitPendingStyle());
  EXPECT_EQ(RhythmStyles.active.name, L"DS2");
  EXPECT_EQ(ActiveStyleName(), L"DS2");
  EXPECT_EQ(Tag(RhythmStyles.active.main.events), 2);
  EXPECT_EQ(Tag(RhythmStyles.active.defaultFill), 11);  // DS2 has no F1
  EXPECT_EQ(Tag(RhythmStyles.active.ending.events), 22);
  EXPECT_EQ(RhythmStyles.active.ending.length, 480u);
  EXPECT_EQ(RhythmStyles.ActiveStyleBpm.load(), 65);
  EXPECT_EQ(RhythmStyles.PendingStyleBpm.load(), -1);
  EXPECT_FALSE(RhythmStyles.PendingStyleReady.load());
}

TEST_F(StyleSetTest, InitialProgramsFirstPerChannel) {
  Write("DS1-P1.MID", TestTrack().Program(0, 9, 25).Program(0, 8, 33).Note(0, 9, 36, 100, 10).Program(10, 9, 26));
  ASSERT_TRUE(LoadAndCommitStyle(L"DS1", 1));
  CaptureStyleInitialPrograms();
  const auto& r = RhythmStyles.StyleInitialPrograms;
  EXPECT_EQ(r[9], (std::array<uint8_t, 5>{1, 0, 0, 0, 25}));
  EXPECT_EQ(r[8], (std::array<uint8_t, 5>{1, 0, 0, 0, 33}));
  EXPECT_EQ(r[10], (std::array<uint8_t, 5>{0, 0, 0, 0, 0}));
  // The same programs are the style's own tones of a "Default" rhythm-part choice.
  EXPECT_TRUE(Tones.InitialTones[1][9].known.load());
  EXPECT_EQ(Tones.InitialTones[1][9].program.load(), 25);
  EXPECT_FALSE(Tones.InitialTones[1][9].hasBank.load());
  EXPECT_FALSE(Tones.InitialTones[1][10].known.load());
}

TEST_F(StyleSetTest, StyleChoices) {
  WriteTagged("SG1-P1.MID", 6);
  SelectRhythmStyle(10);
  EXPECT_FALSE(RhythmStyles.UserPickedStyle.load());
  SelectRhythmStyle(3);  // no file: an alert, no load
  EXPECT_TRUE(RhythmStyles.UserPickedStyle.load());
  EXPECT_EQ(RhythmStyles.PendingStyleBpm.load(), 0);
  SelectRhythmStyle(6);
  EXPECT_EQ(RhythmStyles.PendingStyleBpm.load(), 65);
  for (int i = 0; i < 2000 && !RhythmStyles.PendingStyleReady.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(RhythmStyles.PendingStyleReady.load());
  // Wait for the loader to let go before the root goes away.
  std::lock_guard wait(RhythmStyles.LoadMutex);
  EXPECT_EQ(RhythmStyles.pending.name, L"SG1");
}

TEST_F(StyleSetTest, StyleCodesFromMainParts) {
  WriteTagged("DS1-P1.MID", 1);
  WriteTagged("ds2-p1.mid", 2);
  WriteTagged("XY9-P1.Mid", 3);
  WriteTagged("DS3-P2.MID", 4);
  WriteTagged("-P1.MID", 5);
  EXPECT_EQ(ListStyleCodes(), (std::vector<std::wstring>{L"DS1", L"XY9", L"ds2"}));
  EXPECT_TRUE(FileExists(L"C:/tavelo/pxr/DS2-P1.MID"));
  EXPECT_FALSE(FileExists(L"C:/tavelo/pxr/DS3-P1.MID"));
}

}  // namespace
