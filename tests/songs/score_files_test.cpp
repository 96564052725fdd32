// Score octave and user mark files: reading limits and skips, writing keeps and leaves out, and
// a save and load round trip through the install root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/temp_root.h"
#include "platform/files.h"
#include "songs/score_files.h"

TEST(ScoreFiles, ScoreOctLinesAreReadClampedOrSkipped) {
  struct Case {
    std::string text;
    std::map<int, std::array<int, 4>> want;
  };
  const std::vector<Case> cases = {
      {"7 15 -20 5 -5\n", {{7, {11, -11, 3, -3}}}},
      {"7 1 2 3\n", {}},                                 // four numbers: skipped
      {"0 1 1 1 1\n-3 1 1 1 1\n", {}},                  // song numbers must be above 0
      {"9 1 0 0 0\r\n9 2 2 0 0\n 3\t-1  1 0 1 extra\n", {{3, {-1, 1, 0, 1}}, {9, {2, 2, 0, 0}}}},
      {"5 x 0 0 0\n5 99999999999 0 0 0\n", {}},         // not a number, out of range
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseScoreOct(c.text), c.want) << c.text;
  EXPECT_EQ(FormatScoreOct({{12, {15, 0, -1, 0}}, {3, {1, 2, 3, 4}}}), "3 1 2 3 4\n12 15 0 -1 0\n");
}

TEST(ScoreFiles, UserMarkLinesReadTheOlderFormAndLeaveOutUnsetSongs) {
  struct Case {
    std::string text;
    std::map<int, UserMarks> want;
  };
  const std::vector<Case> cases = {
      {"M 12 480 -1 9600\n", {{12, {480, -1, 9600}}}},
      {"M 12 480 960\n", {{12, {480, 960, -1}}}},        // older form: v3 unset
      {"M 12 480 960 x\n", {{12, {480, 960, -1}}}},
      {"X 12 480 960 0\nM 12 480\nM a 1 2 3\n", {}},
      {"M 5 1 1 1\nM 5 2 2 2\n", {{5, {2, 2, 2}}}},      // the later line wins
      {"M 7 8589934592 -1 -1\n", {{7, {8589934592LL, -1, -1}}}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseUserMarks(c.text), c.want) << c.text;
  EXPECT_EQ(FormatUserMarks({{3, {-1, -1, -1}}, {2, {10, -1, -1}}, {1, {-1, -1, 0}}}), "M 1 -1 -1 0\nM 2 10 -1 -1\n");
}

TEST(ScoreFiles, SaveAndLoadThroughTheInstallRoot) {
  TempRoot root;
  plat::WriteFileAtomic(root.path() / "system" / "usermarks.cfg", "M 40 100 200\n");
  LoadUserMarks();
  ASSERT_EQ(ScoreFiles.UserMarkMap.size(), 1u);
  SaveUserMarks();
  EXPECT_EQ(plat::ReadFileBytes(root.path() / "system" / "usermarks.cfg").value_or(""), "M 40 100 200 -1\n");

  ScoreFiles.ScoreOctMap = {{55, {1, 1, 0, 0}}};
  SaveScoreOctConfig();
  ScoreFiles.ScoreOctMap.clear();
  LoadScoreOctConfig();
  EXPECT_EQ(ScoreFiles.ScoreOctMap, (std::map<int, std::array<int, 4>>{{55, {1, 1, 0, 0}}}));

  // missing files give empty maps
  std::filesystem::remove(root.path() / "system" / "score_oct.cfg");
  LoadScoreOctConfig();
  EXPECT_TRUE(ScoreFiles.ScoreOctMap.empty());
  ScoreFiles.UserMarkMap.clear();
}
