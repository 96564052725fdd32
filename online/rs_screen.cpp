#include "online/rs_screen.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "online/rs_session.h"
#include "platform/image_codec.h"

namespace {

std::mutex sourceMutex;
RsScreenSourceFactory sourceFactory;

// The desktop: the capture rectangle grabbed, scaled to the sent size, with the cursor.
class DesktopSource : public RsScreenSource {
 public:
  DesktopSource(const RsRect& capture, int width, int height) : capture_(capture), width_(width), height_(height) {
    open_ = grabber_.Open({capture.left, capture.top, capture.right, capture.bottom});
  }
  bool Capture(uint8_t* image) override {
    if (!open_) return false;
    const uint8_t* pixels = grabber_.Grab();
    if (!pixels) return false;
    const int cw = capture_.right - capture_.left, ch = capture_.bottom - capture_.top;
    if (cw == width_ && ch == height_)
      std::memcpy(image, pixels, static_cast<size_t>(width_) * 4 * static_cast<size_t>(height_));
    else
      ScaleAreaAverage(pixels, cw, ch, image, width_, height_);
    if (grabber_.Cursor(&cursor_)) {
      const int x = static_cast<int>(static_cast<double>(cursor_.x - cursor_.hotX - capture_.left) * width_ / cw);
      const int y = static_cast<int>(static_cast<double>(cursor_.y - cursor_.hotY - capture_.top) * height_ / ch);
      PaintCursor(image, width_, height_, cursor_, x, y);
    }
    return true;
  }
  bool open() const { return open_; }

 private:
  RsRect capture_;
  int width_, height_;
  plat::ScreenGrabber grabber_;
  plat::CursorImage cursor_;
  bool open_ = false;
};

std::unique_ptr<RsScreenSource> OpenSource(const RsRect& capture, int width, int height) {
  {
    std::lock_guard lock(sourceMutex);
    if (sourceFactory) return sourceFactory(capture, width, height);
  }
  return OpenDesktopScreenSource(capture, width, height);
}

// Sleeps until `until`, ending early once the session stops.
void SleepUntil(std::chrono::steady_clock::time_point until) {
  while (!RsClient.SessionStopFlag.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(50)));
  }
}

}  // namespace

RsBlockRect FindChangedBlocks(const uint8_t* current, const uint8_t* reference, int width, int height) {
  // Whole rows are compared first: on a still screen (the common case) that is one long compare
  // per row. Only a row that differs is looked at block by block, from each end, for the first
  // and the last block it touches; the box of those blocks over all rows is the box of the
  // changed blocks.
  const size_t stride = static_cast<size_t>(width) * 4;
  int left = width, top = height, right = 0, bottom = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* a = current + static_cast<size_t>(y) * stride;
    const uint8_t* b = reference + static_cast<size_t>(y) * stride;
    if (std::memcmp(a, b, stride) == 0) continue;
    auto differs = [&](int bx) {
      const int bw = std::min(kRsBlockSize, width - bx);
      const size_t at = static_cast<size_t>(bx) * 4;
      return std::memcmp(a + at, b + at, static_cast<size_t>(bw) * 4) != 0;
    };
    int first = 0;
    while (first < left && !differs(first)) first += kRsBlockSize;
    left = std::min(left, first);
    int last = (width - 1) / kRsBlockSize * kRsBlockSize;
    while (last + kRsBlockSize > right && last > 0 && !differs(last)) last -= kRsBlockSize;
    right = std::max(right, std::min(width, last + kRsBlockSize));
    const int band = y / kRsBlockSize * kRsBlockSize;
    top = std::min(top, band);
    bottom = std::max(bottom, std::min(height, band + kRsBlockSize));
  }
  if (right <= left || bottom <= top) return {};
  return {left, top, right - left, bottom - top};
}

