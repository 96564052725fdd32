#pragma once
// A private X server for a test: Xvfb picks a free display itself (-displayfd), so tests running
// side by side never share one. ready() is false when Xvfb is not installed or did not start.
#include <X11/Xlib.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

class Xvfb {
 public:
  Xvfb() {
    if (!std::filesystem::exists("/usr/bin/Xvfb")) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      if (!freopen("/dev/null", "w", stderr)) _exit(126);
      const std::string fd = std::to_string(fds[1]);
      execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset", nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0) {
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    if (Display* d = XOpenDisplay(display_.c_str())) {
      XCloseDisplay(d);
      ready_ = true;
    }
  }
  ~Xvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  bool ready() const { return ready_; }
  // Ends the server now (a client blocked on it then fails instead of waiting forever).
  void Kill() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
  bool ready_ = false;
};

// Points DISPLAY at `display` for its lifetime, then restores it.
class DisplayScope {
 public:
  explicit DisplayScope(const std::string& display) {
    const char* old = std::getenv("DISPLAY");
    saved_ = old ? old : "";
    setenv("DISPLAY", display.c_str(), 1);
  }
  ~DisplayScope() {
    if (saved_.empty())
      unsetenv("DISPLAY");
    else
      setenv("DISPLAY", saved_.c_str(), 1);
  }

 private:
  std::string saved_;
};
