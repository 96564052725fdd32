#pragma once
// Finding a MIDI output device by name, and the texts of MIDI output errors.
#include <string>
#include <string_view>
#include <vector>

// StripControlAndTrim, then a Windows duplicate prefix ("2- ") is dropped.
std::wstring NormalizeDeviceName(std::wstring_view name);
// Exact pass over all wanted names, then substring pass; case matters. False: index 0.
bool FindMidiOutDevice(const std::vector<std::wstring>& wanted, unsigned* index);
// Korean text of a MIDI output error number.
std::wstring MidiOutErrorText(int error);
