// The play commands' tempo keys.
#include <gtest/gtest.h>

#include "playback/rhythm_style.h"
#include "playback/services.h"
#include "ui/play_commands.h"

TEST(TempoKeys, MoveTheOffsetAndTheStylesOwnTempoWithinItsRange) {
  struct Case {
    bool up;
    int styleBefore, styleAfter;
  } cases[] = {
      {true, 65, 66},   {false, 65, 64},  {false, 31, 30}, {false, 30, 30}, {true, 0, 0},
      {false, 0, 0},    {true, 249, 250}, {true, 250, 250}, {true, 1, 2},
  };
  for (const auto& c : cases) {
    RhythmStyles.ActiveStyleBpm = c.styleBefore;
    PlaybackState.TempoOffsetBpm = 5;
    if (c.up) HandleTempoUp(L"TEMPO_UP");
    else HandleTempoDown(L"TEMPO_DOWN");
    EXPECT_EQ(RhythmStyles.ActiveStyleBpm.load(), c.styleAfter) << c.up << " " << c.styleBefore;
    EXPECT_EQ(PlaybackState.TempoOffsetBpm.load(), c.up ? 6 : 4);
  }
  RhythmStyles.ActiveStyleBpm = 0;
  PlaybackState.TempoOffsetBpm = 0;
}
