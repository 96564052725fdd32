#include "platform/key_grab.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "platform/message_box.h"
#include "platform/x_connection.h"

namespace plat {
namespace {

// The block in force: its thread holds the grabs on its own connection and reads (and drops)
// the key events they bring, until woken through the pipe. Touched under `mutex` only.
struct KeyBlockState {
  std::mutex mutex;
  std::thread thread;
  int wake[2] = {-1, -1};
  std::atomic<bool> lost{false};  // the server went away
};
KeyBlockState block;

constexpr const char* kAltTab = "Alt+Tab";
constexpr const char* kAltEsc = "Alt+Esc";
constexpr const char* kCtrlEsc = "Ctrl+Esc";
constexpr const char* kWindows = "Windows";

// The modifier bit that Alt sets in this keymap (Mod1 on nearly every one).
unsigned AltMask(Display* dpy) {
  unsigned mask = Mod1Mask;
  const KeyCode alt = XKeysymToKeycode(dpy, XK_Alt_L);
  XModifierKeymap* map = XGetModifierMapping(dpy);
  if (!map) return mask;
  for (int mod = 0; mod < 8 && alt; ++mod)
    for (int k = 0; k < map->max_keypermod; ++k)
      if (map->modifiermap[mod * map->max_keypermod + k] == alt) mask = 1u << mod;
  XFreeModifiermap(map);
  return mask;
}

struct KeyGrab {
  KeyCode code;
  unsigned modifiers;
  const char* name;
};

// Every (key, modifiers) pair to grab. A grab names exact modifiers, so each combination of the
// eight modifier bits that the block covers is grabbed on its own; a combination another
// program already holds then fails alone.
std::vector<KeyGrab> SwitchKeyGrabs(Display* dpy) {
  const unsigned alt = AltMask(dpy);
  std::vector<KeyGrab> grabs;
  const KeyCode tab = XKeysymToKeycode(dpy, XK_Tab);
  const KeyCode esc = XKeysymToKeycode(dpy, XK_Escape);
  const KeyCode supers[] = {XKeysymToKeycode(dpy, XK_Super_L), XKeysymToKeycode(dpy, XK_Super_R)};
  for (unsigned m = 0; m < 256; ++m) {
    if (tab && (m & alt)) grabs.push_back({tab, m, kAltTab});
    if (esc && (m & alt)) grabs.push_back({esc, m, kAltEsc});
    else if (esc && (m & ControlMask)) grabs.push_back({esc, m, kCtrlEsc});
    for (KeyCode s : supers)
      if (s) grabs.push_back({s, m, kWindows});
  }
  return grabs;
}

void BlockThread(int wake, std::promise<KeyBlockResult> promise) {
  Display* dpy = x11::OpenConnection(&block.lost);
  if (!dpy) {
    promise.set_value({});
    return;
  }
  const Window root = DefaultRootWindow(dpy);
  const std::vector<KeyGrab> grabs = SwitchKeyGrabs(dpy);
  KeyBlockResult result;
  result.status = KeyBlockStatus::kBlocked;
  {
    x11::ErrorTrap trap(dpy);
    std::vector<unsigned long> serials;
    serials.reserve(grabs.size());
    for (const KeyGrab& g : grabs) {
      serials.push_back(NextRequest(dpy));
      XGrabKey(dpy, g.code, g.modifiers, root, False, GrabModeAsync, GrabModeAsync);
    }
    for (const auto& failure : trap.Sync()) {
      auto it = std::find(serials.begin(), serials.end(), failure.serial);
      if (it == serials.end()) continue;
      const std::string name = grabs[it - serials.begin()].name;
      if (std::find(result.heldElsewhere.begin(), result.heldElsewhere.end(), name) == result.heldElsewhere.end())
        result.heldElsewhere.push_back(name);
    }
  }
  if (!result.heldElsewhere.empty()) result.status = KeyBlockStatus::kPartly;
  if (block.lost.load()) result = {};
  promise.set_value(result);

  // Grabbed keys come to this connection: they are read and dropped, so they never reach the
  // window manager or the page.
  for (;;) {
    while (!block.lost.load() && XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
    }
    pollfd p[2] = {{wake, POLLIN, 0}, {ConnectionNumber(dpy), POLLIN, 0}};
    const int watched = block.lost.load() ? 1 : 2;  // a broken connection is not watched
    if (::poll(p, watched, -1) < 0) continue;
    if (p[0].revents) break;
  }
  if (!block.lost.load()) {
    KeyCode done[4] = {};
    int n = 0;
    for (const KeyGrab& g : grabs) {
      if (std::find(done, done + n, g.code) != done + n) continue;
      done[n++] = g.code;
      XUngrabKey(dpy, g.code, AnyModifier, root);  // only our own grabs are released
      if (n == 4) break;
    }
    XSync(dpy, False);
  }
  x11::CloseConnection(dpy);
}

}  // namespace

KeyBlockResult BlockSwitchKeys() {
  if (!DisplayAvailable()) return {};
  std::lock_guard lock(block.mutex);
  if (block.thread.joinable()) return {KeyBlockStatus::kBlocked, {}};
  if (::pipe2(block.wake, O_CLOEXEC) != 0) return {};
  std::promise<KeyBlockResult> promise;
  auto answer = promise.get_future();
  try {
    block.thread = std::thread(BlockThread, block.wake[0], std::move(promise));
  } catch (...) {
    ::close(block.wake[0]);
    ::close(block.wake[1]);
    return {};
  }
  KeyBlockResult result = answer.get();
  if (result.status == KeyBlockStatus::kNoDisplay) {
    char b = 1;
    (void)!::write(block.wake[1], &b, 1);
    block.thread.join();
    ::close(block.wake[0]);
    ::close(block.wake[1]);
  }
  return result;
}

void UnblockSwitchKeys() {
  std::lock_guard lock(block.mutex);
  if (!block.thread.joinable()) return;
  char b = 1;
  (void)!::write(block.wake[1], &b, 1);
  block.thread.join();
  ::close(block.wake[0]);
  ::close(block.wake[1]);
}

bool SwitchKeysBlocked() {
  std::lock_guard lock(block.mutex);
  return block.thread.joinable();
}

}  // namespace plat
