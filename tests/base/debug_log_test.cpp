#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "platform/files.h"
#include "common/temp_root.h"

namespace {

std::string LogBytes(const TempRoot& root) {
  return plat::ReadFileBytes(root.path() / "system" / "debug_log.txt").value_or("");
}

// The file split at CR LF; every line must end with one.
std::vector<std::string> LogLines(const TempRoot& root) {
  std::string bytes = LogBytes(root);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t crlf; (crlf = bytes.find("\r\n", start)) != std::string::npos; start = crlf + 2)
    lines.push_back(bytes.substr(start, crlf - start));
  EXPECT_EQ(start, bytes.size()) << "text after the last CR LF";
  return lines;
}

const std::regex kStamp(R"(^\[\d\d:\d\d:\d\d\.\d\d\d\] )");

}  // namespace

TEST(DebugLog, LineIsStampThenTextThenCrLf) {
  TempRoot root;
  struct Case {
    std::wstring text;
    std::string utf8;
  } cases[] = {
      {L"[BOOT] 시작", "[BOOT] \xEC\x8B\x9C\xEC\x9E\x91"},
      {L"", ""},                                          // the stamp alone
      {std::wstring(L"a") + wchar_t(0xD800) + L"b", "a\xEF\xBF\xBD" "b"},  // lone surrogate
      {L"🎤", "\xF0\x9F\x8E\xA4"},
  };
  for (const auto& c : cases) DebugLog(c.text);
  auto lines = LogLines(root);
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[i], m, kStamp)) << lines[i];
    EXPECT_EQ(lines[i].size(), 15u + cases[i].utf8.size());
    EXPECT_EQ(lines[i].substr(15), cases[i].utf8);
  }
}

TEST(DebugLog, StampIsLocalTimeWithMilliseconds) {
  std::wstring stamp = LogTimestamp();
  ASSERT_EQ(stamp.size(), 15u);
  EXPECT_EQ(stamp.front(), L'[');
  EXPECT_EQ(stamp.substr(13), L"] ");
  int h = std::stoi(stamp.substr(1, 2)), m = std::stoi(stamp.substr(4, 2)),
      s = std::stoi(stamp.substr(7, 2)), ms = std::stoi(stamp.substr(10, 3));
  EXPECT_TRUE(h < 24 && m < 60 && s < 61 && ms < 1000);
}

TEST(DebugLog, AppendsAcrossRunsAndLosesLinesWithoutAFolder) {
  TempRoot root;
  plat::WriteFileAtomic(root.path() / "system" / "debug_log.txt", "old\r\n");
  DebugLog(L"new");
  EXPECT_EQ(LogLines(root).front(), "old");
  EXPECT_EQ(LogLines(root).size(), 2u);
  std::filesystem::remove_all(root.path() / "system");
  DebugLog(L"lost");  // no folder: the line is lost, nothing else happens
  EXPECT_FALSE(std::filesystem::exists(root.path() / "system"));
}

TEST(DebugLog, LinesOfManyThreadsStayWhole) {
  TempRoot root;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i)
        DebugLog(L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i) + L" 노래방");
    });
  for (auto& th : threads) th.join();
  auto lines = LogLines(root);
  ASSERT_EQ(lines.size(), 1600u);
  const std::regex whole(R"(^\[\d\d:\d\d:\d\d\.\d\d\d\] thread \d line \d+ \xEB\x85\xB8\xEB\x9E\x98\xEB\xB0\xA9$)");
  for (const auto& l : lines) ASSERT_TRUE(std::regex_match(l, whole)) << l;
}

TEST(DebugLogAsync, QueueKeepsTheFirst20000LinesOfOnePause) {
  TempRoot root;
  HoldDebugLogWriter(true);
  FlushDebugLogQueue();  // lines of earlier tests, if any
  std::filesystem::remove(root.path() / "system" / "debug_log.txt");
  for (int i = 0; i < 25000; ++i) DebugLogAsync(L"q" + std::to_wstring(i));
  FlushDebugLogQueue();
  HoldDebugLogWriter(false);
  auto lines = LogLines(root);
  ASSERT_EQ(lines.size(), 20000u);
  EXPECT_EQ(lines.front().substr(15), "q0");
  EXPECT_EQ(lines.back().substr(15), "q19999");
  for (size_t i = 0; i < lines.size(); i += 997) EXPECT_EQ(lines[i].substr(15), "q" + std::to_string(i));
}

TEST(DebugLogAsync, BackgroundWriterWritesQueuedLinesInOrder) {
  TempRoot root;
  for (int i = 0; i < 50; ++i) DebugLogAsync(L"async " + std::to_wstring(i));
  // The writer passes every 100 ms; wait for it without a time limit on the result.
  std::vector<std::string> lines;
  for (int tries = 0; tries < 200 && lines.size() < 50; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    lines = LogLines(root);
  }
  ASSERT_EQ(lines.size(), 50u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(std::regex_search(lines[i], kStamp));
    EXPECT_EQ(lines[i].substr(15), "async " + std::to_string(i));
  }
}

TEST(DebugLog, AFullLogIsMovedAsideAndANewOneStarted) {
  TempRoot root;
  SetDebugLogMaxBytes(1000);
  for (int i = 0; i < 100; ++i) DebugLog(L"[TEST] line " + std::to_wstring(i));
  HoldDebugLogWriter(true);
  for (int i = 100; i < 150; ++i) DebugLogAsync(L"[TEST] line " + std::to_wstring(i));
  FlushDebugLogQueue();
  HoldDebugLogWriter(false);
  SetDebugLogMaxBytes(kDebugLogDefaultMaxBytes);

  const std::vector<std::string> current = LogLines(root);
  const std::string old = plat::ReadFileBytes(root.path() / "system" / "debug_log.old.txt").value_or("");
  EXPECT_LE(LogBytes(root).size(), 1000u);
  EXPECT_LE(old.size(), 1000u);
  ASSERT_FALSE(old.empty());
  ASSERT_FALSE(current.empty());
  // The lines keep their form, and the newest lines follow on from the moved ones.
  for (const std::string& line : current) EXPECT_TRUE(std::regex_search(line, kStamp)) << line;
  EXPECT_EQ(current.back().substr(15), "[TEST] line 149");
  const size_t lastOld = old.rfind("[TEST] line ");
  const int lastOldNumber = std::stoi(old.substr(lastOld + 12));
  EXPECT_EQ(current.front().substr(15), "[TEST] line " + std::to_string(lastOldNumber + 1));
  EXPECT_EQ(old.substr(old.size() - 2), "\r\n");
}
