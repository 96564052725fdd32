#include "platform/single_instance.h"

#include <atomic>
#include <cerrno>
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
constexpr int kAnswerWaitMs = 3000;

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

bool WriteAllFd(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Reads up to a line feed or `cap` bytes, waiting at most `ms` in all.
std::string ReadLine(int fd, int ms, size_t cap) {
  std::string got;
  while (got.size() < cap && got.find('\n') == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, ms);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buf[64];
    ssize_t n = ::recv(fd, buf, std::min(sizeof buf, cap - got.size()), 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

bool AskHolderToComeForward(std::string_view name) {
  sockaddr_un addr;
  socklen_t len;
  SocketAddress(name, addr, len);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool taken = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
      WriteAllFd(fd, kRequest, sizeof kRequest - 1))
    taken = ReadLine(fd, kAnswerWaitMs, 16) == kTaken;
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

InstanceClaim ClaimSingleInstance(std::string_view name) {
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
    return AskHolderToComeForward(name) ? InstanceClaim::kForwarded : InstanceClaim::kHeld;
  }
  lockFd = fd;
  currentName = name;
  return InstanceClaim::kOwner;
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

void ReleaseSingleInstance() {
  std::thread* t = nullptr;
  {
    std::lock_guard lock(stateMutex);
    if (wakePipe[1] >= 0) {
      char b = 1;
      (void)!::write(wakePipe[1], &b, 1);
    }
    std::swap(t, listener);
  }
  if (t) {
    t->join();
    delete t;
  }
  std::lock_guard lock(stateMutex);
  if (listenFd >= 0) {
    sockaddr_un addr;
    socklen_t len;
    if (SocketAddress(currentName, addr, len)) ::unlink(addr.sun_path);
    ::close(listenFd);
    listenFd = -1;
  }
  for (int& p : wakePipe)
    if (p >= 0) ::close(p), p = -1;
  if (lockFd >= 0) ::close(lockFd), lockFd = -1;
}

}  // namespace plat
