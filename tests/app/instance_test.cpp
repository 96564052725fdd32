// The real program, started twice on one root without a browser: the second start exits at once
// and the first logs that it was asked to come forward; SIGTERM then runs the shutdown order and
// the first exits with 0.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "test_paths.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "common/temp_root.h"

namespace fs = std::filesystem;

namespace {

pid_t StartTavelo(const fs::path& root, const char* browser = "none", bool successor = false,
                  const fs::path& stderrFile = {}) {
  pid_t pid = fork();
  if (pid == 0) {
    if (successor) setenv("TAVELO_SUCCESSOR_OF", "1", 1);
    setenv("TAVELO_ROOT", root.c_str(), 1);
    setenv("TAVELO_BROWSER", browser, 1);
    setenv("XDG_CONFIG_HOME", (root / "cfg").c_str(), 1);
    setenv("XDG_DESKTOP_DIR", (root / "desk").c_str(), 1);
    unsetenv("DISPLAY");
    freopen("/dev/null", "w", stdout);
    if (!stderrFile.empty()) freopen(stderrFile.c_str(), "w", stderr);
    const std::string bin = std::string(TAVELO_BINARY_DIR) + "/tavelo";
    execl(bin.c_str(), bin.c_str(), nullptr);
    _exit(127);
  }
  return pid;
}

// Waits for the child; -1 when it has not ended within the wait.
int WaitExit(pid_t pid, unsigned ms) {
  for (unsigned waited = 0; waited <= ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    plat::SleepMs(10);
  }
  return -1;
}

std::string Log(const fs::path& root) {
  return plat::ReadFileBytes(root / "system" / "debug_log.txt").value_or("");
}

bool WaitFor(const std::function<bool()>& ready) {
  for (int i = 0; i < 1000; ++i, plat::SleepMs(10))
    if (ready()) return true;
  return false;
}

}  // namespace

TEST(SingleInstance, SecondStartExitsAtOnceAndTheFirstComesForwardThenSigtermEndsIt) {
  TempRoot root;
  pid_t first = StartTavelo(root.path());
  ASSERT_GT(first, 0);
  // The first is ready to answer once the address of its page is published.
  ASSERT_TRUE(WaitFor([&] { return fs::exists(root.path() / "system" / "page_url.txt"); }));

  const double before = plat::NowMs();
  pid_t second = StartTavelo(root.path());
  EXPECT_EQ(WaitExit(second, 10000), 0);
  EXPECT_LT(plat::NowMs() - before, 10000.0);  // not the 20 seconds of an instance that never answers
  EXPECT_EQ(kill(first, 0), 0) << "the first instance must still run";

  const std::string forward = "[WM] \xEB\x8B\xA4\xEB\xA5\xB8 Tavelo \xEC\x8B\xA4\xED\x96\x89 \xEC\x9A\x94\xEC\xB2\xAD";
  EXPECT_TRUE(WaitFor([&] { return Log(root.path()).find(forward) != std::string::npos; }));
  const std::string banner = "########## Tavelo";
  const std::string log = Log(root.path());
  EXPECT_NE(log.find(banner), log.rfind(banner)) << "both starts write the banner";

  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first, 20000), 0);
  EXPECT_NE(Log(root.path()).find("[WM] \xEC\xB0\xBD \xEB\x8B\xAB\xEA\xB8\xB0"), std::string::npos);  // shutdown order ran
}

// A program started by an update swap or a restart waits for the closing one, then takes over.
TEST(SingleInstance, ASuccessorWaitsForThePredecessorToEnd) {
  TempRoot root;
  pid_t first = StartTavelo(root.path());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(root.path() / "system" / "page_url.txt"); }));
  fs::remove(root.path() / "system" / "page_url.txt");
  pid_t second = StartTavelo(root.path(), "none", true);
  EXPECT_EQ(WaitExit(second, 1500), -1) << "the successor must not give up while the first runs";
  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first, 20000), 0);
  EXPECT_TRUE(WaitFor([&] { return fs::exists(root.path() / "system" / "page_url.txt"); }));
  EXPECT_EQ(Log(root.path()).find("[WM] \xEB\x8B\xA4\xEB\xA5\xB8 Tavelo"), std::string::npos) << "nobody was asked forward";
  kill(second, SIGTERM);
  EXPECT_EQ(WaitExit(second, 20000), 0);
}

