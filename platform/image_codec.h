#pragma once
// JPEG and PNG in memory for the remote-support screen stream (libturbojpeg, libpng).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// Encodes 24-bit rows (blue, green, red; `rowBytes` apart, top row first) as PNG, or as JPEG with
// 4:4:4 sampling at `quality` (1..100). False and no bytes when any step fails.
bool EncodeImage(const uint8_t* rows, int rowBytes, int width, int height, bool png, int quality, std::string* out);

// Decodes one JPEG or PNG file into 24-bit rows (blue, green, red, width × 3 bytes apart). False
// for anything else.
bool DecodeImage(std::string_view bytes, int* width, int* height, std::vector<uint8_t>* bgr);

}  // namespace plat
