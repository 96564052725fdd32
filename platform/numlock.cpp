#include "platform/numlock.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>

#include "platform/x_connection.h"

namespace plat {

namespace {

// A short-lived connection of our own: a lost server ends the call, not the program.
class Connection {
 public:
  Connection() : dpy_(x11::OpenConnection(&lost_)) {}
  ~Connection() {
    if (dpy_) x11::CloseConnection(dpy_);
  }
  Display* get() const { return dpy_ && !lost_ ? dpy_ : nullptr; }

 private:
  std::atomic<bool> lost_{false};
  Display* dpy_;
};

bool UsableXkb(Display* dpy) {
  int op = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
  return XkbQueryExtension(dpy, &op, &event, &error, &major, &minor);
}

// -1: unknown.
int ReadNumLock(Display* dpy) {
  const unsigned mask = XkbKeysymToModifiers(dpy, XK_Num_Lock);
  if (mask == 0) return -1;
  XkbStateRec state{};
  if (XkbGetState(dpy, XkbUseCoreKbd, &state) != Success) return -1;
  return (state.locked_mods & mask) ? 1 : 0;
}

}  // namespace

bool NumLockOn() {
  Connection c;
  Display* dpy = c.get();
  return dpy && UsableXkb(dpy) && ReadNumLock(dpy) == 1;
}

NumLockResult TurnNumLockOff() {
  Connection c;
  Display* dpy = c.get();
  if (!dpy || !UsableXkb(dpy)) return NumLockResult::kNoDisplay;
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(dpy, &event, &error, &major, &minor)) return NumLockResult::kNoDisplay;
  const int on = ReadNumLock(dpy);
  if (on < 0) return NumLockResult::kFailed;
  if (on == 0) return NumLockResult::kAlreadyOff;
  const KeyCode key = XKeysymToKeycode(dpy, XK_Num_Lock);
  if (key == 0) return NumLockResult::kFailed;
  const bool sent = XTestFakeKeyEvent(dpy, key, True, CurrentTime) && XTestFakeKeyEvent(dpy, key, False, CurrentTime);
  XSync(dpy, False);
  return sent ? NumLockResult::kTurnedOff : NumLockResult::kFailed;
}

}  // namespace plat
