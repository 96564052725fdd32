// The customer support program itself on a private X server: the customer's keys are typed
// through XTest (xdotool), the agent list comes from the stand-in board, and a stand-in agent
// takes the session.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "assist_test_support.h"
#include "common/temp_root.h"
#include "online/rs_wire.h"
#include "online/stand_in_agent.h"
#include "online/stand_in_board.h"
#include "platform/sockets.h"
#include "platform/xvfb.h"

namespace {

namespace fs = std::filesystem;

// An agent that takes sessions one after another: challenge, hello, Accept, then End once the
// test lets the session end.
class SessionAgent {
 public:
  SessionAgent() {
    listener_ = plat::ListenLoopback(&port_);
    thread_ = std::thread([this] {
      for (;;) {
        int s = plat::AcceptConnection(listener_);
        if (s < 0) return;
        SendFrame(s, RsMessageType::Challenge, "nonce");
        std::optional<RsFrame> hello = RecvFrame(s);
        {
          std::lock_guard lock(m_);
          hellos_.push_back(hello ? hello->payload : std::string());
        }
        changed_.notify_all();
        SendFrame(s, RsMessageType::Accept);
        SendFrame(s, RsMessageType::End);
        while (RecvFrame(s)) {
        }
        plat::CloseSocket(s);
      }
    });
  }
  ~SessionAgent() {
    plat::ShutdownSocket(listener_);
    thread_.join();
    plat::CloseSocket(listener_);
  }
  int port() const { return port_; }
  // Waits for the n-th hello while the program runs; empty when it ended first.
  std::string Hello(size_t n, pid_t program) {
    std::unique_lock lock(m_);
    while (!changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return hellos_.size() >= n; }))
      if (waitpid(program, nullptr, WNOHANG) != 0) return {};
    return hellos_[n - 1];
  }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex m_;
  std::condition_variable changed_;
  std::vector<std::string> hellos_;
};

// Waits for a log line while the program runs; false when it ended first.
bool WaitForLogLine(pid_t program, const fs::path& log, const std::string& text, size_t count = 1) {
  for (;;) {
    std::string whole = ReadWhole(log);
    size_t found = 0;
    for (size_t at = whole.find(text); at != std::string::npos; at = whole.find(text, at + 1)) ++found;
    if (found >= count) return true;
    if (waitpid(program, nullptr, WNOHANG) != 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

int Xdo(const std::string& display, const std::string& args) {
  return std::system(("DISPLAY=" + display + " LANG=C.UTF-8 xdotool " + args + " >/dev/null 2>&1").c_str());
}

TEST(Orvane, TypedNumberReachesTheAgentAndAllowWorksAgainAfterTheEnd) {
  if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "Xvfb is not available";
  TempRoot root;
  StandInBoard board({});
  SessionAgent agent;
  std::ofstream(board.dir() / "support_agents.txt", std::ios::binary)
      << "ok\ns1\t관리자\t127.0.0.1\t" << agent.port() << "\n";

  // The program runs from a folder of its own, where its log goes.
  fs::path folder = root.path() / "helper";
  fs::create_directories(folder);
  fs::copy_file(TAVELO_ORVANE, folder / "orvane");
  fs::path log = folder / fs::path(WideToUtf8(kHelperLogName));
  pid_t pid = fork();
  if (pid == 0) {
    setenv("DISPLAY", x.display().c_str(), 1);
    setenv("TAVELO_ROOT", root.path().c_str(), 1);
    execl((folder / "orvane").c_str(), "orvane", nullptr);
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  // A failed step leaves no program behind.
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  } reaper{pid};

  ASSERT_TRUE(WaitForLogLine(pid, log, "준비되었습니다 - 지원 가능: 관리자"));
  const std::string keypad = "search --sync --name '^Tavelo'";
  // xdotool's name search does not match Hangul: the question box is the shown window whose name
  // does not begin like the keypad's. Keys go through XTest to the focused window.
  const std::string confirm = "search --sync --onlyvisible --name '^[^T]'";
  ASSERT_EQ(Xdo(x.display(), keypad + " windowfocus --sync"), 0);
  ASSERT_EQ(Xdo(x.display(), "key 1 2 3 4 5 Return"), 0);
  ASSERT_EQ(Xdo(x.display(), confirm + " windowfocus --sync"), 0);
  ASSERT_EQ(Xdo(x.display(), "key Return"), 0);
  auto keys = HelloKeys(agent.Hello(1, pid));
  EXPECT_EQ(keys["name"], "1234");
  EXPECT_EQ(keys["resume"], "0");
  EXPECT_EQ(keys["id"], "설치전");

  // The agent ends the session; the Allow button takes a click again.
  ASSERT_TRUE(WaitForLogLine(pid, log, "원격지원이 끝났습니다. 창을 닫으셔도 됩니다."));
  ASSERT_EQ(Xdo(x.display(), keypad + " mousemove --window %1 464 498 click 1"), 0);
  ASSERT_EQ(Xdo(x.display(), confirm + " windowfocus --sync"), 0);
  ASSERT_EQ(Xdo(x.display(), "key Return"), 0);
  EXPECT_EQ(HelloKeys(agent.Hello(2, pid))["name"], "1234");
  ASSERT_TRUE(WaitForLogLine(pid, log, "원격지원이 끝났습니다. 창을 닫으셔도 됩니다.", 2));

  // The exit button closes the window when no session runs.
  ASSERT_EQ(Xdo(x.display(), keypad + " mousemove --window %1 474 616 click 1"), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string text = ReadWhole(log);
  EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(text.find("] ===== 원격 도우미 시작 =====\r\n"), std::string::npos);
  EXPECT_NE(text.find("] ===== 원격 도우미 끝 =====\r\n"), std::string::npos);
}

}  // namespace
