// Song start over the running rhythm: go time, attach thread, scheduled player start.
#include "playback/rhythm_attach.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/trace_log.h"
#include "platform/clock.h"
#include "playback/player.h"
#include "playback/rhythm_engine.h"
#include "playback/rhythm_fills.h"
#include "playback/services.h"
#include "playback/song_prep.h"
#include "playback/tempo.h"
#include "sound/services.h"

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
  double p = std::fmod((double(in.songTick) - double(in.phaseOrigin)) * f, m);
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
  in.now = plat::TimeGetTime();
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
      RhythmEngine.PendingCarryDueMs = in.now + static_cast<uint32_t>(std::lround(g->toBarMs));
      CvtState.PendingCarryTempoUs = newTempoUs;
    }
    CvtState.PendingTempoFactor = newTempoUs >= 1 && newFactor > 0 && std::abs(newFactor - f) > 1e-9 ? newFactor : 0.0;
  }
  TraceLog(L"[CVT-GO] barMs=%.1f/%.1f toBar=%.1f extra=%d off=%.1f mult=%.2f->%.2f", g->barNowMs, g->barAfterMs, g->toBarMs,
           extraBars, g->pickupMs, f, g->factorAfter);
  return true;
}

namespace {

void ClearCarried() {
  CvtState.PendingTempoFactor = 0;
  CvtState.CvtCarryTempoUs = 0;
  CvtState.CvtCarryPpq = 0;
  CvtState.CvtTempoFactor = -1;
}

void ScheduledSongStartThread(uint32_t startTime, uint32_t generation) {
  auto cancelled = [&] {
    return PlaybackState.attachCancel.load() || PlaybackState.StopGeneration.load() != generation;
  };
  auto giveUp = [](const wchar_t* line) {
    PlaybackState.startAt = 0;
    CvtState.PendingCarryTempoUs = 0;
    TraceLog(L"%ls", line);
    AttachState.AttachPending = 0;
  };
  while (static_cast<int32_t>(startTime - plat::TimeGetTime()) > 0) {
    if (cancelled()) return giveUp(L"[ATT] 대기 중 예약 취소 - 재생 스레드 기동 안 함");
    if (!CvtState.rhythm.load()) {
      // The rhythm stopped: the song starts now, without a downbeat.
      PlaybackState.startAt = 0;
      CvtState.PendingCarryTempoUs = 0;
      break;
    }
    plat::SleepMs(1);
  }
  if (cancelled()) return giveUp(L"[ATT] 기동 직전 예약 취소 - 재생 스레드 기동 안 함");
  RunPlayMidiThreadHere(generation);
  AttachState.AttachPending = 0;
}

struct AttachRequest {
  std::wstring midi, text;
  int tempoUs, ppq;
  double factor;
};

void StartSongOnRunningCvt(AttachRequest r) {
  plat::LowerThreadPriority();
  const bool prepared = PrepareSongForPlay(r.midi, r.text) && !LoadedSong()->SongEventList.empty();
  if (prepared && CvtState.rhythm.load()) {
    const int bpm = LoadedSong()->SongBaseBpm;
    int newTempo = 0;
    double newFactor = 0;
    if (PlaybackState.TempoLockOn.load() && bpm > 0) {
      ApplyTempoLock(r.tempoUs, r.factor);
    } else if (bpm > 0) {
      newTempo = 60000000 / bpm;
      newFactor = PlaybackState.HalftimeSongFlag.load() ? 0.5 : bpm > 85 ? 1.0 : 2.0;
    }
    if (ComputeCvtGoTime(r.tempoUs, r.ppq, r.factor, 0, 300, true, newTempo, newFactor)) {
      AttachState.AttachTempoUs = newTempo ? newTempo : r.tempoUs;
      AttachState.AttachPpq = r.ppq;
      AttachState.AttachFactor = newFactor > 0 ? newFactor : r.factor;
      AttachState.AttachReadyCheck = 1;
      const uint32_t at = PlaybackState.startAt.load();
      if (at) {
        DebugLog(L"[FILL] 엔터 전환 필인 - 빈 마디 0ms, 곡 첫 음 직전에 붙임(CVT 쉼)");
        uint8_t idle = 0;
        bool hasFill;
        {
          std::lock_guard lock(RhythmStyles.SetMutex);
          hasFill = !RhythmStyles.active.defaultFill.empty();
        }
        if (Sound.MidiOutPort1.load() && hasFill && !CvtState.FillPlaying.load() &&
            !RhythmEngine.FillRequestPending.load() && !RhythmEngine.FillOverlayActive.load() &&
            RhythmEngine.ManualFillBusy.compare_exchange_strong(idle, 1))
          std::thread(EnterTransitionFillThreadEntry, 0u, at, false).detach();
      }
      const int32_t left = static_cast<int32_t>(at - plat::TimeGetTime());
      StartAttachThread(static_cast<uint32_t>(std::max(1200, left - 250)));
      AttachState.enterBusy = 0;
      return;
    }
  }
  if (PlaybackState.PendingTempoOffsetSet.exchange(0)) {
    PlaybackState.TempoOffsetBpm = PlaybackState.PendingTempoOffset.load();
    PostTempoPitchDisplay();
  }
  ClearCarried();
  if (prepared) StartPlayMidiThread();
  else PlaybackState.SongStartGuardTime = 0;
  AttachState.enterBusy = 0;
}

}  // namespace

void StartAttachThread(uint32_t leadMs) {
  AttachState.AttachPending = 1;
  const uint32_t generation = PlaybackState.StopGeneration.load();
  std::thread(ScheduledSongStartThread, PlaybackState.startAt.load() - leadMs, generation).detach();
}

bool TryAttachToRunningRhythm(const std::wstring& midi, const std::wstring& text) {
  if (!CvtState.rhythm.load() || PlaybackState.isPlaying.load() || PlaybackState.PlayerThreadAlive.load() ||
      AttachState.AttachPending.load() || PlaybackState.startAt.load() || !RhythmStyles.activeHasMain.load())
    return false;
  const int carryUs = CvtState.CvtCarryTempoUs.load(), carryPpq = CvtState.CvtCarryPpq.load();
  const int tempo = carryUs > 0 ? carryUs : PlaybackState.CurrentTempoUs.load() > 0 ? PlaybackState.CurrentTempoUs.load() : 500000;
  const int songPpq = LoadedSong()->SongPpq;
  const int ppq = carryPpq > 0 ? carryPpq : songPpq > 0 ? songPpq : 120;
  const double carried = CvtState.CvtTempoFactor.load();
  const double factor = carried > 0 ? carried : CvtTempoFactorForSong();
  CvtState.CvtCarryTempoUs = tempo;
  CvtState.CvtCarryPpq = ppq;
  CvtState.CvtTempoFactor = factor;
  if (AttachState.enterBusy.exchange(1)) return true;
  std::thread(StartSongOnRunningCvt, AttachRequest{midi, text, tempo, ppq, factor}).detach();
  return true;
}
