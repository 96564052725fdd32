#include "songs/midi_parser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <utility>

#include "base/debug_log.h"
#include "base/player_signals.h"
#include "songs/loudness.h"
#include "songs/lyric_timing.h"
#include "songs/midi_probes.h"
#include "songs/midi_walk.h"
#include "songs/song_file_cache.h"

namespace {

// Default chunk numbers of the companion tracks when a file does not name them.
constexpr int kDefaultGasaTrack = 34;
constexpr int kDefaultStaff1Track = 35;
constexpr int kDefaultStaff2Track = 36;

// Open notes of one staff list: index into the list per channel and note, -1 when free.
struct OpenNotes {
  std::array<int, 16 * 128> slot;
  OpenNotes() { slot.fill(-1); }
  int& at(int channel, int note) { return slot[channel * 128 + note]; }
};

// One track of the file as the parse reads it: its reader (at the delta time of its next event),
// the tick of that event, and the output port its events are on.
struct TrackCursor {
  midi::TrackReader reader;
  uint32_t tick = 0;
  unsigned chunk = 0;
  uint8_t port = 0;  // every track starts on the first port
  bool named = false;
  bool ended = false;
};

// Reads all tracks side by side in tick order: the events of one tick come track after track in
// file order, and each track's in its own order, which is the order of a stable sort by tick of
// the whole file. `onEvent(cursor, event)` gets every event in that order.
template <class OnEvent>
void MergeTracks(std::vector<TrackCursor>& tracks, OnEvent&& onEvent) {
  // Takes the events of one track on `tick`; false once the track has no more events.
  auto takeTick = [&](TrackCursor& track, uint32_t tick) __attribute__((always_inline)) {
    midi::TrackReader reader = track.reader;  // a local copy stays in registers
    reader.PrefetchAhead();
    bool more;
    do {
      midi::Event ev;
      if (!reader.Read(ev)) {
        more = false;
        break;
      }
      onEvent(track, ev);
      more = reader.Advance();
    } while (more && reader.Tick() == tick);
    track.reader = reader;
    track.tick = reader.Tick();
    return more;
  };
  constexpr size_t kScanLimit = 64;
  if (tracks.size() <= kScanLimit) {
    // Few tracks (every real song): one look at each track per tick that has events.
    uint32_t tick = std::numeric_limits<uint32_t>::max();
    for (const auto& t : tracks) tick = std::min(tick, t.tick);
    while (!tracks.empty()) {
      uint32_t following = std::numeric_limits<uint32_t>::max();
      bool someEnded = false;
      for (TrackCursor& t : tracks) {
        if (t.tick == tick && !takeTick(t, tick)) {
          t.ended = someEnded = true;
          continue;
        }
        following = std::min(following, t.tick);
      }
      if (someEnded) std::erase_if(tracks, [](const TrackCursor& t) { return t.ended; });
      tick = following;
    }
    return;
  }
  // Many tracks (a crafted file): the track with the earliest next event, the first in file order
  // among equals, comes from a heap.
  using Entry = std::pair<uint32_t, size_t>;  // next tick, track
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> heap;
  for (size_t i = 0; i < tracks.size(); ++i) heap.push({tracks[i].tick, i});
  while (!heap.empty()) {
    const auto [tick, i] = heap.top();
    heap.pop();
    if (takeTick(tracks[i], tick)) heap.push({tracks[i].tick, i});
  }
}

// The key signatures as the song keeps them: sorted by tick; a later one on the same tick
// replaces the earlier, one that repeats the previous key is dropped.
std::vector<KeySignature> CollapseKeySignatures(std::vector<KeySignature> found) {
  std::stable_sort(found.begin(), found.end(),
                   [](const KeySignature& a, const KeySignature& b) { return a.tick < b.tick; });
  std::vector<KeySignature> kept;
  for (const auto& k : found) {
    if (!kept.empty() && kept.back().tick == k.tick) kept.back() = k;
    else if (!kept.empty() && kept.back().sharpsOrFlats == k.sharpsOrFlats) continue;
    else kept.push_back(k);
  }
  return kept;
}

// A division with its top bit set counts SMPTE time: frames per second (the negative high byte:
// 24, 25, 29 for 29.97 drop-frame, or 30) and ticks per frame (the low byte). Tempo events do not
// change the length of such a tick. The song model counts in quarter notes under tempo events, so
// such a file is read as one quarter note per second (1.001 s at 29.97 fps) under a single
// tempo: every tick keeps its length in time, and bars, loudness and the player stay consistent.
struct SmpteTiming {
  int ticksPerQuarter = 0;  // 0: not SMPTE, or a frame rate that does not exist
  uint32_t tempo = 0;       // microseconds per quarter note
};
SmpteTiming ReadSmpteTiming(unsigned division) {
  const int frames = -static_cast<int>(static_cast<int8_t>(division >> 8));
  const int ticksPerFrame = static_cast<int>(division & 0xFF);
  if (ticksPerFrame == 0 || (frames != 24 && frames != 25 && frames != 29 && frames != 30)) return {};
  if (frames == 29) return {30 * ticksPerFrame, 1001000};
  return {frames * ticksPerFrame, 1000000};
}

void SortTimeSignatures(std::vector<TimeSignature>& sigs) {
  std::stable_sort(sigs.begin(), sigs.end(),
                   [](const TimeSignature& a, const TimeSignature& b) { return a.tick < b.tick; });
}

// FF 58 and FF 59 events as the song keeps them.
void TakeSignature(const midi::Event& ev, std::vector<TimeSignature>& time, std::vector<KeySignature>& key) {
  if (ev.metaType == 0x58 && ev.length > 1) {
    time.push_back({ev.tick, ev.data[0], ev.data[1]});
  } else if (ev.metaType == 0x59 && ev.length > 1) {
    int sf = static_cast<int8_t>(ev.data[0]);
    if (sf >= -7 && sf <= 7) key.push_back({ev.tick, sf, ev.data[1]});
  }
}

}  // namespace

