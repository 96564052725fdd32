#pragma once
// The external module's routing flags and note map. They are settings (their text forms are the
// "extRoute" and "extNoteMap" values of the settings file) and are read by the senders on the
// player's thread while the page may change them, so every entry is an atomic.
#include <array>
#include <atomic>
#include <string>
#include <string_view>

struct ExtRoutingState {
  // [port][channel] 1 = that channel goes to the external module only.
  std::array<std::array<std::atomic<int>, 16>, 2> ExtRouteFlags{};
  // Incoming note -> outgoing note, -1 unmapped.
  std::array<std::atomic<int>, 128> ExtNoteMap{};
};
extern ExtRoutingState ExtRouting;

std::wstring FormatExtNoteMap();
std::wstring FormatExtRouting();
void ParseExtNoteMap(std::wstring_view text);
void ParseExtRouting(std::wstring_view text);