void ScaleAreaAverage(const uint8_t* source, int sourceWidth, int sourceHeight, uint8_t* target, int targetWidth,
                      int targetHeight) {
  if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0) return;
  if (sourceWidth == targetWidth * 2 && sourceHeight == targetHeight * 2) {
    // Half size, the common case: each target pixel is the mean of a 2 × 2 block.
    const size_t sourceStride = static_cast<size_t>(sourceWidth) * 4;
    for (int ty = 0; ty < targetHeight; ++ty) {
      const uint8_t* a = source + static_cast<size_t>(ty) * 2 * sourceStride;
      const uint8_t* b = a + sourceStride;
      uint8_t* out = target + static_cast<size_t>(ty) * static_cast<size_t>(targetWidth) * 4;
      for (int tx = 0; tx < targetWidth; ++tx, a += 8, b += 8, out += 4) {
        for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((a[c] + a[c + 4] + b[c] + b[c + 4] + 2) / 4);
        out[3] = 0;
      }
    }
    return;
  }
  // Each target pixel covers source columns [edge[x], edge[x + 1]) (at least one).
  auto edges = [](int from, int to) {
    std::vector<int> e(static_cast<size_t>(to) + 1);
    for (int i = 0; i <= to; ++i) e[static_cast<size_t>(i)] = static_cast<int>(static_cast<int64_t>(i) * from / to);
    for (int i = 0; i < to; ++i)
      if (e[static_cast<size_t>(i) + 1] <= e[static_cast<size_t>(i)])
        e[static_cast<size_t>(i) + 1] = std::min(e[static_cast<size_t>(i)] + 1, from);
    return e;
  };
  const std::vector<int> xs = edges(sourceWidth, targetWidth), ys = edges(sourceHeight, targetHeight);
  const size_t sourceStride = static_cast<size_t>(sourceWidth) * 4;
  std::vector<uint32_t> sums(static_cast<size_t>(sourceWidth) * 3);
  for (int ty = 0; ty < targetHeight; ++ty) {
    int y0 = ys[static_cast<size_t>(ty)], y1 = ys[static_cast<size_t>(ty) + 1];
    if (y0 >= sourceHeight) y0 = sourceHeight - 1;
    if (y1 <= y0) y1 = y0 + 1;
    std::fill(sums.begin(), sums.end(), 0u);
    for (int y = y0; y < y1; ++y) {
      const uint8_t* row = source + static_cast<size_t>(y) * sourceStride;
      for (int x = 0; x < sourceWidth; ++x) {
        sums[static_cast<size_t>(x) * 3] += row[x * 4];
        sums[static_cast<size_t>(x) * 3 + 1] += row[x * 4 + 1];
        sums[static_cast<size_t>(x) * 3 + 2] += row[x * 4 + 2];
      }
    }
    uint8_t* out = target + static_cast<size_t>(ty) * static_cast<size_t>(targetWidth) * 4;
    for (int tx = 0; tx < targetWidth; ++tx) {
      int x0 = xs[static_cast<size_t>(tx)], x1 = xs[static_cast<size_t>(tx) + 1];
      if (x0 >= sourceWidth) x0 = sourceWidth - 1;
      if (x1 <= x0) x1 = x0 + 1;
      uint32_t b = 0, g = 0, r = 0;
      for (int x = x0; x < x1; ++x) {
        b += sums[static_cast<size_t>(x) * 3];
        g += sums[static_cast<size_t>(x) * 3 + 1];
        r += sums[static_cast<size_t>(x) * 3 + 2];
      }
      const uint32_t n = static_cast<uint32_t>((x1 - x0) * (y1 - y0));
      out[tx * 4] = static_cast<uint8_t>((b + n / 2) / n);
      out[tx * 4 + 1] = static_cast<uint8_t>((g + n / 2) / n);
      out[tx * 4 + 2] = static_cast<uint8_t>((r + n / 2) / n);
      out[tx * 4 + 3] = 0;
    }
  }
}

void PaintCursor(uint8_t* image, int width, int height, const plat::CursorImage& cursor, int x, int y) {
  if (cursor.argb.size() < static_cast<size_t>(cursor.width) * static_cast<size_t>(cursor.height)) return;
  for (int cy = 0; cy < cursor.height; ++cy) {
    const long iy = static_cast<long>(y) + cy;
    if (iy < 0 || iy >= height) continue;
    for (int cx = 0; cx < cursor.width; ++cx) {
      const long ix = static_cast<long>(x) + cx;
      if (ix < 0 || ix >= width) continue;
      const uint32_t p = cursor.argb[static_cast<size_t>(cy) * static_cast<size_t>(cursor.width) + static_cast<size_t>(cx)];
      const uint32_t a = p >> 24;
      if (a == 0) continue;
      uint8_t* d = image + (static_cast<size_t>(iy) * static_cast<size_t>(width) + static_cast<size_t>(ix)) * 4;
      const uint32_t keep = 255 - a;
      for (int c = 0; c < 3; ++c) {
        const uint32_t s = (p >> (8 * c)) & 0xff;  // blue, green, red
        d[c] = static_cast<uint8_t>(std::min<uint32_t>(255, s + (d[c] * keep + 127) / 255));
      }
    }
  }
}

