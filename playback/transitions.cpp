// Song-to-song transitions: over the running rhythm (a fill from the next bar line, the next song
// prepared and set up meanwhile, its downbeat on the engine's grid), after a fade without it, and
// the song-to-song fill of the medley play mode.
#include "playback/transitions.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "base/trace_log.h"
#include "platform/clock.h"
#include "playback/player.h"
#include "playback/rhythm_attach.h"
#include "playback/rhythm_clock.h"
#include "playback/rhythm_fills.h"
#include "playback/rhythm_sender.h"
#include "playback/rhythm_style.h"
#include "playback/rhythm_timing.h"
#include "playback/services.h"
#include "playback/song_prep.h"
#include "playback/song_start.h"
#include "playback/tempo.h"
#include "playback/transition_timing.h"
#include "songs/song_file_cache.h"
#include "songs/song_model.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"
#include "sound/module_setup.h"
#include "sound/send_trace.h"
#include "sound/services.h"

namespace {

struct SongPaths {
  std::wstring midi, text;
};

// The files of song n; the loaded song's for a number below 0.
SongPaths PathsOf(int n) {
  SongPaths p;
  if (n >= 0) {
    p.midi = SongMidiPath(n);
    p.text = SongTextPath(n);
  } else {
    std::lock_guard lock(PlaybackState.prepared.mu);
    p.midi = PlaybackState.prepared.loadedMidi;
    p.text = PlaybackState.prepared.loadedText;
  }
  return p;
}

int32_t MsUntil(uint32_t at) { return static_cast<int32_t>(at - plat::TimeGetTime()); }

// The least time a scheduled next song needs before its downbeat to start its player.
constexpr int kStartLeadMs = 250;

// One bar of the rhythm at the tempo and factor carried into the next song.
double CarriedEngineBarMs() {
  const int carried = CvtState.CvtCarryTempo.us();
  return EngineBarMs(carried > 0 ? carried : PlaybackState.CurrentTempoUs.load(), PlaybackState.TempoOffsetBpm.load(),
                     CvtState.CvtTempoFactor.load());
}

// The rhythm's tempo and pattern factor go on into the next song.
void CarryRhythm() {
  const int us = PlaybackState.CurrentTempoUs.load();
  const auto song = LoadedSong();
  CvtState.CvtCarryTempo.store({us > 0 ? us : 500000, song->SongPpq > 0 ? song->SongPpq : 120});
  const int bpm = song->SongBaseBpm;
  CvtState.CvtTempoFactor = PlaybackState.HalftimeSongFlag.load() ? 0.5 : (bpm >= 1 && bpm <= 85 ? 2.0 : 1.0);
}

// Asks the engine for the transition fill at its next bar line and waits until the fill has
// started and the song is silenced. False (the request withdrawn) when the engine stopped, dropped
// the request or did not answer within 20 s: the old song plays on.
bool RequestFillAndWait() {
  CvtState.FillStarted = 0;
  CvtState.FillRequested = 1;
  RhythmEngine.FillRequestPending = 1;
  for (int i = 0; i < 20000; ++i) {
    const bool pending = RhythmEngine.FillRequestPending.load() != 0;
    if (!pending) {
      if (CvtState.FillStarted.load()) return true;
      break;
    }
    if (!CvtState.rhythm.load()) break;
    plat::SleepMs(1);
  }
  CvtState.FillRequested = 0;
  RhythmEngine.FillRequestPending = 0;
  return false;
}

// The old run must have ended before the next song is prepared. After 2 s a warning; a run that
// still does not end stops the transition (the next song is never prepared over a running player).
bool StopOldPlayer() {
  if (StopPlayer(2000)) return true;
  TraceLog(L"[MDL][WARN] 이전 재생 스레드가 2초 안에 정리되지 않음\n");
  if (StopPlayer(3000)) return true;
  DebugLog(L"[ALTZ] 이전 재생이 끝나지 않아 다음 곡을 준비하지 않습니다");
  CvtState.FillStarted = 0;
  return false;
}

bool PrepareNext(const SongPaths& p) {
  return !p.midi.empty() && SongFileAvailable(p.midi) && PrepareSongForPlay(p.midi, p.text) &&
         !LoadedSong()->SongEventList.empty();
}

void SendSetupUnderRhythm() {
  PlaybackState.SetupUnderRhythm = 1;
  SendSongModuleSetup();
  PlaybackState.SetupUnderRhythm = 0;
  PlaybackState.SetupAlreadySent = 1;
}

// Moves the planned downbeat d so that the prepared song's pick-up lands before the bar line.
uint32_t AlignPickupOf(uint32_t d, bool rhythmPath) {
  const auto song = LoadedSong();
  PickupInput in;
  in.firstNote = FirstMelodyNoteTick(*song);
  in.bars = song->BarTicks;
  in.songBaseBpm = song->SongBaseBpm;
  in.songPpq = song->SongPpq;
  const int carried = CvtState.CvtCarryTempo.us();
  in.carryUs = carried > 0 ? carried : PlaybackState.CurrentTempoUs.load();
  in.carryFactor = CvtState.CvtTempoFactor.load();
  in.tempoOffsetBpm = PlaybackState.TempoOffsetBpm.load();
  in.downbeatMs = d;
  in.nowMs = plat::TimeGetTime();
  const PickupAlignment a = AlignPickup(in);
  const wchar_t* tag = rhythmPath ? L"[ACC]" : L"[MDL]";
  switch (a.result) {
    case PickupResult::kOnBarLine:
      TraceLog(L"%ls 첫음 %u 이 마디 첫 박 - 픽업 정렬 생략\n", tag, in.firstNote);
      break;
    case PickupResult::kEarlier:
    case PickupResult::kLater: {
      const wchar_t* word = a.result == PickupResult::kEarlier ? L"당김" : L"미룸";
      const int ticks = static_cast<int>(a.barLine - in.firstNote);
      if (rhythmPath)
        TraceLog(L"[ACC] 픽업 %d틱(%.0fms, 한마디 %.0fms) -> %ls %dms | 곡 마디선 %u, 첫음 %u\n", ticks, a.pickupMs, a.barMs,
                 word, a.shiftMs, a.barLine, in.firstNote);
      else
        TraceLog(L"[MDL] 픽업 %d틱(%.0fms, 한마디 %.0fms) -> %ls %dms\n", ticks, a.pickupMs, a.barMs, word, a.shiftMs);
      break;
    }
    default:
      break;
  }
  return a.downbeatMs;
}

void CutAllChannels() {
  if (OpenMidiPort1())
    for (MidiOutHandle h : {Sound.MidiOutPort1.load(), Sound.MidiOutPort2.load()})
      if (h)
        for (int c = 0; c < 16; ++c) SendShortMidi(h, PackMidi(0xB0 | c, 123, 0));
  for (MidiOutHandle h : {Sound.MidiOutPort1.load(), Sound.MidiOutPort2.load()})
    if (h)
      for (int c = 0; c < 16; ++c) {
        SendShortMidi(h, PackMidi(0xB0 | c, 120, 0));
        SendShortMidi(h, PackMidi(0xB0 | c, 64, 0));
      }
  std::vector<int> all(16);
  for (int c = 0; c < 16; ++c) all[c] = c;
  ResendChannelVolumes(all, false);
}

// Medley play mode without the rhythm: the style's default fill, played by this thread, leads
// from the ended song into the next one.
void SongToSongFill(const SongPaths& p) {
  if (!StopPlayer(2000)) {
    DebugLog(L"[ALTZ] 이전 재생이 끝나지 않아 다음 곡을 준비하지 않습니다");
    return;
  }
  const int songBpm = LoadedSong()->SongBaseBpm;
  if (LoadStyleSet(songBpm >= 1 && songBpm <= 99 ? L"SG1" : L"DS1", 1) && CommitPendingStyle()) PushRhythmUi();
  RhythmStyles.UserPickedStyle = 0;
  std::vector<StyleEvent> fill;
  {
    std::lock_guard lock(RhythmStyles.SetMutex);
    fill = RhythmStyles.active.defaultFill;
  }
  const MidiOutHandle port = Sound.MidiOutPort1.load();
  if (!port || fill.empty()) {
    TraceLog(L"[FILL][WARN] 원곡->원곡 필인 건너뜀 - 필인 이벤트 %d개 / 출력핸들 %d\n", static_cast<int>(fill.size()), port ? 1 : 0);
    LoadAndPlay(p.midi, p.text);
    return;
  }
  const int us = PlaybackState.CurrentTempoUs.load() > 0 ? PlaybackState.CurrentTempoUs.load() : 500000;
  const int ppq = LoadedSong()->SongPpq > 0 ? LoadedSong()->SongPpq : 120;
  CvtState.CvtCarryTempo.store({us, ppq});
  CvtState.CvtTempoFactor = 1;
  const double g = FillLengthMs(FillLengthTicks(fill), us, ppq, PlaybackState.TempoOffsetBpm.load());
  bool prepared = false;
  if (!p.midi.empty() && SongFileAvailable(p.midi)) {
    const double t0 = plat::NowMs();
    prepared = PrepareNext(p);
    if (prepared) {
      SendSongModuleSetup();
      PlaybackState.SetupAlreadySent = 1;
    }
    TraceLog(L"[FILL] 필인 전 곡 준비 %dms (성공=%d)\n", static_cast<int>(plat::NowMs() - t0), prepared ? 1 : 0);
  }
  for (const StyleEvent& e : fill)
    if (e.kind == kStyleProgram || e.kind == kStyleController) SendCvtEvent(port, e);
  TraceLog(L"[FILL] 원곡->원곡 필인  곡템포=%d -> %ls (재생중=%d)\n", songBpm, ActiveStyleName().c_str(),
           PlaybackState.isPlaying.load() ? 1 : 0);
  bool early = false;
  if (prepared && Settings.medleyPrestart.load()) {
    const long h = std::lround(std::min(20000.0, g));
    if (h >= 251) {
      PlaybackState.StartAtFirstNote = 1;
      const uint32_t at = plat::TimeGetTime() + static_cast<uint32_t>(h + 40);
      PlaybackState.startAt = at == 0 ? 1 : at;
      early = StartPlayMidiThread();
      if (early) TraceLog(L"[FILL] 필인 중 선기동 - 곡 첫 음을 %dms 뒤(필인 끝)로 예약\n", static_cast<int>(h + 40));
      else PlaybackState.startAt = 0;
    }
  }
  PlayFillEvents(port, fill, {false, early, true}, SystemRhythmClock());
  if (OpenMidiPort1())
    for (int c : {6, 8, 9, 10, 11, 12, 13, 14}) SendShortMidi(Sound.MidiOutPort1.load(), PackMidi(0xB0 | c, 123, 0));
  CvtState.CvtCarryTempo.store({});
  CvtState.CvtTempoFactor = -1;
  if (early) {
    TraceStopwatchLap(L"orig fill end");
    return;
  }
  PlaybackState.StartAtFirstNote = 1;
  if (prepared && StartPlayMidiThread()) {
    TraceStopwatchLap(L"orig fill end -> song start");
    return;
  }
  TraceStopwatchLap(L"orig fill end");
  LoadAndPlay(p.midi, p.text);
}

void RefuseSecond(const wchar_t* what) {
  DebugLog(std::wstring(what) + L" 이전 곡 전환이 아직 진행 중 - 이번 요청은 하지 않습니다");
}

}  // namespace

