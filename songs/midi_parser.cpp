#include "songs/midi_parser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "app/debug_log.h"
#include "playback/services.h"
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

// An event as the walk finds it, before the events are put in tick order: small, so that the
// ordering moves little memory; SysEx bytes wait in a list of their own.
struct WalkedEvent {
  uint32_t tick;
  uint8_t kind, status, data1, data2, port;
  uint32_t extra;  // tempo, or the index of the SysEx bytes
};
static_assert(sizeof(WalkedEvent) == 16);

// The song's events in tick order; events on the same tick keep file order, track after track.
// Each track is already in tick order, so the order is found by a stable radix sort of the ticks
// (11 bits per pass, only as many passes as the last tick needs), and every event is built once.
void BuildSortedEvents(const std::vector<WalkedEvent>& walked, std::vector<std::vector<uint8_t>>& sysex,
                       std::vector<SongEvent>& events) {
  const size_t n = walked.size();
  uint32_t maxTick = 0;
  bool sorted = true;
  for (size_t i = 0; i < n; ++i) {
    if (i && walked[i].tick < walked[i - 1].tick) sorted = false;
    maxTick = std::max(maxTick, walked[i].tick);
  }
  std::vector<uint64_t> keys(n);  // tick above, position below
  for (size_t i = 0; i < n; ++i) keys[i] = (uint64_t{walked[i].tick} << 32) | i;
  if (!sorted) {
    constexpr int kBits = 11;
    constexpr uint32_t kBuckets = 1u << kBits;
    std::vector<uint64_t> scratch(n);
    std::vector<uint32_t> count(kBuckets);
    for (int shift = 32; shift < 64 && (shift == 32 || (maxTick >> (shift - 32)) != 0); shift += kBits) {
      std::fill(count.begin(), count.end(), 0);
      for (uint64_t k : keys) ++count[(k >> shift) & (kBuckets - 1)];
      uint32_t sum = 0;
      for (auto& c : count) sum += std::exchange(c, sum);
      for (uint64_t k : keys) scratch[count[(k >> shift) & (kBuckets - 1)]++] = k;
      keys.swap(scratch);
    }
  }
  events.clear();
  events.reserve(n);
  for (uint64_t k : keys) {
    const WalkedEvent& w = walked[static_cast<uint32_t>(k)];
    SongEvent& e = events.emplace_back();
    e.tick = w.tick;
    e.kind = w.kind;
    e.status = w.status;
    e.data1 = w.data1;
    e.data2 = w.data2;
    e.port = w.port;
    if (w.kind == kSongEventTempo) e.tempo = w.extra;
    else if (w.kind == kSongEventSysEx) e.sysex = std::move(sysex[w.extra]);
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
  model.MelodyNotes.clear();
  model.BassPartNotes.clear();
  model.SecondStaffNotes.clear();
  model.LyricSyncTicks.clear();
  model.JumpMarks.clear();
  const int previousBpm = model.SongBaseBpm;
  model.SongBaseBpm = 0;
  SongSetupSentMarker.sent = 0;
  SongSetupSentMarker.value = 0;

  model.SongKeySignatures.clear();

  midi::FileHeader header;
  if (!midi::ReadFileHeader(bytes, &header)) return false;
  model.SongPpq = static_cast<int>(header.division);
  std::vector<TimeSignature> timeSignatures;
  std::vector<KeySignature> keySignatures;

  NamedTracks named = FindNamedTracks(bytes);
  const unsigned gasa = named.gasa > 0 ? named.gasa : kDefaultGasaTrack;
  const unsigned staff1 = named.staff1 > 0 ? named.staff1 : kDefaultStaff1Track;
  const unsigned staff2 = named.staff2 > 0 ? named.staff2 : kDefaultStaff2Track;

  std::vector<WalkedEvent> walked;
  walked.reserve(bytes.size() / 3);
  std::vector<std::vector<uint8_t>> sysexBytes;
  OpenNotes openMelody, openSecond;
  uint8_t port = 0;

  midi::WalkFile(
      bytes,
      [&](unsigned, bool) {
        port = 0;  // every track starts on the first port
        return true;
      },
      [&](unsigned chunk, const midi::Event& ev) {
        const uint8_t status = ev.status;
        if (status == 0xFF) {
          if (ev.metaType == 0x51 && ev.length == 3) {
            uint32_t tempo = (uint32_t{ev.data[0]} << 16) | (uint32_t{ev.data[1]} << 8) | ev.data[2];
            walked.push_back({ev.tick, kSongEventTempo, 0, 0, 0, port, tempo});
          } else if (ev.metaType == 0x21 && ev.length >= 1) {
            port = ev.data[0];
          } else {
            TakeSignature(ev, timeSignatures, keySignatures);
          }
          return midi::Step::kNext;
        }
        if (status >= 0xF0 && status <= 0xF7) {
          auto& bytesOut = sysexBytes.emplace_back();
          bytesOut.reserve(ev.length + 1);
          if (status == 0xF0) bytesOut.push_back(0xF0);
          bytesOut.insert(bytesOut.end(), ev.data, ev.data + ev.length);
          walked.push_back({ev.tick, kSongEventSysEx, 0, 0, 0, port, static_cast<uint32_t>(sysexBytes.size() - 1)});
          return midi::Step::kNext;
        }
        // No status yet at the start of a track, or a real-time byte: nothing the player may send.
        if (status < 0x80 || status >= 0xF8) return midi::Step::kNext;

        if (port <= 1) {
          walked.push_back({ev.tick, kSongEventChannel, status, ev.data1, ev.data2, port, 0});
        }
        // Companion tracks, whatever their port.
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

  auto& events = model.SongEventList;
  BuildSortedEvents(walked, sysexBytes, events);
  std::vector<WalkedEvent>().swap(walked);
  BuildMelodyArticulation(model);
  model.SongLoudness = EstimateSongLoudness(model);

  for (const auto& e : events) {
    if (e.kind == kSongEventTempo && e.tempo > 0) {
      int bpm = static_cast<int>(60000000.0 / e.tempo + 0.5);
      if (PlaybackState.isPlaying && previousBpm > 0 && previousBpm != bpm)
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
  return ParseSongMidiBytes(model, ReadSongBytesCached(midiPath));
}
