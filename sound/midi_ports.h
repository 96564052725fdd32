#pragma once
// The three MIDI output slots (port 1, port 2, external module): device search by name, lazy
// opening with the fallbacks and Korean status texts, the built-in synthesizer's markers, and the
// device and SoundFont lists of the page's device dialog.
//
// A slot holds 0 (closed), a handle of an open device, or for ports 1 and 2 a marker that stands
// for the built-in synthesizer. Handles are opaque numbers, never pointers: a sender that holds
// an old handle after its slot was closed or reopened finds it no longer matches and drops the
// message, so nothing is ever sent on a closed device.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sound/ext_module.h"
#include "sound/midi_devices.h"
#include "sound/midi_slots.h"

// One complete SysEx message to one slot (0 = port 1, 1 = port 2), opening it when needed.
// Nothing in raw sound mode. Clears the controller cache. False when not sent (a device's refusal
// is logged).
bool SendSysExToPort(int port, const std::vector<uint8_t>& message);

// The last port-1/port-2 failure text (empty = fine).
std::wstring GetMidiPortStatusText();


// The device name port 1 (0) or port 2 (1) looks for when none is set: the machine's first and
// second MIDI output ports, through ports left out. Empty when there is no such port.
std::wstring DefaultPortName(int port);

// Open the slot (a device, or the built-in synthesizer when it is chosen or no device is there).
bool OpenMidiPort1();
bool OpenMidiPort2();
// The slot for a song event's output port: port 1 -> port 2 when it opens, else port 1.
MidiOutHandle GetPortHandle(int port);
// Closes a real handle and empties its slot; a marker is left alone (0).
int CloseMidiOut(MidiOutHandle handle);
// Device change: all notes and sounds off on the open ports, then both closed (markers are just
// removed), Sound.Port2OpenTried cleared. The next OpenMidiPort1/2 reopens.
void CloseMidiPorts();
// Stores both names (trimmed) as port1Device/port2Device, saves, closes both ports.
void ApplyMidiDeviceSelection(std::wstring_view port1Name, std::wstring_view port2Name);

void CloseExternalModule();

// Page-script array literals of the device dialog.
std::wstring BuildMidiDeviceList();
std::wstring BuildSoundFontList();

// The synthesizer entry of the device list.
inline constexpr std::wstring_view kBuiltInSynthDeviceName = L"내장음원(FluidSynth)";
