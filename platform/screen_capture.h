#pragma once
// Pictures of the desktop for remote support: the monitor to capture, the pixels of a rectangle of
// the root window (shared memory when the server offers it, else a plain image request) and the
// mouse cursor with its hot spot (XFixes). Each grabber has its own X connection.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/browser_window.h"

namespace plat {

// The monitor that shows the main window, else the primary one, else the first; empty when there
// is no display.
ScreenRect CaptureMonitor(int skipGroup);

// The current cursor: its position on the desktop, its hot spot and its pixels (premultiplied
// alpha, red, green, blue in one 32-bit value each, rows top first).
struct CursorImage {
  int x = 0, y = 0, hotX = 0, hotY = 0, width = 0, height = 0;
  std::vector<uint32_t> argb;
};

class ScreenGrabber {
 public:
  ScreenGrabber();
  ~ScreenGrabber();
  ScreenGrabber(const ScreenGrabber&) = delete;
  ScreenGrabber& operator=(const ScreenGrabber&) = delete;

  // Prepares grabbing `rect` of the desktop; false without a display or for an empty rectangle.
  bool Open(const ScreenRect& rect);
  // The rectangle's pixels as rows of width × 4 bytes (blue, green, red, unused), or null when
  // the grab failed. Parts of the rectangle outside the desktop are black. Valid until the next
  // call.
  const uint8_t* Grab();
  // The cursor when it shows; false without one.
  bool Cursor(CursorImage* out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
