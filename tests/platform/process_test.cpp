#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "platform/process.h"

TEST(RunHiddenAndWait, ReturnsTheExitCode) {
  struct Case {
    std::vector<std::string> argv;
    int code;
  } cases[] = {
      {{"true"}, 0},
      {{"false"}, 1},
      {{"sh", "-c", "exit 7"}, 7},
      {{"sh", "-c", "kill -9 $$"}, 128 + 9},
      {{"/no/such/program"}, -1},
      {{"no-such-program-anywhere"}, -1},
      {{}, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::RunHiddenAndWait(c.argv, 10000), c.code) << (c.argv.empty() ? "" : c.argv[0]);
}

TEST(RunHiddenAndWait, AProcessOverItsLimitIsLeftRunningAndReportedStillActive) {
  std::filesystem::path marker =
      std::filesystem::temp_directory_path() / ("tavelo_run_" + std::to_string(::getpid()));
  std::filesystem::remove(marker);
  EXPECT_EQ(plat::RunHiddenAndWait(std::vector<std::string>{"sh", "-c", "sleep 0.3; touch '" + marker.string() + "'"}, 20),
            plat::kStillActive);
  for (int i = 0; i < 300 && !std::filesystem::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(std::filesystem::exists(marker)) << "the process was not left running";
  std::filesystem::remove(marker);
}

TEST(RunHiddenAndWait, RunsWithoutATerminalAndWithEmptyStandardStreams) {
  EXPECT_EQ(plat::RunHiddenAndWait(std::vector<std::string>{"sh", "-c", "test ! -t 0 && read x; test -z \"$x\""}, 10000), 0);
}

TEST(SplitCommandLine, WindowsRules) {
  struct Case {
    std::wstring line;
    std::vector<std::string> args;
  } cases[] = {
      {L"schtasks.exe /Delete /TN \"Tavelo_AutoStart\" /F", {"schtasks.exe", "/Delete", "/TN", "Tavelo_AutoStart", "/F"}},
      {L"\"C:\\tavelo\\Tavelo.exe\" /delayedstart", {"C:\\tavelo\\Tavelo.exe", "/delayedstart"}},
      {L"  a   b  ", {"a", "b"}},
      {L"\"\"", {""}},
      {L"a\\\\\"b c\" d", {"a\\b c", "d"}},
      {L"a\\\"b", {"a\"b"}},
      {L"노래 \"가 나\"", {"\xEB\x85\xB8\xEB\x9E\x98", "\xEA\xB0\x80 \xEB\x82\x98"}},
      {L"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::SplitCommandLine(c.line), c.args);
}

TEST(RunHiddenCommandCapture, OutputAndErrorThroughAFileThatIsAlwaysDeleted) {
  const std::filesystem::path tmp =
      std::filesystem::temp_directory_path() / ("tavelo_capture_" + std::to_string(::getpid()));
  std::filesystem::create_directories(tmp);
  ::setenv("TMPDIR", tmp.c_str(), 1);
  struct Case {
    std::wstring command;
    std::string output;
  } cases[] = {
      {L"sh -c \"echo out; echo err >&2\"", "out\nerr\n"},
      {L"sh -c \"printf 'MODE=Normal;RT=True'\"", "MODE=Normal;RT=True"},
      {L"powershell.exe -NoProfile -Command \"Get-MpComputerStatus\"", ""},  // no such program here
      {L"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plat::RunHiddenCommandCapture(c.command, 10000), c.output);
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "temporary file left";
  }
  // A command over its limit: what it wrote so far.
  EXPECT_EQ(plat::RunHiddenCommandCapture(L"sh -c \"echo early; sleep 2; echo late\"", 300), "early\n");
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
  ::unsetenv("TMPDIR");
  std::filesystem::remove_all(tmp);
}
