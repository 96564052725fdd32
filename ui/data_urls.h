#pragma once
// Files handed to the page as data: addresses ("data:<type>;base64,<bytes>"), since the page
// reaches the install folder only through the media routes. Pure functions of their argument and
// the disk.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The whole file at an install path, or nothing when it cannot be opened or is empty.
std::vector<uint8_t> ReadFileBytes(std::wstring_view installPath);

// Standard Base64 (basic alphabet, "=" padding, no line breaks).
std::wstring Base64Encode(const std::vector<uint8_t>& bytes);
std::wstring Base64Encode(std::string_view bytes);

// The media type of a picture by its extension (after the last ".", any case); JPEG otherwise.
std::wstring ImageMimeFromExt(std::wstring_view path);
// The media type of a font file by its extension; TrueType otherwise.
std::wstring FontMimeFromExt(std::wstring_view fileName);

// "data:<image type>;base64,..." of the picture at the install path, empty when it has no bytes.
std::wstring MakeDataUrl(std::wstring_view installPath);
// Appends the same as UTF-8 text to `out`, with capacity for `spare` more characters, so that
// a script around a 3 MB picture is built in one buffer without wide or whole copies. False
// (nothing appended) when the picture has no bytes.
bool AppendDataUrlUtf8(std::string& out, std::wstring_view installPath, size_t spare = 0);
// The same for a font file of the fonts folder (name without folder), empty without bytes.
std::wstring MakeFontDataUrl(std::wstring_view fileName);
