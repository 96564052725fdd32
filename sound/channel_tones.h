#pragma once
// The channel tone editor of the sound panel (volume, pitch, filter, reverb, resonance, melody
// octave per part), the file "soundsel.cfg" that keeps the tone choices and these settings, the
// debounced saves of that file and of the rhythm channel volumes, and the page's sound state.
#include <string>
#include <string_view>

#include "sound/deferred_save.h"
#include "sound/tone_table.h"

// Parameter numbers of the editor commands.
enum ToneParameter { kParamVolume, kParamPitch, kParamFilter, kParamReverb, kParamFilterLow, kParamComp, kParamOctave };

// One editor step: argument part ":" context [":" step]. Returns the page script of the new values
// ("updateSoundToneDisplay"), empty when the step was refused or malformed.
std::wstring AdjustChannelTone(std::wstring_view argument, int parameter, int delta);
// The page command: AdjustChannelTone, then the reply posted to the page and the deferred save.
void HandleSoundToneAdjust(std::wstring_view argument, int parameter, int delta);

// "soundsel.cfg".
std::string FormatSoundSel();
void ParseSoundSel(std::string_view bytes);
void LoadSoundSel();
void SaveSoundSel();
// Rhythm channel volumes: all settings, then the base preset's "cvtVolCh" key.
void SaveCvtVolumes();

DeferredSave& SoundSelSaver();
DeferredSave& CvtVolumeSaver();
void StartDeferredSoundSelSave();
void StartDeferredCvtVolumeSave();
void FlushDeferredSoundSaves();

// Where the rhythm channel volumes are also kept in the base preset (installed by the page layer).
using PresetKeyWriter = bool (*)(std::string_view key, std::string_view value);
void SetPresetKeyWriter(PresetKeyWriter writer);

// "initSoundState(names,tones)" without a try block.
std::wstring BuildInitSoundStateScript();
