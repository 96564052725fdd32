// The short-message and SysEx senders and their output policy.
#include "sound/midi_send.h"

#include <algorithm>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "base/trace_log.h"
#include "sound/send_trace.h"
#include "base/text.h"
#include "platform/clock.h"
#include "base/player_signals.h"
#include "sound/builtin_synth.h"
#include "sound/midi_slots.h"
#include "base/settings/ext_routing.h"
#include "sound/ext_module.h"


namespace {

// Last controller value sent + 1 per [row][channel][controller]; 0 = nothing sent yet.
std::atomic<uint8_t> g_ccCache[3][16][128];
std::atomic<uint32_t> g_ccDropped{0};

struct Pacing {
  uint32_t deadline = 0;
  int programs = 0;
  int others = 0;
};
thread_local Pacing t_pacing;

uint32_t ThisThreadId() {
  thread_local uint32_t id = plat::CurrentThreadId();
  return id;
}

void ClearCcRow(int row, int channel) {
  for (auto& entry : g_ccCache[row][channel]) entry.store(0, std::memory_order_relaxed);
}

bool NeverDropped(unsigned controller) {
  return controller == 0 || controller == 6 || controller == 32 || controller == 38 ||
         (controller >= 96 && controller <= 101);
}

// De-duplication of controllers on one cache row: true when the message must be dropped.
bool DropAsDuplicate(int row, unsigned channel, unsigned controller, unsigned value) {
  if (controller >= 120) {
    ClearCcRow(row, static_cast<int>(channel));
    return false;
  }
  if (NeverDropped(controller)) return false;
  auto& entry = g_ccCache[row][channel][controller];
  uint8_t want = static_cast<uint8_t>(value + 1);
  if (entry.load(std::memory_order_relaxed) == want) {
    g_ccDropped.fetch_add(1, std::memory_order_relaxed);
    MidiSendStats.duplicatesDropped.fetch_add(1, std::memory_order_relaxed);
    return true;
  }
  entry.store(want, std::memory_order_relaxed);
  return false;
}

// A send the device refused is logged, the first of a run of them with the driver's words, and
// a run that ends is logged with its count; a device that fails every message does not flood the
// log. Called under the slot's lock after every device send.
void NoteSendResult(MidiSlot& slot, int result) {
  if (result == plat::kMidiOk) {
    if (slot.failedSends > 0) {
      DebugLogAsync(L"[MIDI] 포트 " + Utf8ToWide(slot.tag) + L" 전송 다시 됨 (그 사이 실패 " +
                    std::to_wstring(slot.failedSends) + L"건)");
      slot.failedSends = 0;
    }
    return;
  }
  if (slot.failedSends++ == 0)
    DebugLogAsync(L"[MIDI] 포트 " + Utf8ToWide(slot.tag) + L" 전송 실패 (오류 " + std::to_wstring(result) +
                  L"): " + Utf8ToWide(plat::MidiOutLastError(slot.dev)));
}

// Sends on a device slot under its lock. The handle must still be the slot's: a message for a
// slot that was closed or reopened meanwhile is dropped.
int SendOnDevice(MidiOutHandle handle, uint32_t message, bool dedup) {
  MidiSlot* slot = SlotOfHandle(handle);
  if (!slot) return plat::kMidiInvalidHandle;
  std::lock_guard lock(slot->mu);
  if (slot->value->load(std::memory_order_relaxed) != handle || !slot->dev)
    return plat::kMidiInvalidHandle;
  if (dedup && (message & 0xF0) == 0xB0 &&
      DropAsDuplicate(slot->row, message & 0x0F, (message >> 8) & 0x7F, (message >> 16) & 0x7F))
    return 0;
  double t0 = plat::NowMs();
  int result = plat::MidiOutShortMsg(slot->dev, message);
  AccountMidiSend(plat::NowMs() - t0, 3);
  NoteSendResult(*slot, result);
  // A controller that did not go out is no duplicate of what the module holds.
  if (result != plat::kMidiOk && (message & 0xF0) == 0xB0)
    g_ccCache[slot->row][message & 0x0F][(message >> 8) & 0x7F].store(0, std::memory_order_relaxed);
  return result;
}

void SendToSynth(MidiOutHandle marker, uint32_t message) {
  if (Sound.BuiltInSynthState.load(std::memory_order_relaxed) != 1) return;
  uint8_t status = static_cast<uint8_t>(message);
  int channel = (status & 0x0F) + (marker == BUILTIN_SYNTH_PORT2 ? 16 : 0);
  SendShortToSynth(channel, status & 0xF0, (message >> 8) & 0x7F, (message >> 16) & 0x7F);
}

// External-module routing. True when the message was taken (sent to the module or dropped).
bool RouteToExternalModule(MidiOutHandle handle, uint8_t status, uint8_t d1, uint8_t d2) {
  unsigned kind = status & 0xF0;
  unsigned channel = status & 0x0F;
  bool port2 = (handle != 0 && handle == Sound.MidiOutPort2.load(std::memory_order_relaxed)) ||
               handle == BUILTIN_SYNTH_PORT2;
  if (!ExtRouting.ExtRouteFlags[port2 ? 1 : 0][channel]) return false;
  if (!OpenExternalModule()) return false;
  bool pass = true;
  if (kind == 0xC0) {
    pass = Settings.extPc != 0;
  } else if (kind == 0xB0) {
    if (d1 == 0 || d1 == 32)
      pass = Settings.extPc != 0;
    else if (d1 == 120 || d1 == 123)
      pass = true;
    else
      pass = Settings.extCc != 0;
  } else if (kind == 0x90 || kind == 0x80) {
    if (const int mapped = ExtRouting.ExtNoteMap[d1].load(); mapped >= 0) d1 = static_cast<uint8_t>(mapped);
  }
  if (!pass) return true;
  int toCh = Settings.extToCh;
  if (toCh >= 0 && channel >= 9 && channel <= 12) channel = static_cast<unsigned>(toCh) & 0x0F;
  uint32_t rebuilt = PackMidi(kind | channel, d1, d2);
  if (rebuilt != 0) SendOnDevice(Sound.ExtModuleOut.load(), rebuilt, false);
  return true;
}

void RecordLoadTrace(MidiOutHandle handle, uint8_t status, uint8_t d1, uint8_t d2) {
  unsigned kind = status & 0xF0;
  unsigned channel = status & 0x0F;
  int traceKind = -1;
  uint8_t value = d2;
  if (kind == 0xC0) {
    traceKind = 2;
    value = d1;
  } else if (kind == 0xB0 && d1 == 0) {
    traceKind = 0;
  } else if (kind == 0xB0 && d1 == 32) {
    traceKind = 1;
  } else if (kind == 0xB0 && handle != 0 && handle == Sound.MidiOutPort1.load() &&
             (channel == 6 || (channel >= 8 && channel <= 14))) {
    switch (d1) {
      case 7: traceKind = 4; break;
      case 10: traceKind = 8; break;
      case 11: traceKind = 7; break;
      case 120: traceKind = 5; break;
      case 121: traceKind = 3; break;
      case 123: traceKind = 6; break;
      default: break;
    }
  }
  if (traceKind < 0) return;
  int n = LoadTraceRecords.count.fetch_add(1);
  if (n < 0 || n >= LoadTraceState::kCapacity) return;
  LoadTraceRecords.records[n] = {plat::NowMs() - LoadTraceRecords.armedAtMs.load(), handle,
                                 static_cast<uint8_t>(channel), static_cast<uint8_t>(traceKind),
                                 static_cast<uint8_t>(value & 0x7F)};
  LoadTraceRecords.stored[n].store(LoadTraceRecords.generation.load(std::memory_order_relaxed), std::memory_order_release);
}

// The volume watch over the rhythm engine's channels. A volume sent to port 1's side is traced
// with its value before and after the ceiling; other controllers and programs go to the watch.
void TraceVolume(MidiOutHandle handle, uint8_t status, uint8_t d1, uint8_t before, uint8_t after) {
  unsigned kind = status & 0xF0;
  if (kind != 0xB0 && kind != 0xC0) return;
  int channel = status & 0x0F;
  bool port2 = (handle != 0 && handle == Sound.MidiOutPort2.load()) || handle == BUILTIN_SYNTH_PORT2;
  if (kind == 0xB0 && d1 == 7) {
    uint32_t now = plat::TimeGetTime();
    uint32_t until = Sound.VolumeTraceUntil.load();
    if (port2 || until == 0 || static_cast<int32_t>(until - now) <= 0 || !Player().rhythmRunning() ||
        !(channel == 6 || (channel >= 8 && channel <= 14)))
      return;
    TraceLog(L"[VOL2] +%5ums  p0:ch%-2d CC7 %3d -> 실제 %3d  (tid %u)\n", now - VolumeTraceOpenedAt(), channel,
             before, after, ThisThreadId());
    return;
  }
  TraceVolumeCc(port2 ? 1 : 0, channel, kind == 0xC0 ? 128 : d1, kind == 0xC0 ? d1 : after);
}

void PaceShortMessage(bool programChange) {
  Pacing& p = t_pacing;
  if (p.deadline == 0) return;
  int32_t remaining = static_cast<int32_t>(p.deadline - plat::TimeGetTime());
  if (remaining <= 0) {
    p.deadline = 0;
    return;
  }
  if (programChange) {
    if (++p.programs >= 4) {
      p.programs = 0;
      int pause = std::clamp(remaining / 8, 8, 60);
      if (remaining > pause + 20) plat::SleepMs(static_cast<unsigned>(pause));
    }
  } else if (++p.others % 16 == 0) {
    plat::SleepMs(1);
  }
}


}  // namespace

