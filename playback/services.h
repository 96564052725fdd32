#pragma once
// What other subsystems call of the player and the rhythm engine, and the player's shared state.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

// The player's shared values. Written by the player thread, the song start, the jumps and the
// page commands (window thread); read by the page bridge, the rhythm engine, the mixer and the
// senders. Every field read by another thread than its writer is an atomic of its own width; no
// lock guards them. Owner of each field in brackets.
struct PlaybackStateValues {
  // Run control.
  std::atomic<uint8_t> isPlaying{0};          // the run's event loop runs (also while paused) [player, stoppers]
  std::atomic<uint8_t> PlayerThreadAlive{0};  // a run is in progress, from its start request to its very end [player]
  std::atomic<uint32_t> StopGeneration{0};    // bumped by every stop; a run whose start-up sees it moved never plays [stoppers]
  std::atomic<uint8_t> paused{0};             // playback holds [page pause command, player]
  std::atomic<uint8_t> StartPaused{0};        // the next run begins paused (a jump made while paused) [jumps]
  std::atomic<uint8_t> NaturalEndFlag{0};     // the last run ended because its events ran out [player]
  std::atomic<uint32_t> SongStartGuardTime{0};  // TimeGetTime of the last accepted song start, 0 none [song start]

  // Position and clock.
  std::atomic<uint32_t> SongTick{0};            // current tick, interpolated between events [player, jumps]
  std::atomic<uint32_t> LastTickChangeTime{0};  // TimeGetTime when SongTick last changed [player]
  std::atomic<uint32_t> LastPlayedTick{0};      // tick of the last event the loop reached [player]
  std::atomic<uint8_t> LastPlayedValid{0};      // ... and whether it belongs to the loaded song [player, song preparation]
  std::atomic<uint32_t> SetupSignature{0};      // sound set-up signature of the previous run [player]
  std::atomic<uint32_t> ClockRebases{0};        // times a late event moved the clock's base, since start [player]

  // Tempo and key.
  std::atomic<int> CurrentTempoUs{500000};     // microseconds per quarter note in force [player]
  std::atomic<double> PlayerMsPerTick{0};      // milliseconds per tick in force, offset included [player]
  std::atomic<int> TempoOffsetBpm{0};          // the operator's tempo offset, added to the song's bpm [page, preparation]
  std::atomic<int> PendingTempoOffset{0};      // an offset to take at the next song's first note ...
  std::atomic<uint8_t> PendingTempoOffsetSet{0};  // ... and whether one is pending
  std::atomic<int> CurrentKey{0};              // transposition in semitones [preparation, page key commands]
  std::atomic<int> LastPostedBpm{-1};          // the song bpm last shown on the page, -1 none [player]
  std::atomic<uint8_t> TempoLockOn{0};         // keep the audible beat when the next song joins the rhythm [page]
  std::atomic<uint32_t> TempoLockToggleTime{0};  // TimeGetTime of the last accepted toggle
  std::atomic<uint8_t> FixedOffsetSaved{0};    // the fixed rhythm tempo overrides the operator's offset ...
  std::atomic<int> SavedUserOffset{0};         // ... which is kept here
  std::atomic<uint8_t> HalftimeSongFlag{0};    // the rhythm plays the loaded song at half speed [preparation]

  // Mutes of song parts [page commands, preparation].
  std::atomic<uint8_t> MelodyMute{0}, Solo1Mute{0}, Solo2Mute{0};

  // The next run's start [song start, preparation, jumps]; the player consumes them.
  std::atomic<uint32_t> startAt{0};       // TimeGetTime of the scheduled downbeat, 0 none
  std::atomic<uint8_t> waitingGo{0};      // the run waits for the scheduled downbeat [player]
  std::atomic<uint8_t> attachCancel{0};   // a scheduled start is being cancelled
  std::atomic<uint32_t> skipToTick{0};    // start tick of the next run ...
  std::atomic<uint8_t> skipToTickSet{0};  // ... when set
  std::atomic<uint8_t> StartAtFirstNote{0};
  std::atomic<uint8_t> SetupAlreadySent{0};   // the next run skips the module setup once
  std::atomic<uint8_t> SkipStartMuteOnce{0};  // the next run leaves muteUntil alone
  std::atomic<uint8_t> ResumeAfterJump{0};    // the next jump resumes even when paused [page commands]
  std::atomic<uint32_t> muteUntil{0};         // tick until which the rhythm keeps the song's rhythm parts silent

  // Notices for the rhythm engine [player, jumps].
  std::atomic<uint8_t> ResyncRequested{0}, ResyncContinuous{0}, ResyncContinuousTransition{0};

  // The module setup is spread until the downbeat; a transition sets up the next song under the rhythm.
  std::atomic<uint8_t> SetupSpreadOn{0};
  std::atomic<uint8_t> SetupUnderRhythm{0};

  // Medley segment end tick of the prepared song, 0 none [preparation].
  std::atomic<uint32_t> MedleySegmentEndTick{0};
  std::atomic<int> MedleyItemIndex{-1};  // the medley item playing, -1 none
  std::atomic<uint8_t> MedleyPlayMode{0};  // the page's medley play mode

  // The prepared song [preparation, under `prepared.mu`; numbers also atomic for the page commands].
  std::atomic<int> CurrentSongId{0};  // every digit of the MIDI file's name, 0 none
  std::atomic<int> SongBaseKey{0};    // key the song started with, before the operator changed it
  std::atomic<int> ScoreKeyMode{0};   // 0 song's key, 1 male, 2 female
  struct PreparedPaths {
    std::mutex mu;
    std::wstring currentMidi, currentText;  // last given to PrepareSongForPlay ("REPLAY_LAST")
    std::wstring loadedMidi, loadedText;    // whose analysis the song model holds
  } prepared;

