#pragma once
// What the rhythm engine's sender keeps about the sound module (tones sent, notes sounding, the
// page's drum switches G, H, J) and the rhythm parts' panic and kit operations.
#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "sound/sound_state.h"

struct RhythmPartsState {
  // Bank MSB, bank LSB and program last sent per channel, 0xFF none; `valid` clear: all unknown.
  struct ToneCache {
    std::array<uint8_t, 16> msb{}, lsb{}, program{};
    bool valid = false;
  } CvtToneCache;
  // Per engine channel and style note: sounding, and the note actually sent.
  struct Sounding {
    uint8_t on = 0;
    uint8_t sent = 0;
  };
  std::array<std::array<Sounding, 128>, 16> CvtSoundingNotes{};
  int bassNotesOn = 0;                        // bass notes sounding, for the trace
  std::atomic<int> BassOctaveShift{0};        // semitones, set per song
  // The page's rhythm switches: G the electronic kit's snare, H a clap, J the tambourine pulse.
  std::atomic<uint8_t> SnareSubKitOn{0}, SnareSubClapOn{0}, SnareSubShakerOn{0};
};
extern RhythmPartsState RhythmParts;

// Every cache entry unknown, so the next tone event goes out.
void MarkCvtToneCachesEmpty();
// Note-offs for every engine note still sounding, then controller 123 on channels 6, 8, 13, 14.
void ReleaseCvtHeldNotes(MidiOutHandle handle);
// Controller 123 (and, unless soft, 121 and 64 = 0) on the listed channels of port 1 (sparing the
// rhythm's own while it runs when `keepRhythm`) and of port 2.
void PanicCvtChannels(std::initializer_list<int> channels, bool soft, bool keepRhythm);
// Port 1 channel 10 back to the style's kit (and the operator's kit when one is chosen).
void RestoreSecondDrumKit();
// The electronic drum set on channel 10 (switch G).
void SendElectronicKit(MidiOutHandle port);
// "CVT_SNARE_SUB:" n: toggles G (1), H (2) or J (3) while the rhythm runs. False when ignored.
bool ToggleRhythmSubstitution(int n);
// The toast text for the switches now: their names joined, or the plain-sound notice.
std::wstring RhythmSubstitutionToast();
// Called by a hard panic: the player's chased controller state is no longer on the module.
void SetHardPanicHook(void (*hook)());
