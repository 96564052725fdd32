#pragma once
// Builds small standard MIDI files byte by byte for tests.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

inline std::string Be(uint32_t v, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out.push_back(char((v >> (8 * i)) & 0xFF));
  return out;
}

inline std::string VarLen(uint32_t v) {
  std::string out(1, char(v & 0x7F));
  while (v >>= 7) out.insert(out.begin(), char(0x80 | (v & 0x7F)));
  return out;
}

inline std::string Raw(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(char(b));
  return out;
}

// Event helpers: each starts with a delta time of 0.
inline std::string Meta(int type, std::string_view data) {
  return std::string(1, '\0') + Raw({0xFF, type}) + VarLen(uint32_t(data.size())) + std::string(data);
}
inline std::string Tempo(uint32_t usPerQuarter) { return Meta(0x51, Be(usPerQuarter, 3)); }
inline std::string Name(std::string_view name) { return Meta(0x03, name); }
inline std::string NoteOn(int channel, int note, int velocity) {
  return std::string(1, '\0') + Raw({0x90 | channel, note, velocity});
}
inline std::string EndOfTrack() { return Meta(0x2F, ""); }

inline std::string Chunk(std::string_view type, std::string_view body) {
  return std::string(type) + Be(uint32_t(body.size()), 4) + std::string(body);
}
inline std::string Track(std::string_view events) { return Chunk("MTrk", std::string(events) + EndOfTrack()); }

// Header announcing `count` chunks (default: as many as given), then the chunks.
inline std::string Smf(const std::vector<std::string>& chunks, int count = -1) {
  std::string out = "MThd" + Be(6, 4) + Be(1, 2) + Be(uint32_t(count < 0 ? chunks.size() : count), 2) + Be(480, 2);
  for (const auto& c : chunks) out += c;
  return out;
}
