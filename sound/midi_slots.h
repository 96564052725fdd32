#pragma once
// Inside the sound subsystem only: the three output slots with their locks. Opening, closing and
// every send on a device happen under the slot's lock, with the handle checked first, so a slot
// closed by one thread is never used by another.
#include <mutex>

#include "platform/midi_out.h"
#include "sound/midi_ports.h"

struct MidiSlot {
  std::mutex mu;
  std::atomic<MidiOutHandle>* value;
  plat::MidiOutDevice* dev = nullptr;  // under mu
  int row;                             // controller cache row: 0 port 1, 1 port 2, 2 module
  const char* tag;                     // name of the opener in recordings
  long failedSends = 0;                // under mu: sends the device refused since the last it took
};

// The slot a device handle belongs to (by its low bits), or null for 0 and the markers.
MidiSlot* SlotOfHandle(MidiOutHandle handle);
