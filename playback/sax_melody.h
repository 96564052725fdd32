#pragma once
// The melody (port 1 channel 0) played as an expressive saxophone: accented velocity, a pitch
// scoop from below, a rising vibrato, a breath swell, an adjustable gate, an optional three-voice
// section on the second port and the insertion effect. Driven by the player thread: note-ons and
// note-offs of the melody, and every pass of its wait.
#include <cstdint>
#include <functional>

#include "songs/song_model.h"
#include "sound/sound_state.h"

// The accompaniment's percentage while the melody is boosted.
int SaxBoostPercent();

class SaxExpression {
 public:
  // Where the messages go (tests capture them); default SendShortMidi.
  using Sender = std::function<void(MidiOutHandle, uint32_t)>;
  explicit SaxExpression(Sender send = {});

  // A melody note-on with an articulation entry (velocity byte not 0) while saxExpr is on:
  // sets up scoop, vibrato, breath and gate, sends the run's set-up once, and returns the
  // velocity to send. `note` is the note really sent.
  int NoteOn(const MelodyArticulationEntry& entry, int note, double msPerTick, uint32_t now);
  // The melody's own note-on and note-off copied to the layer (with saxLayer on).
  void LayerNoteOn(int note, int velocity);
  // After a melody note-off: the layer's note-offs, then the expression reset.
  void NoteOff(int note);
  // Controllers 91, 94 and 93 of the melody channel become the sax's sends.
  static int MelodyControllerValue(int controller, int value);
  // Every wait pass.
  void Step(uint32_t now);
  void WatchSettings();
  void Reset();

  int CurrentBend() const { return bend_; }

 private:
  void Send(MidiOutHandle h, uint32_t message);
  void MelodyCc(int controller, int value);
  void MelodyBend(int value);
  void LayerSetup();
  void SoloEffect();
  void LayerAllNotesOff();
  MidiOutHandle LayerPort() const;

  Sender send_;
  // Scoop
  int scoopDepth_ = 0, scoopStep_ = 0;
  uint32_t scoopAt_ = 0;
  int bend_ = 8192;
  // Vibrato
  int vibAmount_ = 0, vibStep_ = 0;
  uint32_t vibAt_ = 0;
  int modulation_ = 0;
  // Breath
  int breathBase_ = 0, breathStep_ = 0;
  uint32_t breathAt_ = 0;
  int expression_ = 0;
  // Gate
  int gateNote_ = -1;
  bool gateDone_ = true;
  uint32_t noteOnAt_ = 0;
  double noteMs_ = 0;
  // Set-up
  bool setupSent_ = false;
  int lastLayer_ = -1, lastInsFx_ = -1, lastExpr_ = -1;
};
