#pragma once
// The screen stream of a remote-support session: the sent image is captured, the cursor painted
// in, and only the bounding box of the changed 16 × 16 blocks goes to the viewer, as JPEG at the
// session's quality; every 120th frame is the whole image, and a still screen gets the last change
// once more in a sharp form. Images are rows of width × 4 bytes (blue, green, red, unused).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "online/rs_state.h"
#include "online/rs_wire.h"
#include "platform/screen_capture.h"

struct RsBlockRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
  bool operator==(const RsBlockRect&) const = default;
};

inline constexpr int kRsBlockSize = 16;
inline constexpr int kRsKeyFrameEvery = 120;
inline constexpr int kRsSharpAfterIdleFrames = 4;
inline constexpr int kRsSharpJpegQuality = 93;

// The bounding box of the 16 × 16 blocks (cut at the right and bottom edges) in which any row
// differs from the reference; empty when none does.
RsBlockRect FindChangedBlocks(const uint8_t* current, const uint8_t* reference, int width, int height);

// Scales a picture by averaging the source pixels that fall on each target pixel.
void ScaleAreaAverage(const uint8_t* source, int sourceWidth, int sourceHeight, uint8_t* target, int targetWidth,
                      int targetHeight);

// Paints the cursor (premultiplied alpha) with its top-left corner at (x, y), clipped to the image.
void PaintCursor(uint8_t* image, int width, int height, const plat::CursorImage& cursor, int x, int y);

// The rectangle as one image file: sharp gives PNG when that has at most a tenth of the pixel
// count in bytes, else JPEG 93; otherwise JPEG at `quality`. False when it cannot be encoded.
bool EncodeScreenRect(const uint8_t* image, int rowBytes, int x, int y, int width, int height, bool sharp, int quality,
                      std::string* out);

// The loop state of one session's stream: which rectangle each frame sends.
class RsScreenStream {
 public:
  // Sends one rectangle of the current image; false when the send failed.
  using SendFn = std::function<bool(const RsBlockRect& rect, bool sharp)>;
  RsScreenStream(int width, int height);
  // One frame of the current image: the key frame, the changed blocks or the sharp repeat. False
  // when a send failed (the stream then ends).
  bool Frame(const uint8_t* current, const SendFn& send);
  int frameCount() const { return frame_; }

 private:
  int width_, height_;
  std::vector<uint8_t> reference_;
  int frame_ = 0;
  int idle_ = 0;
  bool sharpPending_ = false;
  RsBlockRect last_;
};

// Where the sender's pictures come from: the desktop, unless a test installs its own.
class RsScreenSource {
 public:
  virtual ~RsScreenSource() = default;
  // Fills the sent-size image (width × 4 bytes a row); false when nothing can be captured.
  virtual bool Capture(uint8_t* image) = 0;
};
using RsScreenSourceFactory = std::function<std::unique_ptr<RsScreenSource>(const RsRect& capture, int width, int height)>;
// The desktop's capture rectangle scaled to the sent size, with the cursor; null when the desktop
// cannot be grabbed.
std::unique_ptr<RsScreenSource> OpenDesktopScreenSource(const RsRect& capture, int width, int height);
// Installs another source of pictures (nullptr: the desktop again).
void SetRsScreenSourceFactory(RsScreenSourceFactory factory);

// Encodes the rectangle of the current image and sends it as one ScreenRect frame; false only
// when the send fails (an empty or unencodable rectangle is skipped).
bool SendScreenRect(RsConnection& connection, const uint8_t* image, int imageWidth, const RsBlockRect& rect, bool sharp);

// The customer browser's process group (0: none): its window is not the main window whose
// monitor a session captures. Set by the customer window.
extern std::atomic<int> RsCustomerBrowserGroup;

// Captures and sends until SessionStopFlag is set or a send fails.
void RsScreenSender(RsConnection& connection);
