#pragma once
// MIDI output devices in place of the WinMM output functions: a device list by index, open by
// index, short and long (SysEx) messages, reset and close, with WinMM's error numbers.
//
// Real devices are the ALSA sequencer ports as RtMidi reports them. Besides them the layer
// lists scripted devices, which is how tests (and a machine without sound hardware) see devices:
// a scripted device appends every message it is given to its record file as one line
//   "<microseconds> <tag> <bytes in hex>"
// (the tag is what the opener passed: the output slot's name), and it can be told to fail its
// open with an error number, to have unreadable capabilities, or to keep a SysEx buffer busy.
// A device named "record:<file>" records into <file>. Scripted devices come from
// SetFakeMidiOutDevices or, at first use, from the environment variable TAVELO_MIDI_OUT:
// entries separated by ";", each "<name>[=<record file>][!<open error>][~hold]" (~hold: a
// SysEx buffer stays busy until the device is reset).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// WinMM error numbers used by the layer.
inline constexpr int kMidiOk = 0;
inline constexpr int kMidiError = 1;  // the driver refused the message (MMSYSERR_ERROR)
inline constexpr int kMidiBadDeviceId = 2;
inline constexpr int kMidiAllocated = 4;
inline constexpr int kMidiInvalidHandle = 5;
inline constexpr int kMidiNoDriver = 6;
inline constexpr int kMidiNoMemory = 7;
inline constexpr int kMidiInvalidParam = 11;
inline constexpr int kMidiStillPlaying = 65;

class MidiOutDevice;

// Takes a fresh look at the devices and returns how many there are; the indexes below refer to
// this look until the next call.
unsigned MidiOutDeviceCount();
// The product name of a device of the last look; false when it cannot be read.
bool MidiOutDeviceName(unsigned index, std::wstring* name);

// Opens a device of the last look. `tag` names the opener in recordings. kMidiOk or an error.
int MidiOutOpen(unsigned index, std::string_view tag, MidiOutDevice** out);
int MidiOutClose(MidiOutDevice* dev);
// Status byte in bits 0-7, data bytes in bits 8-15 and 16-23; the length follows the status.
int MidiOutShortMsg(MidiOutDevice* dev, uint32_t message);
// Hands a complete SysEx message to the device. The bytes must stay valid until
// MidiOutLongDone reports true (or MidiOutReset was called).
int MidiOutLongMsg(MidiOutDevice* dev, const uint8_t* bytes, size_t length);
bool MidiOutLongDone(MidiOutDevice* dev);
// Stops output at once and gives back every buffer the device still holds.
int MidiOutReset(MidiOutDevice* dev);
// The driver's own words on the device's last failed send; empty when none failed.
std::string MidiOutLastError(MidiOutDevice* dev);

struct FakeMidiOutDevice {
  std::wstring name;
  std::filesystem::path recordFile;  // empty: messages are accepted and dropped
  int openError = kMidiOk;           // the open fails with this number when not 0
  bool namesUnreadable = false;      // its capabilities cannot be read
  bool holdsSysEx = false;           // a SysEx buffer stays busy until the device is reset
  int sendError = kMidiOk;           // sends fail with this number (and record nothing) ...
  std::string failingBytes{};        // ... those that hold these bytes, or all when empty
};
// Replaces the scripted devices (listed after the real ones). Devices already open keep working.
void SetFakeMidiOutDevices(std::vector<FakeMidiOutDevice> devices);
// A recording device stamps a message of a real-time thread (MarkRealtimeThread) at once and
// leaves the file write to a writer thread; this writes what still waits.
void FlushMidiRecords();

}  // namespace plat
