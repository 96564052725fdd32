#include "online/rs_input.h"

#include <cstdlib>
#include <mutex>

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
}  // namespace

void SetRsInputTarget(RsInputTarget replacement) {
  std::lock_guard lock(targetMutex);
  target = std::move(replacement);
}

void InjectRemoteMouse(const RemoteMouseEvent& event) {
  const auto buttons = RemoteMouseButtons(event.kind, event.wheelDelta);
  if (!buttons) return;
  std::lock_guard lock(targetMutex);
  const auto pixel = RemotePointerPixel(event, RsClient.RsCaptureRect, RsClient.RsSentWidth, RsClient.RsSentHeight,
                                        target.desktop ? target.desktop() : plat::VirtualScreen());
  if (!pixel) return;
  if (target.pointer)
    target.pointer(pixel->x, pixel->y, *buttons);
  else
    plat::InjectPointer(pixel->x, pixel->y, *buttons);
}

void InjectRemoteKey(const RemoteKeyEvent& event) {
  std::lock_guard lock(targetMutex);
  if (target.key)
    target.key(event.virtualKey, event.down, event.extended);
  else
    plat::InjectKey(event.virtualKey, event.down, event.extended);
}