TEST(SingleInstance, SigintClosesTheWindowToo) {
  TempRoot root;
  pid_t pid = StartTavelo(root.path());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(root.path() / "system" / "page_url.txt"); }));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  EXPECT_EQ(WaitExit(pid, 20000), 0);
  // A new start on the same root is then the one instance again: it publishes its own page.
  fs::remove(root.path() / "system" / "page_url.txt");
  pid_t again = StartTavelo(root.path());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(root.path() / "system" / "page_url.txt"); }));
  kill(again, SIGTERM);
  EXPECT_EQ(WaitExit(again, 20000), 0);
}

TEST(StartUp, WithoutABrowserTheBoxIsLoggedAndTheProgramEnds) {
  TempRoot root;
  pid_t pid = StartTavelo(root.path(), "/no/such/browser");
  EXPECT_EQ(WaitExit(pid, 20000), 1);
  EXPECT_NE(Log(root.path()).find("[브라우저 필요"), std::string::npos);
  EXPECT_FALSE(fs::exists(root.path() / "system" / "page_url.txt"));
  EXPECT_TRUE(fs::is_directory(root.path() / "images" / "random"));  // the folders came first
}

// A browser that ends at once (here a stand-in that says why on its standard error and exits 1):
// the program ends too, with a non-zero code and the reason on standard error and in the log,
// and has installed nothing (no program copy, no desktop or autostart entry).
TEST(StartUp, ABrowserThatEndsAtOnceEndsTheProgramWithTheReasonAndNothingInstalled) {
  TempRoot root;
  const fs::path browser = root.path() / "browser.sh", args = root.path() / "browser_args";
  ASSERT_TRUE(plat::WriteFileAtomic(browser, "#!/bin/sh\necho \"$@\" > '" + args.string() +
                                                 "'\necho 'cannot open display' >&2\nexit 1\n"));
  fs::permissions(browser, fs::perms::owner_all);
  const fs::path err = root.path() / "stderr.txt";
  const double before = plat::NowMs();
  pid_t pid = StartTavelo(root.path(), browser.c_str(), false, err);
  const int code = WaitExit(pid, 10000);
  EXPECT_NE(code, -1) << "still running after 10 s";
  EXPECT_NE(code, 0);
  EXPECT_LT(plat::NowMs() - before, 10000.0);
  if (code == -1) kill(pid, SIGKILL), WaitExit(pid, 5000);
  const std::string said = plat::ReadFileBytes(err).value_or("");
  EXPECT_NE(said.find("tavelo: "), std::string::npos) << said;
  EXPECT_NE(said.find("종료 코드 1"), std::string::npos) << said;
  EXPECT_NE(said.find("cannot open display"), std::string::npos) << said;
  EXPECT_NE(Log(root.path()).find("[PAGE] 브라우저가 0초 만에 끝남"), std::string::npos);
  // As root Chromium needs --no-sandbox; the program adds it and says so.
  const std::string given = plat::ReadFileBytes(args).value_or("");
  EXPECT_EQ(given.find("--no-sandbox") != std::string::npos, geteuid() == 0) << given;
  EXPECT_EQ(Log(root.path()).find("--no-sandbox") != std::string::npos, geteuid() == 0);
  EXPECT_FALSE(fs::exists(root.path() / "cfg" / "autostart"));
  EXPECT_FALSE(fs::exists(root.path() / "desk"));
  EXPECT_FALSE(fs::exists(root.path() / "tavelo"));
}
