#pragma once
// The mixer's state: operator levels per channel, group masters, rhythm-engine levels, reverb and
// chorus send offsets, the song's own channel values and the levels in effect. Port index 0 is
// output port 1, 1 is port 2; channels are 0-based.
//
// The tables are read by the player and rhythm threads while the window thread changes them;
// every element is an atomic word, so a reader sees the old or the new value, never a torn one.
#include <atomic>
#include <cstdint>

struct MixerState {
  std::atomic<int> MixerChannelPercent[2][16];      // the operator's level per channel
  std::atomic<int> RhythmChannelPercent[16];        // the operator's level per rhythm-engine channel
  std::atomic<int> MixerGroupMaster[3];             // group masters
  std::atomic<int> ReverbSendOffset[2][16];         // the operator's send offsets
  std::atomic<int> ChorusSendOffset[2][16];
  std::atomic<int> EffectiveChannelPercent[2][16];  // levels in effect, masters included
  std::atomic<int> EffectiveRhythmPercent[16];
  std::atomic<uint8_t> SongChannelVolume[2][16];    // the song's own CC7, reverb and chorus values
  std::atomic<uint8_t> ChannelVolumeOverride[2][16];
  std::atomic<uint8_t> SongReverbSend[2][16];
  std::atomic<uint8_t> SongChorusSend[2][16];
  std::atomic<int> PatchVolumePercent[2][16];       // volume of the patch table's substituted tones
  std::atomic<uint32_t> LastNoteOnTime[2][16];      // TimeGetTime of each channel's last note-on
};
extern MixerState Mixer;
