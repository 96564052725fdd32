#pragma once
// The three MIDI output slots (port 1, port 2, external module) and their handles. A slot holds
// 0 (closed), a handle of an open device, or for ports 1 and 2 a marker that stands for the
// built-in synthesizer. Handles are opaque numbers, never pointers: a sender that holds an old
// handle after its slot was closed or reopened finds it no longer matches and drops the message,
// so nothing is ever sent on a closed device. Opening, closing and every send on a device happen
// under the slot's lock, with the handle checked first (the lock and device are for the sound
// layer's own senders and openers).
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/midi_out.h"
#include "platform/realtime.h"

#include "sound/sound_state.h"

struct MidiSlot {
  plat::PiMutex mu;  // the player and the rhythm engine send under it: its holder runs at their priority
  std::atomic<MidiOutHandle>* value;
  plat::MidiOutDevice* dev = nullptr;  // under mu
  int row;                             // controller cache row: 0 port 1, 1 port 2, 2 module
  const char* tag;                     // name of the opener in recordings
  long failedSends = 0;                // under mu: sends the device refused since the last it took
};

MidiSlot& Port1Slot();
MidiSlot& Port2Slot();
MidiSlot& ExtSlot();
// The slot a device handle belongs to (by its low bits), or null for 0 and the markers.
MidiSlot* SlotOfHandle(MidiOutHandle handle);
// A new handle for the slot's next open: its slot in the low two bits (1..3) and an open counter
// above, so a reopened slot never gets the handle of an earlier open back.
MidiOutHandle NewHandle(const MidiSlot& slot);
// Opens device `index` into an empty slot; caller holds the slot lock. A platform error number.
int OpenIntoSlot(MidiSlot& slot, unsigned index);
