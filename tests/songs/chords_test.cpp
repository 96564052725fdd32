#include <gtest/gtest.h>

#include "songs/chords.h"

TEST(ParseChordName, Grammar) {
  struct Case {
    const wchar_t* text;
    ChordName want;
  } cases[] = {
      {L"F#m7/Db", {6, 1, true}}, {L"Cmaj7", {0, 0, false}}, {L"CmAj7", {0, 0, false}},
      {L"Bdim", {11, 11, true}},  {L"BDIM7", {11, 11, true}}, {L"Bdi", {11, 11, false}},
      {L"Bb", {10, 10, false}},   {L"x7", {0, 0, false}},    {L"", {0, 0, false}},
      {L"Am", {9, 9, true}},      {L"Am7", {9, 9, true}},    {L"Ama", {9, 9, true}},
      {L"AM7", {9, 9, false}},    {L"Cb", {11, 11, false}},  {L"e", {4, 4, false}},
      {L"C/E", {0, 4, false}},    {L"C/Bb", {0, 10, false}}, {L"C/", {0, 0, false}},
      {L"C/x", {0, 0, false}},    {L"G/F#", {7, 6, false}},  {L"Gm/", {7, 7, true}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseChordName(c.text), c.want) << std::wstring(c.text).size();
}

TEST(SplitChordRun, Runs) {
  struct Case {
    const wchar_t* token;
    std::vector<std::wstring> names;
  } cases[] = {
      {L"CG", {L"C", L"G"}},        {L"Am7D", {L"Am7", L"D"}}, {L"GNC", {L"G", L"NC"}},
      {L"Bbm", {L"Bbm"}},           {L"NC", {L"NC"}},          {L"", {}},
      {L"NCG", {L"NC", L"G"}},      {L"C#m7b5F", {L"C#m7b5", L"F"}}, {L"Ebmaj7", {L"Ebmaj7"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitChordRun(c.token), c.names);
}

TEST(ChordTimeline, BarsAndBeats) {
  std::vector<uint32_t> bars;
  for (uint32_t t = 0; t < 20000; t += 1920) bars.push_back(t);
  auto tl = MakeChordTimeline({L"C . G . | Am . . .", L"Dm"}, bars, 480);
  std::vector<std::tuple<uint32_t, int, bool>> got;
  for (const auto& e : tl) got.emplace_back(e.tick, e.root, e.minor != 0);
  // The line ending in a chord moves one bar on; the next line starts there.
  EXPECT_EQ(got, (std::vector<std::tuple<uint32_t, int, bool>>{
                     {1920, 0, false}, {1920 + 2 * 480, 7, false}, {3840, 9, true}, {3 * 1920, 2, true}}));

  tl = MakeChordTimeline({L"CG/", L"F"}, bars, 480);
  ASSERT_EQ(tl.size(), 3u);
  EXPECT_EQ(tl[0].tick, 1920u);
  EXPECT_EQ(tl[1].tick, 1920u + 480);
  EXPECT_EQ(tl[2].tick, 3840u);  // a line ending in a bar mark adds no second bar

  tl = MakeChordTimeline({L"C N.C NC"}, {}, 0);  // no bars, no division: 480-tick bars, beats of 120
  ASSERT_EQ(tl.size(), 4u);
  EXPECT_EQ(tl[0].tick, 480u);
  EXPECT_EQ(tl[1].tick, 480u + 120);
  EXPECT_EQ(tl[2].tick, 480u + 3 * 120);
  EXPECT_EQ(tl[3].tick, 480u + 4 * 120);
  EXPECT_TRUE(tl[3].noChord);
  EXPECT_FALSE(tl[1].noChord);  // "N" alone is a chord name that is not a chord: C major

  tl = MakeChordTimeline({L"| | | | C"}, {0, 1920, 3840}, 480);  // beyond the last bar: its start
  EXPECT_EQ(tl.at(0).tick, 3840u);
}

class CurrentChordTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::lock_guard lock(Chords.ChordTimelineMutex);
    Chords.ChordTimeline.clear();
  }
  void SetTimeline(std::vector<std::wstring> lines) {
    SongModel song;
    song.BarTicks = {0, 1920, 3840, 5760};
    song.SongPpq = 480;
    song.ChordLines = std::move(lines);
    BuildChordTimeline(song);
  }
};

TEST_F(CurrentChordTest, FollowsThePlayerAndTheKey) {
  SetTimeline({L"C . Am . | NC"});
  // before the first chord: the first chord
  EXPECT_EQ(CurrentChord({true, 0, 0}), (CurrentChordValue{0, 0, false, false}));
  // A minor up three semitones: C minor
  EXPECT_EQ(CurrentChord({true, 1920 + 960, 3}), (CurrentChordValue{0, 0, true, false}));
  EXPECT_EQ(CurrentChord({true, 1920 + 960, -10}), (CurrentChordValue{11, 11, true, false}));
  // no chord is never transposed
  EXPECT_EQ(CurrentChord({true, 3840, -10}), (CurrentChordValue{0, 0, false, true}));
  // Stopped or waiting for the downbeat: the last chord computed.
  EXPECT_EQ(CurrentChord({false, 0, -10}), (CurrentChordValue{0, 0, false, true}));
}

TEST_F(CurrentChordTest, WithoutChordLinesThePageChordCounts) {
  SetTimeline({});
  SetPageActiveChord(L"Em/B");
  EXPECT_EQ(CurrentChord({true, 0, 1}), (CurrentChordValue{5, 0, true, false}));
}
