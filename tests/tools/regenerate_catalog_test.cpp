// A demo root whose songs.csv was deleted: the real program's start-up load rebuilds the
// catalogue from the song text files, because the first rhythm style file is there.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "test_paths.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tools/demo_songs.h"

namespace fs = std::filesystem;

namespace {

int WaitExit(pid_t pid, unsigned ms) {
  for (unsigned waited = 0; waited <= ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    plat::SleepMs(10);
  }
  return -1;
}

size_t CountLines(const std::string& text) {
  size_t n = 0;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    n += end > pos && !(end == pos + 1 && text[pos] == '\r');
    pos = end + 1;
  }
  return n;
}

}  // namespace

TEST(DemoRoot, DeletedSongsCsvIsRebuiltAtTheNextStart) {
  const fs::path root = fs::temp_directory_path() / ("tavelo_regen_" + std::to_string(::getpid()));
  fs::remove_all(root);
  std::string error;
  ASSERT_TRUE(MakeDemoRoot(root, &error)) << error;
  const fs::path csv = root / "system" / "songs.csv";
  const std::string original = plat::ReadFileBytes(csv).value_or("");
  ASSERT_EQ(CountLines(original), DemoSongs().size() + 1);  // header + one row per song
  ASSERT_TRUE(fs::remove(csv));

  pid_t pid = fork();
  if (pid == 0) {
    setenv("TAVELO_ROOT", root.c_str(), 1);
    setenv("TAVELO_BROWSER", "none", 1);
    setenv("XDG_CONFIG_HOME", (root / "cfg").c_str(), 1);
    setenv("XDG_DESKTOP_DIR", (root / "desk").c_str(), 1);
    unsetenv("DISPLAY");
    freopen("/dev/null", "w", stdout);
    const std::string bin = std::string(TAVELO_BINARY_DIR) + "/tavelo";
    execl(bin.c_str(), bin.c_str(), nullptr);
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  const std::string done = "[BOOT] *** \xEC\x8B\x9C\xEC\x9E\x91 \xEB\xA1\x9C\xEB\x93\x9C";  // 시작 로드
  std::string log;
  for (int i = 0; i < 3000 && log.find(done) == std::string::npos; ++i, plat::SleepMs(10))
    log = plat::ReadFileBytes(root / "system" / "debug_log.txt").value_or("");
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid, 20000), 0);

  EXPECT_NE(log.find("[BOOT] songs.csv \xEB\xB9\x84\xEC\x96\xB4 \xEC\x9E\x88\xEC\x9D\x8C"),  // 비어 있음
            std::string::npos) << log;
  EXPECT_EQ(CountLines(plat::ReadFileBytes(csv).value_or("")), DemoSongs().size() + 1);
  fs::remove_all(root);
}
