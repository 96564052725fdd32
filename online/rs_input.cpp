#include "online/rs_input.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

#include "online/rs_receive.h"

std::optional<RsPoint> RemotePointerPixel(const RemoteMouseEvent& event, const RsRect& capture, int sentWidth,
                                                   int sentHeight, const plat::ScreenRect& desktop) {
  const int64_t cw = static_cast<int64_t>(capture.right) - capture.left;
  const int64_t ch = static_cast<int64_t>(capture.bottom) - capture.top;
  if (sentWidth < 1 || sentHeight < 1 || cw <= 0 || ch <= 0) return std::nullopt;
  if (desktop.right - desktop.left < 2 || desktop.bottom - desktop.top < 2) return std::nullopt;
  const int x = static_cast<int>(capture.left + static_cast<int64_t>(event.x) * cw / sentWidth);
  const int y = static_cast<int>(capture.top + static_cast<int64_t>(event.y) * ch / sentHeight);
  return RsPoint{x, y};
}

std::optional<std::vector<plat::PointerButton>> RemoteMouseButtons(uint8_t kind, int16_t wheelDelta) {
  using B = plat::PointerButton;
  switch (kind) {
    case 0: return std::vector<B>{};
    case 1: return std::vector<B>{{1, true}};
    case 2: return std::vector<B>{{1, false}};
    case 3: return std::vector<B>{{3, true}};
    case 4: return std::vector<B>{{3, false}};
    case 5: {
      std::vector<B> steps;
      if (wheelDelta == 0) return steps;
      const int button = wheelDelta > 0 ? 4 : 5;
      int count = std::abs(static_cast<int>(wheelDelta)) / 120;
      if (count == 0) count = 1;
      for (int i = 0; i < count; ++i) {
        steps.push_back({button, true});
        steps.push_back({button, false});
      }
      return steps;
    }
    case 6: return std::vector<B>{{2, true}};
    case 7: return std::vector<B>{{2, false}};
    case 8: return std::vector<B>{{1, true}, {1, false}, {1, true}, {1, false}};
    default: return std::nullopt;
  }
}

namespace {
std::mutex targetMutex;
RsInputTarget target;

// What the agent holds down on the desktop, released when the session ends: a connection that
// breaks between a press and its release must not leave a key or button pressed for the customer.
struct HeldRemoteInput {
  std::map<uint16_t, bool> keys;  // virtual key -> extended
  std::set<int> buttons;
  RsPoint lastPixel;              // where held buttons are let go
};
HeldRemoteInput held;

void SendPointer(int x, int y, const std::vector<plat::PointerButton>& buttons) {
  if (target.pointer)
    target.pointer(x, y, buttons);
  else
    plat::InjectPointer(x, y, buttons);
}

void SendKey(uint16_t virtualKey, bool down, bool extended) {
  if (target.key)
    target.key(virtualKey, down, extended);
  else
    plat::InjectKey(virtualKey, down, extended);
}
}  // namespace

void SetRsInputTarget(RsInputTarget replacement) {
  std::lock_guard lock(targetMutex);
  target = std::move(replacement);
  held = {};
}

void InjectRemoteMouse(const RemoteMouseEvent& event) {
  const auto buttons = RemoteMouseButtons(event.kind, event.wheelDelta);
  if (!buttons) return;
  std::lock_guard lock(targetMutex);
  const auto pixel = RemotePointerPixel(event, RsClient.RsCaptureRect, RsClient.RsSentWidth, RsClient.RsSentHeight,
                                        target.desktop ? target.desktop() : plat::VirtualScreen());
  if (!pixel) return;
  SendPointer(pixel->x, pixel->y, *buttons);
  held.lastPixel = *pixel;
  for (const auto& b : *buttons) {
    if (b.down)
      held.buttons.insert(b.button);
    else
      held.buttons.erase(b.button);
  }
}

void InjectRemoteKey(const RemoteKeyEvent& event) {
  std::lock_guard lock(targetMutex);
  SendKey(event.virtualKey, event.down, event.extended);
  if (event.down)
    held.keys[event.virtualKey] = event.extended;
  else
    held.keys.erase(event.virtualKey);
}

void ReleaseRemoteInput() {
  std::lock_guard lock(targetMutex);
  for (const auto& [virtualKey, extended] : held.keys) SendKey(virtualKey, false, extended);
  if (!held.buttons.empty()) {
    std::vector<plat::PointerButton> ups;
    for (int b : held.buttons) ups.push_back({b, false});
    SendPointer(held.lastPixel.x, held.lastPixel.y, ups);
  }
  held = {};
}
