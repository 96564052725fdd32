#pragma once
// What the song and sound layers may ask of the player and the rhythm engine, which sit above
// them: the senders pace a song's setup until its downbeat, the mixer spares the rhythm's
// channels, the module setup re-sends the rhythm's parts after a reset. The playback layer
// installs its readers when the program starts; until then every reader answers "nothing plays".
#include <cstdint>

struct PlayerSignals {
  bool (*songPlaying)();         // the player's event loop runs
  bool (*songPaused)();
  uint32_t (*songTick)();        // current tick of the loaded song
  int (*currentKey)();           // semitones of transposition in effect
  bool (*rhythmRunning)();       // the rhythm engine plays
  bool (*fillPlaying)();         // a transition fill plays
  bool (*waitingForDownbeat)();  // a started song waits for its downbeat
  uint32_t (*downbeatAt)();      // TimeGetTime ms of the scheduled downbeat, 0 none
  bool (*setupSpreadOn)();       // spread the song setup's SysEx until the downbeat
  bool (*setupUnderRhythm)();    // a transition sets up the next song under the rhythm
  void (*resendRhythmSetup)();   // the rhythm's part maps and tones, after a module reset
};

// Installs the readers (once, before the worker threads start); null members keep the default.
void InstallPlayerSignals(const PlayerSignals& signals);
// The installed readers; never null members.
const PlayerSignals& Player();
