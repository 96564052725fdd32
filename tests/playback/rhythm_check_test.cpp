// The rhythm check's scan of the style folder: part files present, each fill's real source and
// synth-drum mark, the styles no digit reaches, and the page script that carries them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/page_script.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "playback/rhythm_check.h"
#include "songs/midi_writer.h"

namespace {

class RhythmCheckTest : public ::testing::Test {
 protected:
  void Write(const std::string& name, TestTrack track = TestTrack().Note(0, 9, 36, 100, 10)) {
    std::filesystem::create_directories(root_.path() / "pxr");
    ASSERT_TRUE(plat::WriteFileAtomic(root_.path() / "pxr" / name, MakeMidiFile(120, {track})));
  }
  TempRoot root_;
};

// A row's fills as "source:file:d" texts.
std::vector<std::string> Fills(const RhythmCheckRow& row) {
  std::vector<std::string> out;
  for (const RhythmCheckFill& f : row.fills)
    out.push_back(std::to_string(f.source) + ":" + WideToUtf8(f.file) + ":" + (f.synthDrums ? "d" : "-"));
  return out;
}

}  // namespace

TEST_F(RhythmCheckTest, MissingFolderReportsEverythingMissing) {
  const RhythmCheckScan scan = ScanRhythmStyles();
  ASSERT_EQ(scan.rows.size(), 9u);
  const wchar_t* names[] = {L"DS1", L"DS2", L"DS3", L"DS4", L"DS5", L"SG1", L"DS7", L"DS8", L"DS9"};
  for (int k = 0; k < 9; ++k) {
    const RhythmCheckRow& r = scan.rows[k];
    EXPECT_EQ(r.number, k + 1);
    EXPECT_EQ(r.style, names[k]);
    EXPECT_FALSE(r.p1 || r.p2 || r.ed || r.intro);
    EXPECT_EQ(Fills(r), (std::vector<std::string>(4, "0::-")));
  }
  EXPECT_TRUE(scan.orphans.empty());
}

TEST_F(RhythmCheckTest, FillSourcesPartsAndSynthDrums) {
  const TestTrack synthToms = TestTrack().Port(0, 1).Program(0, 14, 24).Note(10, 14, 48, 100, 10);
  const TestTrack tomsWithoutProgram = TestTrack().Note(0, 13, 48, 100, 10);
  for (const char* f : {"DS1-P1.MID", "DS1-P2.MID", "DS1-ED.MID", "DS1-F1.MID", "DS3-P1.MID", "DS3-IN.MID",
                        "DS3-F4.MID", "SG1-P1.MID", "SG1-F2.MID", "DS7-P1.MID", "DS7-F1.MID"})
    Write(f);
  Write("DS1-F2.MID", synthToms);
  Write("DS7-F3.MID", tomsWithoutProgram);
  const RhythmCheckScan scan = ScanRhythmStyles();
  struct Case {
    int number;
    bool p1, p2, ed, intro;
    std::vector<std::string> fills;
  };
  const std::vector<Case> cases = {
      // DS1 never borrows: its missing fills fall back to its own F1.
      {1, true, true, true, false, {"1:DS1-F1.MID:-", "1:DS1-F2.MID:d", "3:DS1-F1.MID:-", "3:DS1-F1.MID:-"}},
      // A disco style without fills borrows DS1's, the synth mark included; none where DS1 has none.
      {3, true, false, false, true, {"2:DS1-F1.MID:-", "2:DS1-F2.MID:d", "0::-", "1:DS3-F4.MID:-"}},
      // SG1 never borrows from DS1.
      {6, true, false, false, false, {"0::-", "1:SG1-F2.MID:-", "0::-", "0::-"}},
      // Own files first, then DS1's, then the own F1; toms on channel 13 without a program are no synth drums.
      {7, true, false, false, false, {"1:DS7-F1.MID:-", "2:DS1-F2.MID:d", "1:DS7-F3.MID:-", "3:DS7-F1.MID:-"}},
      {9, false, false, false, false, {"2:DS1-F1.MID:-", "2:DS1-F2.MID:d", "0::-", "0::-"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    const RhythmCheckRow& r = scan.rows[c.number - 1];
    EXPECT_EQ((std::vector<bool>{r.p1, r.p2, r.ed, r.intro}), (std::vector<bool>{c.p1, c.p2, c.ed, c.intro}));
    EXPECT_EQ(Fills(r), c.fills);
  }
}

TEST_F(RhythmCheckTest, OrphansAreUpperCasedStylePartsNoDigitReaches) {
  for (const char* f : {"DS1-P1.MID", "ds3-p1.mid", "xy2-P1.MID", "XY2-p1.MID", "AB-C-P1.MID", "-Q-P1.MID",
                        "ZZ-P2.MID", "it's<b>-P1.MID", "P1.MID"})
    Write(f);
  std::filesystem::create_directories(root_.path() / "pxr" / "DIR-P1.MID");
  RhythmCheckScan scan = ScanRhythmStyles();
  std::sort(scan.orphans.begin(), scan.orphans.end());
  EXPECT_EQ(scan.orphans, (std::vector<std::wstring>{L"AB", L"IT'S<B>", L"XY2"}));
}

TEST_F(RhythmCheckTest, ScriptCarriesRowsAndEscapedNames) {
  Write("DS1-P1.MID");
  Write("DS1-F1.MID");
  Write("q'x-P1.MID");
  const std::wstring script = BuildRhythmCheckScript(ScanRhythmStyles(), L"DS'1", 2, true);
  EXPECT_EQ(script.rfind(L"try{ setRhythmCheck([{k:1,st:'DS1',p1:1,p2:0,ed:0,intro:0,fs:[{t:1,d:0,f:'DS1-F1.MID'},"
                         L"{t:3,d:0,f:'DS1-F1.MID'},",
                         0),
            0u)
      << WideToUtf8(script);
  EXPECT_NE(script.find(L"{k:6,st:'SG1',p1:0,p2:0,ed:0,intro:0,fs:[{t:0,d:0,f:''},"), std::wstring::npos);
  EXPECT_NE(script.find(L"]," + ScriptString(L"DS'1") + L",2,true,[" + ScriptString(L"Q'X") + L"]); }catch(e){console.error('setRhythmCheck',e)}"),
            std::wstring::npos)
      << WideToUtf8(script);
  EXPECT_EQ(script.find(L"'DS'1'"), std::wstring::npos);
}
