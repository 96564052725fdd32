#pragma once
// Page commands of the mixer, volumes, channel sounds, output devices, external module, effects
// and sax melody options (window thread). Each takes the whole message.
#include <string>
#include <string_view>
#include <vector>

// The integers of an argument read like the C scanner with "%d:%d:...": fields in order, a field
// that is not a number ends the reading and it and the rest keep their defaults.
std::vector<int> ScanColonInts(std::wstring_view argument, std::vector<int> defaults);

void HandleToggleMelodyMute(const std::wstring& m);
void HandleToggleSolo1Mute(const std::wstring& m);
void HandleToggleSolo2Mute(const std::wstring& m);
void HandleApplySound(const std::wstring& m);
void HandleSoundVolUp(const std::wstring& m);
void HandleSoundVolDown(const std::wstring& m);
void HandleSoundPitchUp(const std::wstring& m);
void HandleSoundPitchDown(const std::wstring& m);
void HandleSoundFilterUp(const std::wstring& m);
void HandleSoundFilterDown(const std::wstring& m);
void HandleSoundReverbUp(const std::wstring& m);
void HandleSoundReverbDown(const std::wstring& m);
void HandleSoundFilterLowUp(const std::wstring& m);
void HandleSoundFilterLowDown(const std::wstring& m);
void HandleSoundOctUp(const std::wstring& m);
void HandleSoundOctDown(const std::wstring& m);
void HandleSoundCompUp(const std::wstring& m);
void HandleSoundCompDown(const std::wstring& m);
void HandleSetBuiltin(const std::wstring& m);
void HandleSetChPct(const std::wstring& m);
void HandleSetCvtPct(const std::wstring& m);
void HandleSetMixMaster(const std::wstring& m);
void HandleVolGlobal(const std::wstring& m);
void HandleVolGlobalSave(const std::wstring& m);
void HandleSongVolSave(const std::wstring& m);
void HandleSongVolClear(const std::wstring& m);
void HandleRequestChVols(const std::wstring& m);
void HandleRequestChAct(const std::wstring& m);

void HandleOpenMidiDeviceSelect(const std::wstring& m);
void HandleSelectMidiDevices(const std::wstring& m);
void HandleMidiStatus(const std::wstring& m);
void HandleSetModule(const std::wstring& m);
void HandleSetModuleTone(const std::wstring& m);
void HandleSetNativeMap(const std::wstring& m);
void HandleSetOutput(const std::wstring& m);
void HandleSoundStateReq(const std::wstring& m);
void HandleSetReverbLv(const std::wstring& m);
void HandleSetReverbShape(const std::wstring& m);
void HandleSetChorus(const std::wstring& m);
void HandleSetEq(const std::wstring& m);
void HandleSetChSend(const std::wstring& m);
void HandleSaveMixerFx(const std::wstring& m);
void HandleSetSaxBend(const std::wstring& m);
void HandleSetSaxBreath(const std::wstring& m);
void HandleSetSaxGate(const std::wstring& m);
void HandleSetSaxInsFx(const std::wstring& m);
void HandleSetSaxInsLv(const std::wstring& m);
void HandleSetSaxBoost(const std::wstring& m);
void HandleSetSaxLayer(const std::wstring& m);
void HandleSetSaxExpr(const std::wstring& m);
void HandleSetRawSound(const std::wstring& m);
void HandleSetCcDedup(const std::wstring& m);

void HandleExtList(const std::wstring& m);
void HandleExtApply(const std::wstring& m);
void HandleExtPanic(const std::wstring& m);

// The SoundFont a device selection may name: a bare ".sf2" file name of the synth folder.
bool IsSelectableSoundFont(std::wstring_view name);
