// The screen stream on synthetic images: the rectangle of changed blocks, key frames, the sharp
// repeat, the encoded rectangles and the scaling.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "online/rs_screen.h"
#include "platform/clock.h"
#include "platform/image_codec.h"
#include "platform/sockets.h"
#include "test_desktop.h"

namespace {

std::vector<uint8_t> Image(int w, int h, uint8_t fill = 0) {
  return std::vector<uint8_t>(static_cast<size_t>(w) * 4 * static_cast<size_t>(h), fill);
}
void SetPixel(std::vector<uint8_t>& image, int w, int x, int y, uint8_t b, uint8_t g, uint8_t r) {
  uint8_t* p = image.data() + (static_cast<size_t>(y) * w + x) * 4;
  p[0] = b;
  p[1] = g;
  p[2] = r;
}

struct Sent {
  int frame;
  RsBlockRect rect;
  bool sharp;
};

}  // namespace

TEST(RsScreen, ChangedBlocksGiveTheirBoundingBox) {
  struct Case {
    int width, height;
    std::vector<std::pair<int, int>> changed;
    RsBlockRect want;
  } cases[] = {
      {64, 64, {}, {}},
      {64, 64, {{17, 33}}, {16, 32, 16, 16}},
      {1918, 40, {{1917, 5}}, {1904, 0, 14, 16}},
      {1918, 1079, {{0, 1078}}, {0, 1072, 16, 7}},
      {64, 64, {{0, 0}, {63, 40}}, {0, 0, 64, 48}},
      {64, 64, {{20, 50}, {40, 3}}, {16, 0, 32, 64}},
      {100, 40, {{5, 10}, {70, 10}, {40, 39}}, {0, 0, 80, 40}},
      {100, 40, {{99, 17}, {0, 17}}, {0, 16, 100, 16}},
  };
  for (const auto& c : cases) {
    auto reference = Image(c.width, c.height);
    auto current = reference;
    for (auto [x, y] : c.changed) SetPixel(current, c.width, x, y, 0, 0, 1);
    EXPECT_EQ(FindChangedBlocks(current.data(), reference.data(), c.width, c.height), c.want);
  }
}

TEST(RsScreen, KeyFramesChangesAndOneSharpRepeat) {
  const int w = 64, h = 48;
  RsScreenStream stream(w, h);
  auto image = Image(w, h, 7);
  std::vector<Sent> sent;
  int frame = 0;
  auto send = [&](const RsBlockRect& r, bool sharp) {
    sent.push_back({frame, r, sharp});
    return true;
  };
  auto step = [&] {
    ASSERT_TRUE(stream.Frame(image.data(), send));
    ++frame;
  };
  for (int i = 0; i < 5; ++i) step();  // frame 0: the whole image; still frames after a key frame send nothing
  SetPixel(image, w, 17, 33, 1, 2, 3);
  step();                              // frame 5: the changed block
  for (int i = 0; i < 10; ++i) step(); // the sharp repeat after four still frames, then nothing
  while (frame < 241) step();
  const std::vector<Sent> want = {{0, {0, 0, 64, 48}, false},
                                  {5, {16, 32, 16, 16}, false},
                                  {9, {16, 32, 16, 16}, true},
                                  {120, {0, 0, 64, 48}, false},
                                  {240, {0, 0, 64, 48}, false}};
  ASSERT_EQ(sent.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sent[i].frame, want[i].frame);
    EXPECT_EQ(sent[i].rect, want[i].rect);
    EXPECT_EQ(sent[i].sharp, want[i].sharp);
  }
}

TEST(RsScreen, AFailedSendEndsTheStream) {
  RsScreenStream stream(32, 32);
  auto image = Image(32, 32);
  EXPECT_FALSE(stream.Frame(image.data(), [](const RsBlockRect&, bool) { return false; }));
}

