#include "ui/data_urls.h"

#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

// Lower-cased extension after the last ".", empty without one.
std::wstring LowerExt(std::wstring_view name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos) return {};
  std::wstring ext(name.substr(dot + 1));
  for (auto& c : ext)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return ext;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two Base64 characters of every 12-bit value: a 3 MB picture is encoded two characters
// per look-up.
struct Base64Pairs {
  char pair[4096][2];
  constexpr Base64Pairs() : pair() {
    for (int v = 0; v < 4096; ++v) {
      pair[v][0] = kAlphabet[v >> 6];
      pair[v][1] = kAlphabet[v & 63];
    }
  }
};
constexpr Base64Pairs kPairs;

// Appends the Base64 text of the bytes to `out` (wide or UTF-8 text), growing it by exactly the
// encoded length plus `spare` characters of capacity for what the caller appends next.
template <typename Text, typename Byte>
void AppendBase64(Text& out, const Byte* data, size_t size, size_t spare = 0) {
  const size_t start = out.size();
  const size_t encoded = (size + 2) / 3 * 4;
  out.reserve(start + encoded + spare);
  out.resize(start + encoded);
  auto* o = out.data() + start;
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const uint32_t v = (uint32_t(uint8_t(data[i])) << 16) | (uint32_t(uint8_t(data[i + 1])) << 8) |
                       uint32_t(uint8_t(data[i + 2]));
    const char* hi = kPairs.pair[v >> 12];
    const char* lo = kPairs.pair[v & 4095];
    o[0] = hi[0];
    o[1] = hi[1];
    o[2] = lo[0];
    o[3] = lo[1];
    o += 4;
  }
  const size_t rest = size - i;
  if (rest > 0) {
    uint32_t v = uint32_t(uint8_t(data[i])) << 16;
    if (rest == 2) v |= uint32_t(uint8_t(data[i + 1])) << 8;
    o[0] = kAlphabet[(v >> 18) & 63];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    o[3] = '=';
  }
}

template <typename Byte>
std::wstring EncodeBase64(const Byte* data, size_t size) {
  std::wstring out;
  AppendBase64(out, data, size);
  return out;
}

std::wstring DataUrl(const std::wstring& mime, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return {};
  return L"data:" + mime + L";base64," + Base64Encode(bytes);
}

}  // namespace

std::vector<uint8_t> ReadFileBytes(std::wstring_view installPath) {
  const auto real = plat::RealPath(installPath);
  if (real.empty()) return {};
  const auto bytes = plat::ReadFileBytes(real);
  if (!bytes) return {};
  return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

std::wstring Base64Encode(const std::vector<uint8_t>& bytes) { return EncodeBase64(bytes.data(), bytes.size()); }
std::wstring Base64Encode(std::string_view bytes) { return EncodeBase64(bytes.data(), bytes.size()); }

std::wstring ImageMimeFromExt(std::wstring_view path) {
  const std::wstring ext = LowerExt(path);
  if (ext == L"png") return L"image/png";
  if (ext == L"webp") return L"image/webp";
  if (ext == L"gif") return L"image/gif";
  if (ext == L"bmp") return L"image/bmp";
  return L"image/jpeg";
}

std::wstring FontMimeFromExt(std::wstring_view fileName) {
  const std::wstring ext = LowerExt(fileName);
  if (ext == L"otf") return L"font/otf";
  if (ext == L"woff") return L"font/woff";
  if (ext == L"woff2") return L"font/woff2";
  return L"font/ttf";
}

std::wstring MakeDataUrl(std::wstring_view installPath) {
  return DataUrl(ImageMimeFromExt(installPath), ReadFileBytes(installPath));
}

bool AppendDataUrlUtf8(std::string& out, std::wstring_view installPath, size_t spare) {
  const auto real = plat::RealPath(installPath);
  if (real.empty()) return false;
  const auto bytes = plat::ReadFileBytes(real);
  if (!bytes || bytes->empty()) return false;
  out += "data:";
  out += WideToUtf8(ImageMimeFromExt(installPath));
  out += ";base64,";
  AppendBase64(out, bytes->data(), bytes->size(), spare);
  return true;
}

std::wstring MakeFontDataUrl(std::wstring_view fileName) {
  // A name from the page stays inside the fonts folder.
  if (fileName.empty() || fileName.find(L'/') != std::wstring_view::npos ||
      fileName.find(L'\\') != std::wstring_view::npos || fileName == L"." || fileName == L"..")
    return {};
  return DataUrl(FontMimeFromExt(fileName), ReadFileBytes(L"<root>/fonts/" + std::wstring(fileName)));
}
