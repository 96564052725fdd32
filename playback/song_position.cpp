#include "playback/song_position.h"

#include <cmath>
#include <thread>

#include "platform/clock.h"
#include "playback/services.h"
#include "songs/bars.h"
#include "sound/midi_send.h"


int CurrentBarIndex() {
  const int bar = TickToBar(PlaybackState.SongTick.load());
  const int target = PlaybackState.JumpTargetBar.load();
  if (target >= 0 && (target == bar || target == bar + 1)) return target;
  return bar;
}

void RunCountIn(const CountInHooks& hooks, int count, double intervalMs, uint32_t startMs, int note, int velocity) {
  if (count <= 0 || !(intervalMs > 0)) return;
  const uint32_t message = 0x99u | ((static_cast<uint32_t>(note) & 0xFF) << 8) |
                           ((static_cast<uint32_t>(velocity) & 0x7F) << 16);
  const int64_t lateLimit = static_cast<int64_t>(intervalMs * 0.5);
  for (int i = 0; i < count; ++i) {
    const uint32_t due = startMs + static_cast<uint32_t>(std::llround(intervalMs * i));
    // Wrap-safe: the clock is a 32-bit millisecond counter.
    for (;;) {
      const int32_t early = static_cast<int32_t>(due - hooks.now());
      if (early <= 0) break;
      if (!hooks.playing()) return;
      hooks.sleepMs(early > 3 ? 1 : 0);
    }
    const int64_t late = static_cast<int32_t>(hooks.now() - due);
    if (!hooks.paused() && late <= lateLimit) hooks.send(message);
  }
}

void CountInClickThread(MidiOutHandle handle, int count, double intervalMs, uint32_t startMs, int note,
                        int velocity) {
  if (!handle) return;
  CountInHooks hooks;
  hooks.now = [] { return plat::TimeGetTime(); };
  hooks.sleepMs = [](unsigned ms) {
    if (ms) plat::SleepMs(ms);
    else std::this_thread::yield();
  };
  hooks.playing = [] { return PlaybackState.isPlaying.load() != 0; };
  hooks.paused = [] { return PlaybackState.paused.load() != 0; };
  hooks.send = [handle](uint32_t message) { SendShortMidi(handle, message); };
  RunCountIn(hooks, count, intervalMs, startMs, note, velocity);
}

