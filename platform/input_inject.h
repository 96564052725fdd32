#pragma once
// Input replayed on the desktop for remote support (XTest on its own X connection): pointer
// motion to a desktop pixel, button presses, and keys named by Windows virtual-key codes.
#include <cstdint>
#include <span>

#include "platform/browser_window.h"

namespace plat {

// The whole desktop (the root window); empty without a display.
ScreenRect VirtualScreen();

struct PointerButton {
  int button = 1;  // X button: 1 left, 2 middle, 3 right, 4 wheel up, 5 wheel down
  bool down = true;
};
// Moves the pointer to the desktop pixel (x, y), then presses and releases the buttons in order,
// all sent together. False without a display.
bool InjectPointer(int x, int y, std::span<const PointerButton> buttons);

// The X key symbol of a Windows virtual-key code, 0 when there is none. `extended` chooses the
// navigation keys (arrows, Home, Insert...), the right Ctrl and Alt and the keypad Enter over the
// keypad keys and the left ones.
unsigned long KeysymForVirtualKey(uint16_t virtualKey, bool extended);
// Presses or releases the key of the code's symbol. False without a display or when the keyboard
// has no key for it.
bool InjectKey(uint16_t virtualKey, bool down, bool extended);

}  // namespace plat
