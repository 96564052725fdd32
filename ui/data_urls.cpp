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

// Appends the Base64 text of the bytes to `out` (wide or UTF-8 text).
template <typename Text, typename Byte>
void AppendBase64(Text& out, const Byte* data, size_t size) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t o = out.size(), i = 0;
  out.resize(o + (size + 2) / 3 * 4);
  for (; i + 3 <= size; i += 3) {
    const uint32_t v = (uint32_t(uint8_t(data[i])) << 16) | (uint32_t(uint8_t(data[i + 1])) << 8) |
                       uint32_t(uint8_t(data[i + 2]));
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  const size_t rest = size - i;
  if (rest > 0) {
    uint32_t v = uint32_t(uint8_t(data[i])) << 16;
    if (rest == 2) v |= uint32_t(uint8_t(data[i + 1])) << 8;
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out[o++] = '=';
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

std::string MakeDataUrlUtf8(std::wstring_view installPath) {
  const auto real = plat::RealPath(installPath);
  if (real.empty()) return {};
  const auto bytes = plat::ReadFileBytes(real);
  if (!bytes || bytes->empty()) return {};
  std::string out = "data:" + WideToUtf8(ImageMimeFromExt(installPath)) + ";base64,";
  out.reserve(out.size() + (bytes->size() + 2) / 3 * 4);
  AppendBase64(out, bytes->data(), bytes->size());
  return out;
}

std::wstring MakeFontDataUrl(std::wstring_view fileName) {
  // A name from the page stays inside the fonts folder.
  if (fileName.empty() || fileName.find(L'/') != std::wstring_view::npos ||
      fileName.find(L'\\') != std::wstring_view::npos || fileName == L"." || fileName == L"..")
    return {};
  return DataUrl(FontMimeFromExt(fileName), ReadFileBytes(L"C:/tavelo/fonts/" + std::wstring(fileName)));
}