namespace {

// Hands one SysEx message to a slot value: the synthesizer takes it at once; a device gets it under
// its slot's lock, and `whileLocked` runs after a successful hand-over with the lock still held
// (the device may still be reading the bytes). False when nothing was sent.
template <typename WhileLocked>
bool HandSysEx(MidiOutHandle handle, int portIndex, const std::vector<uint8_t>& bytes, WhileLocked&& whileLocked) {
  if (handle == 0) return false;
  if (IsSynthMarker(handle)) {
    ClearCcCache();
    if (bytes.size() >= 2) SendSysExToSynth(portIndex, bytes.data(), bytes.size());
    return true;
  }
  MidiSlot* slot = SlotOfHandle(handle);
  if (!slot) return false;
  std::lock_guard lock(slot->mu);
  if (slot->value->load() != handle || !slot->dev) return false;
  ClearCcCache();
  double t0 = plat::NowMs();
  int result = plat::MidiOutLongMsg(slot->dev, bytes.data(), bytes.size());
  AccountMidiSend(plat::NowMs() - t0, bytes.size());
  NoteSendResult(*slot, result);
  if (result != plat::kMidiOk) return false;
  whileLocked(*slot);
  return true;
}

}  // namespace

bool SendLongToHandle(MidiOutHandle handle, int portIndex, const std::vector<uint8_t>& message) {
  return HandSysEx(handle, portIndex, message, [&](MidiSlot& slot) {
    // The device may still read the bytes: wait (longer for longer messages, about three times
    // the wire time of a 31250-baud port), and when it does not let go, reset it so that it gives
    // the buffer back before the caller frees it.
    double limitMs = 200.0 + static_cast<double>(message.size());
    double start = plat::NowMs();
    while (!plat::MidiOutLongDone(slot.dev)) {
      if (plat::NowMs() - start > limitMs) {
        plat::MidiOutReset(slot.dev);
        break;
      }
      plat::SleepMs(1);
    }
  });
}

