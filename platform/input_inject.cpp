#include "platform/input_inject.h"

#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <mutex>

#include "platform/message_box.h"
#include "platform/x_connection.h"

namespace plat {

namespace {

// One connection for all replayed input, opened on first use and again after it was lost.
std::mutex injectMutex;
std::atomic<bool> injectLost{false};
Display* injectDisplay = nullptr;
std::string injectDisplayName;

Display* InjectDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (injectDisplay && (injectLost || injectDisplayName != (name ? name : ""))) {
    x11::CloseConnection(injectDisplay);
    injectDisplay = nullptr;
  }
  if (!injectDisplay && DisplayAvailable()) {
    injectDisplay = x11::OpenConnection(&injectLost);
    injectDisplayName = name ? name : "";
    int event = 0, error = 0, major = 0, minor = 0;
    if (injectDisplay && !XTestQueryExtension(injectDisplay, &event, &error, &major, &minor)) {
      x11::CloseConnection(injectDisplay);
      injectDisplay = nullptr;
    }
  }
  return injectDisplay;
}

struct KeyName {
  uint16_t vk;
  unsigned long sym;
};

// Keys whose symbol does not depend on the extended bit.
constexpr KeyName kKeys[] = {
    {0x08, XK_BackSpace}, {0x09, XK_Tab}, {0x0C, XK_Clear}, {0x10, XK_Shift_L}, {0x13, XK_Pause},
    {0x14, XK_Caps_Lock}, {0x15, XK_Hangul}, {0x19, XK_Hangul_Hanja}, {0x1B, XK_Escape}, {0x20, XK_space},
    {0x2C, XK_Print}, {0x5B, XK_Super_L}, {0x5C, XK_Super_R}, {0x5D, XK_Menu}, {0x6A, XK_KP_Multiply},
    {0x6B, XK_KP_Add}, {0x6C, XK_KP_Separator}, {0x6D, XK_KP_Subtract}, {0x6E, XK_KP_Decimal},
    {0x6F, XK_KP_Divide}, {0x90, XK_Num_Lock}, {0x91, XK_Scroll_Lock}, {0xA0, XK_Shift_L}, {0xA1, XK_Shift_R},
    {0xA2, XK_Control_L}, {0xA3, XK_Control_R}, {0xA4, XK_Alt_L}, {0xA5, XK_Alt_R}, {0xAD, XF86XK_AudioMute},
    {0xAE, XF86XK_AudioLowerVolume}, {0xAF, XF86XK_AudioRaiseVolume}, {0xBA, XK_semicolon}, {0xBB, XK_equal},
    {0xBC, XK_comma}, {0xBD, XK_minus}, {0xBE, XK_period}, {0xBF, XK_slash}, {0xC0, XK_grave},
    {0xDB, XK_bracketleft}, {0xDC, XK_backslash}, {0xDD, XK_bracketright}, {0xDE, XK_apostrophe},
};

// Keys that are one key of the keypad or the left side without the extended bit and another with it.
struct TwoKeys {
  uint16_t vk;
  unsigned long plain, extended;
};
constexpr TwoKeys kTwoKeys[] = {
    {0x0D, XK_Return, XK_KP_Enter}, {0x11, XK_Control_L, XK_Control_R}, {0x12, XK_Alt_L, XK_Alt_R},
    {0x21, XK_KP_Prior, XK_Prior},  {0x22, XK_KP_Next, XK_Next},         {0x23, XK_KP_End, XK_End},
    {0x24, XK_KP_Home, XK_Home},    {0x25, XK_KP_Left, XK_Left},         {0x26, XK_KP_Up, XK_Up},
    {0x27, XK_KP_Right, XK_Right},  {0x28, XK_KP_Down, XK_Down},         {0x2D, XK_KP_Insert, XK_Insert},
    {0x2E, XK_KP_Delete, XK_Delete},
};

}  // namespace

ScreenRect VirtualScreen() {
  std::lock_guard lock(injectMutex);
  Display* dpy = InjectDisplay();
  if (!dpy) return {};
  const int screen = DefaultScreen(dpy);
  return {0, 0, DisplayWidth(dpy, screen), DisplayHeight(dpy, screen)};
}

bool InjectPointer(int x, int y, std::span<const PointerButton> buttons) {
  std::lock_guard lock(injectMutex);
  Display* dpy = InjectDisplay();
  if (!dpy) return false;
  XTestFakeMotionEvent(dpy, -1, x, y, CurrentTime);
  for (const auto& b : buttons)
    if (b.button >= 1 && b.button <= 5)
      XTestFakeButtonEvent(dpy, static_cast<unsigned>(b.button), b.down ? True : False, CurrentTime);
  XFlush(dpy);
  return !injectLost;
}

unsigned long KeysymForVirtualKey(uint16_t vk, bool extended) {
  if (vk >= 0x30 && vk <= 0x39) return XK_0 + (vk - 0x30);
  if (vk >= 0x41 && vk <= 0x5A) return XK_a + (vk - 0x41);
  if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
  if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
  for (const auto& k : kTwoKeys)
    if (k.vk == vk) return extended ? k.extended : k.plain;
  for (const auto& k : kKeys)
    if (k.vk == vk) return k.sym;
  return 0;
}

bool InjectKey(uint16_t virtualKey, bool down, bool extended) {
  const unsigned long sym = KeysymForVirtualKey(virtualKey, extended);
  if (!sym) return false;
  std::lock_guard lock(injectMutex);
  Display* dpy = InjectDisplay();
  if (!dpy) return false;
  const KeyCode code = XKeysymToKeycode(dpy, sym);
  if (!code) return false;
  XTestFakeKeyEvent(dpy, code, down ? True : False, CurrentTime);
  XFlush(dpy);
  return !injectLost;
}

}  // namespace plat
