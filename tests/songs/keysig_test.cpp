#include <gtest/gtest.h>

#include <filesystem>

#include "base/debug_log.h"
#include "songs/keysig.h"
#include "temp_root.h"

TEST(KeySigText, Grammar) {
  KeySigParse p = ParseKeySigText(
      "123=1:C, 17:Eb, 33:Am\r\n"
      "124=5:X, 9:G\n"
      "no equals here\n"
      "0=1:C\n"
      "; comment\n"
      "   // comment too\n"
      "\n"
      "125=\n"
      "126= 3 : f#m ,, 1:Gbm\n"
      "124=2:D\n");
  EXPECT_EQ(p.table[123], (std::vector<KeySigEntry>{{1, 0}, {17, -3}, {33, 0}}));
  EXPECT_EQ(p.table[124], (std::vector<KeySigEntry>{{2, 2}}));  // a later line replaces
  EXPECT_EQ(p.table[126], (std::vector<KeySigEntry>{{1, 3}, {3, 3}}));  // sorted by bar
  EXPECT_EQ(p.table.count(125), 0u);
  EXPECT_EQ(p.songsCounted, 4);
  EXPECT_EQ(p.problems, (std::vector<std::wstring>{
                            L"2번째 줄(일부 항목을 못 읽어 그것만 뺐음): 124=5:X, 9:G",
                            L"3번째 줄('=' 가 없음): no equals here",
                            L"4번째 줄(곡번호를 못 읽음): 0=1:C",
                            L"8번째 줄(쓸 수 있는 '마디:조' 가 하나도 없음): 125=",
                        }));
}

TEST(KeySigText, KeyValues) {
  struct Case {
    int root;
    bool minor;
    int key;
  } cases[] = {{0, false, 0}, {6, true, 3}, {9, false, 3}, {1, false, -5}, {6, false, 6}, {11, false, 5},
               {2, true, -1}, {9, true, 0}};
  for (const auto& c : cases) EXPECT_EQ(KeyValueOf(c.root, c.minor), c.key) << c.root;
  ChordName fsm = ParseChordName(L"F#m"), gbm = ParseChordName(L"Gbm");
  EXPECT_EQ(KeyValueOf(fsm.root, fsm.minor), 3);
  EXPECT_EQ(KeyValueOf(gbm.root, gbm.minor), 3);
}

TEST(KeySigText, AtMostTwentyProblems) {
  std::string text;
  for (int i = 0; i < 30; ++i) text += "bad line\n";
  EXPECT_EQ(ParseKeySigText(text).problems.size(), 20u);
}

TEST(KeySigTable, RereadOnlyWhenTheFileChanged) {
  TempRoot root;
  root.Write("keysig.txt", "7=1:G\n");
  LoadKeySigTable();
  EXPECT_EQ(KeySigEntriesFor(7), (std::vector<KeySigEntry>{{1, 1}}));

  // The same write time: not reread, even though the content differs.
  auto path = root.system("keysig.txt");
  auto time = std::filesystem::last_write_time(path);
  root.Write("keysig.txt", "7=1:D\n");
  std::filesystem::last_write_time(path, time);
  LoadKeySigTable();
  EXPECT_EQ(KeySigEntriesFor(7), (std::vector<KeySigEntry>{{1, 1}}));

  // Saved again: reread.
  std::filesystem::last_write_time(path, time + std::chrono::seconds(5));
  LoadKeySigTable();
  EXPECT_EQ(KeySigEntriesFor(7), (std::vector<KeySigEntry>{{1, 2}}));
  FlushDebugLogQueue();
  EXPECT_NE(root.Read("debug_log.txt").find("조표 표(keysig.txt) 읽음 - 1곡"), std::string::npos);

  std::filesystem::remove(path);
  LoadKeySigTable();
  EXPECT_TRUE(KeySigEntriesFor(7).empty());
}

TEST(KeySigTable, PageListPrefersTheTable) {
  TempRoot root;
  root.Write("keysig.txt", "12=1:C, 5:D, 5:E\n");
  LoadKeySigTable();
  SongModel song;
  song.BarTicks = {0, 1920, 3840};
  song.SongKeySignatures = {{0, -1, 0}, {100, 2, 0}, {3840, 3, 0}};
  using List = std::vector<std::pair<int, int>>;
  EXPECT_EQ(BuildPageKeySignatures(song, L"C:/tavelo/system/P0012.MID"), (List{{0, 0}, {4, 2}}));
  // Not in the table: the file's own signatures by bar, the first of a bar wins.
  EXPECT_EQ(BuildPageKeySignatures(song, L"C:/tavelo/system/P0013.MID"), (List{{0, -1}, {2, 3}}));
  EXPECT_EQ(SongNumberFromMidiPath(L"C:/tavelo/system/P0123.MID"), 123);
  EXPECT_EQ(SongNumberFromMidiPath(L"C:/x9/abc.MID"), 0);
  EXPECT_EQ(SongNumberFromMidiPath(L"P99999999999.MID"), 0);
}

TEST(SingerKeys, TransposeByTheKeyLineAndMelody) {
  struct Case {
    int original, male, female;
    std::vector<int> melody;
    int wantMale, wantFemale;
  } cases[] = {
      {0, 6, 7, {55, 71}, -6, -5},  // C/F#/G, middle 63: tritone down for men
      {0, 6, 6, {}, -6, -6},        // no melody: down
      {0, 6, 6, {45, 57}, 6, 6},    // middle 51: up for men; nearer 58 than 70: up for women
      {0, 6, 6, {60, 80}, -6, -6},  // middle 70
      {9, 4, 0, {60}, -5, 3},       // Am/Em/Cm
      {-1, 4, 0, {60}, 0, 0},       // no key line
      {2, -1, 2, {60}, 0, 0},       // no male key
  };
  for (const auto& c : cases) {
    SongModel song;
    song.SongKeyRoots.originalRoot = c.original;
    song.SongKeyRoots.maleRoot = c.male;
    song.SongKeyRoots.femaleRoot = c.female;
    for (int n : c.melody) song.MelodyNotes.push_back({n, 0, 1});
    ComputeSingerKeys(song);
    EXPECT_EQ(song.SingerTransposition.male.load(), c.wantMale) << c.original << "/" << c.male;
    EXPECT_EQ(song.SingerTransposition.female.load(), c.wantFemale) << c.original << "/" << c.female;
  }
}

TEST(SingerKeys, StoredKeysAreClamped) {
  EXPECT_EQ(ClampSingerKey(99), 99);
  EXPECT_EQ(ClampSingerKey(40), 12);
  EXPECT_EQ(ClampSingerKey(-13), -12);
  EXPECT_EQ(ClampSingerKey(5), 5);
  SongModel song;
  song.SingerTransposition.male = 2;
  song.SingerTransposition.female = -3;
  ApplyStoredSingerKeys(song, 99, 30);
  EXPECT_EQ(song.SingerTransposition.male.load(), 2);
  EXPECT_EQ(song.SingerTransposition.female.load(), 12);
}