std::vector<TimeSignature> ReadTimeSignaturesFromBytes(std::string_view bytes) {
  std::vector<TimeSignature> time;
  std::vector<KeySignature> key;
  midi::WalkFile(
      bytes, [](unsigned, bool) { return true; },
      [&](unsigned, const midi::Event& ev) {
        if (ev.status == 0xFF && ev.metaType == 0x58) TakeSignature(ev, time, key);
        return midi::Step::kNext;
      });
  SortTimeSignatures(time);
  return time;
}

std::vector<TimeSignature> ReadTimeSignatures(const std::wstring& midiPath) {
  return ReadTimeSignaturesFromBytes(ReadSongBytesCached(midiPath));
}

std::vector<KeySignature> ReadKeySignaturesFromBytes(std::string_view bytes) {
  std::vector<TimeSignature> time;
  std::vector<KeySignature> key;
  midi::WalkFile(
      bytes, [](unsigned, bool) { return true; },
      [&](unsigned, const midi::Event& ev) {
        if (ev.status == 0xFF && ev.metaType == 0x59) TakeSignature(ev, time, key);
        return midi::Step::kNext;
      });
  return CollapseKeySignatures(std::move(key));
}

std::vector<KeySignature> ReadKeySignatures(const std::wstring& midiPath) {
  return ReadKeySignaturesFromBytes(ReadSongBytesCached(midiPath));
}

std::vector<uint32_t> BuildBarTicks(const std::vector<TimeSignature>& signatures, int division) {
  // Positions are 64-bit and every loop stops at the tick limit and the bar count limit, so a
  // crafted signature can neither wrap the position nor fill memory.
  const uint64_t quarter = division > 0 ? static_cast<uint64_t>(division) : 120;
  const uint64_t fourFour = 4 * quarter;
  std::vector<uint32_t> bars;
  uint64_t pos = 0;
  auto fillTo = [&](uint64_t limit, uint64_t barLength) {
    limit = std::min(limit, kBarTickLimit);
    while (pos < limit && bars.size() < kMaxBars) {
      bars.push_back(static_cast<uint32_t>(pos));
      pos += barLength;
    }
  };
  if (signatures.empty()) {
    fillTo(kBarTickLimit, fourFour);
    return bars;
  }
  for (size_t i = 0; i < signatures.size(); ++i) {
    const auto& sig = signatures[i];
    uint64_t length = fourFour;
    if (sig.denominatorPower >= 0 && sig.denominatorPower <= 30 && sig.numerator > 0) {
      uint64_t l = fourFour * static_cast<uint64_t>(sig.numerator) >> sig.denominatorPower;
      if (l > 0) length = l;
    }
    fillTo(sig.tick, fourFour);  // bars before this signature (or a gap left by the previous)
    uint64_t limit = i + 1 < signatures.size() ? signatures[i + 1].tick : kBarTickLimit;
    fillTo(limit, length);
  }
  return bars;
}

