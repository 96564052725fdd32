// The score settings commands through the main page's dispatch: argument forms, clamps and the
// files and settings they write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "base/text.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "playback/services.h"
#include "songs/score_files.h"
#include "ui/page_commands.h"
#include "ui/score_commands.h"

namespace {
std::string SystemFile(const TempRoot& root, const char* name) {
  return plat::ReadFileBytes(root.path() / "system" / name).value_or("<missing>");
}
void Send(const std::wstring& m) { DispatchPageCommand(m, MainPageCommandStages()); }
}  // namespace

TEST(ScoreCommands, ColonIntsReadLikeScanf) {
  struct Case {
    std::wstring text;
    int count;
    std::vector<int> values;
  };
  const std::vector<Case> cases = {
      {L"1:2:3", 3, {1, 2, 3}},   {L" -4: +5:6x", 3, {-4, 5, 6}}, {L"1:2", 2, {1, 2}},
      {L"1;2:3", 1, {1}},         {L"", 0, {}},                   {L"99999999999:1:1", 3, {2147483647, 1, 1}},
      {L"1:2:3:4", 3, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    int v[3] = {0, 0, 0};
    EXPECT_EQ(ScanColonInts(c.text, v, 3), c.count) << WideToUtf8(c.text);
    for (size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(v[i], c.values[i]) << WideToUtf8(c.text);
  }
}

TEST(ScoreCommands, ScoreOctSaveStoresRemovesAndIgnoresShortForms) {
  TempRoot root;
  ScoreFiles.ScoreOctMap.clear();
  const std::vector<std::pair<std::wstring, std::string>> steps = {
      {L"SCORE_OCT_SAVE:55:2:2:1:0", "55 2 2 1 0\n"},
      {L"SCORE_OCT_SAVE:7:15:0:0:0", "7 15 0 0 0\n55 2 2 1 0\n"},  // stored as sent
      {L"SCORE_OCT_SAVE:55:1:0", "7 15 0 0 0\n55 2 2 1 0\n"},      // three fields: nothing
      {L"SCORE_OCT_SAVE:0:1:1:1:1", "7 15 0 0 0\n55 2 2 1 0\n"},   // song 0: nothing
      {L"SCORE_OCT_SAVE:55:0:0:0:0", "7 15 0 0 0\n"},
  };
  for (const auto& [message, file] : steps) {
    Send(message);
    EXPECT_EQ(SystemFile(root, "score_oct.cfg"), file) << WideToUtf8(message);
  }
  ScoreFiles.ScoreOctMap.clear();
}

TEST(ScoreCommands, DisplaySettingsAreClampedAndSaved) {
  TempRoot root;
  Send(L"SET_SCORE_TEXT:300:9:5:1:100:2:1");  // seven fields: nothing
  EXPECT_EQ(Settings.scLyrSize.load(), 100);
  Send(L"SET_SCORE_TEXT:300:9:5:1:100:2:1:0");
  EXPECT_EQ((std::vector<int>{Settings.scLyrSize, Settings.scLyrColor, Settings.scLyrBold, Settings.scLyrOutline,
                              Settings.scChdSize, Settings.scChdColor, Settings.scChdBold, Settings.scChdOutline}),
            (std::vector<int>{250, 7, 2, 1, 100, 2, 1, 0}));
  const std::vector<std::pair<std::wstring, int>> ys = {{L"SET_CHORD_Y:150", 100}, {L"SET_CHORD_Y:-7", -7}, {L"SET_CHORD_Y:x", 0}};
  for (const auto& [m, want] : ys) {
    Send(m);
    EXPECT_EQ(Settings.chordYAdj.load(), want) << WideToUtf8(m);
  }
  Send(L"SET_JUMPMARK_Y:-101");
  EXPECT_EQ(Settings.jumpMarkYAdj.load(), -100);
  Send(L"SET_FULL_SCORE:5");
  EXPECT_EQ(Settings.fullScore.load(), 1);
  const std::string cfg = SystemFile(root, "app_settings.cfg");
  EXPECT_NE(cfg.find("scLyrSize=250"), std::string::npos);
  EXPECT_NE(cfg.find("jumpMarkYAdj=-100"), std::string::npos);
  EXPECT_NE(cfg.find("fullScore=1"), std::string::npos);
  Send(L"SET_FULL_SCORE:0");
  Send(L"SET_SCORE_TEXT:100:0:1:0:100:4:1:0");
  Send(L"SET_JUMPMARK_Y:0");
}

TEST(ScoreCommands, UserMarksNeedAPlayingSongAndStoreTheBarStart) {
  TempRoot root;
  ScoreFiles.UserMarkMap.clear();
  PlaybackState.CurrentSongId = 0;
  Send(L"SET_USERMARK_J");
  EXPECT_EQ(SystemFile(root, "usermarks.cfg"), "<missing>");
  EXPECT_TRUE(ScoreFiles.UserMarkMap.empty());

  PlaybackState.CurrentSongId = 12;
  PlaybackState.isPlaying = 1;
  PlaybackState.SongTick = 0;
  Send(L"SET_USERMARK_V3");
  Send(L"SET_USERMARK_K");
  EXPECT_EQ(SystemFile(root, "usermarks.cfg"), "M 12 -1 0 0\n");
  PlaybackState.isPlaying = 0;
  PlaybackState.CurrentSongId = 0;
  ScoreFiles.UserMarkMap.clear();
}