  // One-shot values of the next song's start command [page commands; consumed by the preparation].
  std::atomic<int> NextSongKeyMode{-1}, NextSongKeyOffset{0}, NextSongTempoOffset{0};
  std::atomic<int> NextSongStartBar{-1}, NextSongEndBar{-1};

  // The bar index the last bar jump moved to; -1 = none. Reset for every song start [jumps].
  std::atomic<int> JumpTargetBar{-1};
};
extern PlaybackStateValues PlaybackState;

// What the song asked for on the rhythm engine's channels of port 1 (6, 8 to 14) while sending it
// was not allowed, one byte per channel, 0xFF nothing held. Written by the player; handed back by
// the engine's stop or the next run's start (whole bytes only on both sides).
struct HeldSongTonesValues {
  std::atomic<uint8_t> bankMsb[16], bankLsb[16], program[16], reverb[16], chorus[16];
  std::atomic<uint8_t> valid{0};    // the tables are initialised
  std::atomic<uint8_t> pending{0};  // something was held since the last hand-back
};
extern HeldSongTonesValues HeldSongTones;

// A tempo carried across songs: microseconds and ticks per quarter, one 64-bit atomic so that a
// reader never sees the one of a transition with the other of the next.
struct CarriedTempo {
  int us = 0, ppq = 0;
};
class CarriedTempoValue {
 public:
  CarriedTempo load() const {
    const uint64_t v = value_.load();
    return {static_cast<int>(static_cast<uint32_t>(v >> 32)), static_cast<int>(static_cast<uint32_t>(v))};
  }
  void store(CarriedTempo t) { value_.store(Pack(t)); }
  // A new tempo that keeps the resolution.
  void storeUs(int us) {
    uint64_t old = value_.load();
    while (!value_.compare_exchange_weak(old, Pack({us, static_cast<int>(static_cast<uint32_t>(old))}))) {
    }
  }
  int us() const { return load().us; }
  int ppq() const { return load().ppq; }

 private:
  static uint64_t Pack(CarriedTempo t) {
    return (uint64_t{static_cast<uint32_t>(t.us)} << 32) | static_cast<uint32_t>(t.ppq);
  }
  std::atomic<uint64_t> value_{0};
};

// The rhythm engine's shared values (the fields read outside it so far). The engine is not built:
// they keep their resting values.
struct CvtStateValues {
  std::atomic<uint8_t> rhythm{0};              // non-zero while the rhythm engine plays
  std::atomic<uint8_t> RhythmStartPending{0};  // a start is requested
  std::atomic<uint8_t> CvtOwnsChannels{0};     // the song's bass and drum channels belong to the engine
  std::atomic<uint8_t> FillStarted{0};         // a transition fill plays: the player drops the song's messages
  std::atomic<uint8_t> FillRequested{0};       // a transition asks for its fill (and the song's silence) at the next bar line
  std::atomic<uint32_t> FillEndMs{0};          // TimeGetTime at which the transition fill ends: the next song's downbeat
  std::atomic<uint8_t> FillDrumMute{0};        // a song-to-song fill plays its drums over the song
  CarriedTempoValue CvtCarryTempo;  // tempo carried into the next song, 0/0 none
  std::atomic<double> CvtTempoFactor{-1};
  std::atomic<double> PendingTempoFactor{0};
  std::atomic<int> PendingCarryTempoUs{0};
  std::atomic<uint8_t> HomeAtNextBar{0};
  std::atomic<uint8_t> FillPlaying{0};  // a transition fill plays (polled by the window)
  std::atomic<uint8_t> EnterFillMute{0};       // drop every engine note-on
  std::atomic<uint32_t> CvtDrumHoldUntil{0};   // TimeGetTime before which engine drum note-ons are dropped, 0 none
  std::atomic<int> QfxNote{54};               // the quick effect's note (27..87) [page]
  std::atomic<uint32_t> QfxNoteOnTime{0};      // TimeGetTime of its sounding note-on, 0 none [page, engine]
  std::atomic<uint8_t> QfxNoteSent{0};         // the note that sounds
  std::atomic<uint8_t> CvtTurnedOffByUser{0};  // the operator stopped the engine: the player follows the song's tempo again
  std::atomic<uint8_t> CvtTurnedOnMidSong{0};  // the engine started under a playing song: the player goes back to its first tempo
  std::atomic<uint8_t> CvtTonesLost{0};        // a song reset the module: the engine sends its tones again [player]
};
extern CvtStateValues CvtState;

// A song started over the running rhythm [attach thread, scheduled start, player].
struct AttachStateValues {
  std::atomic<uint8_t> enterBusy{0};      // an attach is being prepared
  std::atomic<uint8_t> AttachPending{0};  // a scheduled start waits on its thread
  std::atomic<uint8_t> AttachReadyCheck{0};
  std::atomic<int> AttachTempoUs{0}, AttachPpq{0};
  std::atomic<double> AttachFactor{0};
};
extern AttachStateValues AttachState;


// Lets the song and sound layers read the values above (base/player_signals.h). Called once at
// start, before the worker threads.
void InstallPlaybackSignals();

// Posts the active style, its variation, whether the rhythm runs and the G/H/J switches to the
// page's rhythm panel. Safe from any thread.
void PushRhythmUi();

void EndOriginalKeepRhythm();
// Resend the rhythm engine's rhythm-part assignments and style tones after a module reset.
void SendCvtToneSetup();
void SendRhythmPartMaps();
void StartCvtRhythm();
void StopCvtRhythm();
void StartEndingFlourish();
