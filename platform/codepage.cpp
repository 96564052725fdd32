#include "platform/codepage.h"

#include <cerrno>
#include <iconv.h>
#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

namespace plat {

std::optional<std::wstring> DecodeUtf8Strict(std::string_view s) {
  std::wstring out;
  if (!DecodeUtf8StrictInto(s, out)) return std::nullopt;
  return out;
}

bool DecodeUtf8StrictInto(std::string_view s, std::wstring& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  // Every byte that is not a continuation byte starts one character.
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) count += (p[i] & 0xC0) != 0x80;
  out.resize(count);
  size_t i = 0, k = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
      if (k == count) return false;
      out[k++] = static_cast<wchar_t>(c);
      ++i;
      continue;
    }
    size_t len;
    unsigned cp, min;
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
    else return false;
    if (i + len > n || k == count) return false;
    for (size_t j = 1; j < len; ++j) {
      if ((p[i + j] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + j] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out[k++] = static_cast<wchar_t>(cp);
    i += len;
  }
  return k == count;
}

std::string WideToUtf8Bytes(std::wstring_view w) {
  std::string out;
  out.reserve(w.size() + w.size() / 2);
  char buf[1024];
  char* end = buf;
  for (wchar_t wc : w) {
    if (end > buf + sizeof buf - 4) {
      out.append(buf, end);
      end = buf;
    }
    end = EncodeUtf8(end, wc);
  }
  out.append(buf, end);
  return out;
}

std::wstring Utf8BytesToWide(std::string_view s) {
  if (auto w = DecodeUtf8Strict(s)) return *w;
  std::wstring out;
  for (size_t i = 0; i < s.size();) {
    // Decode one character at a time; a byte that does not start a valid sequence is U+FFFD.
    size_t len = 1;
    auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0xC0 && c < 0xE0) len = 2;
    else if (c >= 0xE0 && c < 0xF0) len = 3;
    else if (c >= 0xF0 && c < 0xF8) len = 4;
    if (c >= 0x80 && i + len <= s.size()) {
      if (auto w = DecodeUtf8Strict(s.substr(i, len)); w && len > 1) {
        out += *w;
        i += len;
        continue;
      }
    }
    out.push_back(c < 0x80 ? static_cast<wchar_t>(c) : L'\uFFFD');
    ++i;
  }
  return out;
}

namespace {

// iconv descriptors are not thread-safe, so each conversion opens its own.
std::string IconvConvert(const char* to, const char* from, std::string_view in, bool& ok) {
  ok = false;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  ok = true;
  while (srcLeft > 0) {
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = out.size() - dstLeft;
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dstLeft = out.size() - used;
    } else {
      ok = false;
      break;
    }
  }
  out.resize(out.size() - dstLeft);
  iconv_close(cd);
  return out;
}

std::wstring Utf32LeToWide(const std::string& bytes) {
  std::wstring w(bytes.size() / 4, L'\0');
  if constexpr (sizeof(wchar_t) == 4 && std::endian::native == std::endian::little) {
    std::memcpy(w.data(), bytes.data(), w.size() * 4);
    return w;
  }
  for (size_t i = 0; i < w.size(); ++i) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = (v << 8) | static_cast<unsigned char>(bytes[i * 4 + k]);
    w[i] = static_cast<wchar_t>(v);
  }
  return w;
}

}  // namespace

std::wstring AnsiToWide(std::string_view bytes) {
  if (bytes.empty()) return {};
  iconv_t cd = iconv_open("UTF-32LE", "CP949");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::wstring(bytes.size(), L'\uFFFD');
  // One descriptor for the whole text: a byte that starts no valid character becomes U+FFFD and
  // the conversion goes on after it, so invalid text costs about as much as valid text.
  std::string u32(bytes.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(bytes.data());
  size_t srcLeft = bytes.size();
  char* dst = u32.data();
  size_t dstLeft = u32.size();
  static constexpr char kReplacement[4] = {'\xFD', '\xFF', '\0', '\0'};
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      const size_t used = u32.size() - dstLeft;
      u32.resize(u32.size() * 2);
      dst = u32.data() + used;
      dstLeft = u32.size() - used;
      continue;
    }
    // EILSEQ or a truncated pair at the end: replace one byte and restart from a clean state.
    if (dstLeft < 4) {
      const size_t used = u32.size() - dstLeft;
      u32.resize(u32.size() * 2);
      dst = u32.data() + used;
      dstLeft = u32.size() - used;
    }
    std::copy(kReplacement, kReplacement + 4, dst);
    dst += 4;
    dstLeft -= 4;
    ++src;
    --srcLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  u32.resize(u32.size() - dstLeft);
  return Utf32LeToWide(u32);
}

std::string WideToAnsi(std::wstring_view text) {
  std::string out;
  for (wchar_t wc : text) {
    if (static_cast<unsigned long>(wc) < 0x80) {
      out.push_back(static_cast<char>(wc));
      continue;
    }
    std::string u8 = WideToUtf8Bytes(std::wstring_view(&wc, 1));
    bool ok = false;
    std::string enc = IconvConvert("CP949", "UTF-8", u8, ok);
    out += ok && !enc.empty() ? enc : std::string("?");
  }
  return out;
}

std::wstring Utf16BytesToWide(std::string_view b, bool bigEndian) {
  std::wstring out;
  out.reserve(b.size() / 2);
  auto unit = [&](size_t i) -> unsigned {
    auto hi = static_cast<unsigned char>(b[bigEndian ? i : i + 1]);
    auto lo = static_cast<unsigned char>(b[bigEndian ? i + 1 : i]);
    return (hi << 8) | lo;
  };
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    unsigned u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < b.size()) {
      unsigned u2 = unit(i + 2);
      if (u2 >= 0xDC00 && u2 <= 0xDFFF) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00)));
        i += 2;
        continue;
      }
    }
    out.push_back(u >= 0xD800 && u <= 0xDFFF ? L'\uFFFD' : static_cast<wchar_t>(u));
  }
  return out;
}

}  // namespace plat
