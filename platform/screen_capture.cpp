#include "platform/screen_capture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/monitors.h"
#include "platform/x_connection.h"

namespace plat {

ScreenRect CaptureMonitor(int skipGroup) {
  if (auto main = MainWindowMonitor(skipGroup)) return *main;
  const auto list = ListMonitors();
  for (const auto& m : list)
    if (m.primary) return m.rect;
  return list.empty() ? ScreenRect{} : list.front().rect;
}

struct ScreenGrabber::Impl {
  std::atomic<bool> lost{false};
  Display* dpy = nullptr;
  Window root = 0;
  ScreenRect rect;       // what was asked for
  ScreenRect visible;    // its part inside the root window
  std::vector<uint8_t> pixels;
  // Shared-memory image of the visible part, when the server takes it.
  XImage* shmImage = nullptr;
  XShmSegmentInfo shm{};
  bool shmAttached = false;
  bool xfixes = false;

  ~Impl() {
    ReleaseShm();
    if (dpy) x11::CloseConnection(dpy);
  }

  void ReleaseShm() {
    if (shmAttached && dpy && !lost) {
      XShmDetach(dpy, &shm);
      XSync(dpy, False);
    }
    shmAttached = false;
    if (shmImage) {
      shmImage->data = nullptr;  // the segment is ours to free
      XDestroyImage(shmImage);
      shmImage = nullptr;
    }
    if (shm.shmaddr && shm.shmaddr != reinterpret_cast<char*>(-1)) shmdt(shm.shmaddr);
    shm = {};
  }

  void SetUpShm(int width, int height) {
    if (!XShmQueryExtension(dpy)) return;
    const int screen = DefaultScreen(dpy);
    shmImage = XShmCreateImage(dpy, DefaultVisual(dpy, screen), static_cast<unsigned>(DefaultDepth(dpy, screen)),
                               ZPixmap, nullptr, &shm, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (!shmImage) return;
    shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(shmImage->bytes_per_line) * static_cast<size_t>(height),
                       IPC_CREAT | 0600);
    if (shm.shmid < 0) {
      ReleaseShm();
      return;
    }
    shm.shmaddr = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
    shmctl(shm.shmid, IPC_RMID, nullptr);  // gone once both sides detach
    if (shm.shmaddr == reinterpret_cast<char*>(-1)) {
      shm.shmaddr = nullptr;
      ReleaseShm();
      return;
    }
    shmImage->data = shm.shmaddr;
    shm.readOnly = False;
    x11::ErrorTrap trap(dpy);
    XShmAttach(dpy, &shm);
    if (!trap.Sync().empty()) {  // e.g. a server on another machine
      ReleaseShm();
      return;
    }
    shmAttached = true;
  }

  // True when the image's rows are already the pixel rows: the whole rectangle, 32-bit blue,
  // green, red, unused, without padding. The shared-memory image is then read in place.
  bool SameLayout(const XImage* image) const {
    const int width = rect.right - rect.left;
    return visible.left == rect.left && visible.top == rect.top && visible.right == rect.right &&
           visible.bottom == rect.bottom && image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
           image->red_mask == 0xff0000 && image->green_mask == 0xff00 && image->blue_mask == 0xff &&
           image->bytes_per_line == width * 4;
  }

  // Copies an image of the visible part into the pixel rows.
  bool Store(XImage* image) {
    const int w = visible.right - visible.left, h = visible.bottom - visible.top;
    const int width = rect.right - rect.left;
    const size_t stride = static_cast<size_t>(width) * 4;
    const int dx = visible.left - rect.left, dy = visible.top - rect.top;
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xff0000 &&
                        image->green_mask == 0xff00 && image->blue_mask == 0xff;
    for (int y = 0; y < h; ++y) {
      uint8_t* out = pixels.data() + static_cast<size_t>(y + dy) * stride + static_cast<size_t>(dx) * 4;
      if (direct) {
        std::memcpy(out, image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_line),
                    static_cast<size_t>(w) * 4);
        continue;
      }
      for (int x = 0; x < w; ++x) {
        const unsigned long p = XGetPixel(image, x, y);
        auto channel = [p](unsigned long mask) -> uint8_t {
          if (!mask) return 0;
          int shift = 0;
          while (!((mask >> shift) & 1)) ++shift;
          const unsigned long max = mask >> shift;
          return static_cast<uint8_t>(((p & mask) >> shift) * 255 / max);
        };
        out[x * 4] = channel(image->blue_mask);
        out[x * 4 + 1] = channel(image->green_mask);
        out[x * 4 + 2] = channel(image->red_mask);
        out[x * 4 + 3] = 0;
      }
    }
    return true;
  }
};

