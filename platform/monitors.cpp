#include "platform/monitors.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <limits>
#include <string>

#include "platform/message_box.h"

namespace plat {

namespace {

// The XRandR 1.5 monitor record (Xrandr.h), bound at run time so the program needs only the
// library that the display stack already carries.
struct RandrMonitor {
  Atom name;
  Bool primary;
  Bool automatic;
  int noutput;
  int x, y, width, height;
  int mwidth, mheight;
  unsigned long* outputs;
};
using GetMonitorsFn = RandrMonitor* (*)(Display*, Window, Bool, int*);
using FreeMonitorsFn = void (*)(RandrMonitor*);

struct Randr {
  GetMonitorsFn get = nullptr;
  FreeMonitorsFn release = nullptr;
};
const Randr& LoadRandr() {
  static const Randr randr = [] {
    Randr r;
    void* lib = ::dlopen("libXrandr.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return r;
    r.get = reinterpret_cast<GetMonitorsFn>(::dlsym(lib, "XRRGetMonitors"));
    r.release = reinterpret_cast<FreeMonitorsFn>(::dlsym(lib, "XRRFreeMonitors"));
    if (!r.get || !r.release) r = Randr{};
    return r;
  }();
  return randr;
}

const char* TestSwitch() {
  const char* v = std::getenv("TAVELO_MONITORS");
  return v && *v ? v : nullptr;
}

}  // namespace

std::vector<MonitorInfo> ParseMonitorList(const char* text, int& mainIndex) {
  mainIndex = -1;
  std::vector<MonitorInfo> out;
  std::string all = text ? text : "";
  size_t pos = 0;
  while (pos < all.size()) {
    size_t next = all.find(';', pos);
    if (next == std::string::npos) next = all.size();
    const std::string entry = all.substr(pos, next - pos);
    pos = next + 1;
    int w = 0, h = 0, x = 0, y = 0, used = 0;
    if (std::sscanf(entry.c_str(), "%dx%d%d%d%n", &w, &h, &x, &y, &used) != 4 || w <= 0 || h <= 0 ||
        w > 100000 || h > 100000 || x < -1000000 || x > 1000000 || y < -1000000 || y > 1000000)
      continue;
    MonitorInfo m;
    m.rect = {x, y, x + w, y + h};
    for (size_t i = static_cast<size_t>(used); i < entry.size(); ++i) {
      if (entry[i] == '*') m.primary = true;
      if (entry[i] == '@') mainIndex = static_cast<int>(out.size());
    }
    m.handle = out.size() + 1;
    out.push_back(m);
  }
  return out;
}

std::vector<MonitorInfo> ListMonitors() {
  int mainIndex = -1;
  if (const char* test = TestSwitch()) return ParseMonitorList(test, mainIndex);
  std::vector<MonitorInfo> out;
  if (!DisplayAvailable()) return out;
  const Randr& randr = LoadRandr();
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return out;
  int count = 0;
  RandrMonitor* list = randr.get ? randr.get(dpy, DefaultRootWindow(dpy), True, &count) : nullptr;
  if (list) {
    for (int i = 0; i < count; ++i) {
      if (list[i].width <= 0 || list[i].height <= 0) continue;
      MonitorInfo m;
      m.rect = {list[i].x, list[i].y, list[i].x + list[i].width, list[i].y + list[i].height};
      m.primary = list[i].primary != 0;
      m.handle = out.size() + 1;
      out.push_back(m);
    }
    randr.release(list);
  } else {
    // No XRandR: the whole screen is one monitor.
    MonitorInfo m;
    m.rect = {0, 0, DisplayWidth(dpy, DefaultScreen(dpy)), DisplayHeight(dpy, DefaultScreen(dpy))};
    m.primary = true;
    m.handle = 1;
    out.push_back(m);
  }
  XCloseDisplay(dpy);
  return out;
}

std::optional<ScreenRect> MainWindowMonitor(int skipGroup) {
  if (const char* test = TestSwitch()) {
    int mainIndex = -1;
    auto list = ParseMonitorList(test, mainIndex);
    if (mainIndex < 0) return std::nullopt;
    return list[static_cast<size_t>(mainIndex)].rect;
  }
  int x = 0, y = 0;
  if (!OwnWindowCenter(skipGroup, x, y)) return std::nullopt;
  const auto list = ListMonitors();
  std::optional<ScreenRect> best;
  long long bestDistance = std::numeric_limits<long long>::max();
  for (const auto& m : list) {
    const long long dx = x < m.rect.left ? m.rect.left - x : x >= m.rect.right ? x - m.rect.right + 1 : 0;
    const long long dy = y < m.rect.top ? m.rect.top - y : y >= m.rect.bottom ? y - m.rect.bottom + 1 : 0;
    const long long d = dx * dx + dy * dy;
    if (d < bestDistance) {
      bestDistance = d;
      best = m.rect;
    }
  }
  return best;
}

namespace {

// Whether a window manager runs on the display (it publishes its check window on the root).
bool WindowManagerRunning() {
  if (!DisplayAvailable()) return false;
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return false;
  Atom type;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  const Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
  const bool running = XGetWindowProperty(dpy, DefaultRootWindow(dpy), check, 0, 1, False, XA_WINDOW, &type,
                                          &format, &n, &after, &data) == Success &&
                       data && n == 1;
  if (data) XFree(data);
  XCloseDisplay(dpy);
  return running;
}

}  // namespace

std::optional<ScreenRect> MonitorToFillWithoutWindowManager() {
  if (!DisplayAvailable() || WindowManagerRunning()) return std::nullopt;
  const std::vector<MonitorInfo> monitors = ListMonitors();
  auto it = std::find_if(monitors.begin(), monitors.end(), [](const MonitorInfo& m) { return m.primary; });
  if (it == monitors.end() && !monitors.empty()) it = monitors.begin();
  if (it == monitors.end()) return std::nullopt;
  return it->rect;
}

}  // namespace plat
