#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/trace_lines.h"
#include "platform/clock.h"

TEST_F(TraceLogTest, LinesAreCutTo255CharactersAndLineFeedsBecomeCrLf) {
  TraceLog(L"%ls\n", std::wstring(300, L'가').c_str());
  TraceLog(L"\n[ALTZ] x %d\n", 5);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  std::string cut;
  for (int i = 0; i < 255; ++i) cut += "\xEA\xB0\x80";
  EXPECT_EQ(lines[0], cut);  // cut before its own line feed; the next line's opening one ends it
  EXPECT_EQ(lines[1], "[ALTZ] x 5");
}

TEST_F(TraceLogTest, TheQueueHoldsAtMost40000Lines) {
  for (int i = 0; i < 40010; ++i) QueueTraceLine(L"l" + std::to_wstring(i) + L"\n");
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 40000u);
  EXPECT_EQ(lines.back(), "l39999");
}

TEST_F(TraceLogTest, StopwatchLines) {
  TraceStopwatchStart(L"곡 변경");
  TraceStopwatchLap(L"prepare");
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "[ALTZ] ===== start (\xEA\xB3\xA1 \xEB\xB3\x80\xEA\xB2\xBD) =====");
  EXPECT_EQ(lines[2].substr(0, 32), "[ALTZ] prepare           +   0 m");
}

