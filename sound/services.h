#pragma once
// What the rest of the program calls in the MIDI output and sound control. Functions that are not
// built yet have a body in placeholders.cpp that logs once and returns the failure value.
#include <array>
#include <string>
#include <string_view>

// External module routing: [port][channel] 1 = that channel goes to the external module only.
extern std::array<std::array<int, 16>, 2> ExtRouteFlags;
// External module note map: incoming note -> outgoing note, -1 unmapped.
extern std::array<int, 128> ExtNoteMap;

std::wstring FormatExtNoteMap();
std::wstring FormatExtRouting();
void ParseExtNoteMap(std::wstring_view text);
void ParseExtRouting(std::wstring_view text);
// Up to the first NUL, characters below U+0020 dropped, then blanks, tabs, CR and LF trimmed.
std::wstring StripControlAndTrim(std::wstring_view text);
