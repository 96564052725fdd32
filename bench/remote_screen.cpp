// The remote-support screen sender on a 1920 × 1080 X server (its own Xvfb): per frame the grab,
// the scaling to the sent size, the block compare and the JPEG of what changed, at quality 80 and
// scale 100 and 50. A full frame has the whole screen changed; a still frame has nothing changed.
// Prints the median and the 99th percentile of each, and the load average of the machine.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "online/rs_screen.h"
#include "online/rs_session.h"
#include "platform/clock.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// A private Xvfb of the benchmark's size; its display number, or empty.
std::string StartXvfb(pid_t* pid) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  *pid = fork();
  if (*pid == 0) {
    close(fds[0]);
    if (!freopen("/dev/null", "w", stderr)) _exit(126);
    const std::string fd = std::to_string(fds[1]);
    execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
          nullptr);
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  return number.empty() ? std::string() : ":" + number;
}

// A desktop-like picture: a gradient with lines of "text" (short dark strokes); `shift` moves it.
void Paint(Display* dpy, Window window, GC gc, int shift) {
  XImage* image = XCreateImage(dpy, DefaultVisual(dpy, DefaultScreen(dpy)), 24, ZPixmap, 0, nullptr, kWidth, kHeight,
                               32, 0);
  image->data = static_cast<char*>(std::malloc(static_cast<size_t>(image->bytes_per_line) * kHeight));
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      unsigned long pixel = ((x + shift) * 255 / kWidth) << 16 | (y * 255 / kHeight) << 8 | 0x80;
      const bool textRow = (y / 18) % 3 != 0 && (y % 18) < 12;
      if (textRow && ((x + shift) / 7) % 5 != 0 && (((x + shift) * 31 + y * 17) % 11) < 4) pixel = 0x202020;
      XPutPixel(image, x, y, pixel);
    }
  XPutImage(dpy, window, gc, image, 0, 0, 0, 0, kWidth, kHeight);
  XDestroyImage(image);
  XSync(dpy, False);
}

struct Stats {
  double median, p99;
};
Stats Summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

}  // namespace

int main() {
  pid_t xvfb = -1;
  const std::string display = StartXvfb(&xvfb);
  if (display.empty()) {
    std::printf("remote_screen: Xvfb did not start; nothing measured\n");
    return 0;
  }
  setenv("DISPLAY", display.c_str(), 1);
  Display* dpy = XOpenDisplay(display.c_str());
  const int screen = DefaultScreen(dpy);
  Window window = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, kWidth, kHeight, 0, 0, 0);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.backing_store = Always;
  XChangeWindowAttributes(dpy, window, CWOverrideRedirect | CWBackingStore, &attributes);
  XMapWindow(dpy, window);
  GC gc = XCreateGC(dpy, window, 0, nullptr);
  (void)screen;

  RsClient.SupportConfig.quality = 80;
  const RsRect capture{0, 0, kWidth, kHeight};
  const int frames = 60;
  for (int scale : {100, 50}) {
    int32_t w = 0, h = 0;
    ComputeSentSize(kWidth, kHeight, scale, &w, &h);
    auto source = OpenDesktopScreenSource(capture, w, h);
    if (!source) {
      std::printf("remote_screen: cannot grab the screen\n");
      break;
    }
    std::vector<uint8_t> image(static_cast<size_t>(w) * 4 * static_cast<size_t>(h));
    RsScreenStream stream(w, h);
    size_t bytes = 0;
    bool sharpSent = false, sent = false;
    auto encode = [&](const RsBlockRect& r, bool sharp) {
      std::string out;
      EncodeScreenRect(image.data(), w * 4, r.x, r.y, r.width, r.height, sharp, 80, &out);
      bytes = out.size();
      sharpSent = sharpSent || sharp;
      sent = true;
      return true;
    };
    auto timedFrame = [&] {
      sharpSent = sent = false;
      const double t0 = plat::NowMs();
      source->Capture(image.data());
      stream.Frame(image.data(), encode);
      return plat::NowMs() - t0;
    };
    // The session's first frame (buffers made, the first key frame) is reported apart; so are the
    // one sharp repeat of the changed area after the screen stops changing and the whole picture
    // sent every 120th frame, which are neither changed nor still frames.
    std::vector<double> full, still, sharpRepeat, keyFrames;
    Paint(dpy, window, gc, 0);
    const double first = timedFrame();
    size_t fullBytes = 0;
    for (int i = 1; i <= frames; ++i) {
      Paint(dpy, window, gc, i % 2 ? 3 : 0);  // every pixel column moves: the whole screen changed
      full.push_back(timedFrame());
      fullBytes = bytes;
    }
    for (int i = 0; i < frames; ++i) {
      const double ms = timedFrame();
      (sharpSent ? sharpRepeat : sent ? keyFrames : still).push_back(ms);
    }
    const Stats f = Summarise(full), s = Summarise(still);
    std::printf("scale %3d%% (%dx%d)  first frame       %6.2f ms\n", scale, w, h, first);
    std::printf("scale %3d%% (%dx%d)  full frame  median %6.2f ms  p99 %6.2f ms  (%zu bytes)   goal 40 ms\n", scale,
                w, h, f.median, f.p99, fullBytes);
    std::printf("scale %3d%% (%dx%d)  still frame median %6.2f ms  p99 %6.2f ms                  goal  8 ms\n",
                scale, w, h, s.median, s.p99);
    for (double ms : sharpRepeat) std::printf("scale %3d%% (%dx%d)  sharp repeat      %6.2f ms\n", scale, w, h, ms);
    for (double ms : keyFrames) std::printf("scale %3d%% (%dx%d)  key frame         %6.2f ms\n", scale, w, h, ms);
  }
  std::ifstream load("/proc/loadavg");
  std::string line;
  std::getline(load, line);
  std::printf("load average: %s\n", line.c_str());
  XFreeGC(dpy, gc);
  XCloseDisplay(dpy);
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
  return 0;
}
