// Song preparation: the bass register that brings the style's bass to the song's.
#include <gtest/gtest.h>

#include <vector>

#include "playback/song_prep.h"

TEST(SongPrep, BassRegisterFromTheMiddleNotes) {
  struct Case {
    int difference, shift;
  } cases[] = {{18, 24}, {17, 12}, {6, 12}, {5, 0}, {0, 0}, {-5, 0}, {-6, -12}, {-18, -24}, {40, 24}, {-40, -24}};
  for (const auto& c : cases) {
    // The style's middle note is 48 (three notes); the song's middle note is 48 + difference.
    const int m = 48 + c.difference;
    EXPECT_EQ(BassOctaveShiftFor({m + 12, m - 7, m, m + 5, m - 2}, {55, 43, 48}), c.shift) << c.difference;
  }
  // An even count takes the upper of the two middle notes; a list without notes gives no shift.
  EXPECT_EQ(BassOctaveShiftFor({30, 40}, {28}), 12);
  EXPECT_EQ(BassOctaveShiftFor({}, {40}), 0);
  EXPECT_EQ(BassOctaveShiftFor({40}, {}), 0);
}