double NowMs() { return plat::NowMs(); }

void ClearCcCache() {
  for (int row = 0; row < 3; ++row)
    for (int ch = 0; ch < 16; ++ch) ClearCcRow(row, ch);
}

std::atomic<uint32_t>& CcDedupDropCount() { return g_ccDropped; }

void OpenSendPacing(uint32_t deadline) { t_pacing = Pacing{deadline, 0, 0}; }

void AccountMidiSend(double elapsedMs, size_t bytes) {
  long us = static_cast<long>(elapsedMs * 1000.0 + 0.5);
  MidiSendStats.messages.fetch_add(1, std::memory_order_relaxed);
  MidiSendStats.bytes.fetch_add(static_cast<long>(bytes), std::memory_order_relaxed);
  MidiSendStats.busyUs.fetch_add(us, std::memory_order_relaxed);
  long longest = MidiSendStats.longestUs.load(std::memory_order_relaxed);
  while (us > longest &&
         !MidiSendStats.longestUs.compare_exchange_weak(longest, us, std::memory_order_relaxed)) {
  }
  uint32_t me = ThisThreadId();
  if (me == Sound.RhythmThreadId.load(std::memory_order_relaxed))
    MidiSendStats.rhythmThreadMessages.fetch_add(1, std::memory_order_relaxed);
  else if (me == Sound.PlayerThreadId.load(std::memory_order_relaxed))
    MidiSendStats.playerThreadMessages.fetch_add(1, std::memory_order_relaxed);
  else
    MidiSendStats.otherMessages.fetch_add(1, std::memory_order_relaxed);
}

