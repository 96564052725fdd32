#pragma once
// Own X connections for the display-awake and key-block layers (platform-internal). Xlib ends the
// whole process when a server goes away or an X request fails; on these connections a lost server
// only marks the connection lost, and request errors are collected instead of being fatal.
#include <X11/Xlib.h>
#include <atomic>
#include <vector>

namespace plat::x11 {

// Opens the default display; `lost` is set when the connection breaks (Xlib calls on it then do
// nothing). Null when no display can be opened.
Display* OpenConnection(std::atomic<bool>* lost);
// Closes a connection from OpenConnection, broken or not.
void CloseConnection(Display* dpy);

// While it lives, errors of requests sent on `dpy` are recorded (by the request's serial) rather
// than handled by Xlib; errors of other connections go to the handler installed before. One trap
// at a time in the process: the constructor waits for an earlier trap to end.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* dpy);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;
  // Sends what is buffered and waits for the server's answers; then the serials of failed
  // requests, with the error code of each.
  struct Failure {
    unsigned long serial;
    int code;
  };
  const std::vector<Failure>& Sync();

 private:
  Display* dpy_;
};

}  // namespace plat::x11
