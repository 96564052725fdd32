#pragma once
// A tiny standard MIDI file writer for test fixtures: tracks are built from events at absolute
// ticks (given in order) and joined under an "MThd" header.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "songs/song_model.h"

class TestTrack {
 public:
  // Any bytes after the delta time (status included, or left out for running status).
  TestTrack& Raw(uint32_t tick, std::initializer_list<uint8_t> bytes) {
    Delta(tick);
    for (uint8_t b : bytes) body_.push_back(static_cast<char>(b));
    return *this;
  }
  TestTrack& Meta(uint32_t tick, uint8_t type, std::string_view data) {
    Delta(tick);
    body_ += '\xFF';
    body_ += static_cast<char>(type);
    Vlq(static_cast<uint32_t>(data.size()));
    body_ += data;
    return *this;
  }
  TestTrack& Name(std::string_view name) { return Meta(last_, 0x03, name); }
  TestTrack& Tempo(uint32_t tick, uint32_t us) {
    return Meta(tick, 0x51, std::string{static_cast<char>(us >> 16), static_cast<char>(us >> 8), static_cast<char>(us)});
  }
  TestTrack& TimeSig(uint32_t tick, int num, int power) {
    return Meta(tick, 0x58, std::string{static_cast<char>(num), static_cast<char>(power), 24, 8});
  }
  TestTrack& KeySig(uint32_t tick, int sf, int minor) {
    return Meta(tick, 0x59, std::string{static_cast<char>(sf), static_cast<char>(minor)});
  }
  TestTrack& Port(uint32_t tick, int port) { return Meta(tick, 0x21, std::string(1, static_cast<char>(port))); }
  TestTrack& On(uint32_t tick, int ch, int note, int vel) {
    return Raw(tick, {static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(note), static_cast<uint8_t>(vel)});
  }
  TestTrack& Off(uint32_t tick, int ch, int note) {
    return Raw(tick, {static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(note), 0});
  }
  // A note from `tick` lasting `length` ticks (note-off written at once: use for one-voice lines).
  TestTrack& Note(uint32_t tick, int ch, int note, int vel, uint32_t length) {
    return On(tick, ch, note, vel).Off(tick + length, ch, note);
  }
  TestTrack& Cc(uint32_t tick, int ch, int cc, int value) {
    return Raw(tick, {static_cast<uint8_t>(0xB0 | ch), static_cast<uint8_t>(cc), static_cast<uint8_t>(value)});
  }
  TestTrack& Program(uint32_t tick, int ch, int program) {
    return Raw(tick, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(program)});
  }
  TestTrack& SysEx(uint32_t tick, std::string_view data) {
    Delta(tick);
    body_ += '\xF0';
    Vlq(static_cast<uint32_t>(data.size()));
    body_ += data;
    return *this;
  }
  // The chunk with an end-of-track event.
  std::string Chunk() const {
    std::string body = body_ + std::string("\x00\xFF\x2F\x00", 4);
    return ChunkOf("MTrk", body);
  }
  static std::string ChunkOf(std::string_view id, std::string_view body) {
    std::string out(id);
    uint32_t n = static_cast<uint32_t>(body.size());
    out += {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
    out += body;
    return out;
  }
  const std::string& Body() const { return body_; }

 private:
  void Delta(uint32_t tick) {
    Vlq(tick - last_);
    last_ = tick;
  }
  void Vlq(uint32_t v) {
    char buf[5];
    int n = 0;
    buf[n++] = static_cast<char>(v & 0x7F);
    while (v >>= 7) buf[n++] = static_cast<char>(0x80 | (v & 0x7F));
    while (n) body_ += buf[--n];
  }
  std::string body_;
  uint32_t last_ = 0;
};

inline std::string MidiHeader(int division, int chunks, int format = 1) {
  std::string h("MThd\0\0\0\x06", 8);
  h += {static_cast<char>(format >> 8), static_cast<char>(format), static_cast<char>(chunks >> 8),
        static_cast<char>(chunks), static_cast<char>(division >> 8), static_cast<char>(division)};
  return h;
}

inline std::string MakeMidiFile(int division, const std::vector<TestTrack>& tracks) {
  std::string out = MidiHeader(division, static_cast<int>(tracks.size()));
  for (const auto& t : tracks) out += t.Chunk();
  return out;
}

// A song event made directly, for tests of the analyses over an event list.
inline SongEvent ChannelEvent(uint32_t tick, int status, int d1, int d2, int port = 0) {
  SongEvent e;
  e.tick = tick;
  e.status = static_cast<uint8_t>(status);
  e.data1 = static_cast<uint8_t>(d1);
  e.data2 = static_cast<uint8_t>(d2);
  e.port = static_cast<uint8_t>(port);
  return e;
}
inline SongEvent TempoEvent(uint32_t tick, uint32_t tempo) {
  SongEvent e;
  e.tick = tick;
  e.kind = kSongEventTempo;
  e.tempo = tempo;
  return e;
}
