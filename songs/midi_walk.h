#pragma once
// The walk over a standard MIDI file's bytes that every reader of song files shares (the song
// analysis, time and key signature scans, the catalogue probes). It never reads past the bytes
// it was given: every length in the file is checked against what remains, and a read that would
// leave the data ends that track's walk with the events read so far.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace midi {

struct FileHeader {
  unsigned format = 0;
  unsigned trackCount = 0;  // number of chunks to walk
  unsigned division = 0;    // as stored: ticks per quarter note, or SMPTE time when the top bit is set
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
  uint8_t status = 0; // always 0x80 or above
  uint8_t data1 = 0;  // data bytes hold seven bits: a stray top bit is cleared
  uint8_t data2 = 0;
  uint8_t metaType = 0;
  const uint8_t* data = nullptr;
  uint32_t length = 0;
};

// Reads the events of one track chunk one at a time, so that several tracks can be read side by
// side. Never reads outside the chunk's bytes. Bytes that cannot be read end the track there, and
// so does the end-of-track event (FF 2F): whatever follows it in the chunk is not part of the
// track. Running status is what common readers take: only a channel status (80-EF) runs on;
// meta, SysEx and other system events leave it as it was. Data bytes where a status is due and
// no channel status runs yet (a track's start) are skipped up to the next status byte.
// Every step is inlined: the song parse takes it for every event of the file.
class TrackReader {
 public:
  TrackReader() = default;
  TrackReader(const uint8_t* data, size_t size) : base_(data), end_(size) {}

  // The next event into `ev` (every field set); false at the end of the track.
  [[gnu::always_inline]] bool Next(Event& ev) { return Advance() && Read(ev); }

  // Reads the next event's delta time, after which Tick() is that event's tick; false at the end
  // of the track.
  [[gnu::always_inline]] bool Advance() {
    uint32_t delta;
    if (done_ || !ReadVariable(delta) || (tick_ += delta, at_ >= end_)) {
      done_ = true;
      return false;
    }
    return true;
  }
  // Asks the processor to fetch the bytes a little ahead, for readers that switch between tracks.
  void PrefetchAhead() const {
    constexpr size_t kAhead = 256;
    if (end_ - at_ > kAhead) __builtin_prefetch(base_ + at_ + kAhead);
  }
  // The offset in the chunk of the byte after the last event read.
  size_t Position() const { return at_; }
  // Whether the track ended at its end-of-track event.
  bool EndedAtEndOfTrack() const { return endOfTrack_; }

  // Running sum of delta times, held at 0xFFFFFFFF rather than wrapping.
  uint32_t Tick() const { return tick_ > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(tick_); }

  // The event whose delta time Advance just read, into `ev` (every field set); false, and the
  // track ends, when its bytes cannot be read.
  [[gnu::always_inline]] bool Read(Event& ev) {
    if (done_ || !ReadBody(ev)) {
      done_ = true;
      return false;
    }
    return true;
  }

 private:
  // Delta times and lengths: seven bits a byte up to a byte without its top bit. Writers should
  // stop at four bytes, but real files carry longer ones (leading 80h bytes); those are read on,
  // and a value past 32 bits is held at 0xFFFFFFFF rather than wrapping.
  [[gnu::always_inline]] bool ReadVariable(uint32_t& value) {
    uint32_t v = 0;
    while (at_ < end_) {
      const uint8_t b = base_[at_++];
      v = v > (0xFFFFFFFFu >> 7) ? 0xFFFFFFFFu : (v << 7) | (b & 0x7F);
      if (!(b & 0x80)) {
        value = v;
        return true;
      }
    }
    return false;
  }

