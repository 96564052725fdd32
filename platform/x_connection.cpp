#include "platform/x_connection.h"

#include <map>
#include <mutex>

namespace plat::x11 {
namespace {

// Our connections and the flag each sets when it breaks.
std::mutex connectionsMutex;
std::map<Display*, std::atomic<bool>*> connections;
XIOErrorHandler previousIoHandler = nullptr;

// Called for every broken connection of the process. Ours return here, and their exit handler
// marks them lost; any other connection keeps Xlib's behaviour (the handler before ours).
int OnIoError(Display* dpy) {
  {
    std::lock_guard lock(connectionsMutex);
    if (connections.count(dpy)) return 0;
  }
  return previousIoHandler ? previousIoHandler(dpy) : 0;
}

void OnOwnConnectionLost(Display*, void* data) { static_cast<std::atomic<bool>*>(data)->store(true); }

// The trap in force, if any.
std::mutex trapMutex;
Display* trapDisplay = nullptr;
std::vector<ErrorTrap::Failure> trapFailures;
XErrorHandler previousErrorHandler = nullptr;

int OnError(Display* dpy, XErrorEvent* e) {
  if (dpy == trapDisplay) {
    trapFailures.push_back({e->serial, e->error_code});
    return 0;
  }
  return previousErrorHandler ? previousErrorHandler(dpy, e) : 0;
}

}  // namespace

Display* OpenConnection(std::atomic<bool>* lost) {
  static std::once_flag installed;
  std::call_once(installed, [] { previousIoHandler = XSetIOErrorHandler(OnIoError); });
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return nullptr;
  lost->store(false);
  {
    std::lock_guard lock(connectionsMutex);
    connections[dpy] = lost;
  }
  XSetIOErrorExitHandler(dpy, OnOwnConnectionLost, lost);
  return dpy;
}

void CloseConnection(Display* dpy) {
  if (!dpy) return;
  XCloseDisplay(dpy);  // on a lost connection this only frees it
  std::lock_guard lock(connectionsMutex);
  connections.erase(dpy);
}

ErrorTrap::ErrorTrap(Display* dpy) : dpy_(dpy) {
  trapMutex.lock();
  XSync(dpy_, False);  // earlier requests' errors are not ours to collect
  trapDisplay = dpy_;
  trapFailures.clear();
  previousErrorHandler = XSetErrorHandler(OnError);
}

ErrorTrap::~ErrorTrap() {
  XSync(dpy_, False);
  XSetErrorHandler(previousErrorHandler);
  trapDisplay = nullptr;
  trapFailures.clear();
  trapMutex.unlock();
}

const std::vector<ErrorTrap::Failure>& ErrorTrap::Sync() {
  XSync(dpy_, False);
  return trapFailures;
}

}  // namespace plat::x11
