#pragma once
// The agent's mouse and keys replayed on the customer's desktop.
#include <functional>
#include <optional>
#include <vector>

#include "online/rs_state.h"
#include "online/rs_wire.h"
#include "platform/browser_window.h"
#include "platform/input_inject.h"

// The desktop pixel of a point of the sent image, or nothing when the geometry is unusable (no
// sent size, an empty capture rectangle, a desktop below 2 pixels either way).
struct RsPoint {
  int x = 0, y = 0;
  bool operator==(const RsPoint&) const = default;
};
std::optional<RsPoint> RemotePointerPixel(const RemoteMouseEvent& event, const RsRect& capture, int sentWidth,
                                                   int sentHeight, const plat::ScreenRect& desktop);

// The button presses of a mouse event's kind (none for a move), or nothing for an unknown kind.
// The wheel turns one step (button 4 up, 5 down) per 120 of delta, at least one for any delta.
std::optional<std::vector<plat::PointerButton>> RemoteMouseButtons(uint8_t kind, int16_t wheelDelta);

// Where replayed input goes: the desktop, unless a test or the fuzzer installs its own. A member
// left empty keeps the desktop's.
struct RsInputTarget {
  std::function<plat::ScreenRect()> desktop;
  std::function<void(int x, int y, const std::vector<plat::PointerButton>& buttons)> pointer;
  std::function<void(uint16_t virtualKey, bool down, bool extended)> key;
};
void SetRsInputTarget(RsInputTarget target);
