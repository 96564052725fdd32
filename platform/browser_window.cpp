#include "platform/browser_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

#include "platform/files.h"
#include "platform/message_box.h"

namespace plat {
namespace {

pid_t ParentOf(pid_t pid) {
  auto stat = ReadFileBytes("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return 0;
  size_t close = stat->rfind(')');  // the name may hold blanks and parentheses
  if (close == std::string::npos) return 0;
  char state = 0;
  int ppid = 0;
  if (std::sscanf(stat->c_str() + close + 1, " %c %d", &state, &ppid) != 2) return 0;
  return ppid;
}

bool IsOwnProcess(pid_t pid) {
  const pid_t self = ::getpid();
  for (int depth = 0; depth < 6 && pid > 1; ++depth) {
    if (pid == self) return true;
    pid = ParentOf(pid);
  }
  return false;
}

// Calls fn for every managed top-level window of our process family.
bool ForEachOwnWindow(const std::function<void(Display*, Window)>& fn) {
  if (!DisplayAvailable()) return false;
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return false;
  Window root = DefaultRootWindow(dpy);
  Atom clientList = XInternAtom(dpy, "_NET_CLIENT_LIST", False);
  Atom wmPid = XInternAtom(dpy, "_NET_WM_PID", False);
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool any = false;
  if (XGetWindowProperty(dpy, root, clientList, 0, 4096, False, XA_WINDOW, &type, &format, &count,
                         &after, &data) == Success && data && format == 32) {
    std::vector<Window> windows(reinterpret_cast<Window*>(data), reinterpret_cast<Window*>(data) + count);
    XFree(data);
    for (Window w : windows) {
      unsigned char* pidData = nullptr;
      unsigned long n = 0;
      if (XGetWindowProperty(dpy, w, wmPid, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after,
                             &pidData) != Success || !pidData) continue;
      long pid = n == 1 ? *reinterpret_cast<long*>(pidData) : 0;
      XFree(pidData);
      if (pid > 0 && IsOwnProcess(static_cast<pid_t>(pid))) {
        fn(dpy, w);
        any = true;
      }
    }
  } else if (data) {
    XFree(data);
  }
  XFlush(dpy);
  XCloseDisplay(dpy);
  return any;
}

void SendClientMessage(Display* dpy, Window w, const char* name, long a0, long a1, long a2) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(dpy, name, False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = a0;
  ev.xclient.data.l[1] = a1;
  ev.xclient.data.l[2] = a2;
  XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
}

}  // namespace

bool BringOwnWindowsForward() {
  return ForEachOwnWindow([](Display* dpy, Window w) {
    XMapRaised(dpy, w);
    SendClientMessage(dpy, w, "_NET_ACTIVE_WINDOW", 2 /* from a pager: honoured */, CurrentTime, 0);
  });
}

bool MinimizeOwnWindows() {
  return ForEachOwnWindow([](Display* dpy, Window w) { XIconifyWindow(dpy, w, DefaultScreen(dpy)); });
}

bool SetOwnWindowsFullscreen(bool on) {
  return ForEachOwnWindow([on](Display* dpy, Window w) {
    Atom full = XInternAtom(dpy, "_NET_WM_STATE_FULLSCREEN", False);
    SendClientMessage(dpy, w, "_NET_WM_STATE", on ? 1 : 0, static_cast<long>(full), 0);
  });
}

}  // namespace plat
