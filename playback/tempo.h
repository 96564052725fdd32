#pragma once
// The song tempo as the operator hears it: the song's own tempo plus one offset in beats per
// minute, milliseconds per tick, the tempo as a percentage of the song, and the tempo and key
// displays of the page.

// Milliseconds per tick for a tempo (µs per quarter; not above 0 counts as 500,000) and a
// division (not above 0 counts as 120), with the operator's offset; the bpm is never below 20.
double MsPerTick(int tempoUs, int ppq);
double MsPerTickWithOffset(int tempoUs, int ppq, int offsetBpm);

// Sets the operator's offset, or, while a transition carries the rhythm tempo, the pending one.
void SetTempoOffset(int bpm);
// The offset that makes the song play at `percent` (50..200) of its own tempo.
void SetTempoPercent(int percent);
// 0.5 for a half-time song, 2 for a song of 1 to 85 bpm, else 1.
double CvtTempoFactorForSong();
// The offset that makes the rhythm engine play at the fixed rhythm tempo.
int FixedBpmOffset();
void ApplyFixedBpmWhenStopped();
// A new song's preparation over the running rhythm with the fixed tempo on: the song's offset (just
// decided) is kept aside for when the fixed tempo is released, and the fixed one is taken. True
// when it was taken.
bool ApplyFixedTempoForNewSong();
// Applies or releases the fixed rhythm tempo and posts the tempo and key display.
void PushTempoPitchDisplay();
// "updateTempoPitchDisplay(offset, key)" as a guarded page call, posted.
void PostTempoPitchDisplay();
// The F10 tempo panel's values.
void PushF10Panel();
// The tempo lock toggle (PrintScreen and "TEMPO_LOCK_TOGGLE"): a second press within 250 ms is
// ignored.
void ToggleTempoLock();

// The song offset that keeps an audible beat of `audibleBpm` for a song of `songBpm` (its factor
// 0.5 half-time, 1 above 85 bpm, else 2), held within half and twice the song's tempo.
int TempoLockOffset(double audibleBpm, int songBpm, bool halftime);
// With the tempo lock on and the rhythm running without a fixed style tempo: the next song's
// pending offset keeps the beat the rhythm plays now (`rhythmTempoUs` at `rhythmFactor`).
void ApplyTempoLock(int rhythmTempoUs, double rhythmFactor);
