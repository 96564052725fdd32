// The captured monitor on a real X server with two RandR monitors side by side (Xvfb, when
// installed): the one showing our window, else the primary one.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/screen_capture.h"
#include "xvfb.h"

namespace {

// XRandR 1.5's monitor record, as Xrandr.h lays it out.
struct RandrMonitor {
  Atom name;
  Bool primary;
  Bool automatic;
  int noutput;
  int x, y, width, height;
  int mwidth, mheight;
  unsigned long* outputs;
};
using AllocateFn = RandrMonitor* (*)(Display*, int);
using SetFn = void (*)(Display*, Window, RandrMonitor*);

// Adds a monitor without outputs; false when the library has no monitors.
bool AddMonitor(Display* dpy, const char* name, int x, int width, bool primary) {
  void* lib = dlopen("libXrandr.so.2", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return false;
  auto allocate = reinterpret_cast<AllocateFn>(dlsym(lib, "XRRAllocateMonitor"));
  auto set = reinterpret_cast<SetFn>(dlsym(lib, "XRRSetMonitor"));
  if (!allocate || !set) return false;
  RandrMonitor* m = allocate(dpy, 0);
  if (!m) return false;
  m->name = XInternAtom(dpy, name, False);
  m->primary = primary;
  m->x = x;
  m->y = 0;
  m->width = width;
  m->height = 600;
  m->mwidth = 200;
  m->mheight = 150;
  set(dpy, DefaultRootWindow(dpy), m);
  XFree(m);
  XSync(dpy, False);
  return true;
}

}  // namespace

TEST(MonitorPick, TheMonitorShowingOurWindowElseThePrimary) {
  Xvfb server;
  if (!server.ready()) GTEST_SKIP() << "no Xvfb";
  DisplayScope scope(server.display());
  unsetenv("TAVELO_MONITORS");
  Display* dpy = XOpenDisplay(server.display().c_str());
  ASSERT_NE(dpy, nullptr);
  if (!AddMonitor(dpy, "left", 0, 640, false) || !AddMonitor(dpy, "right", 640, 640, true)) {
    XCloseDisplay(dpy);
    GTEST_SKIP() << "no RandR monitors";
  }
  const plat::ScreenRect left{0, 0, 640, 600}, right{640, 0, 1280, 600};

  // No window of ours: the primary.
  EXPECT_EQ(plat::CaptureMonitor(0), right);

  // Our window on the left monitor, listed as a managed client with our process id.
  Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 100, 100, 200, 150, 0, 0, 0);
  const long pid = ::getpid();
  XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  XChangeProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, "_NET_CLIENT_LIST", False), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&w), 1);
  XMapWindow(dpy, w);
  XSync(dpy, False);
  EXPECT_EQ(plat::CaptureMonitor(0), left);

  // Moved onto the right one.
  XMoveWindow(dpy, w, 900, 200);
  XSync(dpy, False);
  EXPECT_EQ(plat::CaptureMonitor(0), right);
  XCloseDisplay(dpy);
}
