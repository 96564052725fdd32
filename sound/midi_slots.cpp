#include "sound/midi_slots.h"


namespace {

MidiSlot g_slots[3] = {{{}, &Sound.MidiOutPort1, nullptr, 0, "1"},
                       {{}, &Sound.MidiOutPort2, nullptr, 1, "2"},
                       {{}, &Sound.ExtModuleOut, nullptr, 2, "E"}};
}  // namespace

MidiSlot& Port1Slot() { return g_slots[0]; }
MidiSlot& Port2Slot() { return g_slots[1]; }
MidiSlot& ExtSlot() { return g_slots[2]; }

MidiOutHandle NewHandle(const MidiSlot& slot) {
  static std::atomic<MidiOutHandle> counter{0};
  for (;;) {
    MidiOutHandle h = (++counter << 2) | static_cast<MidiOutHandle>(slot.row + 1);
    if (!IsSynthMarker(h)) return h;
  }
}

MidiSlot* SlotOfHandle(MidiOutHandle handle) {
  if (handle == 0 || IsSynthMarker(handle)) return nullptr;
  unsigned idx = static_cast<unsigned>(handle & 3);
  return idx == 0 ? nullptr : &g_slots[idx - 1];
}

int OpenIntoSlot(MidiSlot& slot, unsigned index) {
  plat::MidiOutDevice* dev = nullptr;
  int err = plat::MidiOutOpen(index, slot.tag, &dev);
  if (err != plat::kMidiOk) return err;
  slot.dev = dev;
  slot.value->store(NewHandle(slot));
  return plat::kMidiOk;
}

