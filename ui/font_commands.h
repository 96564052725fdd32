#pragma once
// The fonts folder for the page: its list and one font file as a data address, so the lyrics can
// use a font that is not installed (window thread).
#include <string>
#include <string_view>

void HandleListFonts(const std::wstring& m);
void HandleLoadCustomFont(const std::wstring& m);

// The MIME type of a font file by its extension ("font/ttf" for any other).
std::wstring FontMimeFromExt(std::wstring_view fileName);
// Standard Base64 with "=" padding and no line breaks.
std::wstring Base64Encode(std::string_view bytes);
