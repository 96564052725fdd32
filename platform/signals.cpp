#include "platform/signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace plat {
namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  int saved = errno;
  char b = 1;
  (void)!::write(signalPipe[1], &b, 1);  // async-signal-safe; the pipe never blocks (O_NONBLOCK)
  errno = saved;
}

}  // namespace

bool OnTerminationSignals(std::function<void()> onSignal) {
  if (signalPipe[0] >= 0) return false;
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  int flags = ::fcntl(signalPipe[0], F_GETFL);
  ::fcntl(signalPipe[0], F_SETFL, flags & ~O_NONBLOCK);
  std::thread([fn = std::move(onSignal)] {
    for (;;) {
      char b;
      ssize_t n = ::read(signalPipe[0], &b, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      fn();
    }
  }).detach();
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  return true;
}

}  // namespace plat