// A flat area compresses into a small PNG; noise does not, and then goes out as JPEG 93.
TEST(RsScreen, SharpRectanglesArePngWhenSmallElseJpeg) {
  const int w = 64, h = 64;
  auto flat = Image(w, h, 200);
  auto noise = Image(w, h);
  uint32_t seed = 12345;
  for (auto& b : noise) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  struct Case {
    std::vector<uint8_t>* image;
    bool sharp;
    bool png;
  } cases[] = {{&flat, true, true}, {&noise, true, false}, {&flat, false, false}};
  for (const auto& c : cases) {
    std::string bytes;
    ASSERT_TRUE(EncodeScreenRect(c.image->data(), w * 4, 3, 16, 61, 47, c.sharp, 80, &bytes));
    EXPECT_EQ(bytes.substr(1, 3) == "PNG", c.png);
    if (c.png) EXPECT_LE(bytes.size(), static_cast<size_t>(61 * 47 * 0.1));
    int dw = 0, dh = 0;
    std::vector<uint8_t> bgr;
    ASSERT_TRUE(plat::DecodeImage(bytes, &dw, &dh, &bgr));
    EXPECT_EQ(dw, 61);
    EXPECT_EQ(dh, 47);
    if (c.image == &flat) EXPECT_NEAR(bgr[0], 200, 2);
  }
  std::string bytes = "old";
  EXPECT_FALSE(EncodeScreenRect(flat.data(), w * 4, 0, 0, 0, 5, false, 80, &bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(RsScreen, AreaAverageScaling) {
  // 4 × 2 to 2 × 1: each target pixel is the mean of a 2 × 2 block.
  auto source = Image(4, 2);
  SetPixel(source, 4, 0, 0, 100, 0, 0);
  SetPixel(source, 4, 1, 1, 200, 40, 0);
  SetPixel(source, 4, 3, 0, 0, 0, 255);
  auto target = Image(2, 1, 9);
  ScaleAreaAverage(source.data(), 4, 2, target.data(), 2, 1);
  const std::vector<uint8_t> want = {75, 10, 0, 0, 0, 0, 64, 0};
  EXPECT_EQ(target, want);
  // A third of the width: each target pixel is the mean of a 3 × 2 block.
  auto wide = Image(6, 2);
  SetPixel(wide, 6, 0, 0, 100, 0, 0);
  SetPixel(wide, 6, 1, 1, 200, 40, 0);
  SetPixel(wide, 6, 5, 0, 0, 0, 255);
  auto third = Image(2, 1, 9);
  ScaleAreaAverage(wide.data(), 6, 2, third.data(), 2, 1);
  EXPECT_EQ(third, (std::vector<uint8_t>{50, 7, 0, 0, 0, 0, 43, 0}));
  // 3 to 2 columns still covers every target pixel.
  auto odd = Image(3, 1, 90);
  auto two = Image(2, 1);
  ScaleAreaAverage(odd.data(), 3, 1, two.data(), 2, 1);
  EXPECT_EQ(two, (std::vector<uint8_t>{90, 90, 90, 0, 90, 90, 90, 0}));
}

TEST(RsScreen, CursorIsBlendedAndClipped) {
  auto image = Image(4, 4, 100);
  plat::CursorImage cursor;
  cursor.width = 2;
  cursor.height = 2;
  cursor.argb = {0xff0000ffu, 0x00000000u, 0x80404040u, 0xffffffffu};
  PaintCursor(image.data(), 4, 4, cursor, 3, -1);  // only the lower-left pixel lands, at (3, 0)
  const uint8_t* p = image.data() + 3 * 4;
  EXPECT_EQ(p[0], 64 + 50);
  EXPECT_EQ(p[2], 64 + 50);
  PaintCursor(image.data(), 4, 4, cursor, 0, 0);
  EXPECT_EQ(image[0], 255);  // blue
  EXPECT_EQ(image[2], 0);    // red
  EXPECT_EQ(image[4], 100);  // transparent
  cursor.argb.resize(1);     // too few pixels: nothing painted
  PaintCursor(image.data(), 4, 4, cursor, 2, 2);
  EXPECT_EQ(image[(2 * 4 + 2) * 4], 100);
}

namespace {

// A picture that changes everywhere on every capture.
class Flicker : public RsScreenSource {
 public:
  explicit Flicker(size_t bytes) : bytes_(bytes) {}
  bool Capture(uint8_t* image) override {
    std::memset(image, ++n_, bytes_);
    return true;
  }

 private:
  size_t bytes_;
  uint8_t n_ = 0;
};

}  // namespace

// The rate is read for every frame: at 2 frames a second the pictures come at least 500 ms apart.
// The stop ends the sender; a send into a closed connection ends it too.
TEST(RsScreen, SenderKeepsTheRateAndEndsOnStopOrBrokenConnection) {
  RsClient.RsCaptureRect = {0, 0, 64, 32};
  RsClient.RsSentWidth = 64;
  RsClient.RsSentHeight = 32;
  RsClient.SessionStopFlag = 0;
  RsClient.SupportConfig.framesPerSecond = 2;
  SetRsScreenSourceFactory([](const RsRect&, int w, int h) {
    return std::make_unique<Flicker>(static_cast<size_t>(w) * 4 * static_cast<size_t>(h));
  });
  int ends[2];
  ASSERT_TRUE(plat::SocketPair(&ends[0], &ends[1]));
  RsConnection connection;
  connection.socket = ends[0];
  const double start = plat::NowMs();
  std::thread sender([&] { RsScreenSender(connection); });
  const int frames = 3;
  for (int i = 0; i < frames; ++i) {
    auto f = RecvFrame(ends[1]);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->type, 2);
  }
  // At 2 frames a second the frames were sent at least 500 ms apart: however late each one is
  // read, the last cannot be read sooner than that after the sender's start.
  const double elapsed = plat::NowMs() - start;
  RsClient.SessionStopFlag = 1;
  sender.join();
  EXPECT_GE(elapsed, (frames - 1) * 500.0 - 20.0);

  // The viewer is gone: the next send fails and the sender returns by itself.
  RsClient.SessionStopFlag = 0;
  RsClient.SupportConfig.framesPerSecond = 15;
  plat::CloseSocket(ends[1]);
  RsScreenSender(connection);
  plat::CloseSocket(ends[0]);
  RsClient.SupportConfig.framesPerSecond = 8;
  InstallTestDesktop();
}
