// Desktop pictures on a real X server (Xvfb, when installed): a rectangle drawn by another client
// shows in the grab at its place, parts off the desktop are black, the cursor has its hot spot;
// and the image files round-trip.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/image_codec.h"
#include "platform/screen_capture.h"
#include "xvfb.h"

TEST(ScreenCapture, GrabsWhatAnotherClientDrew) {
  Xvfb server;
  if (!server.ready()) GTEST_SKIP() << "no Xvfb";
  DisplayScope scope(server.display());
  Display* dpy = XOpenDisplay(server.display().c_str());
  ASSERT_NE(dpy, nullptr);
  const int screen = DefaultScreen(dpy);
  const int rootW = DisplayWidth(dpy, screen);
  // A window with a red background at (100, 50), 40 × 30.
  XColor red{};
  red.red = 0xffff;
  red.flags = DoRed | DoGreen | DoBlue;
  XAllocColor(dpy, DefaultColormap(dpy, screen), &red);
  Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 100, 50, 40, 30, 0, 0, red.pixel);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  XChangeWindowAttributes(dpy, w, CWOverrideRedirect, &attributes);
  XMapWindow(dpy, w);
  XSync(dpy, False);

  plat::ScreenGrabber grabber;
  // The rectangle reaches 16 pixels past the right edge of the desktop.
  const plat::ScreenRect rect{rootW - 64, 0, rootW + 16, 80};
  ASSERT_TRUE(grabber.Open({96, 40, 160, 100}));
  const uint8_t* pixels = nullptr;
  for (int i = 0; i < 50; ++i) {  // the server may paint the window a moment later
    pixels = grabber.Grab();
    ASSERT_NE(pixels, nullptr);
    if (pixels[(15 * 64 + 10) * 4 + 2] == 255) break;
    XSync(dpy, False);
  }
  auto at = [&](int x, int y) {
    const uint8_t* p = pixels + (static_cast<size_t>(y) * 64 + static_cast<size_t>(x)) * 4;
    return std::vector<int>{p[0], p[1], p[2]};
  };
  EXPECT_EQ(at(10, 15), (std::vector<int>{0, 0, 255}));  // (106, 55): inside
  EXPECT_EQ(at(2, 5), (std::vector<int>{0, 0, 0}));      // (98, 45): the black root
  EXPECT_EQ(at(44, 10), (std::vector<int>{0, 0, 0}));    // (140, 50): just right of it

  ASSERT_TRUE(grabber.Open(rect));
  pixels = grabber.Grab();
  ASSERT_NE(pixels, nullptr);
  const uint8_t* offDesktop = pixels + (static_cast<size_t>(5) * 80 + 70) * 4;
  EXPECT_EQ(offDesktop[0] | offDesktop[1] | offDesktop[2], 0);

  plat::CursorImage cursor;
  if (grabber.Cursor(&cursor)) {
    EXPECT_GT(cursor.width, 0);
    EXPECT_EQ(cursor.argb.size(), static_cast<size_t>(cursor.width) * static_cast<size_t>(cursor.height));
    EXPECT_LE(cursor.hotX, cursor.width);
  }
  EXPECT_FALSE(grabber.Open({10, 10, 10, 20}));
  XCloseDisplay(dpy);
}

TEST(ScreenCapture, MonitorFromTheTestList) {
  struct Case {
    const char* list;
    plat::ScreenRect want;
  } cases[] = {
      {"1920x1080+0+0*;1280x1024+1920+0@", {1920, 0, 3200, 1024}},
      {"1920x1080+0+0;1280x1024+1920+0*", {1920, 0, 3200, 1024}},
      {"800x600-800+0;1280x1024+0+0", {-800, 0, 0, 600}},
  };
  for (const auto& c : cases) {
    setenv("TAVELO_MONITORS", c.list, 1);
    EXPECT_EQ(plat::CaptureMonitor(0), c.want) << c.list;
  }
  unsetenv("TAVELO_MONITORS");
}

TEST(ImageCodec, RoundTripsAndRefusals) {
  const int w = 5, h = 3, stride = 16;  // rows padded to a multiple of 4
  std::vector<uint8_t> rows(static_cast<size_t>(stride) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      rows[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3] = static_cast<uint8_t>(40 * x);
      rows[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(100 * y);
    }
  for (bool png : {true, false}) {
    std::string bytes;
    ASSERT_TRUE(plat::EncodeImage(rows.data(), stride, w, h, png, 95, &bytes));
    int dw = 0, dh = 0;
    std::vector<uint8_t> bgr;
    ASSERT_TRUE(plat::DecodeImage(bytes, &dw, &dh, &bgr));
    EXPECT_EQ(dw, w);
    EXPECT_EQ(dh, h);
    if (png) {
      EXPECT_EQ(bgr[3 * 4], 160);
      EXPECT_EQ(bgr[(2 * w) * 3 + 2], 200);
    } else {
      EXPECT_NEAR(bgr[3 * 4], 160, 12);
    }
    // A cut file does not decode.
    EXPECT_FALSE(plat::DecodeImage(std::string_view(bytes).substr(0, bytes.size() / 2), &dw, &dh, &bgr));
  }
  std::string out = "x";
  EXPECT_FALSE(plat::EncodeImage(rows.data(), 2, w, h, false, 80, &out));
  EXPECT_TRUE(out.empty());
  int dw = 0, dh = 0;
  std::vector<uint8_t> bgr;
  EXPECT_FALSE(plat::DecodeImage("GIF89a", &dw, &dh, &bgr));
  EXPECT_FALSE(plat::DecodeImage("", &dw, &dh, &bgr));
}