void AutoNextWithFill(int n) {
  if (!PlaybackState.isPlaying.load() || !CvtState.rhythm.load()) return;
  std::unique_lock move = TryBeginMove();
  if (!move) {
    RefuseSecond(L"[FILL]");
    return;
  }
  if (!PlaybackState.isPlaying.load() || !CvtState.rhythm.load()) return;
  CarryRhythm();
  if (!RhythmStyles.UserPickedStyle.load()) {
    const int bpm = LoadedSong()->SongBaseBpm, offset = PlaybackState.TempoOffsetBpm.load();
    const std::wstring style = bpm + offset >= 1 && bpm + offset <= 99 ? L"SG1" : L"DS1";
    const std::wstring active = ActiveStyleName();
    if (style != active) {
      TraceLog(L"[FILL] 가사끝 자동전환 필인 스타일 %ls -> %ls (곡템포 %d + 조절 %d = %d)\n", active.c_str(), style.c_str(), bpm,
               offset, bpm + offset);
      LoadStyleSet(style, RhythmStyles.activeVariation.load());
    }
  }
  if (!RequestFillAndWait()) return;
  if (!StopOldPlayer()) return;
  ClearPendingAttach();
  CarryRhythm();
  QuietOriginalSong(false, true);
  const SongPaths p = PathsOf(n);
  ArmLoadTrace();
  plat::LowerThreadPriority();
  bool prepared = false, early = false;
  uint32_t d = 0;
  if (SongFileAvailable(p.midi)) {
    prepared = PrepareNext(p);
    if (prepared) {
      if (Settings.medleyPrestart.load() && PlaybackState.MedleyItemIndex.load() >= 0 && CvtState.rhythm.load()) {
        early = true;
        d = CvtState.FillEndMs.load();
        if (d != 0) {
          if (!PlaybackState.skipToTickSet.load()) d = AlignPickupOf(d, false);
          d = DownbeatWithLead(d, CarriedEngineBarMs(), plat::TimeGetTime(), kStartLeadMs);
          const int diff = MsUntil(d);
          if (const int share = SetupSpreadShareMs(diff)) {
            OpenSendPacing(plat::TimeGetTime() + static_cast<uint32_t>(share));
            TraceLog(L"[MDL] 곡 셋업 묶음 분산 - 다운비트까지 %dms 중 %dms 를 셋업에, %dms 는 따라잡기에\n", diff, share, diff - share);
          } else {
            TraceLog(L"[MDL] 셋업 분산 생략 - 다운비트까지 %dms(따라잡기 몫 %dms 를 빼면 남는 게 없다)\n", diff, 350);
          }
        } else {
          DebugLog(L"[메들리] 필인 끝 시각을 알 수 없어 셋업 분산/선기동을 건너뜁니다");
        }
      }
      SendSetupUnderRhythm();
    }
  }
  plat::RestoreThreadPriority();
  OpenSendPacing(0);
  ApplyTempoLock(CvtState.CvtCarryTempo.us(), CvtState.CvtTempoFactor.load());
  PlaybackState.StartAtFirstNote = 1;
  PlaybackState.SkipStartMuteOnce = 1;
  PlaybackState.ResyncContinuousTransition = 1;
  bool scheduled = false;
  if (early && d != 0) {
    const int diff = MsUntil(d);
    if (diff > 120) {
      PlaybackState.startAt = d;
      StartAttachThread(static_cast<uint32_t>(std::max(diff - 20, 0)));
      TraceLog(L"[MDL] 필인 중 선기동 - 남은 %dms 를 준비에 쓴다(다운비트에 얹히는 게 없다)\n", diff);
      scheduled = true;
    } else {
      TraceLog(L"[MDL] 필인 여유 부족(%dms) - 예전 경로로 시작\n", diff);
    }
  }
  for (int i = 0; i < 15000 && RhythmEngine.FillRequestPending.load() && CvtState.rhythm.load(); ++i) plat::SleepMs(1);
  RhythmEngine.FillRequestPending = 0;
  if (scheduled) return;
  if (prepared) {
    StartPlayMidiThread();
  } else if (!p.midi.empty() && SongFileAvailable(p.midi)) {
    DebugLog(L"[메들리] 필인 중 준비 실패 - 일반 경로로 다시 시작합니다");
    LoadAndPlay(p.midi, p.text);
  }
}

