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

using MidiOutHandle = std::uintptr_t;

inline constexpr MidiOutHandle BUILTIN_SYNTH_PORT1 = 0xB1517001u;  // synthesizer channels 0-15
inline constexpr MidiOutHandle BUILTIN_SYNTH_PORT2 = 0xB1517002u;  // synthesizer channels 16-31
constexpr bool IsSynthMarker(MidiOutHandle h) { return h - BUILTIN_SYNTH_PORT1 <= 1; }

// The slots. Read freely; changed only by the functions below.
extern std::atomic<MidiOutHandle> MidiOutPort1;
extern std::atomic<MidiOutHandle> MidiOutPort2;
extern std::atomic<MidiOutHandle> ExtModuleOut;

extern std::atomic<uint8_t> Port2OpenTried;      // port 2 failed; no retry until a device change
extern std::atomic<uint8_t> ExtModuleOpenTried;  // the module failed; no retry until closed

// The last port-1/port-2 failure text (empty = fine) and the external module's status text.
std::wstring GetMidiPortStatusText();
std::wstring GetExtModuleStatusText();

// StripControlAndTrim, then a Windows duplicate prefix ("2- ") is dropped.
std::wstring NormalizeDeviceName(std::wstring_view name);
// Exact pass over all wanted names, then substring pass; case matters. False: index 0.
bool FindMidiOutDevice(const std::vector<std::wstring>& wanted, unsigned* index);
// Korean text of a MIDI output error number.
std::wstring MidiOutErrorText(int error);

bool OpenMidiPort1();
bool OpenMidiPort2();
// The slot for a song event's output port: port 1 -> port 2 when it opens, else port 1.
MidiOutHandle GetPortHandle(int port);
// Closes a real handle and empties its slot; a marker is left alone (0).
int CloseMidiOut(MidiOutHandle handle);
// Device change: all notes and sounds off on the open ports, then both closed (markers are just
// removed), Port2OpenTried cleared. The next OpenMidiPort1/2 reopens.
void CloseMidiPorts();
// Stores both names (trimmed) as port1Device/port2Device, saves, closes both ports.
void ApplyMidiDeviceSelection(std::wstring_view port1Name, std::wstring_view port2Name);

bool OpenExternalModule();
void CloseExternalModule();

// Page-script array literals of the device dialog.
std::wstring BuildMidiDeviceList();
std::wstring BuildSoundFontList();

// The synthesizer entry of the device list.
inline constexpr std::wstring_view kBuiltInSynthDeviceName = L"내장음원(FluidSynth)";
