#pragma once
// The walk over a standard MIDI file's bytes that every reader of song files shares (the song
// analysis, time and key signature scans, the catalogue probes). It never reads past the bytes
// it was given: every length in the file is checked against what remains, and a read that would
// leave the data ends that track's walk with the events read so far.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace midi {

struct FileHeader {
  unsigned format = 0;
  unsigned trackCount = 0;  // number of chunks to walk
  unsigned division = 0;    // ticks per quarter note as stored (unsigned)
  size_t firstChunk = 0;    // offset of the first chunk after the header
};

// "MThd" and a header whose length is honoured: a longer header is skipped, a header shorter than
// its 6 bytes (or longer than the file) is unreadable.
inline bool ReadFileHeader(std::string_view bytes, FileHeader* out) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() < 14 || bytes.substr(0, 4) != "MThd") return false;
  uint32_t length = (uint32_t{p[4]} << 24) | (uint32_t{p[5]} << 16) | (uint32_t{p[6]} << 8) | p[7];
  if (length < 6 || length > bytes.size() - 8) return false;
  out->format = (p[8] << 8) | p[9];
  out->trackCount = (p[10] << 8) | p[11];
  out->division = (p[12] << 8) | p[13];
  out->firstChunk = 8 + size_t{length};
  return true;
}

// One event as the walk reads it. For meta events status is 0xFF and `metaType` is set; for meta
// and system exclusive events `data`/`length` are the event's bytes inside the file.
struct Event {
  uint32_t tick = 0;  // running sum of delta times, held at 0xFFFFFFFF rather than wrapping
  uint8_t status = 0; // may be below 0x80 when a track starts without a status byte
  uint8_t data1 = 0;
  uint8_t data2 = 0;
  uint8_t metaType = 0;
  const uint8_t* data = nullptr;
  uint32_t length = 0;
};

enum class Step { kNext, kEndChunk, kEndWalk };

// Walks the chunks of the file. `onChunk(index, isTrack)` is asked for each chunk (1-based index,
// every chunk counted) and returns whether to walk its events; `onEvent(index, event)` gets each
// event of a walked "MTrk" chunk and returns how to go on. Returns false for a file without a
// readable header.
template <class OnChunk, class OnEvent>
bool WalkFile(std::string_view bytes, OnChunk&& onChunk, OnEvent&& onEvent) {
  FileHeader header;
  if (!ReadFileHeader(bytes, &header)) return false;
  const auto* base = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t size = bytes.size();
  size_t pos = header.firstChunk;
  for (unsigned index = 1; index <= header.trackCount; ++index) {
    if (size - pos < 8) break;
    const uint8_t* h = base + pos;
    uint32_t length = (uint32_t{h[4]} << 24) | (uint32_t{h[5]} << 16) | (uint32_t{h[6]} << 8) | h[7];
    bool isTrack = h[0] == 'M' && h[1] == 'T' && h[2] == 'r' && h[3] == 'k';
    pos += 8;
    // A chunk longer than the file ends with the file: its events up to there still count.
    size_t end = length > size - pos ? size : pos + length;
    if (isTrack && onChunk(index, true)) {
      size_t at = pos;
      uint64_t tick = 0;
      uint8_t running = 0;
      Step step = Step::kNext;
      for (;;) {
        // Delta time: at most four bytes of seven bits.
        uint32_t delta = 0;
        int n = 0;
        bool ok = false;
        while (at < end && n < 4) {
          uint8_t b = base[at++];
          delta = (delta << 7) | (b & 0x7F);
          ++n;
          if (!(b & 0x80)) {
            ok = true;
            break;
          }
        }
        if (!ok) break;
        tick += delta;
        if (at >= end) break;
        Event ev;
        ev.tick = tick > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(tick);
        if (base[at] >= 0x80) running = base[at++];
        ev.status = running;
        if (running == 0xFF || (running >= 0xF0 && running <= 0xF7)) {
          if (running == 0xFF) {
            if (at >= end) break;
            ev.metaType = base[at++];
          }
          uint32_t len = 0;
          n = 0;
          ok = false;
          while (at < end && n < 4) {
            uint8_t b = base[at++];
            len = (len << 7) | (b & 0x7F);
            ++n;
            if (!(b & 0x80)) {
              ok = true;
              break;
            }
          }
          if (!ok || len > end - at) break;
          ev.data = base + at;
          ev.length = len;
          at += len;
        } else {
          size_t need = (running >= 0xC0 && running <= 0xDF) ? 1 : 2;
          if (end - at < need) break;
          ev.data1 = base[at];
          if (need == 2) ev.data2 = base[at + 1];
          at += need;
        }
        step = onEvent(index, ev);
        if (step != Step::kNext) break;
      }
      if (step == Step::kEndWalk) break;
    } else if (!isTrack && length > size - pos) {
      break;  // nothing can follow a chunk that runs past the file
    }
    pos = end;
  }
  return true;
}

}  // namespace midi
