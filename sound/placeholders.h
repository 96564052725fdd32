#pragma once
// The parts of the sound control that are not built yet: each body in placeholders.cpp logs once
// and returns the failure value, or answers as when the operator chose nothing.
#include <string>

// Not built yet (placeholders.cpp).
// All sound off and all notes off on every channel of every open output.
void AllSoundOffAllPorts();
void ApplyCvtTones();
// "initSoundState(...)" without a try block.
std::wstring BuildInitSoundStateScript();
// The page array literal of the tone table.
std::wstring BuildSoundTablePayload();
// Writes at once a debounced save of "soundsel.cfg" or of the rhythm volumes that is requested or
// running.
void FlushDeferredSoundSaves();
void LoadSoundSel();
void LoadSoundTable();
void ResendSendOffsets();
void SendDryDrumBassSends();
bool SoundTableIsEmpty();
void StartStopExternalClock();

// Tone choices of the rhythm parts that the player follows. The tone table is not built yet:
// these answer as when the operator chose nothing (placeholders.cpp).
int GetCvtBassProgram();  // 33 (fingered bass)
bool IsUserBassToneSet();
bool IsUserSaxToneSet();
int UserSaxProgram();
bool IsUserDrumKitSet(int channel);
int UserDrumKitProgram(int channel);
// The replacement note of a channel's tone slot, or the note itself.
int DrumNoteOverride(int port, int channel, int note);
// The octave shift of the melody channel's tone (port 1, channel 0).
int MelodyOctaveShift();
