// The song screen script of a small fixture song: it parses as JavaScript, and run against stub
// page functions it hands them exactly the song's values, hostile titles and lyrics included.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "base/text.h"
#include "common/temp_root.h"
#include "playback/song_screen.h"

namespace {

SongEvent Note(uint32_t tick, int channel, int note, int velocity) {
  SongEvent e;
  e.tick = tick;
  e.kind = kSongEventChannel;
  e.status = static_cast<uint8_t>(0x90 | channel);
  e.data1 = static_cast<uint8_t>(note);
  e.data2 = static_cast<uint8_t>(velocity);
  return e;
}

SongModel FixtureSong() {
  SongModel s;
  s.SongPpq = 0;  // a division of 0 plays (and is drawn) with 120 ticks per quarter
  s.SongTitle = L"It's \"a\" \\test'); alert(1); //\n</script>";
  s.SongSinger = L"가수\u2028';x='";
  s.LyricLines = {L"첫 줄 '따옴표'", L"back\\slash\r\nline"};
  s.ChordLines = {L"C . G ."};
  s.SongEventList = {Note(0, 8, 40, 90), Note(120, 8, 40, 0), Note(0, 9, 36, 100), Note(60, 10, 82, 70),
                     Note(960, 0, 60, 90)};
  s.MelodyNotes = {{60, 960, 120}};
  s.LyricSyncTicks = {960};
  s.BarTicks = {0, 480, 960, 1440, 1920, 2400, 2880, 3360, 3840};
  s.JumpMarks = {{960, 10}};
  return s;
}

// Runs `script` in node with stub page functions and prints what initSong and the others got.
std::string RunInNode(const std::string& script, const std::filesystem::path& dir) {
  const auto js = dir / "screen.js";
  std::ofstream(js) << script;
  const auto runner = dir / "run.js";
  std::ofstream(runner) << R"(
const src = require('fs').readFileSync(process.argv[2], 'utf8');
new Function(src);  // throws on a syntax error
const got = {};
const stub = (name) => (...args) => { got[name] = args; };
const ctx = { console: { log: (e) => { got.error = String(e); } } };
for (const f of ['initSong', 'initDrumNotes', 'initKeySigs', 'setCurSongKeys', 'updateTempoPitchDisplay',
                 'updateMelodyMuteDisplay', 'updateSoloMuteDisplay', 'setScoreKeyMode', 'initScoreOct',
                 'setSongLength', 'setJumpMarks', 'alert']) ctx[f] = stub(f);
new Function(...Object.keys(ctx), src)(...Object.values(ctx));
process.stdout.write(JSON.stringify(got));
)";
  const std::string cmd = "node " + runner.string() + " " + js.string() + " 2>&1";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

TEST(SongScreen, ScriptParsesAndKeepsHostileTextInsideItsLiterals) {
  if (std::system("node --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no node";
  TempRoot root;
  SongScreenValues v;
  v.songNumber = 7;
  v.tempoOffset = -3;
  v.currentKey = 2;
  v.male = -5;
  v.female = 4;
  v.keySignatures = {{0, 1}, {3, -2}};
  const std::string out = RunInNode(WideToUtf8(BuildSongScreenScript(FixtureSong(), v)), root.path());
  // Characters below U+0020 are dropped; quotes and backslashes arrive as themselves.
  EXPECT_NE(out.find(std::string(R"("initSong":["It's \"a\" \\test'); alert(1); //</script> - 가수)") + "\u2028" +
                     R"(';x='",120,)"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("\"alert\""), std::string::npos) << out;
  EXPECT_EQ(out.find("\"error\""), std::string::npos) << out;
  EXPECT_NE(out.find(R"(["C . G ."],["첫 줄 '따옴표'","back\\slashline"])"), std::string::npos) << out;
  // Bass notes of channel 9 with their lengths; drums by lane (note 82 on channel 11 -> lane 1);
  // no key line: drawn in C (root 0).
  EXPECT_NE(out.find("[[60,960,120]],[[40,0,120]],[],[960],0,0"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("initDrumNotes":[[[0,0,100],[1,60,70]]])"), std::string::npos) << out;
  // Bars up to the last musical tick plus 16 quarters of 120 ticks.
  EXPECT_NE(out.find("[0,480,960,1440,1920,2400,2880],0,"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("initKeySigs":[[[0,1],[3,-2]]])"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("setCurSongKeys":[7,-5,4])"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("updateTempoPitchDisplay":[-3,2])"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("setJumpMarks":[[{"t":960,"n":"1절","f":960}]])"), std::string::npos) << out;
}

TEST(SongScreen, DrumLanes) {
  struct Case {
    int channel, note, lane;
  } cases[] = {{9, 36, 0}, {10, 44, 8}, {10, 82, 1}, {12, 90, 10}, {9, 90, 0}, {11, 20, 2}, {9, 70, 12}, {9, 57, 4}};
  for (const Case& c : cases) EXPECT_EQ(DrumNoteLane(c.channel, c.note), c.lane) << c.channel << " " << c.note;
}

TEST(SongScreen, SnapMarkToTheFirstNoteWithinTwoBeats) {
  SongModel s;
  s.SongPpq = 480;
  s.SongEventList = {Note(1950, 3, 60, 80)};
  EXPECT_EQ(SnapMarkToFirstNote(s, 1920, 2.0), 1950u);
  s.SongEventList = {Note(2900, 3, 60, 80)};
  EXPECT_EQ(SnapMarkToFirstNote(s, 1920, 2.0), 1920u);
}

}  // namespace
