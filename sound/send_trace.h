#pragma once
// The senders' traces in the trace log: the report of the module loading a song start sends, a
// watch over the rhythm channels' volume messages, and a performance monitor.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sound/midi_slots.h"

// The module-loading report of a song start: what the senders recorded while it was armed.
struct LoadTraceRecord {
  double timeMs = 0;  // since arming
  MidiOutHandle port = 0;
  uint8_t channel = 0;
  uint8_t kind = 0;   // 0 bank MSB, 1 bank LSB, 2 program, 3 CC121, 4 CC7, 5 CC120, 6 CC123, 7 CC11, 8 CC10
  uint8_t value = 0;
};
struct LoadTraceState {
  static constexpr int kCapacity = 1024;
  std::atomic<uint8_t> armed{0};
  std::atomic<double> armedAtMs{0};  // NowMs at arming
  std::atomic<int> count{0};  // records claimed; only indexes below kCapacity are stored
  std::atomic<uint32_t> generation{0};  // counts the armings
  LoadTraceRecord records[kCapacity];
  // The arming a record was written under, stored once the record is whole: the report reads a
  // record only after its stamp, while other senders may still be writing theirs.
  std::atomic<uint32_t> stored[kCapacity] = {};
};
extern LoadTraceState LoadTraceRecords;

// Arms the load trace afresh (a song start: everything sent from now on up to its first note).
void ArmLoadTrace();
// Reports and disarms the load trace (the player calls it when the song's first note is due).
void ReportChannelLoad();

// The volume watch over the rhythm engine's channels.
void OpenVolumeTrace(uint32_t ms);
uint32_t VolumeTraceOpenedAt();  // TimeGetTime ms of the last opening
void TraceVolumeCc(int port, int channel, int controller, int value);  // controller 128: program
void TraceVolumeSysEx(const uint8_t* bytes, size_t length, std::wstring_view label);

// 150 samples, 100 ms apart, of processor load, memory and the MIDI send counters.
void StartPerfMonitor();

// Counters of the MIDI senders, read and reset by exchange with 0 by the performance monitor.
struct MidiSendStatsValues {
  std::atomic<long> messages{0}, rhythmThreadMessages{0}, playerThreadMessages{0}, otherMessages{0};
  std::atomic<long> bytes{0}, busyUs{0}, longestUs{0}, sysexUs{0}, rhythmJitterUs{0}, duplicatesDropped{0};
};
extern MidiSendStatsValues MidiSendStats;
