#pragma once
// Page assets handed to the page as data: the list of the custom fonts folder.
#include <string>

// "['a.ttf','b.otf']": the font files (.ttf .otf .ttc .woff .woff2, any case) of "<root>/fonts/"
// (created when missing), each name escaped,
// in folder order.
std::wstring ListFontFiles();

// "['NanumGothic','Noto Sans CJK KR',...]": the font families installed on this machine, those
// that cover Korean first, each name escaped.
std::wstring ListInstalledFontFamilies();
