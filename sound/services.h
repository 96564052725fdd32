#pragma once
// What the rest of the program calls in the MIDI output and sound control. Functions that are not
// built yet have a body in placeholders.cpp that logs once and returns the failure value.
#include <array>
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

// Not built yet (placeholders.cpp).
void ApplyCvtTones();
std::wstring BuildMixerInitScript();
// Writes at once a debounced save of "soundsel.cfg" or of the rhythm volumes that is requested or
// running.
void FlushDeferredSoundSaves();
void LoadEqConfig();
void LoadMixerConfig();
void LoadSoundSel();
void ResendChannelVolumes(const std::vector<int>& channels, bool keepRhythm);
void ResendSendOffsets();
void SaveMixerConfig();
void SendChorusSetup(int port, std::wstring_view moduleModel);
void SendDryDrumBassSends();
void SendEqSetup(bool force);
void SendReverbSetup();
