#pragma once
// A small standard-MIDI-file writer for the demo library's generated songs and rhythm styles.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace demo {

struct TimedEvent {
  uint32_t tick;
  int order;  // note-offs before everything else on one tick
  std::string bytes;
};

class Track {
 public:
  void Meta(uint32_t tick, int type, std::string_view data) {
    std::string b{char(0xFF), char(type)};
    b += VarLen(uint32_t(data.size()));
    b += data;
    Add(tick, 1, b);
  }
  void Channel(uint32_t tick, int status, int d1, int d2 = -1) {
    std::string b{char(status), char(d1)};
    if (d2 >= 0) b += char(d2);
    Add(tick, (status & 0xF0) == 0x80 ? 0 : 1, b);
  }
  // A SysEx event; `message` is the whole message from F0 to F7.
  void SysEx(uint32_t tick, const std::vector<uint8_t>& message) {
    std::string b{char(0xF0)};
    b += VarLen(uint32_t(message.size() - 1));
    b.append(message.begin() + 1, message.end());
    Add(tick, 1, b);
  }
  void Note(uint32_t tick, uint32_t length, int channel, int note, int velocity) {
    Channel(tick, 0x90 | channel, note, velocity);
    Channel(tick + length, 0x80 | channel, note, 0);
  }
  std::string Chunk() {
    std::stable_sort(events_.begin(), events_.end(), [](const TimedEvent& a, const TimedEvent& b) {
      return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    std::string body;
    uint32_t last = 0;
    for (const TimedEvent& e : events_) {
      body += VarLen(e.tick - last);
      body += e.bytes;
      last = e.tick;
    }
    body += VarLen(0) + std::string{char(0xFF), 0x2F, 0};
    return "MTrk" + Be32(uint32_t(body.size())) + body;
  }
  static std::string VarLen(uint32_t v) {
    std::string out(1, char(v & 0x7F));
    while (v >>= 7) out.insert(out.begin(), char(0x80 | (v & 0x7F)));
    return out;
  }
  static std::string Be32(uint32_t v) {
    return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
  }

 private:
  void Add(uint32_t tick, int order, std::string bytes) { events_.push_back({tick, order, std::move(bytes)}); }
  std::vector<TimedEvent> events_;
};
// A format-1 file of the given tracks at `division` ticks per quarter note.
inline std::string SmfFile(int division, std::initializer_list<Track*> tracks) {
  std::string file = "MThd" + Track::Be32(6) + std::string{0, 1, 0, char(tracks.size())} +
                     std::string{char((division >> 8) & 0x7F), char(division & 0xFF)};
  for (Track* t : tracks) file += t->Chunk();
  return file;
}

}  // namespace demo
