#include "platform/image_codec.h"

#include <png.h>
#include <turbojpeg.h>

#include <cstring>
#include <limits>

namespace plat {

namespace {

// Images larger than this in either direction are refused (the wire carries 16-bit sizes).
constexpr int kMaxSide = 65535;

bool EncodePng(const uint8_t* rows, int rowBytes, int width, int height, std::string* out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_BGR;
  // The row stride counts components, which are single bytes here.
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rows, rowBytes, nullptr) || size == 0) {
    png_image_free(&image);
    return false;
  }
  out->resize(size);
  if (!png_image_write_to_memory(&image, out->data(), &size, 0, rows, rowBytes, nullptr)) {
    png_image_free(&image);
    out->clear();
    return false;
  }
  out->resize(size);
  return true;
}

bool EncodeJpeg(const uint8_t* rows, int rowBytes, int width, int height, int quality, std::string* out) {
  tjhandle handle = tjInitCompress();
  if (!handle) return false;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(handle, rows, width, rowBytes, height, TJPF_BGR, &buffer, &size, TJSAMP_444,
                                 quality, 0);
  const bool ok = result == 0 && buffer && size > 0;
  if (ok) out->assign(reinterpret_cast<const char*>(buffer), size);
  tjFree(buffer);
  tjDestroy(handle);
  return ok;
}

bool DecodePng(std::string_view bytes, int* width, int* height, std::vector<uint8_t>* bgr) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
  if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_BGR;
  bgr->assign(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, bgr->data(), 0, nullptr)) {
    png_image_free(&image);
    bgr->clear();
    return false;
  }
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return true;
}

bool DecodeJpeg(std::string_view bytes, int* width, int* height, std::vector<uint8_t>* bgr) {
  if (bytes.size() > std::numeric_limits<unsigned long>::max()) return false;
  tjhandle handle = tjInitDecompress();
  if (!handle) return false;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  int w = 0, h = 0, sampling = 0, colorspace = 0;
  bool ok = tjDecompressHeader3(handle, data, bytes.size(), &w, &h, &sampling, &colorspace) == 0 && w > 0 && h > 0 &&
            w <= kMaxSide && h <= kMaxSide;
  if (ok) {
    bgr->assign(static_cast<size_t>(w) * 3 * static_cast<size_t>(h), 0);
    ok = tjDecompress2(handle, data, bytes.size(), bgr->data(), w, w * 3, h, TJPF_BGR, 0) == 0;
  }
  tjDestroy(handle);
  if (!ok) {
    bgr->clear();
    return false;
  }
  *width = w;
  *height = h;
  return true;
}

}  // namespace

bool EncodeImage(const uint8_t* rows, int rowBytes, int width, int height, bool png, int quality, std::string* out) {
  out->clear();
  if (!rows || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || rowBytes < width * 3) return false;
  return png ? EncodePng(rows, rowBytes, width, height, out)
             : EncodeJpeg(rows, rowBytes, width, height, quality < 1 ? 1 : quality > 100 ? 100 : quality, out);
}

bool DecodeImage(std::string_view bytes, int* width, int* height, std::vector<uint8_t>* bgr) {
  static constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G'};
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), kPngSignature, 4) == 0) return DecodePng(bytes, width, height, bgr);
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xD8)
    return DecodeJpeg(bytes, width, height, bgr);
  return false;
}

}  // namespace plat
