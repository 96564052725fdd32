#pragma once
// The sound layer's shared state: the output slots' handles, the built-in synthesizer's state,
// the senders' note bookkeeping and flags. Read by the player, the rhythm engine and the page
// commands while others change them: every field is an atomic.
#include <atomic>
#include <cstdint>

using MidiOutHandle = std::uintptr_t;

inline constexpr MidiOutHandle BUILTIN_SYNTH_PORT1 = 0xB1517001u;  // synthesizer channels 0-15
inline constexpr MidiOutHandle BUILTIN_SYNTH_PORT2 = 0xB1517002u;  // synthesizer channels 16-31
constexpr bool IsSynthMarker(MidiOutHandle h) { return h - BUILTIN_SYNTH_PORT1 <= 1; }

struct SoundState {
  // The output slots: 0 closed, a device handle, or a synthesizer marker. Read freely; changed
  // only by the slot functions (midi_slots.h, midi_ports.h).
  std::atomic<MidiOutHandle> MidiOutPort1{0};
  std::atomic<MidiOutHandle> MidiOutPort2{0};
  std::atomic<MidiOutHandle> ExtModuleOut{0};
  std::atomic<uint8_t> Port2OpenTried{0};      // port 2 failed; no retry until a device change
  std::atomic<uint8_t> ExtModuleOpenTried{0};  // the module failed; no retry until closed

  // The built-in synthesizer: 0 not started, 1 running, -1 the last start failed (not retried
  // until reset to 0).
  std::atomic<int> BuiltInSynthState{0};

  // The song's insertion effect level before the mixer's scaling, -1 none.
  std::atomic<int> SongEfxLevel{-1};
  // Electronic second drum kit switch of the rhythm parts.
  std::atomic<uint8_t> SnareSubKitOn{0};

  // The player's tick stamp for the rhythm engine's interpolation.
  std::atomic<uint64_t> ClockSample{0};
  // The same stamp timed finer: high half the same tick x 256, low half the plat::NowUs value
  // (wrapping). Used while its tick matches ClockSample's.
  std::atomic<uint64_t> ClockSampleFine{0};
  // Thread ids of the player and the rhythm engine (stored by them as they start).
  std::atomic<uint32_t> PlayerThreadId{0};
  std::atomic<uint32_t> RhythmThreadId{0};
  // The player's sounding-note counts and sustain flags, [port][channel].
  std::atomic<int> ActiveNoteCounts[2][16]{};
  std::atomic<uint8_t> SustainPedalOn[2][16]{};

  // The volume watch's end (TimeGetTime ms; 0 closed) and the performance monitor's run flag.
  std::atomic<uint32_t> VolumeTraceUntil{0};
  std::atomic<uint8_t> PerfMonitorRunning{0};
};
extern SoundState Sound;