bool EncodeScreenRect(const uint8_t* image, int rowBytes, int x, int y, int width, int height, bool sharp, int quality,
                      std::string* out) {
  out->clear();
  if (width <= 0 || height <= 0 || x < 0 || y < 0) return false;
  // 24-bit rows, each padded to a multiple of 4 bytes.
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  std::vector<uint8_t> rows(stride * static_cast<size_t>(height), 0);
  for (int row = 0; row < height; ++row) {
    const uint8_t* in = image + static_cast<size_t>(y + row) * static_cast<size_t>(rowBytes) + static_cast<size_t>(x) * 4;
    uint8_t* o = rows.data() + static_cast<size_t>(row) * stride;
    for (int i = 0; i < width; ++i) {
      o[i * 3] = in[i * 4];
      o[i * 3 + 1] = in[i * 4 + 1];
      o[i * 3 + 2] = in[i * 4 + 2];
    }
  }
  const int rowStride = static_cast<int>(stride);
  if (sharp) {
    const auto limit = static_cast<size_t>(static_cast<double>(width) * height * 0.1);
    if (plat::EncodeImage(rows.data(), rowStride, width, height, true, 0, out) && out->size() <= limit) return true;
    return plat::EncodeImage(rows.data(), rowStride, width, height, false, kRsSharpJpegQuality, out);
  }
  return plat::EncodeImage(rows.data(), rowStride, width, height, false, quality, out);
}

RsScreenStream::RsScreenStream(int width, int height)
    : width_(width), height_(height), reference_(static_cast<size_t>(width) * 4 * static_cast<size_t>(height), 0) {}

bool RsScreenStream::Frame(const uint8_t* current, const SendFn& send) {
  const bool keyFrame = frame_ % kRsKeyFrameEvery == 0;
  const RsBlockRect rect =
      keyFrame ? RsBlockRect{0, 0, width_, height_} : FindChangedBlocks(current, reference_.data(), width_, height_);
  if (!rect.empty()) {
    if (!send(rect, false)) return false;
    std::memcpy(reference_.data(), current, reference_.size());
    last_ = rect;
    sharpPending_ = !keyFrame;
    idle_ = 0;
  } else {
    ++idle_;
    if (sharpPending_ && idle_ >= kRsSharpAfterIdleFrames) {
      if (!send(last_, true)) return false;
      sharpPending_ = false;
    }
  }
  ++frame_;
  return true;
}

std::unique_ptr<RsScreenSource> OpenDesktopScreenSource(const RsRect& capture, int width, int height) {
  auto desktop = std::make_unique<DesktopSource>(capture, width, height);
  if (!desktop->open()) return nullptr;
  return desktop;
}

void SetRsScreenSourceFactory(RsScreenSourceFactory factory) {
  std::lock_guard lock(sourceMutex);
  sourceFactory = std::move(factory);
}

bool SendScreenRect(RsConnection& connection, const uint8_t* image, int imageWidth, const RsBlockRect& rect, bool sharp) {
  if (rect.empty()) return true;
  std::string bytes;
  if (!EncodeScreenRect(image, imageWidth * 4, rect.x, rect.y, rect.width, rect.height, sharp,
                        RsClient.SupportConfig.quality.load(), &bytes))
    return true;
  if (bytes.size() > kRsMaxFrameLength - 12) return true;  // the viewer would refuse the frame
  const std::string payload =
      BuildScreenRectPayload(static_cast<uint16_t>(rect.x), static_cast<uint16_t>(rect.y),
                             static_cast<uint16_t>(rect.width), static_cast<uint16_t>(rect.height), bytes);
  return SendRsFrame(connection, RsMessageType::ScreenRect, payload.data(), payload.size());
}

void RsScreenSender(RsConnection& connection) {
  const RsRect capture = RsClient.RsCaptureRect;
  const int width = RsClient.RsSentWidth, height = RsClient.RsSentHeight;
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535 || capture.right <= capture.left ||
      capture.bottom <= capture.top)
    return;
  std::unique_ptr<RsScreenSource> source = OpenSource(capture, width, height);
  if (!source) return;
  std::vector<uint8_t> image(static_cast<size_t>(width) * 4 * static_cast<size_t>(height), 0);
  RsScreenStream stream(width, height);
  const auto send = [&](const RsBlockRect& rect, bool sharp) {
    return SendScreenRect(connection, image.data(), width, rect, sharp);
  };
  while (!RsClient.SessionStopFlag.load()) {
    const auto t0 = std::chrono::steady_clock::now();
    // A failed grab keeps the last picture; the stream goes on.
    source->Capture(image.data());
    if (!stream.Frame(image.data(), send)) break;
    int fps = RsClient.SupportConfig.framesPerSecond.load();
    if (fps <= 0) fps = 1;
    SleepUntil(t0 + std::chrono::milliseconds(1000 / fps));
  }
}

void RunScreenSender(RsConnection& connection) { RsScreenSender(connection); }

std::atomic<int> RsCustomerBrowserGroup{0};

RsRect CaptureMonitorRect() {
  const plat::ScreenRect r = plat::CaptureMonitor(RsCustomerBrowserGroup.load());
  return {r.left, r.top, r.right, r.bottom};
}
