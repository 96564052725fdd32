#include "platform/single_instance.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "platform/paths.h"

namespace fs = std::filesystem;

namespace plat {
namespace {

constexpr char kRequest[] = "forward\n";
constexpr char kTaken[] = "ok\n";
using Clock = std::chrono::steady_clock;

std::mutex stateMutex;
int lockFd = -1;
int listenFd = -1;
int wakePipe[2] = {-1, -1};
std::thread* listener = nullptr;  // never destroyed while joinable: the process may simply end
std::string currentName;

fs::path SystemDir() { return RootDir() / "system"; }

// The socket address; a path too long for sockaddr_un falls back to an abstract name made from
// the path, which is just as unique per root.
bool SocketAddress(std::string_view name, sockaddr_un& addr, socklen_t& len) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::string path = (SystemDir() / (std::string(name) + ".sock")).string();
  if (path.size() < sizeof addr.sun_path) {
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
  }
  std::string abstractName = "tavelo-" + std::to_string(std::hash<std::string>{}(path));
  addr.sun_path[0] = '\0';
  std::memcpy(addr.sun_path + 1, abstractName.data(), abstractName.size());
  len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstractName.size());
  return false;
}

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Writes all of `p`; on a non-blocking socket waits for room until `deadline`.
bool WriteAllFd(int fd, const char* p, size_t n,
                Clock::time_point deadline = Clock::time_point::max()) {
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN || deadline == Clock::time_point::max()) return false;
      pollfd pf{fd, POLLOUT, 0};
      int left = MsLeft(deadline);
      if (left <= 0 || ::poll(&pf, 1, left) <= 0) return false;
      continue;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Reads up to a line feed or `cap` bytes, waiting at most `ms` in all.
std::string ReadLine(int fd, int ms, size_t cap) {
  std::string got;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (got.size() < cap && got.find('\n') == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    int left = MsLeft(deadline);
    if (left <= 0) break;
    int r = ::poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buf[64];
    ssize_t n = ::recv(fd, buf, std::min(sizeof buf, cap - got.size()), 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

// Connects without blocking: a frozen holder whose queue is full must not hold us in connect().
bool ConnectWithin(int fd, const sockaddr_un& addr, socklen_t len, Clock::time_point deadline) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) return true;
  if (errno != EINPROGRESS && errno != EINTR) return false;  // EAGAIN: its queue is full
  for (;;) {
    pollfd p{fd, POLLOUT, 0};
    int left = MsLeft(deadline);
    if (left <= 0) return false;
    int r = ::poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    int err = 0;
    socklen_t el = sizeof err;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) == 0 && err == 0;
  }
}

bool AskHolderToComeForward(std::string_view name, int waitMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
  sockaddr_un addr;
  socklen_t len;
  SocketAddress(name, addr, len);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool taken = false;
  if (ConnectWithin(fd, addr, len, deadline) &&
      WriteAllFd(fd, kRequest, sizeof kRequest - 1, deadline))
    taken = ReadLine(fd, MsLeft(deadline), 16) == kTaken;
  ::close(fd);
  return taken;
}

void ListenLoop(int lfd, int wake, std::function<bool()> onForward) {
  for (;;) {
    pollfd p[2] = {{lfd, POLLIN, 0}, {wake, POLLIN, 0}};
    int r = ::poll(p, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (p[1].revents & (POLLIN | POLLHUP))) return;
    if (!(p[0].revents & POLLIN)) continue;
    int c = ::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    // Only the owner's own user may ask (the folder is the user's, but an abstract name is not).
    ucred cred{};
    socklen_t cl = sizeof cred;
    bool sameUser = ::getsockopt(c, SOL_SOCKET, SO_PEERCRED, &cred, &cl) == 0 && cred.uid == ::getuid();
    if (sameUser && ReadLine(c, 1000, 16) == kRequest) {
      bool taken = false;
      try {
        taken = onForward();
      } catch (...) {
      }
      const char* answer = taken ? kTaken : "no\n";
      WriteAllFd(c, answer, std::strlen(answer));
    }
    ::close(c);
  }
}

}  // namespace

InstanceClaim ClaimSingleInstance(std::string_view name, int waitMs, bool askHolder) {
  std::lock_guard lock(stateMutex);
  if (lockFd >= 0) return InstanceClaim::kOwner;
  std::error_code ec;
  fs::create_directories(SystemDir(), ec);
  fs::path lockPath = SystemDir() / (std::string(name) + ".lock");
  // Close-on-exec: a browser we start must never inherit the lock and outlive us holding it.
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return InstanceClaim::kOwner;  // no lock possible here: do not keep the program out
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int e = errno;
    ::close(fd);
    if (e != EWOULDBLOCK) return InstanceClaim::kOwner;
    if (!askHolder) return InstanceClaim::kHeld;
    return AskHolderToComeForward(name, waitMs) ? InstanceClaim::kForwarded : InstanceClaim::kHeld;
  }
  lockFd = fd;
  currentName = name;
  return InstanceClaim::kOwner;
}

InstanceClaim ClaimSingleInstanceRetrying(std::string_view name, int attempts, int retryMs,
                                          bool askHolder) {
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(int64_t{std::max(attempts, 1)} *
                                                          std::max(retryMs, 0));
  InstanceClaim claim = InstanceClaim::kHeld;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    // Each attempt and the pause after it fit in its own slot of retryMs, so a holder that
    // never answers cannot stretch the whole wait.
    const auto slotEnd = start + std::chrono::milliseconds(int64_t{attempt + 1} * retryMs);
    claim = ClaimSingleInstance(name, std::max(1, MsLeft(std::min(slotEnd, deadline))), askHolder);
    if (claim != InstanceClaim::kHeld) return claim;
    int left = MsLeft(slotEnd);
    if (left > 0) ::poll(nullptr, 0, left);
  }
  return claim;
}

bool ListenForLaterStarts(std::function<bool()> onForward) {
  std::lock_guard lock(stateMutex);
  if (lockFd < 0 || listenFd >= 0) return false;
  sockaddr_un addr;
  socklen_t len;
  if (SocketAddress(currentName, addr, len)) ::unlink(addr.sun_path);  // left by an ended owner
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  mode_t old = ::umask(0077);
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(fd, 8) == 0;
  ::umask(old);
  if (!ok || ::pipe2(wakePipe, O_CLOEXEC) != 0) {
    ::close(fd);
    return false;
  }
  listenFd = fd;
  listener = new std::thread(ListenLoop, fd, wakePipe[0], std::move(onForward));
  return true;
}


}  // namespace plat
