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
#include "sound/send_trace.h"
#include "sound/services.h"

namespace {

void ClearCarried() {
  CvtState.PendingTempoFactor = 0;
  CvtState.CvtCarryTempo.store({});
  CvtState.CvtTempoFactor = -1;
}

void ScheduledSongStartThread(uint32_t startTime, uint32_t generation) {
  auto cancelled = [&] {
    return PlaybackState.attachCancel.load() || PlaybackState.StopGeneration.load() != generation;
  };
  auto giveUp = [](const wchar_t* line) {
    PlaybackState.startAt = 0;
    CvtState.PendingCarryTempoUs = 0;
    TraceLog(L"%ls\n", line);
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
  const CarriedTempo carried = CvtState.CvtCarryTempo.load();
  const int carryUs = carried.us, carryPpq = carried.ppq;
  const int tempo = carryUs > 0 ? carryUs : PlaybackState.CurrentTempoUs.load() > 0 ? PlaybackState.CurrentTempoUs.load() : 500000;
  const int songPpq = LoadedSong()->SongPpq;
  const int ppq = carryPpq > 0 ? carryPpq : songPpq > 0 ? songPpq : 120;
  const double carriedFactor = CvtState.CvtTempoFactor.load();
  const double factor = carriedFactor > 0 ? carriedFactor : CvtTempoFactorForSong();
  CvtState.CvtCarryTempo.store({tempo, ppq});
  CvtState.CvtTempoFactor = factor;
  if (AttachState.enterBusy.exchange(1)) return true;
  StartPerfMonitor();
  ArmLoadTrace();  // the first note's load report covers everything from this request on
  std::thread(StartSongOnRunningCvt, AttachRequest{midi, text, tempo, ppq, factor}).detach();
  return true;
}
