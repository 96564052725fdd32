#pragma once
// The rhythm engine's sender: one style event to the sound module (tones, chord following,
// playable ranges, drum switches, levels, sounding notes), a window of pattern events, and the
// tambourine pulse of switch J.
#include <cstdint>
#include <vector>

#include "playback/rhythm_clock.h"
#include "playback/rhythm_style.h"
#include "songs/chords.h"
#include "sound/sound_state.h"

// Where a style note lands for a chord: the third follows major or minor, the part moves to the
// chord (bass to its bass note), bass and guitar are kept in their ranges, and the note always
// ends inside 0..127 (by whole octaves).
struct ChordFollowRange {
  int bassShift = 0;   // semitones added to bass notes
  int bassLow = 36;    // max(cvtBassLow, cvtBassLowSolo)
  int bassHigh = 55;
  int guitarLow = 48;  // 0: guitar not folded
};
int FollowChordNote(int note, int channel, const CurrentChordValue& chord, const ChordFollowRange& range);

// Sends one style event on `port`.
void SendCvtEvent(MidiOutHandle port, const StyleEvent& e);

// A window of a pattern: events with from < tick <= to, wrapping past the pattern end when to <
// from; the J pulses of the same stretch. In catch-up mode note-ons of one channel go out at least
// 12 ms apart (the clock sleeps the difference).
struct FireWindow {
  uint32_t from = 0, to = 0;
  bool catchUp = false;
  uint32_t patternLength = 0;  // main pattern length, for the pulses of a wrapped window
  int ppq = 120;
};
void FireStyleEvents(MidiOutHandle port, const std::vector<StyleEvent>& events, const FireWindow& w, RhythmClock& clock);
// Switch J: note 54 on channel 12 every half beat after `from` (from 0 when from is -1) up to `to`.
void PlayHalfBeatPulse(MidiOutHandle port, int64_t from, int64_t to, int ppq);

// Hooks for tests: where messages go (SendShortMidi by default) and the chord to follow (the
// song's chord at the player's tick by default). Null restores the default.
void SetCvtOutput(void (*send)(MidiOutHandle, uint32_t));
void SetCvtChordSource(CurrentChordValue (*chord)());
