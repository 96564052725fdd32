#pragma once
// The song player: one run of PlayMidiThread plays the loaded song from a start tick to its end
// or until it is stopped, against one monotonic clock, sending every channel message through
// SendShortMidi to port 1, port 2 or the built-in synthesizer behind them.
//
// At most one run is in progress. A run is started only when the previous one has really ended
// (StartPlayMidiThread refuses otherwise), and a stop is never lost: a stop bumps
// PlaybackState.StopGeneration, which the run checks under the same lock just before it sets
// isPlaying, so a stop that arrives while the run is still starting (module setup, chase) ends
// it before any note.
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "playback/go_time.h"
#include "songs/song_model.h"
#include "sound/sound_state.h"

// Starts a run on a new detached thread. False (with a log line, and the song start guard
// released) when a run is still in progress.
bool StartPlayMidiThread();
// Runs a player run on the calling thread (a scheduled start), stopped by any stop since
// `generation` was read. False when another run is in progress.
bool RunPlayMidiThreadHere(uint32_t generation);
// Asks the current run to stop and waits up to `waitMs` (1 ms steps) for it to end. True when no
// run is in progress any more.
bool StopPlayer(unsigned waitMs);

// Reports a tick to the window for the page's updateTick (at most one report in flight, unless
// 500 ms passed).
void PostTickUpdate(uint32_t tick);
// The window's in-flight flag of tick reports; installed by the program at start.
void SetTickInFlightFlag(std::atomic<uint8_t>* flag);
// The page's lite mode flag: while it is set, tick reports are at least 50 ms apart. Installed by
// the program at start.
void SetLiteModeFlag(std::atomic<uint8_t>* flag);
// Whether a tick report may go now, `lastPost` being the time of the previous one.
bool TickReportDue(uint32_t now, uint32_t lastPost, bool inFlight, bool lite);

// The note sent for a song note at the current key: drums (channels 9 to 12 of either port) and
// key 0 are never transposed. -1 when the transposed note would leave 0..127: such a note is
// not sent.
int TransposeNote(int note, int channel, int key);


// The chase before a start tick S: which of the song's events before S are sent to put every
// channel into its state at S. A normal chase keeps every program change (they pair with bank
// selects) and the last value of each chased controller, pitch bend and channel pressure; a fast
// jump (same song, same sound set-up, previous position O) keeps only what differs between O and S.
struct ChasePlan {
  std::vector<uint8_t> skip;  // one per event; 1 = not sent by the chase
  bool fast = false;
  int keysSent = 0, keysAll = 0, sequenceEvents = 0;
};
ChasePlan PlanChase(const SongModel& song, uint32_t startTick, uint32_t previousTick, bool fast);
// Whether controller `cc` is chased (only its last value before the start is sent).
bool IsChasedController(unsigned cc);

// The pacing of a chase before a scheduled downbeat: the set-up is spread evenly over the time
// left but 350 ms, by weight (8 for a SysEx or a program change, 1 for any other channel message
// from A0 up, nothing for notes); without room for that it goes in bursts of 32 with a 1 ms pause,
// and a 12 ms pause after every 4th program change. No wait ever passes the downbeat's margin.
struct ChaseClock {
  std::function<uint32_t()> now;        // milliseconds
  std::function<void(unsigned)> sleep;  // milliseconds
  std::function<bool()> playing;        // the run still plays
  std::function<uint32_t()> downbeat;   // the scheduled downbeat (ms), 0 none any more
};
int ChaseWeight(const SongEvent& e);
class ChasePacer {
 public:
  explicit ChasePacer(ChaseClock clock) : clock_(std::move(clock)) {}
  // Decides the spreading of a chase of `weight` while the run waits for a downbeat; traced.
  void Plan(int64_t weight, bool waiting);
  bool pacing() const { return pacing_; }
  uint32_t spreadMs() const { return spread_; }
  // Before a chase event goes out (the spread waits here); `downbeatPending`: waitingGo and a downbeat.
  void Before(const SongEvent& e, bool downbeatPending);
  // After the chase sent a channel message.
  void AfterSent(bool programChange, bool downbeatPending);

 private:
  int left() const;
  void WaitUntilShare();
  ChaseClock clock_;
  bool pacing_ = false;
  int64_t total_ = 0, sent_ = 0;
  uint32_t start_ = 0, spread_ = 0;
  int events_ = 0, messages_ = 0, programs_ = 0;
};

// Count-in clicks in an empty first bar of `secondBarTick` ticks: one per beat, 1 to 8.
int CountInClicks(uint32_t secondBarTick, int ppq);

// The sound set-up signature of the rhythm and tone state; two runs with the same value have the
// same sound set-up.
uint32_t ComputeSetupSignature();

// Sends message i of each list (port 1, then port 2) for every i, 2 ms apart, after `firstDelayMs`,
// on a detached worker (at once when no thread can be made): silencing that never holds up the
// rhythm's own notes.
void PacedTwoPortSendThread(MidiOutHandle port1, MidiOutHandle port2, std::vector<uint32_t> one,
                            std::vector<uint32_t> two, unsigned firstDelayMs);
void StartPacedTwoPortSend(MidiOutHandle port1, MidiOutHandle port2, std::vector<uint32_t> one, std::vector<uint32_t> two,
                           unsigned firstDelayMs);

// The held song tones: every entry "nothing", the tables valid.
void ResetTrackingGlobals();
// Sends what is held on port 1 (bank MSB, bank LSB, program, reverb, chorus per channel; the sends
// dry on the bass and drum channels when the setting asks for it), then empties the tables.
void SendHeldSongTones(MidiOutHandle port1);

// Cancels a scheduled start or a player run waiting for its downbeat; true when there was one.
bool ClearPendingAttach();
