#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace plat {
namespace {

thread_local int lastError = 0;

// errno to the Winsock number of the same condition (WSABASEERR + the BSD number where Winsock
// kept it); other values are passed as they are.
int WinsockCode(int e) {
  switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EMSGSIZE: return 10040;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case EPIPE: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return e;
  }
}

int Fail(int* error, int code) {
  if (error) *error = code;
  lastError = code;
  return kInvalidSocket;
}

bool SetBlocking(int fd, bool blocking) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

// Waits for the pending connect; 0 when connected, else the Winsock code.
int WaitConnected(int fd, int timeoutMs) {
  // select cannot watch a descriptor beyond its set.
  if (fd >= FD_SETSIZE) return 10024;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) left = std::chrono::microseconds(0);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(fd, &writable);
    FD_SET(fd, &failed);
    timeval tv{static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
    int n = select(fd + 1, nullptr, &writable, &failed, &tv);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return WinsockCode(errno);
    if (n == 0) return 10060;
    int pending = 0;
    socklen_t len = sizeof pending;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &len) != 0) return WinsockCode(errno);
    if (pending == 0) return 0;
    // A refused connect shows only as a failure, never as writable, to the program's design.
    if (pending == ECONNREFUSED) return 10060;
    return WinsockCode(pending);
  }
}

}  // namespace

int ConnectTcp(const std::string& host, int port, int timeoutMs, int* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (host.find('\0') != std::string::npos || getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 ||
      !found)
    return Fail(error, kSocketErrorNoAddress);
  sockaddr_in address{};
  bool usable = found->ai_addrlen <= sizeof address;
  if (usable) std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  freeaddrinfo(found);
  if (!usable) return Fail(error, kSocketErrorNoAddress);

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return Fail(error, WinsockCode(errno));
  int code = 0;
  if (!SetBlocking(fd, false)) {
    code = WinsockCode(errno);
  } else if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EINPROGRESS || errno == EWOULDBLOCK)
      code = WaitConnected(fd, timeoutMs);
    else
      code = errno == ECONNREFUSED ? 10060 : WinsockCode(errno);
  }
  if (code == 0 && !SetBlocking(fd, true)) code = WinsockCode(errno);
  if (code != 0) {
    close(fd);
    return Fail(error, code);
  }
  if (error) *error = 0;
  return fd;
}

bool ProbeTcp(const std::string& host, const std::string& port, int timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host.find('\0') != std::string::npos || getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a && !ok; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (SetBlocking(fd, false)) {
      if (connect(fd, a->ai_addr, a->ai_addrlen) == 0)
        ok = true;
      else if (errno == EINPROGRESS)
        ok = WaitConnected(fd, timeoutMs) == 0;
    }
    close(fd);
  }
  freeaddrinfo(found);
  return ok;
}

long SocketSend(int socket, const void* data, size_t length) {
  for (;;) {
    ssize_t n = send(socket, data, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) lastError = WinsockCode(errno);
    return static_cast<long>(n);
  }
}

long SocketReceive(int socket, void* data, size_t length) {
  for (;;) {
    ssize_t n = recv(socket, data, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) lastError = (errno == EAGAIN || errno == EWOULDBLOCK) ? 10060 : WinsockCode(errno);
    return static_cast<long>(n);
  }
}

bool SetSocketReceiveTimeout(int socket, int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = 0;
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool SetSocketNoDelay(int socket) {
  int on = 1;
  return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

void ShutdownSocket(int socket) {
  if (socket >= 0) shutdown(socket, SHUT_RDWR);
}

void CloseSocket(int socket) {
  if (socket >= 0) close(socket);
}

int LastSocketError() { return lastError; }

int ListenLoopback(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return kInvalidSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len) != 0) {
    close(fd);
    return kInvalidSocket;
  }
  if (port) *port = ntohs(address.sin_port);
  return fd;
}

int AcceptConnection(int listener) {
  for (;;) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0 && errno == EINTR) continue;
    return fd < 0 ? kInvalidSocket : fd;
  }
}

bool SocketPair(int* first, int* second) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  *first = fds[0];
  *second = fds[1];
  return true;
}

std::string ComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace plat
