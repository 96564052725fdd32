#pragma once
// Fills and the ending: cutting a fill from a fill file's tail, playing a fill list on the song
// clock or the wall clock, the manual fills of the keys A, S, D, F and the fill of a song started
// with Enter over the running rhythm.
#include <cstdint>
#include <vector>

#include "playback/rhythm_clock.h"
#include "playback/rhythm_style.h"
#include "sound/sound_state.h"

// The last `n` ticks of a fill's note events (channels 6, 8, 9 left out), shifted to start at 0;
// notes left sounding get a note-off at the cut's end.
std::vector<StyleEvent> BuildFillFromPatternTail(const std::vector<StyleEvent>& source, uint32_t n);

// The transition fill: the same cut from the active default fill, channels 9 to 14 only, with the
// tones of its channels 13 and 14 in front. `length` gets the cut's length: min(n, the fill's last
// tick), 0 when nothing was cut.
std::vector<StyleEvent> SelectFillEvents(const std::vector<StyleEvent>& defaultFill, uint32_t n, uint32_t* length);
// When the fill plays channel 13 or 14: the first controller of each number and the first program
// of those channels in `defaultFill`, put in front at tick 0.
void PrependFillChannelTones(std::vector<StyleEvent>& fill, const std::vector<StyleEvent>& defaultFill);

struct FillPlayOptions {
  bool stopWithEngine = false;  // stop when the engine stops
  bool forceWallClock = false;
  bool skipBass = false;
};
// Plays a list to its end through the rhythm sender (FillPlaying set meanwhile). A last crash
// cymbal is held back and sent with velocity 55 at the end.
void PlayFillEvents(MidiOutHandle port, const std::vector<StyleEvent>& events, FillPlayOptions options, RhythmClock& clock);
// Plays a fill over the running song or rhythm (manual and Enter fills), drums of the song and the
// engine on channels 10 to 13 held back meanwhile. `startMs` (clock time), when known, is when the
// fill's tick 0 falls on the wall clock; otherwise the fill counts from its call.
void PlayFillRange(const std::vector<StyleEvent>& events, RhythmClock& clock, double startMs = -1);
// "CVT_FILL:" n: fill n (1..4) from the next beat.
void StartManualFill(int n);
// The Enter fill before a song's downbeat; started after the caller took ManualFillBusy.
void EnterTransitionFillThreadEntry(uint32_t startMs, uint32_t downbeatMs, bool muteEngine);

// Silences the song's own channels (all sound off, or all notes off when soft); while the rhythm
// runs only those that sound, spread 2 ms apart on a worker when asked so its beat is not delayed.
void QuietOriginalSong(bool soft, bool spread);
