#pragma once
// GS module setup: the SysEx setup files, DT1 parameter messages for reverb, chorus, equaliser
// and output assignment, the SC-8850 native map, and the setup sent before every song.
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sound/insertion_effect.h"
#include "sound/module_sysex.h"


// The module models a port may be set to.
inline constexpr std::array<std::wstring_view, 3> kModuleModels = {L"CS88Pro", L"SC8820", L"SC8850"};
bool IsKnownModuleModel(std::wstring_view model);

// The equalizer values of "eq.cfg": frequency choices 0/1, gains 52..76 (64 = 0 dB).
struct EqSettingsValues {
  int lowFreq = 0;   // 0 = 200 Hz, 1 = 400 Hz
  int lowGain = 64;  // 52..76, 64 = 0 dB
  int highFreq = 0;  // 0 = 3 kHz, 1 = 6 kHz
  int highGain = 64;
};
extern EqSettingsValues EqSettings;


void SendSyxFileToPort(std::wstring_view fileName, int port);
void SendModulePreset(int port, std::wstring_view model);
void SendGsParam(uint8_t a2, uint8_t a3, const std::vector<uint8_t>& data);
void SendGsParamToPort(int port, uint8_t a2, uint8_t a3, const std::vector<uint8_t>& data);
void SendReverbSetup();
void SendChorusSetup(int port, std::wstring_view model);
void SendChorusSetupAllPorts();
bool IsSc8850Port(int port, int channel);
void SendNativeMapBank();
void ApplyOutputMode();
void SendEqSetup(bool force);
void SaveEqConfig();
void LoadEqConfig();
// Stores "SET_EQ:" values (frequencies 0/1, gains clamped 52..76), sends with force, saves.
void SetEqFromPage(int lowFreq, int lowGain, int highFreq, int highGain);
void SendProSetOnce(bool applyTones);
// The setup before every song (player and transitions).
void SendSongModuleSetup();
void SendSongModuleSetupFor(const SongEfxScan& song);
// The setup before the rhythm starts without a song: the setup file once, equaliser, reverb,
// chorus, the native map and the 4-output assignment of port 1.
void SendRhythmModuleSetup();
