#pragma once
// The one short-message sender and the one SysEx sender, with the output policy around them:
// external-module routing, volume ceiling, controller de-duplication, load trace, pacing of setup
// bursts, and the translation to the built-in synthesizer. Also the send statistics and the
// player's tick stamp.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sound/midi_ports.h"

// Packs a short message: status in bits 0-7, data bytes (7 bits each) in bits 8-14 and 16-22.
constexpr uint32_t PackMidi(unsigned status, unsigned data1 = 0, unsigned data2 = 0) {
  return (status & 0xFFu) | ((data1 & 0x7Fu) << 8) | ((data2 & 0x7Fu) << 16);
}

// Sends one short message to a slot value. Device result, or 0 (routed, dropped, synthesizer);
// an empty or closed handle gives 5 (invalid handle) and sends nothing. A device's refusal is
// logged and returned.
int SendShortMidi(MidiOutHandle handle, uint32_t message);
// One complete SysEx message (F0 ... F7) to port 1 and port 2. False when an open port refused
// it (the refusal is logged), or in raw sound mode.
bool SendSysExBothPorts(const std::vector<uint8_t>& message);
// One complete SysEx message to one slot (0 = port 1, 1 = port 2), opening it when needed.
// Nothing in raw sound mode. Clears the controller cache. False when not sent (a device's refusal
// is logged).
bool SendSysExToPort(int port, const std::vector<uint8_t>& message);
// Cuts a byte string into its SysEx messages; an unterminated tail is dropped.
std::vector<std::vector<uint8_t>> SplitSysEx(std::string_view bytes);

void ClearCcCache();
std::atomic<uint32_t>& CcDedupDropCount();

// Pacing of a setup burst on the calling thread until `deadline` (TimeGetTime ms; 0 = off).
void OpenSendPacing(uint32_t deadline);

double NowMs();
// The player's tick stamp for the rhythm engine's interpolation.
extern std::atomic<uint64_t> ClockSample;
uint32_t StampTickPosition(long long tick);
// How far the song has moved past `currentTick` since the last stamp; `msPerTick` and `paused`
// are the song clock's values now.
double InterpolateTickFraction(uint32_t currentTick, double msPerTick, bool paused);

// Counters of the MIDI senders, read and reset by exchange with 0 by the performance monitor.
struct MidiSendStatsValues {
  std::atomic<long> messages{0}, rhythmThreadMessages{0}, playerThreadMessages{0}, otherMessages{0};
  std::atomic<long> bytes{0}, busyUs{0}, longestUs{0}, sysexUs{0}, rhythmJitterUs{0}, duplicatesDropped{0};
};
extern MidiSendStatsValues MidiSendStats;
// Thread ids of the player and the rhythm engine (stored by them as they start).
extern std::atomic<uint32_t> PlayerThreadId;
extern std::atomic<uint32_t> RhythmThreadId;
void AccountMidiSend(double elapsedMs, size_t bytes);


// The player's sounding-note counts and sustain flags, [port][channel].
extern std::atomic<int> ActiveNoteCounts[2][16];
extern std::atomic<uint8_t> SustainPedalOn[2][16];
void ResetActiveNoteCounts();
