#include <gtest/gtest.h>

#include "songs/lyric_timing.h"

TEST(LyricTiming, DeduplicationNeedsEnoughTicks) {
  struct Case {
    std::vector<std::wstring> lyrics;
    std::vector<uint32_t> ticks, want;
  } cases[] = {
      {{L"가나다"}, {0, 0, 480, 480, 960}, {0, 480, 960}},         // 5 >= 4
      {{L"가나 다라"}, {0, 0, 480, 480, 960}, {0, 0, 480, 480, 960}},  // 5 < 6
      {{L"- _ ~"}, {0, 0}, {0, 0}},                                 // no syllables
      {{L"가"}, {5, 5, 3, 5}, {5, 3, 5}},                           // only neighbours
  };
  for (const auto& c : cases) {
    auto ticks = c.ticks;
    DeduplicateLyricTicks(ticks, CountLyricSyllables(c.lyrics));
    EXPECT_EQ(ticks, c.want);
  }
  EXPECT_EQ(CountLyricSyllables({L"아리 랑-", L"a_b~\tc"}), 6);
}

TEST(LyricTiming, SnappingToMelodyStarts) {
  std::vector<NoteSpan> melody = {{60, 480, 10}, {62, 460, 10}, {64, 1000, 10}, {64, 1000, 10}};
  std::vector<uint32_t> ticks = {470, 500, 1021, 1020, 0, 2000};
  SnapLyricTicksToMelody(ticks, melody);
  // 470: 460 and 480 both 10 away, the later wins; 500 is 20 from 480; 1021 is 21 from 1000.
  EXPECT_EQ(ticks, (std::vector<uint32_t>{480, 480, 1021, 1000, 0, 2000}));

  std::vector<uint32_t> unsorted = {1000, 470};
  SnapLyricTicksToMelody(unsorted, melody);
  EXPECT_EQ(unsorted, (std::vector<uint32_t>{1000, 480}));  // not re-sorted

  std::vector<uint32_t> none = {5};
  SnapLyricTicksToMelody(none, {});
  EXPECT_EQ(none, std::vector<uint32_t>{5});
}
