// Background pictures of the demo library, drawn here as 24-bit BMP files so a new install shows
// the song screen over a picture at once.
#include <cmath>
#include <cstdint>
#include <string>

#include "tools/demo_songs.h"

namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xff);
  out += static_cast<char>((v >> 8) & 0xff);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

uint8_t Clamp8(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

std::string BuildDemoPicture(DemoPicture kind, int width, int height) {
  const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  const uint32_t pixelBytes = rowBytes * static_cast<uint32_t>(height);
  std::string out;
  out.reserve(54 + pixelBytes);
  out += "BM";
  Put32(out, 54 + pixelBytes);
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);
  Put32(out, pixelBytes);
  Put32(out, 2835);
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = 0; y < height; ++y) {  // bottom row first
    const double fy = 1.0 - static_cast<double>(y) / height;
    std::string row;
    for (int x = 0; x < width; ++x) {
      const double fx = static_cast<double>(x) / width;
      double r, g, b;
      if (kind == DemoPicture::kStage) {
        // A dark stage: blue-violet towards the floor, two warm spot lights from above.
        r = 30 + 50 * fy;
        g = 18 + 20 * fy;
        b = 60 + 40 * (1 - fy);
        for (double cx : {0.3, 0.72}) {
          const double d = std::hypot((fx - cx) * 1.6, fy - 0.15);
          const double light = std::exp(-d * d * 6.0);
          r += 200 * light;
          g += 150 * light;
          b += 70 * light;
        }
      } else {
        // Brushed steel for the top bar.
        const double band = 0.5 + 0.5 * std::sin(fy * 3.14159);
        const double grain = 6 * std::sin(fx * 900.0 + fy * 13.0);
        r = 90 + 80 * band + grain;
        g = 95 + 80 * band + grain;
        b = 102 + 80 * band + grain;
      }
      row += static_cast<char>(Clamp8(b));
      row += static_cast<char>(Clamp8(g));
      row += static_cast<char>(Clamp8(r));
    }
    row.resize(rowBytes, '\0');
    out += row;
  }
  return out;
}
