// A later start against a running instance that is frozen: it neither accepts nor answers on its
// socket. The later start must neither hang in connect() nor wait longer than its whole retry.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <optional>
#include <memory>
#include <thread>
#include <vector>

#include "common/temp_root.h"
#include "platform/single_instance.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kName = "Frozen_Test";

// Stands in for a frozen first instance: holds the lock and listens without ever accepting.
// With `fillQueue` its connection queue is full too, so a blocking connect() would never return.
class FrozenHolder {
 public:
  FrozenHolder(const fs::path& root, bool fillQueue) {
    fs::create_directories(root / "system");
    lockFd_ = ::open((root / "system" / (std::string(kName) + ".lock")).c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(::flock(lockFd_, LOCK_EX | LOCK_NB), 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = (root / "system" / (std::string(kName) + ".sock")).string();
    EXPECT_LT(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::listen(listenFd_, 0), 0);
    for (int i = 0; fillQueue && i < 64; ++i) {
      int c = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(c);
        break;
      }
      queued_.push_back(c);
    }
  }
  ~FrozenHolder() {
    // Closing the listener also ends a connect() that an old build would still be stuck in.
    ::close(listenFd_);
    for (int c : queued_) ::close(c);
    ::close(lockFd_);
  }

 private:
  int lockFd_ = -1;
  int listenFd_ = -1;
  std::vector<int> queued_;
};

// Runs `fn` on a thread of its own and gives up waiting after a long while, so that a hang
// shows as a failure instead of a test that never ends.
template <class Fn>
std::optional<plat::InstanceClaim> RunGuarded(Fn fn) {
  auto result = std::make_shared<std::promise<plat::InstanceClaim>>();
  auto future = result->get_future();
  std::thread([result, fn] { result->set_value(fn()); }).detach();
  if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready) return std::nullopt;
  return future.get();
}

}  // namespace

TEST(SingleInstanceClaim, AFrozenHolderWithAFullQueueDoesNotHoldTheLaterStart) {
  for (bool fillQueue : {true, false}) {
    TempRoot root;
    FrozenHolder holder(root.path(), fillQueue);
    auto claim = RunGuarded([] { return plat::ClaimSingleInstance(kName, 300); });
    ASSERT_TRUE(claim.has_value()) << "the attempt hung, queue full: " << fillQueue;
    EXPECT_EQ(*claim, plat::InstanceClaim::kHeld);
  }
}

TEST(SingleInstanceClaim, TheWholeRetryAgainstAHolderThatNeverAnswersStaysInItsBudget) {
  TempRoot root;
  FrozenHolder holder(root.path(), false);
  // Four attempts 250 ms apart: one second in all. Each unanswered question used to wait three
  // seconds of its own, twelve in all; the bound below leaves wide room for a busy machine.
  auto start = std::chrono::steady_clock::now();
  auto claim = RunGuarded([] { return plat::ClaimSingleInstanceRetrying(kName, 4, 250); });
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(claim.has_value());
  EXPECT_EQ(*claim, plat::InstanceClaim::kHeld);
  EXPECT_LT(seconds, 6.0);
}
