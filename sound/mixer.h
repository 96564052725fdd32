#pragma once
// The mixer: operator levels per channel, group masters, rhythm-engine levels, reverb and chorus
// send offsets, "mixer.cfg", and ComputeOutputVolume, through which every channel volume passes.
// Port index 0 is output port 1, 1 is port 2; channels are 0-based. The tables are in
// sound/mixer_state.h.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "sound/mixer_state.h"


void ResetMixerDefaults();
bool IsDrumGroupChannel(int port, int channel);
bool IsRhythmOwnedChannel(int port, int channel);
bool IsCvtOwnedChannel(int port, int channel);
bool IsRhythmOwnedChannelDuringSetup(int port, int channel);
void UpdateChannelLevel(int port, int channel);
void UpdateRhythmChannelLevel(int channel);
void RecomputeAllLevels();
int AddSendOffset(int value, int offset);
bool AnySendOffsetSet();
uint32_t HashSendTables();

int ComputeOutputVolume(int port, int channel, int base);
int DefaultRhythmVolume(int channel);
void ResendChannelVolumes(const std::vector<int>& channels, bool skipRhythmOwned);
void FadeOutVolumes();

void LoadMixerConfig();
void SaveMixerConfig();
std::wstring BuildMixerInitScript();

// Page commands.
void SetMixerChannelPercent(int port, int channel, int percent);
void SetRhythmChannelPercent(int channel, int percent);
void SetMixerGroupMaster(int group, int percent);
void SetChannelSendOffset(bool chorus, int port, int channel, int offset);
// Changes volAllUser (which != 1) or volOrchUser, resends the volumes; returns the page script.
std::wstring AdjustUserVolume(int which, int delta);
std::wstring BuildMixerVolumesScript();
// Flags of the channels that sounded in the last 250 ms (Mixer.LastNoteOnTime, TimeGetTime values).
std::wstring BuildChannelActivityScript();
// The same table under the name the page commands use.
inline auto& ChannelLastNoteTime = Mixer.LastNoteOnTime;

// Resends controller 91 and 93 of one channel with its offsets (tone_table.cpp: the tone editor's
// reverb of the second drum kit stands).
void SendChannelEffectSends(int port, int channel);
