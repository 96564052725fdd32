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
#include <memory>
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

// An agent that takes sessions one after another: challenge, hello, Accept, then End at once
// (or, holding, never: the session runs until the program closes it).
class SessionAgent {
 public:
  explicit SessionAgent(bool holding = false) {
    listener_ = plat::ListenLoopback(&port_);
    thread_ = std::thread([this, holding] {
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
        if (!holding) SendFrame(s, RsMessageType::End);
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

// The program on a private X server, run from a folder of its own (where its log goes), with the
// stand-in board serving the agent list.
class OrvaneRun : public ::testing::Test {
 protected:
  // xdotool's name search does not match Hangul: a question box is the shown window whose name
  // does not begin like the keypad's. Keys go through XTest to the focused window.
  const std::string keypad = "search --sync --name '^Tavelo'";
  const std::string question = "search --sync --onlyvisible --name '^[^T]'";

  void SetUp() override {
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
    if (!x_.ready()) GTEST_SKIP() << "Xvfb is not available";
    board_ = std::make_unique<StandInBoard>(std::vector<BoardPost>{});
  }
  void TearDown() override {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  void ListAgent(int port) {
    std::ofstream(board_->dir() / "support_agents.txt", std::ios::binary)
        << "ok\ns1\t관리자\t127.0.0.1\t" << port << "\n";
  }
  void Start() {
    fs::path folder = root_.path() / "helper";
    fs::create_directories(folder);
    fs::copy_file(TAVELO_ORVANE, folder / "orvane");
    log_ = folder / fs::path(WideToUtf8(kHelperLogName));
    pid_ = fork();
    if (pid_ == 0) {
      setenv("DISPLAY", x_.display().c_str(), 1);
      unsetenv("TAVELO_MONITORS");  // the real monitors of the Xvfb screen
      setenv("TAVELO_ROOT", root_.path().c_str(), 1);
      execl((folder / "orvane").c_str(), "orvane", nullptr);
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
  }
  bool Logged(const std::string& text, size_t count = 1) { return WaitForLogLine(pid_, log_, text, count); }
  int Do(const std::string& args) { return Xdo(x_.display(), args); }
  // Answers the question box that shows next with a key.
  void Answer(const std::string& key) {
    ASSERT_EQ(Do(question + " windowfocus --sync"), 0);
    ASSERT_EQ(Do("key " + key), 0);
  }
  void TypeAndAllow() {
    ASSERT_EQ(Do(keypad + " windowfocus --sync"), 0);
    ASSERT_EQ(Do("key 1 2 3 4 5 Return"), 0);
    Answer("Return");
  }
  // Waits for the program's end; true when it exited with 0.
  bool Exited() {
    int status = 0;
    pid_t done = waitpid(pid_, &status, 0);
    return done == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  Xvfb x_;
  TempRoot root_;
  std::unique_ptr<StandInBoard> board_;
  fs::path log_;
  pid_t pid_ = -1;
};

TEST_F(OrvaneRun, TypedNumberReachesTheAgentAndAllowWorksAgainAfterTheEnd) {
  SessionAgent agent;
  // No agent waits at start: Allow asks the board again and finds the one listed since.
  Start();
  ASSERT_TRUE(Logged("지금은 대기 중인 관리자가 없습니다. 전화로 켜달라고 하세요."));
  ListAgent(agent.port());
  TypeAndAllow();
  auto keys = HelloKeys(agent.Hello(1, pid_));
  EXPECT_EQ(keys["name"], "1234");
  EXPECT_EQ(keys["resume"], "0");
  EXPECT_EQ(keys["id"], "설치전");
  EXPECT_TRUE(Logged("] 지원 가능한 곳을 찾는 중입니다...\r\n"));

  // The agent ends the session; the Allow button takes a click again.
  ASSERT_TRUE(Logged("원격지원이 끝났습니다. 창을 닫으셔도 됩니다."));
  ASSERT_EQ(Do(keypad + " mousemove --window %1 464 498 click 1"), 0);
  Answer("Return");
  EXPECT_EQ(HelloKeys(agent.Hello(2, pid_))["name"], "1234");
  ASSERT_TRUE(Logged("원격지원이 끝났습니다. 창을 닫으셔도 됩니다.", 2));

  // The exit button closes the window at once when no session runs.
  ASSERT_EQ(Do(keypad + " mousemove --window %1 474 616 click 1"), 0);
  EXPECT_TRUE(Exited());
  std::string text = ReadWhole(log_);
  EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(text.find("] ===== 원격 도우미 시작 =====\r\n"), std::string::npos);
  EXPECT_NE(text.find("] ===== 원격 도우미 끝 =====\r\n"), std::string::npos);
}

TEST_F(OrvaneRun, ClosingDuringASessionAsksFirst) {
  SessionAgent agent(true);
  ListAgent(agent.port());
  Start();
  ASSERT_TRUE(Logged("준비되었습니다 - 지원 가능: 관리자"));
  TypeAndAllow();
  agent.Hello(1, pid_);
  ASSERT_TRUE(Logged("● 원격지원 중입니다 - 끝나면 [종료] 를 눌러주세요"));
  // "No" keeps the session running.
  ASSERT_EQ(Do(keypad + " mousemove --window %1 474 616 click 1"), 0);
  Answer("Escape");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(ReadWhole(log_).find("원격지원이 끝났습니다"), std::string::npos);
  EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);
  // "Yes" stops the session and closes.
  ASSERT_EQ(Do(keypad + " mousemove --window %1 474 616 click 1"), 0);
  Answer("Return");
  EXPECT_TRUE(Exited());
  EXPECT_NE(ReadWhole(log_).find("] ===== 원격 도우미 끝 =====\r\n"), std::string::npos);
}

}  // namespace
