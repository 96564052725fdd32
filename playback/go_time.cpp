// The go time of a song joining the running rhythm.
#include "playback/go_time.h"

#include <algorithm>
#include <cmath>

#include "base/trace_log.h"
#include "platform/clock.h"
#include "playback/rhythm_timing.h"
#include "playback/services.h"
#include "songs/song_model.h"

bool FirstNonDrumNoteTick(const SongModel& song, uint32_t* tick) {
  for (const SongEvent& e : song.SongEventList) {
    const int ch = e.status & 0x0F;
    if (e.kind == kSongEventChannel && (e.status & 0xF0) == 0x90 && e.data2 > 0 && (ch < 9 || ch > 12)) {
      *tick = e.tick;
      return true;
    }
  }
  return false;
}

namespace {

double MsPerTickAt(double tempoUs, int offset, int ppq) {
  const double us = tempoUs >= 1 ? tempoUs : 500000;
  return 60000.0 / std::max(20.0, 60000000.0 / us + offset) / ppq;
}

}  // namespace

std::optional<GoTime> ComputeGoTime(const GoTimeInput& in) {
  if (in.rhythmPpq <= 0) return std::nullopt;
  const int b = in.rhythmPpq;
  const double f = in.rhythmFactor > 0 ? in.rhythmFactor : 1.0;
  const double u = MsPerTickAt(in.rhythmTempoUs, in.offsetBpm, b);
  const double m = 4.0 * b;
  GoTime g;
  g.barNowMs = std::clamp(m * u / f, 400.0, 6000.0);
  const double t = in.newFactor > 0 ? in.newFactor : f;
  g.factorAfter = t;
  const int offsetAfter = in.pendingOffset ? *in.pendingOffset : in.offsetBpm;
  const double after = in.newTempoUs >= 1 ? MsPerTickAt(in.newTempoUs, offsetAfter, b) : u;
  const double Q = std::clamp(m * after / t, 400.0, 6000.0);
  g.barAfterMs = Q;
  double p = std::fmod((in.songTick - double(in.phaseOrigin)) * f, m);
  if (p < 0) p += m;
  double toBar = (m - p) * u / f;
  if (toBar < 0 || toBar > g.barNowMs) toBar = g.barNowMs;
  g.toBarMs = toBar;
  const double now = in.now;
  double H = std::round(now + std::max(0, in.extraBars) * Q + toBar);
  const double lead = in.attach ? std::max<double>(in.minimumLeadMs, Q / 8) : in.minimumLeadMs;
  while (H - now < lead - 1) H += std::round(Q);

  double I = 0, J = 0;
  if (in.alignMelody && in.firstNoteTick) {
    const uint32_t n = *in.firstNoteTick;
    uint32_t s = n / 480 * 480;
    if (!in.bars.empty()) {
      auto it = std::upper_bound(in.bars.begin(), in.bars.end(), n);
      s = it == in.bars.begin() ? 0 : *(it - 1);
    }
    const int ppq = in.songPpq < 1 ? 120 : in.songPpq;
    const double tempo = in.songBaseBpm > 0 ? 60000000.0 / in.songBaseBpm : in.currentTempoUs;
    const double songMpt = MsPerTickAt(tempo, offsetAfter, ppq);
    I = (double(n) - s) * songMpt;
    if (I < 0 || I > Q) I = 0;
    J = 4.0 * ppq * songMpt;
  }
  g.pickupMs = I;
  if (I > 0.5 && J > I + 0.5 && J - I < 1.5 * Q) {
    H -= std::round(J - I);
    if (H - now < in.minimumLeadMs) H += std::round(Q);
  } else {
    H += std::round(I);
  }
  if (in.attach && H - now < in.minimumLeadMs) H += Q;
  const uint32_t at = static_cast<uint32_t>(static_cast<int64_t>(std::llround(H)));
  g.startAt = at == 0 ? 1 : at;
  return g;
}

bool ComputeCvtGoTime(int rhythmTempoUs, int rhythmPpq, double rhythmFactor, int extraBars, int minimumLeadMs, bool attach,
                      int newTempoUs, double newFactor, bool alignMelody) {
  const auto song = LoadedSong();
  GoTimeInput in;
  in.now = plat::NowMs();
  in.rhythmTempoUs = rhythmTempoUs;
  in.rhythmPpq = rhythmPpq;
  in.rhythmFactor = rhythmFactor;
  in.extraBars = extraBars;
  in.minimumLeadMs = minimumLeadMs;
  in.attach = attach;
  in.newTempoUs = newTempoUs;
  in.newFactor = newFactor;
  in.alignMelody = alignMelody;
  in.songTick = PlaybackState.SongTick.load();
  // On its own clock the engine's last step gives the position to the fraction of a tick; the
  // whole tick alone would put the song up to a tick late.
  const OwnClockReading own = RhythmEngine.OwnClock.load();
  const double age = in.now - own.atMs;
  if (own.atMs >= 0 && own.msPerTick > 0 && age >= 0 && age < 50) in.songTick = own.tick + age / own.msPerTick;
  in.phaseOrigin = RhythmEngine.CvtPhaseOriginTick.load();
  in.offsetBpm = PlaybackState.TempoOffsetBpm.load();
  if (PlaybackState.PendingTempoOffsetSet.load()) in.pendingOffset = PlaybackState.PendingTempoOffset.load();
  uint32_t first = 0;
  if (alignMelody && FirstNonDrumNoteTick(*song, &first)) in.firstNoteTick = first;
  in.bars = song->BarTicks;
  in.songPpq = song->SongPpq;
  in.songBaseBpm = song->SongBaseBpm;
  in.currentTempoUs = PlaybackState.CurrentTempoUs.load();
  const auto g = ComputeGoTime(in);
  if (!g) return false;
  PlaybackState.startAt = g->startAt;
  const double f = rhythmFactor > 0 ? rhythmFactor : 1.0;
  if (attach) {
    PlaybackState.SkipStartMuteOnce = 1;
    PlaybackState.StartAtFirstNote = 1;
    if (newTempoUs >= 1) {
      RhythmEngine.PendingCarryDueMs = static_cast<uint32_t>(std::llround(in.now + g->toBarMs));
      CvtState.PendingCarryTempoUs = newTempoUs;
    }
    CvtState.PendingTempoFactor = newTempoUs >= 1 && newFactor > 0 && std::abs(newFactor - f) > 1e-9 ? newFactor : 0.0;
  }
  TraceLog(L"[CVT-GO] barMs=%.1f/%.1f toBar=%.1f extra=%d off=%.1f mult=%.2f->%.2f\n", g->barNowMs, g->barAfterMs, g->toBarMs,
           extraBars, g->pickupMs, f, g->factorAfter);
  return true;
}

