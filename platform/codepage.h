#pragma once
// Byte encodings at the edge of the program: UTF-8 and the ANSI code page, which is the Korean
// code page 949 here (iconv "CP949"). Wide text is UTF-32 on this platform, holding the same code
// points as UTF-16 on Windows.
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace plat {

// Strict UTF-8: any invalid, overlong or surrogate sequence fails the whole conversion.
std::optional<std::wstring> DecodeUtf8Strict(std::string_view bytes);
// The same into `out` (sized exactly, reusing its storage); false, `out` unspecified, on failure.
bool DecodeUtf8StrictInto(std::string_view bytes, std::wstring& out);

// UTF-8 of every character; a lone surrogate or a value beyond U+10FFFF becomes U+FFFD.
std::string WideToUtf8Bytes(std::wstring_view text);

// Writes the UTF-8 of one character (1 to 4 bytes, same replacement rule) at `dst` and returns the
// end of what it wrote.
inline char* EncodeUtf8(char* dst, wchar_t wc) {
  auto cp = static_cast<unsigned long>(static_cast<std::make_unsigned_t<wchar_t>>(wc));
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    *dst++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *dst++ = static_cast<char>(0xC0 | (cp >> 6));
    *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *dst++ = static_cast<char>(0xE0 | (cp >> 12));
    *dst++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *dst++ = static_cast<char>(0xF0 | (cp >> 18));
    *dst++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *dst++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return dst;
}

// Strict UTF-8, else each invalid byte as U+FFFD (for names of files, never for content).
std::wstring Utf8BytesToWide(std::string_view bytes);

// The ANSI code page (949). Undecodable bytes become U+FFFD; unencodable characters become '?'.
std::wstring AnsiToWide(std::string_view bytes);
std::string WideToAnsi(std::wstring_view text);

// UTF-16 bytes (little or big endian) to wide text; unpaired surrogates become U+FFFD.
std::wstring Utf16BytesToWide(std::string_view bytes, bool bigEndian);

}  // namespace plat
