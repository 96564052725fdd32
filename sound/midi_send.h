#pragma once
// The one short-message sender and the one SysEx sender, with the output policy around them:
// external-module routing, volume ceiling, controller de-duplication, load trace, pacing of setup
// bursts, and the translation to the built-in synthesizer. Also the send statistics and the
// player's tick stamp.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "sound/midi_slots.h"
#include "sound/send_trace.h"

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
// A SysEx message handed to a port without waiting for the device: the record owns the bytes
// until the device has let go of them (CollectSysExDone).
struct PendingSysEx {
  std::vector<uint8_t> bytes;
  MidiOutHandle handle = 0;
};
using PendingSysExList = std::vector<std::unique_ptr<PendingSysEx>>;
// Hands one complete SysEx message to a slot value (device or synthesizer marker) and returns at
// once; the record joins `pending`. Sent also in raw sound mode (a song's own SysEx). Clears the
// controller cache. False when nothing was sent (no such open port, device error).
bool SendSysExNoWait(MidiOutHandle handle, std::vector<uint8_t> bytes, PendingSysExList& pending);
// Frees the records whose device is done with them, in order; a record still being played out
// stays (and the later ones wait behind it). Returns how many stay.
size_t CollectSysExDone(PendingSysExList& pending);
// Cuts a byte string into its SysEx messages; an unterminated tail is dropped.
std::vector<std::vector<uint8_t>> SplitSysEx(std::string_view bytes);

void ClearCcCache();
std::atomic<uint32_t>& CcDedupDropCount();

// Pacing of a setup burst on the calling thread until `deadline` (TimeGetTime ms; 0 = off).
void OpenSendPacing(uint32_t deadline);

double NowMs();
// Stamps the player's tick for the rhythm engine's interpolation (Sound.ClockSample).
uint32_t StampTickPosition(long long tick);
// Stamps a (fractional) tick as current at `atMs` (a plat::NowMs time): ClockSample in whole
// milliseconds, and the microsecond stamp the interpolation prefers.
void StoreClockSample(double tick, double atMs);
// How far the song has moved past `currentTick` since the last stamp; `msPerTick` and `paused`
// are the song clock's values now.
double InterpolateTickFraction(uint32_t currentTick, double msPerTick, bool paused);

void AccountMidiSend(double elapsedMs, size_t bytes);


// Clears the player's sounding-note counts and sustain flags (Sound.ActiveNoteCounts and
// Sound.SustainPedalOn).
void ResetActiveNoteCounts();

// Hands one SysEx message to a slot value (device or marker), waiting until the device no longer
// holds the bytes. Caller has checked raw sound mode. False when nothing was sent.
bool SendLongToHandle(MidiOutHandle handle, int portIndex, const std::vector<uint8_t>& message);