ScreenGrabber::ScreenGrabber() : impl_(std::make_unique<Impl>()) {}
ScreenGrabber::~ScreenGrabber() = default;

bool ScreenGrabber::Open(const ScreenRect& rect) {
  impl_ = std::make_unique<Impl>();
  Impl& m = *impl_;
  const long width = static_cast<long>(rect.right) - rect.left, height = static_cast<long>(rect.bottom) - rect.top;
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return false;
  m.dpy = x11::OpenConnection(&m.lost);
  if (!m.dpy) return false;
  m.root = DefaultRootWindow(m.dpy);
  m.rect = rect;
  const int rootW = DisplayWidth(m.dpy, DefaultScreen(m.dpy)), rootH = DisplayHeight(m.dpy, DefaultScreen(m.dpy));
  m.visible = {std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, rootW), std::min(rect.bottom, rootH)};
  m.pixels.assign(static_cast<size_t>(width) * 4 * static_cast<size_t>(height), 0);
  if (m.visible.right > m.visible.left && m.visible.bottom > m.visible.top)
    m.SetUpShm(m.visible.right - m.visible.left, m.visible.bottom - m.visible.top);
  int eventBase = 0, errorBase = 0;
  m.xfixes = XFixesQueryExtension(m.dpy, &eventBase, &errorBase);
  return true;
}

const uint8_t* ScreenGrabber::Grab() {
  Impl& m = *impl_;
  if (!m.dpy || m.lost) return nullptr;
  const int w = m.visible.right - m.visible.left, h = m.visible.bottom - m.visible.top;
  if (w <= 0 || h <= 0) return m.pixels.data();  // wholly off the desktop: black
  if (m.shmAttached) {
    x11::ErrorTrap trap(m.dpy);
    const bool ok = XShmGetImage(m.dpy, m.root, m.shmImage, m.visible.left, m.visible.top, AllPlanes);
    if (ok && trap.Sync().empty() && !m.lost) {
      // One copy less per frame for a whole-screen grab: the caller copies or reads the rows.
      if (m.SameLayout(m.shmImage)) return reinterpret_cast<const uint8_t*>(m.shmImage->data);
      m.Store(m.shmImage);
      return m.pixels.data();
    }
  }
  x11::ErrorTrap trap(m.dpy);
  XImage* image = XGetImage(m.dpy, m.root, m.visible.left, m.visible.top, static_cast<unsigned>(w),
                            static_cast<unsigned>(h), AllPlanes, ZPixmap);
  trap.Sync();
  if (!image) return nullptr;
  m.Store(image);
  XDestroyImage(image);
  return m.lost ? nullptr : m.pixels.data();
}

bool ScreenGrabber::Cursor(CursorImage* out) {
  Impl& m = *impl_;
  if (!m.dpy || m.lost || !m.xfixes) return false;
  XFixesCursorImage* c = XFixesGetCursorImage(m.dpy);
  if (!c) return false;
  const bool shows = c->width > 0 && c->height > 0 && c->width <= 1024 && c->height <= 1024;
  if (shows) {
    out->x = c->x;
    out->y = c->y;
    out->hotX = c->xhot;
    out->hotY = c->yhot;
    out->width = c->width;
    out->height = c->height;
    out->argb.resize(static_cast<size_t>(c->width) * c->height);
    for (size_t i = 0; i < out->argb.size(); ++i) out->argb[i] = static_cast<uint32_t>(c->pixels[i]);
  }
  XFree(c);
  return shows;
}

}  // namespace plat
