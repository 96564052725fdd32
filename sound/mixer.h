#pragma once
// The mixer: operator levels per channel, group masters, rhythm-engine levels, reverb and chorus
// send offsets, "mixer.cfg", and ComputeOutputVolume, through which every channel volume passes.
// Port index 0 is output port 1, 1 is port 2; channels are 0-based.
//
// The tables are read by the player and rhythm threads while the window thread changes them;
// every element is an atomic word, so a reader sees the old or the new value, never a torn one.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

extern std::atomic<int> MixerChannelPercent[2][16];
extern std::atomic<int> RhythmChannelPercent[16];
extern std::atomic<int> MixerGroupMaster[3];
extern std::atomic<int> ReverbSendOffset[2][16];
extern std::atomic<int> ChorusSendOffset[2][16];
extern std::atomic<int> EffectiveChannelPercent[2][16];
extern std::atomic<int> EffectiveRhythmPercent[16];
extern std::atomic<uint8_t> SongChannelVolume[2][16];
extern std::atomic<uint8_t> ChannelVolumeOverride[2][16];
extern std::atomic<uint8_t> SongReverbSend[2][16];
extern std::atomic<uint8_t> SongChorusSend[2][16];
extern std::atomic<int> PatchVolumePercent[2][16];

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
// Flags of the channels that sounded in the last 250 ms (LastNoteOnTime, TimeGetTime values).
std::wstring BuildChannelActivityScript();
extern std::atomic<uint32_t> LastNoteOnTime[2][16];
// The same table under the name the page commands use.
inline auto& ChannelLastNoteTime = LastNoteOnTime;

// Resends controller 91 and 93 of one channel with its offsets.
void SendChannelEffectSends(int port, int channel);
