#pragma once
// The song's own SysEx messages on their way to the module: blocked while the rhythm engine owns
// the module, sent without waiting for the device (the records are collected later), watched for
// part volumes, the insertion effect and resets, and after a reset the program's own sound set-up
// is sent again. One object per player run, used only on the player thread.
#include <cstdint>
#include <span>

#include "sound/midi_send.h"

struct SongEvent;

// Reset messages: GS reset (F0 41 dd 42 12 40 00 7F) and GM System On (F0 7E dd 09 01).
bool IsGsReset(std::span<const uint8_t> m);
bool IsGmSystemOn(std::span<const uint8_t> m);

class SongSysExPath {
 public:
  ~SongSysExPath();
  // A SysEx event of the song on its port (0 or 1). `now` is TimeGetTime.
  void Filter(std::span<const uint8_t> message, int port, uint32_t now);
  // The deferred actions, called once per event and once per wait pass of the player.
  void RunDeferred(uint32_t now);
  // Rebuilds the sound set-up after a reset: when due (or `forced`) and nothing waits for a
  // downbeat. Not forced from the event loop; forced once at the first note.
  void RestoreAfterReset(uint32_t now, bool forced);
  // Frees the records the devices are done with; how many are still pending.
  size_t Collect() { return CollectSysExDone(pending_); }
  // The settle wait after a reset: sleeps until it (at most 80 ms) and clears it.
  void SleepUntilSettled();
  bool SettlePending() const { return settleDue_ != 0; }
  // The time the settle waits slept since the last call: the player's clock moves on by it, so
  // the events after a reset keep their spacing from the first one it held back.
  double TakeSettleWaitMs();
  bool RestorePending() const { return restorePending_; }
  uint32_t RestoreDue() const { return restoreDue_; }

 private:
  void SendToOpenPorts(const std::vector<uint8_t>& message);
  void SendEfxLevelAsync(int level);

  PendingSysExList pending_;
  uint32_t settleDue_ = 0;           // after a song reset nothing is sent before this
  double settleWaitMs_ = 0;          // slept in settle waits, not yet taken by the player
  bool restorePending_ = false;      // a reset's set-up restore is due at restoreDue_
  uint32_t restoreDue_ = 0;
  bool volumeResendPending_ = false;  // the part levels changed: resend channel volumes
  uint32_t volumeResendDue_ = 0;
  bool efxLevelPending_ = false;     // the song's effect level needs the mixer's scaling
  uint32_t efxLevelDue_ = 0;
};
