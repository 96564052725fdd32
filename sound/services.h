#pragma once
// What the rest of the program calls in the MIDI output and sound control. Functions that are not
// built yet have a body in placeholders.cpp that logs once and returns the failure value.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// External module routing: [port][channel] 1 = that channel goes to the external module only.
extern std::array<std::array<int, 16>, 2> ExtRouteFlags;
// External module note map: incoming note -> outgoing note, -1 unmapped.
extern std::array<int, 128> ExtNoteMap;

std::wstring FormatExtNoteMap();
std::wstring FormatExtRouting();
void ParseExtNoteMap(std::wstring_view text);
void ParseExtRouting(std::wstring_view text);
// Up to the first NUL, characters below U+0020 dropped, then blanks, tabs, CR and LF trimmed.
std::wstring StripControlAndTrim(std::wstring_view text);

// The equalizer values of "eq.cfg": frequency choices 0/1, gains 52..76 (64 = 0 dB).
struct EqSettingsValues {
  int lowFreq = 0;
  int lowGain = 64;
  int highFreq = 0;
  int highGain = 64;
};

// Not built yet (placeholders.cpp).
extern EqSettingsValues EqSettings;
using MidiOutHandle = std::uintptr_t;
// Output handles of ports 1 and 2: 0 closed, an open device, or a built-in synthesizer marker.
extern std::atomic<MidiOutHandle> MidiOutPort1;
extern std::atomic<MidiOutHandle> MidiOutPort2;
// Counters of the MIDI senders, read and reset by exchange with 0 by the performance monitor.
struct MidiSendStatsValues {
  std::atomic<long> messages{0}, rhythmThreadMessages{0}, playerThreadMessages{0}, otherMessages{0};
  std::atomic<long> bytes{0}, busyUs{0}, longestUs{0}, sysexUs{0}, rhythmJitterUs{0}, duplicatesDropped{0};
};
extern MidiSendStatsValues MidiSendStats;

void ApplyCvtTones();
// "initSoundState(...)" without a try block.
std::wstring BuildInitSoundStateScript();
std::wstring BuildMixerInitScript();
// The page array literal of the tone table.
std::wstring BuildSoundTablePayload();
void CloseExternalModule();
int CloseMidiOut(MidiOutHandle handle);  // a real handle is closed; a synthesizer marker is left
// Writes at once a debounced save of "soundsel.cfg" or of the rhythm volumes that is requested or
// running.
void FlushDeferredSoundSaves();
void LoadEqConfig();
void LoadMixerConfig();
void LoadPatchTable();
void LoadSoundSel();
void LoadSoundTable();
void ResendChannelVolumes(const std::vector<int>& channels, bool keepRhythm);
void ResendSendOffsets();
void ResetMixerDefaults();
void SaveMixerConfig();
void SendChorusSetup(int port, std::wstring_view moduleModel);
void SendDryDrumBassSends();
void SendEqSetup(bool force);
void SendReverbSetup();
bool SoundTableIsEmpty();
void StartStopExternalClock();