void AttachNextSongOverCvt(int n) {
  std::unique_lock move = TryBeginMove();
  if (!move) {
    RefuseSecond(L"[ALTZ]");
    return;
  }
  const bool rhythm = CvtState.rhythm.load() != 0;
  TraceStopwatchStart(rhythm ? L"CVT/rhythm" : L"original");
  ArmLoadTrace();
  StartPerfMonitor();
  const SongPaths p = PathsOf(n);
  if (n >= 0 && PlaybackState.NaturalEndFlag.load()) {
    DebugLog(L"[ALTZ] 곡 자연 종료 + 예약곡 " + std::to_wstring(n) + L" - CVT 위에 이어서 붙인다");
  } else if (!PlaybackState.isPlaying.load() && rhythm) {
    // Only the rhythm runs: a plain fill at its next bar line, no song.
    CvtState.FillRequested = 0;
    RhythmEngine.FillRequestPending = 1;
    return;
  }
  const bool playing = PlaybackState.isPlaying.load() != 0;
  bool plainRan = false, prepared = false;
  if (playing && rhythm) {
    CarryRhythm();
    TraceStopwatchLap(L"fill requested");
    if (!RequestFillAndWait()) return;
    TraceStopwatchLap(L"fill started (orig muted)");
    if (!StopOldPlayer()) return;
    TraceStopwatchLap(L"thread stop");
    ClearPendingAttach();
    CarryRhythm();
    QuietOriginalSong(false, true);
    TraceStopwatchLap(L"quiet original (ALT+A와 동일)");
    plat::LowerThreadPriority();
    prepared = PrepareNext(p);
    if (prepared) {
      if (const uint32_t g = CvtState.FillEndMs.load()) {
        const int diff = MsUntil(g);
        if (const int share = SetupSpreadShareMs(diff)) {
          OpenSendPacing(plat::TimeGetTime() + static_cast<uint32_t>(share));
          TraceLog(L"[ALTZ] 곡 셋업 묶음 분산 - 다운비트까지 %dms 중 %dms 를 셋업에\n", diff, share);
        }
      }
      SendSetupUnderRhythm();
    }
    OpenSendPacing(0);
    plat::RestoreThreadPriority();
    ApplyTempoLock(CvtState.CvtCarryTempo.us(), CvtState.CvtTempoFactor.load());
    TraceStopwatchLap(L"next song prepared");
    const uint32_t fillEnd = CvtState.FillEndMs.load();
    uint32_t d = fillEnd != 0 ? fillEnd : plat::TimeGetTime();
    if (prepared) d = AlignPickupOf(d, true);
    // A preparation that outlasted the fill: the song waits for a later bar line of the rhythm.
    if (prepared && fillEnd != 0) d = DownbeatWithLead(d, CarriedEngineBarMs(), plat::TimeGetTime(), kStartLeadMs);
    const int h = MsUntil(d);
    TraceLog(L"[ACC] %ls 끝까지 %dms - 곡 시작 예약(prepared=%d)\n", L"액센트", h, prepared ? 1 : 0);
    PlaybackState.StartAtFirstNote = 1;
    PlaybackState.SkipStartMuteOnce = 1;
    PlaybackState.ResyncContinuousTransition = 1;
    if (prepared && h > 0) {
      PlaybackState.startAt = d;
      StartAttachThread(static_cast<uint32_t>(std::max(h - 20, 0)));
      TraceStopwatchLap(L"song scheduled");
      PlaybackState.NaturalEndFlag.exchange(0);
      return;
    }
    TraceStopwatchLap(L"song scheduled");
  } else if (playing) {
    FadeOutVolumes();
    CvtState.FillStarted = 1;
    if (!StopPlayer(500) && !StopPlayer(3000)) {
      DebugLog(L"[ALTZ] 이전 재생이 끝나지 않아 다음 곡을 준비하지 않습니다");
      CvtState.FillStarted = 0;
      return;
    }
    CutAllChannels();
    TraceStopwatchLap(L"orig path done");
    plainRan = true;
  }
  const bool naturalEnd = PlaybackState.NaturalEndFlag.exchange(0) != 0;
  if (!rhythm && (plainRan || naturalEnd) && PlaybackState.MedleyPlayMode.load()) {
    SongToSongFill(p);
    return;
  }
  if (prepared && StartPlayMidiThread()) return;
  LoadAndPlay(p.midi, p.text);
}

void StartNextSongThread(int n) { std::thread(AttachNextSongOverCvt, n).detach(); }

void StartAutoNextSongThread(int n) {
  // The lyric-end transition fills over the running rhythm engine; without it there is nothing to do.
  if (!PlaybackState.isPlaying.load() || !CvtState.rhythm.load()) return;
  std::thread(AutoNextWithFill, n).detach();
}