bool ParseSongMidiBytes(SongModel& model, std::string_view bytes) {
  model.SongEventList.clear();
  model.SongSysExData.clear();
  model.SongSysExStarts.clear();
  model.MelodyNotes.clear();
  model.BassPartNotes.clear();
  model.SecondStaffNotes.clear();
  model.LyricSyncTicks.clear();
  model.JumpMarks.clear();
  const int previousBpm = model.SongBaseBpm;
  model.SongBaseBpm = 0;

  model.SongKeySignatures.clear();

  midi::FileHeader header;
  if (!midi::ReadFileHeader(bytes, &header)) return false;
  SmpteTiming smpte;
  if (header.division & 0x8000) {
    smpte = ReadSmpteTiming(header.division);
    if (smpte.ticksPerQuarter == 0) {
      DebugLog(L"[SONG] MIDI 파일의 SMPTE 시간 단위를 읽을 수 없음 (division " + std::to_wstring(header.division) +
               L"): 재생하지 않음");
      return false;
    }
  }
  model.SongPpq = smpte.ticksPerQuarter ? smpte.ticksPerQuarter : static_cast<int>(header.division);
  std::vector<TimeSignature> timeSignatures;
  std::vector<KeySignature> keySignatures;

  // Every track's events in tick order, straight into the event list. What the song keeps:
  // channel messages of the first two ports, tempo changes and SysEx messages.
  std::vector<TrackCursor> tracks;
  midi::ForEachChunk(bytes, [&](unsigned index, bool isTrack, const uint8_t* data, size_t size) {
    if (!isTrack) return true;
    TrackCursor& track = tracks.emplace_back();
    track.reader = midi::TrackReader(data, size);
    track.chunk = index;
    if (track.reader.Advance()) track.tick = track.reader.Tick();
    else tracks.pop_back();  // no events
    return true;
  });
  auto& events = model.SongEventList;
  events.reserve(bytes.size() / 3);
  auto& sysexData = model.SongSysExData;
  auto& sysexStarts = model.SongSysExStarts;
  sysexStarts.push_back(0);
  NamedTracks named;
  if (smpte.ticksPerQuarter) {
    // The one tempo of SMPTE time, ahead of every event (they all come at tick 0 or later).
    SongEvent& e = events.emplace_back();
    e.kind = kSongEventTempo;
    e.tempo = smpte.tempo;
  }
  // Meta and SysEx events: few, and kept out of the loop that reads the channel messages.
  auto takeOther = [&](TrackCursor& track, const midi::Event& ev) __attribute__((noinline)) {
    const uint8_t status = ev.status;
    if (status == 0xFF) {
      if (ev.metaType == 0x51 && ev.length == 3 && !smpte.ticksPerQuarter) {
        SongEvent& e = events.emplace_back();
        e.tick = ev.tick;
        e.kind = kSongEventTempo;
        e.port = track.port;
        e.tempo = (uint32_t{ev.data[0]} << 16) | (uint32_t{ev.data[1]} << 8) | ev.data[2];
      } else if (ev.metaType == 0x21 && ev.length >= 1) {
        track.port = ev.data[0];
      } else if (ev.metaType == 0x03 && ev.length > 0 && !track.named) {
        track.named = true;  // only a track's first name counts
        NoteTrackName(named, track.chunk, std::string_view(reinterpret_cast<const char*>(ev.data), ev.length));
      } else {
        TakeSignature(ev, timeSignatures, keySignatures);
      }
    } else if (status <= 0xF7 && sysexStarts.size() <= std::numeric_limits<uint32_t>::max()) {
      SongEvent& e = events.emplace_back();
      e.tick = ev.tick;
      e.kind = kSongEventSysEx;
      e.port = track.port;
      e.sysex = static_cast<uint32_t>(sysexStarts.size() - 1);
      if (status == 0xF0) sysexData.push_back(0xF0);
      sysexData.insert(sysexData.end(), ev.data, ev.data + ev.length);
      sysexStarts.push_back(sysexData.size());
    }
    // Real-time bytes (F8-FE): nothing the player may send.
  };
  MergeTracks(tracks, [&](TrackCursor& track, const midi::Event& ev) __attribute__((always_inline)) {
    const uint8_t status = ev.status;
    if (status >= 0xF0) {
      takeOther(track, ev);
    } else if (status >= 0x80 && track.port <= 1) {  // below 0x80: no status yet at a track's start
      SongEvent& e = events.emplace_back();
      e.tick = ev.tick;
      e.status = status;
      e.data1 = ev.data1;
      e.data2 = ev.data2;
      e.port = track.port;
    }
  });

  // The companion tracks, whatever their port: lyric timing, jump marks and the two staves.
  const unsigned gasa = named.gasa > 0 ? named.gasa : kDefaultGasaTrack;
  const unsigned staff1 = named.staff1 > 0 ? named.staff1 : kDefaultStaff1Track;
  const unsigned staff2 = named.staff2 > 0 ? named.staff2 : kDefaultStaff2Track;
  OpenNotes openMelody, openSecond;
  midi::WalkFile(
      bytes, [&](unsigned chunk, bool) { return chunk == gasa || chunk == staff1 || chunk == staff2; },
      [&](unsigned chunk, const midi::Event& ev) {
        const uint8_t status = ev.status;
        if (status < 0x80 || status >= 0xF0) return midi::Step::kNext;
        const int type = status & 0xF0;
        const int channel = status & 0x0F;
        const bool noteOn = type == 0x90 && ev.data2 > 0;
        const bool noteOff = type == 0x80 || (type == 0x90 && ev.data2 == 0);
        if (noteOn) {
          if (chunk == gasa) {
            model.LyricSyncTicks.push_back(ev.tick);
          } else if ((chunk == staff2 || chunk == staff1) && ev.data1 <= 127) {
            auto& list = chunk == staff2 ? model.SecondStaffNotes : model.MelodyNotes;
            auto& open = chunk == staff2 ? openSecond : openMelody;
            open.at(channel, ev.data1) = static_cast<int>(list.size());
            list.push_back({ev.data1, static_cast<int>(ev.tick), 0});
          }
        } else if (noteOff && (chunk == staff2 || chunk == staff1) && ev.data1 <= 127) {
          auto& list = chunk == staff2 ? model.SecondStaffNotes : model.MelodyNotes;
          int& slot = (chunk == staff2 ? openSecond : openMelody).at(channel, ev.data1);
          if (slot >= 0) {
            list[slot].length = static_cast<int>(ev.tick - static_cast<uint32_t>(list[slot].start));
            slot = -1;
          }
        } else if (type == 0xB0 && ev.data1 == 10 && chunk == gasa) {
          model.JumpMarks.push_back({ev.tick, ev.data2});
        }
        return midi::Step::kNext;
      });

  SortTimeSignatures(timeSignatures);
  model.BarTicks = BuildBarTicks(timeSignatures, model.SongPpq);
  model.SongKeySignatures = CollapseKeySignatures(std::move(keySignatures));

  // Melody notes of channel 16 left open last one quarter note.
  for (int note = 0; note < 128; ++note) {
    int slot = openMelody.at(15, note);
    if (slot >= 0 && model.MelodyNotes[slot].length == 0) model.MelodyNotes[slot].length = model.SongPpq;
  }
  ThinSecondStaffNotes(model.SecondStaffNotes);

  BuildMelodyArticulation(model);
  model.SongLoudness = EstimateSongLoudness(model);

  for (const auto& e : events) {
    if (e.kind == kSongEventTempo && e.tempo > 0) {
      int bpm = static_cast<int>(60000000.0 / e.tempo + 0.5);
      if (Player().songPlaying() && previousBpm > 0 && previousBpm != bpm)
        DebugLog(L"[CVT] *** 재생 중 기준템포 전역 교체 " + std::to_wstring(previousBpm) + L" -> " +
                 std::to_wstring(bpm) + L" bpm (다음 곡 파싱) ***");
      model.SongBaseBpm = bpm;
      break;
    }
  }

  DeduplicateLyricTicks(model.LyricSyncTicks, CountLyricSyllables(model.LyricLines));
  SnapLyricTicksToMelody(model.LyricSyncTicks, model.MelodyNotes);
  return true;
}

bool ParseSongMidi(SongModel& model, const std::wstring& midiPath) {
  const auto bytes = ReadSongBytesShared(midiPath);
  return ParseSongMidiBytes(model, *bytes);
}
