#pragma once
// The built-in software synthesizer: FluidSynth bound at run time from the synth folder (or the
// system), 32 channels (port 1 = 0-15, port 2 = 16-31), made to behave like a GS module where the
// songs rely on it: drum channels, rhythm-part assignment, GS reset, reverb and chorus.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <filesystem>
#include <vector>

#include "sound/sound_state.h"

// Sound.BuiltInSynthState: 0 not started, 1 running, -1 the last start failed (not retried
// until reset to 0).
std::wstring GetSynthStatusText();
// The loaded SoundFont's file name (empty when none).
std::wstring LoadedSoundFontName();

struct SynthGsEffects {
  int reverbMacro = 4, reverbTime = 64, reverbPreLpf = 0, reverbLevel = 64;
  int chorusLevel = 0, chorusRate = 3, chorusDepth = 19;
};
SynthGsEffects GetSynthGsEffects();

bool StartBuiltInSynth();
// A selection command allows a new attempt after a failure.
void ResetBuiltInSynthFailure();
bool SwapSoundfont(std::wstring_view fileName);
void SetSynthDrumChannels();
void ApplySynthEffects();
// The synthesizer's SysEx entry (port 0 or 1).
void SendSysExToSynth(int port, const uint8_t* bytes, size_t length);
// Short message to synthesizer channel (0-31): notes, key and channel pressure, controllers,
// programs and pitch bend. Nothing when the synthesizer is not running. Once the program renders
// the synthesizer itself, the message plays at the frame of its send time plus the look-ahead.
void SendShortToSynth(int synthChannel, uint8_t status, uint8_t data1, uint8_t data2);
// The time (plat::NowMs scale) that the calling thread's next messages to the synthesizer stand
// for: a sequencer that woke a little late for an event gives the event's own time, which the
// look-ahead absorbs. 0 (the default) stands for the moment of sending.
void SetSynthSendTime(double atMs);
// The delay from a message's send time to its frame; 0 when messages go in as they come.
double SynthLookAheadMs();
// Benchmarks: the file output renders its next block `ms` late (a render stall).
void DelayNextSynthFileBlock(double ms);

// The bank a synthesizer channel plays from (128 on drum channels), -1 when unknown.
int SynthChannelBank(int channel);

// The ".sf2" files of the synth folder, sorted.
std::vector<std::filesystem::path> SoundFontFiles();

// For tests: set before the start, the synthesizer writes raw 16-bit stereo at 44,100 Hz into
// this file, one 10 ms block after another on the wall clock, instead of playing on an audio
// device.
void SetSynthRenderFile(std::wstring_view path);