  [[gnu::always_inline]] bool ReadBody(Event& ev) {
    ev = Event{};
    ev.tick = Tick();
    uint8_t status = base_[at_];
    if (status >= 0x80) {
      ++at_;
      if (status < 0xF0) running_ = status;
    } else if (running_ != 0) [[likely]] {
      status = running_;
    } else {
      while (at_ < end_ && base_[at_] < 0x80) ++at_;
      if (at_ >= end_) return false;
      status = base_[at_++];
      if (status < 0xF0) running_ = status;
    }
    ev.status = status;
    if (status == 0xFF || (status >= 0xF0 && status <= 0xF7)) {
      if (status == 0xFF) {
        if (at_ >= end_) return false;
        ev.metaType = base_[at_++];
      }
      uint32_t length;
      if (!ReadVariable(length) || length > end_ - at_) return false;
      ev.data = base_ + at_;
      ev.length = length;
      at_ += length;
      if (status == 0xFF && ev.metaType == 0x2F) {
        end_ = at_;  // the track ends here
        endOfTrack_ = true;
      }
    } else {
      const size_t need = (status >= 0xC0 && status <= 0xDF) ? 1 : 2;
      if (end_ - at_ < need) return false;
      ev.data1 = base_[at_] & 0x7F;
      if (need == 2) ev.data2 = base_[at_ + 1] & 0x7F;
      at_ += need;
    }
    return true;
  }

  const uint8_t* base_ = nullptr;
  size_t at_ = 0;
  size_t end_ = 0;
  uint64_t tick_ = 0;    // running sum of delta times
  uint8_t running_ = 0;  // running status: the last channel status, 0 before the first
  bool done_ = false;
  bool endOfTrack_ = false;
};

// Where a track chunk really ends. A writer that miscounts a track's length makes the chunk run on
// past its end-of-track event into the next chunk's header; common readers take such files, so
// when "MTrk" follows right after the end-of-track event the next chunk starts there. Otherwise
// the chunk is as long as it says (`end`). A well-formed file costs one byte search.
inline size_t TrackChunkEnd(const uint8_t* base, size_t pos, size_t end) {
  constexpr std::string_view kEndThenTrack("\xFF\x2F\x00MTrk", 7);
  const std::string_view chunk(reinterpret_cast<const char*>(base + pos), end - pos);
  if (chunk.find(kEndThenTrack) == std::string_view::npos) return end;
  TrackReader reader(base + pos, end - pos);
  Event ev;
  while (reader.Next(ev)) {
  }
  const size_t after = pos + reader.Position();
  if (reader.EndedAtEndOfTrack() && end - after >= 4 && std::memcmp(base + after, "MTrk", 4) == 0) return after;
  return end;
}

// Goes through the chunks of the file: `onChunk(index, isTrack, data, size)` gets each chunk
// (1-based index, every chunk counted) with the bytes it has in the file, and returns whether to
// go on. A chunk longer than the file ends with the file; nothing can follow it, unless it is a
// track whose end-of-track event is followed by the next track's header (TrackChunkEnd). Returns
// false for a file without a readable header.
template <class OnChunk>
bool ForEachChunk(std::string_view bytes, OnChunk&& onChunk) {
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
    bool cut = length > size - pos;
    size_t end = cut ? size : pos + length;
    if (isTrack) {
      const size_t trackEnd = TrackChunkEnd(base, pos, end);
      if (trackEnd < end) {
        end = trackEnd;
        cut = false;
      }
    }
    if (!onChunk(index, isTrack, base + pos, end - pos) || cut) break;
    pos = end;
  }
  return true;
}

enum class Step { kNext, kEndChunk, kEndWalk };

// Walks the chunks of the file. `onChunk(index, isTrack)` is asked for each chunk (1-based index,
// every chunk counted) and returns whether to walk its events; `onEvent(index, event)` gets each
// event of a walked "MTrk" chunk and returns how to go on. Returns false for a file without a
// readable header.
template <class OnChunk, class OnEvent>
bool WalkFile(std::string_view bytes, OnChunk&& onChunk, OnEvent&& onEvent) {
  return ForEachChunk(bytes, [&](unsigned index, bool isTrack, const uint8_t* data, size_t size) {
    if (!isTrack || !onChunk(index, true)) return true;
    TrackReader reader(data, size);
    Event ev;
    while (reader.Next(ev)) {
      const Step step = onEvent(index, ev);
      if (step == Step::kEndChunk) break;
      if (step == Step::kEndWalk) return false;
    }
    return true;
  });
}

}  // namespace midi