int SendShortMidi(MidiOutHandle handle, uint32_t message) {
  uint8_t status = static_cast<uint8_t>(message);
  uint8_t d1 = (message >> 8) & 0x7F;
  uint8_t d2 = (message >> 16) & 0x7F;
  unsigned kind = status & 0xF0;

  if (Settings.extOn && status < 0xF0) {
    MidiOutHandle ext = Sound.ExtModuleOut.load(std::memory_order_relaxed);
    if ((handle == 0 || handle != ext) && RouteToExternalModule(handle, status, d1, d2)) return 0;
  }
  uint8_t requested = d2;
  if (kind == 0xB0 && d1 == 7 && d2 > 0) d2 = static_cast<uint8_t>(std::clamp(std::min<int>(d2, Settings.volCeil), 1, 127));
  message = PackMidi(status, d1, d2);

  if (Sound.VolumeTraceUntil.load(std::memory_order_relaxed) != 0) TraceVolume(handle, status, d1, requested, d2);

  if (LoadTraceRecords.armed.load(std::memory_order_relaxed)) RecordLoadTrace(handle, status, d1, d2);
  if (t_pacing.deadline != 0) PaceShortMessage(kind == 0xC0);

  if (IsSynthMarker(handle)) {
    SendToSynth(handle, message);
    return 0;
  }
  return SendOnDevice(handle, message, Settings.ccDedupOn != 0);
}

bool SendSysExBothPorts(const std::vector<uint8_t>& message) {
  if (Settings.rawSound || message.empty()) return false;
  TraceVolumeSysEx(message.data(), message.size(), L".syx 셋업");
  double t0 = plat::NowMs();
  const MidiOutHandle port1 = Sound.MidiOutPort1.load(), port2 = Sound.MidiOutPort2.load();
  const bool sent1 = SendLongToHandle(port1, 0, message);
  const bool sent2 = SendLongToHandle(port2, 1, message);
  const bool refused = (port1 != 0 && !sent1) || (port2 != 0 && !sent2);
  MidiSendStats.sysexUs.fetch_add(static_cast<long>((plat::NowMs() - t0) * 1000.0 + 0.5),
                                  std::memory_order_relaxed);
  if (Player().setupSpreadOn()) {
    uint32_t at = Player().downbeatAt();
    if (at != 0 && static_cast<int32_t>(at - plat::TimeGetTime()) > 600) plat::SleepMs(1);
  }
  Pacing& p = t_pacing;
  if (p.deadline != 0) {
    int32_t remaining = static_cast<int32_t>(p.deadline - plat::TimeGetTime());
    if (remaining <= 0)
      p.deadline = 0;
    else if (remaining > 40)
      plat::SleepMs(2);
  }
  return !refused;
}


