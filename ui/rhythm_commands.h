#pragma once
// Page commands of the rhythm engine: start, stop (with the ending), style choice, the drum
// switches G/H/J, the fill keys and the Q effect sound (window thread). Each takes the whole
// message and reads its argument after the command name.
#include <string>

void HandleRhythmOn(const std::wstring& m);
void HandleRhythmOff(const std::wstring& m);
void HandleRhythmStyle(const std::wstring& m);
void HandleCvtSnareSub(const std::wstring& m);
void HandleCvtFill(const std::wstring& m);
void HandleCvtQfx(const std::wstring& m);
void HandleSetQfx(const std::wstring& m);
// The Q effect note in force (27..87, 54 by default).
int QfxNote();
