// Text forms of the external module's routing flags and note map, as the settings file keeps them.
#include "base/settings/ext_routing.h"

#include "base/text.h"

ExtRoutingState ExtRouting;

namespace {
// Every note starts unmapped.
const bool kNoteMapCleared = [] {
  for (auto& entry : ExtRouting.ExtNoteMap) entry.store(-1, std::memory_order_relaxed);
  return true;
}();
}  // namespace

void ParseExtRouting(std::wstring_view text) {
  for (size_t port = 0; port < 2; ++port)
    for (size_t ch = 0; ch < 16; ++ch) {
      size_t pos = port * 16 + ch;
      ExtRouting.ExtRouteFlags[port][ch] = pos < text.size() && text[pos] == L'1' ? 1 : 0;
    }
}

std::wstring FormatExtRouting() {
  std::wstring out;
  for (const auto& port : ExtRouting.ExtRouteFlags)
    for (const auto& flag : port) out += flag.load() ? L'1' : L'0';
  return out;
}

void ParseExtNoteMap(std::wstring_view text) {
  for (auto& entry : ExtRouting.ExtNoteMap) entry.store(-1);
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(L',', start);
    std::wstring_view piece =
        text.substr(start, comma == std::wstring_view::npos ? std::wstring_view::npos : comma - start);
    if (size_t gt = piece.find(L'>'); gt != std::wstring_view::npos) {
      int in = LeadingInt(piece.substr(0, gt));
      int out = LeadingInt(piece.substr(gt + 1));
      if (in >= 0 && in <= 127 && out >= 0 && out <= 127) ExtRouting.ExtNoteMap[in] = out;
    }
    if (comma == std::wstring_view::npos) break;
    start = comma + 1;
  }
}

std::wstring FormatExtNoteMap() {
  std::wstring out;
  for (int in = 0; in < 128; ++in) {
    if (ExtRouting.ExtNoteMap[in] < 0) continue;
    if (!out.empty()) out += L',';
    out += std::to_wstring(in) + L'>' + std::to_wstring(ExtRouting.ExtNoteMap[in]);
  }
  return out;
}