bool SendSysExNoWait(MidiOutHandle handle, std::vector<uint8_t> bytes, PendingSysExList& pending) {
  if (handle == 0 || bytes.empty()) return false;
  auto record = std::make_unique<PendingSysEx>();
  record->bytes = std::move(bytes);
  record->handle = handle;
  const int portIndex = handle == BUILTIN_SYNTH_PORT2 ? 1 : 0;
  if (!HandSysEx(handle, portIndex, record->bytes, [](MidiSlot&) {})) return false;
  pending.push_back(std::move(record));  // the device may read the bytes until CollectSysExDone
  return true;
}

size_t CollectSysExDone(PendingSysExList& pending) {
  size_t done = 0;
  for (; done < pending.size(); ++done) {
    const PendingSysEx& r = *pending[done];
    if (IsSynthMarker(r.handle)) continue;
    MidiSlot* slot = SlotOfHandle(r.handle);
    if (!slot) continue;
    std::lock_guard lock(slot->mu);
    // A slot closed or reopened meanwhile: closing gave every buffer back.
    if (slot->value->load() != r.handle || !slot->dev) continue;
    if (!plat::MidiOutLongDone(slot->dev)) break;
  }
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done));
  return pending.size();
}

std::vector<std::vector<uint8_t>> SplitSysEx(std::string_view bytes) {
  std::vector<std::vector<uint8_t>> out;
  size_t i = 0;
  while (i < bytes.size()) {
    if (static_cast<uint8_t>(bytes[i]) != 0xF0) {
      ++i;
      continue;
    }
    size_t end = bytes.find('\xF7', i + 1);
    if (end == std::string_view::npos) break;
    out.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                     bytes.begin() + static_cast<std::ptrdiff_t>(end + 1));
    i = end + 1;
  }
  return out;
}

void StoreClockSample(double tick, double atMs) {
  const double fixedTick = tick > 0 ? tick * 256.0 : 0.0;
  const uint64_t fixed = fixedTick >= 4294967040.0 ? 4294967040ull : static_cast<uint64_t>(fixedTick);
  const uint64_t us = static_cast<uint64_t>(std::max(0.0, atMs) * 1000.0);
  // The fine stamp first: a reader that sees the new whole-millisecond stamp finds its match.
  Sound.ClockSampleFine.store((fixed << 32) | static_cast<uint32_t>(us));
  Sound.ClockSample.store((fixed << 32) | static_cast<uint32_t>(us / 1000));
}

uint32_t StampTickPosition(long long tick) {
  const uint64_t us = plat::NowUs();
  const double fixed = tick <= 0 ? 0.0 : static_cast<double>(std::min<long long>(tick, 1LL << 40));
  StoreClockSample(fixed, static_cast<double>(us) / 1000.0);
  return static_cast<uint32_t>(us / 1000);
}

double InterpolateTickFraction(uint32_t currentTick, double msPerTick, bool paused) {
  const uint64_t sample = Sound.ClockSample.load();
  if (sample == 0 || !(msPerTick > 0) || paused) return 0;
  const uint64_t fine = Sound.ClockSampleFine.load();
  // Whole milliseconds would put the song up to a millisecond off; the microsecond stamp of the
  // same tick does not. A stamp written without it (another writer) falls back to milliseconds.
  double elapsed;
  if (fine != 0 && (fine >> 32) == (sample >> 32))
    elapsed = static_cast<int32_t>(static_cast<uint32_t>(plat::NowUs()) - static_cast<uint32_t>(fine)) / 1000.0;
  else
    elapsed = static_cast<int32_t>(plat::TimeGetTime() - static_cast<uint32_t>(sample));
  elapsed = std::clamp(elapsed, 0.0, 20.0);
  double result = elapsed / msPerTick + static_cast<double>(sample >> 32) / 256.0 -
                  static_cast<double>(currentTick);
  if (result > -1.5 && result <= 20.0 / msPerTick + 1.5) return result;
  return 0;
}

void ResetActiveNoteCounts() {
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c) {
      Sound.ActiveNoteCounts[p][c].store(0);
      Sound.SustainPedalOn[p][c].store(0);
    }
}
