#include "platform/hotkey.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "platform/message_box.h"
#include "platform/message_loop.h"
#include "platform/x_connection.h"

namespace plat {
namespace {

struct Grab {
  int id = 0;
  int wake[2] = {-1, -1};
  std::thread* thread = nullptr;
};

std::mutex grabMutex;
Grab* current = nullptr;  // one hotkey is all the program registers

bool grabFailed = false;
int OnXError(Display*, XErrorEvent* e) {
  if (e->error_code == BadAccess) grabFailed = true;
  return 0;
}

// The lock modifiers must not stop the key: grab it with every combination of them.
const unsigned kLockMasks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

void HotkeyThread(int id, int wake, std::promise<bool> grabbed) {
  // Our own connection: a server that goes away ends the grab, not the program.
  std::atomic<bool> lost{false};
  Display* dpy = x11::OpenConnection(&lost);
  if (!dpy) {
    grabbed.set_value(false);
    return;
  }
  Window root = DefaultRootWindow(dpy);
  KeyCode code = XKeysymToKeycode(dpy, XK_Print);
  if (code == 0) {
    x11::CloseConnection(dpy);
    grabbed.set_value(false);
    return;
  }
  XSync(dpy, False);
  grabFailed = false;
  XErrorHandler old = XSetErrorHandler(OnXError);
  for (unsigned m : kLockMasks) XGrabKey(dpy, code, m, root, True, GrabModeAsync, GrabModeAsync);
  XSync(dpy, False);
  XSetErrorHandler(old);
  if (grabFailed) {
    for (unsigned m : kLockMasks) XUngrabKey(dpy, code, m, root);
    x11::CloseConnection(dpy);
    grabbed.set_value(false);
    return;
  }
  Bool detectable = False;
  XkbSetDetectableAutoRepeat(dpy, True, &detectable);
  grabbed.set_value(true);

  bool down = false;
  for (;;) {
    while (!lost && XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == KeyPress && ev.xkey.keycode == code) {
        if (!down) PostWindowMessage(kWmHotkey, id);  // auto-repeat presses are not posted
        down = true;
      } else if (ev.type == KeyRelease && ev.xkey.keycode == code) {
        down = false;
      }
    }
    if (lost) {
      // Nothing more can arrive: wait for the unregistration only.
      pollfd w{wake, POLLIN, 0};
      while (::poll(&w, 1, -1) < 0) {
      }
      break;
    }
    pollfd p[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) continue;
    if (p[1].revents) break;
  }
  if (!lost)
    for (unsigned m : kLockMasks) XUngrabKey(dpy, code, m, root);
  x11::CloseConnection(dpy);
}

}  // namespace

bool RegisterPrintScreenHotkey(int id) {
  if (!DisplayAvailable()) return false;
  std::lock_guard lock(grabMutex);
  if (current) return false;
  auto g = new Grab;
  g->id = id;
  if (::pipe2(g->wake, O_CLOEXEC) != 0) {
    delete g;
    return false;
  }
  std::promise<bool> grabbed;
  auto result = grabbed.get_future();
  g->thread = new std::thread(HotkeyThread, id, g->wake[0], std::move(grabbed));
  if (!result.get()) {
    g->thread->join();
    delete g->thread;
    ::close(g->wake[0]);
    ::close(g->wake[1]);
    delete g;
    return false;
  }
  current = g;
  return true;
}

void UnregisterHotkey(int id) {
  Grab* g = nullptr;
  {
    std::lock_guard lock(grabMutex);
    if (!current || current->id != id) return;
    g = current;
    current = nullptr;
  }
  char b = 1;
  (void)!::write(g->wake[1], &b, 1);
  g->thread->join();
  delete g->thread;
  ::close(g->wake[0]);
  ::close(g->wake[1]);
  delete g;
}

}  // namespace plat
