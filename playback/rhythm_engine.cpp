// The rhythm engine thread: pattern clock, bar lines, catch-up, resync, style swaps, the ending.
#include "playback/rhythm_engine.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/program_messages.h"
#include "base/settings/app_settings.h"
#include "base/trace_log.h"
#include "base/realtime_thread.h"
#include "platform/paths.h"
#include "platform/clock.h"
#include "platform/realtime.h"
#include "playback/player.h"
#include "playback/rhythm_fills.h"
#include "playback/rhythm_sender.h"
#include "playback/services.h"
#include "playback/tempo.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"
#include "sound/module_setup.h"
#include "sound/mixer.h"
#include "sound/services.h"
#include "sound/rhythm_parts.h"

namespace {

constexpr int kEngineChannels[] = {6, 8, 9, 10, 11, 12, 13, 14};

// Start and exit of the engine thread, and the start claim, are decided under this lock, so a
// start asked while the thread leaves is never lost and a stop never lets a start through.
std::mutex g_lifeMutex;

void AllEngineNotesOff(MidiOutHandle port) {
  for (int c : kEngineChannels) SendShortMidi(port, PackMidi(0xB0 | c, 123, 0));
}

int PpqOf(const SongModel& song) { return song.SongPpq > 0 ? song.SongPpq : 120; }


}  // namespace

// ---- One run of the pattern ----

struct RhythmEngineRun::View {
  std::shared_ptr<const SongModel> song;
  int ppq = 120;     // song resolution, 120 when unknown
  int rawPpq = 120;  // as stored (0 allowed)
  bool playing = false, waiting = false, songClock = false, paused = false;
  uint32_t tick = 0;
  double fraction = 0;
  double now = 0;
};

RhythmEngineRun::View RhythmEngineRun::Look() {
  View v;
  v.song = LoadedSong();
  v.ppq = PpqOf(*v.song);
  v.rawPpq = v.song->SongPpq;
  v.playing = PlaybackState.isPlaying.load() != 0;
  v.waiting = PlaybackState.waitingGo.load() != 0;
  v.songClock = v.playing && !v.waiting;
  v.paused = PlaybackState.paused.load() != 0;
  v.tick = PlaybackState.SongTick.load();
  v.now = clock_.NowMs();
  return v;
}

void RhythmEngineRun::SendTickZero() {
  const auto& events = RhythmStyles.active.main.events;
  for (const StyleEvent& e : events) {
    if (e.tick != 0) break;
    SendCvtEvent(port_, e);
  }
  tickZeroOwed_ = false;
  tickZeroSentAt_ = origin_;
  tickZeroSent_ = true;
}

void RhythmEngineRun::SetMute(const wchar_t* label) {
  const uint32_t tick = PlaybackState.SongTick.load();
  uint32_t until = 0;
  if (PlaybackState.SkipStartMuteOnce.exchange(0) == 0) until = tick + 4u * static_cast<uint32_t>(PpqOf(*LoadedSong()));
  PlaybackState.muteUntil = until;
  TraceLog(L"[MUT] 설정(%ls) tick=%u -> muteUntil=%u\n", label, tick, until);
}

void RhythmEngineRun::RestartAt(uint32_t tick, bool resetFraction) {
  origin_ = tick;
  RhythmEngine.CvtPhaseOriginTick = tick;
  last_ = 0;
  if (resetFraction) fraction_ = 0;
}

void RhythmEngineRun::Begin() {
  AllEngineNotesOff(port_);
  const bool songPlays = PlaybackState.isPlaying.load() != 0;
  if (!songPlays) {
    ApplyFixedBpmWhenStopped();
    DebugLogAsync(L"[F10] 곡 없이 CVT 시작 - 기준 템포 " + std::to_wstring(Settings.cvtFixedBpm.load()) + L"bpm");
  } else {
    CvtState.CvtTurnedOnMidSong = 1;
  }
  PushTempoPitchDisplay();
  PostScriptToPage(PageCall(L"updateCvtBadge", true));
  PushRhythmUi();
  ResendChannelVolumes({6, 8, 9, 10, 11, 12, 13, 14}, false);
  SendDryDrumBassSends();
  if (CommitPendingStyle()) ReleaseCvtHeldNotes(port_);
  CvtState.CvtTonesLost = 0;
  MarkCvtToneCachesEmpty();
  const double now = clock_.NowMs();
  RestartAt(PlaybackState.SongTick.load(), true);
  lastFireMs_ = now;
  lastStepMs_ = now;
  lastBarMs_ = now;
  ownClock_ = false;
  RhythmEngine.OwnClock.store({});
  SetMute(L"리듬시작");
  SendTickZero();
}

void RhythmEngineRun::Resync(View& v) {
  RhythmEngine.FillOverlayActive = 0;
  const bool continuous = PlaybackState.ResyncContinuous.exchange(0) | PlaybackState.ResyncContinuousTransition.exchange(0);
  if (!continuous) PanicCvtChannels({9, 10, 11, 12}, false, false);
  PlaybackState.ResyncRequested = 0;
  const bool committed = CommitPendingStyle();
  if (committed) ReleaseCvtHeldNotes(port_);
  const uint32_t length = RhythmStyles.active.main.length;
  const auto& bars = v.song->BarTicks;
  int64_t o = BarStartOf(bars, v.tick);
  const double carried = CvtState.CvtTempoFactor.load();
  const double factor = carried > 0 ? carried : SongDefaultFactor(PlaybackState.HalftimeSongFlag.load(), v.song->SongBaseBpm);
  auto positionFrom = [&](int64_t origin) { return PatternMod(static_cast<int64_t>((v.tick - origin) * factor), length); };
  uint32_t d = positionFrom(o);
  bool keep = false;
  ResyncPhase phase;
  if (continuous && !committed && length > 0) {
    const int64_t span = std::max<int64_t>(1, std::llround(length / factor));
    phase = CompareResyncPhase(last_, d, v.rawPpq);
    if (!phase.keep) {
      // A song whose first note is a pick-up was placed with its next bar line on the engine's
      // bar line: that bar line is the one the pattern lines up with (in three-four the bar
      // before it is not a whole pattern bar).
      const uint32_t next = NextBarLine(bars, v.tick);
      if (next > v.tick) {
        const uint32_t dn = positionFrom(next);
        const ResyncPhase pn = CompareResyncPhase(last_, dn, v.rawPpq);
        const int64_t from = next - (int64_t{next} - v.tick + span - 1) / span * span;
        if (pn.keep && from >= 0) {
          o = from;
          d = positionFrom(o);
          phase = pn;
        }
      }
    }
    const uint32_t bar = 4u * static_cast<uint32_t>(v.ppq);
    const uint32_t oldBar = last_ / bar, newBar = d / bar;
    // The bar of the pattern the phase continues in (the next one when d just crossed its line).
    const uint32_t wantBar = PatternMod(int64_t{last_} + phase.difference, length) / bar;
    if (phase.keep) {
      keep = true;
      if (wantBar != newBar) {
        int64_t n = o - std::llround((double(wantBar) - double(newBar)) * bar / factor);
        if (n > v.tick) n -= ((n - v.tick) + span - 1) / span * span;
        if (n < 0) n += (-n + span - 1) / span * span;
        if (n <= v.tick) {
          o = n;
          d = positionFrom(o);
        }
      }
    }
    TraceLog(L"[GO2] 위상 %u -> %u (마디안 차 %d, 허용 %d) 패턴마디 %u -> %u  연속=%d  %ls\n", last_, d, phase.difference,
             phase.tolerance, oldBar, newBar, keep ? 1 : 0, keep ? L"베이스/컴핑 유지" : L"베이스/컴핑 정리");
  }
  if (!keep) {
    for (MidiOutHandle h : {port_, Sound.MidiOutPort2.load()}) {
      if (!h) continue;
      SendShortMidi(h, PackMidi(0xB6, 123, 0));
      SendShortMidi(h, PackMidi(0xB8, 123, 0));
    }
    for (int c = 0; c < 16; ++c)
      if (c == 6 || c == 8 || (!continuous && c >= 9 && c <= 12))
        for (auto& s : RhythmParts.CvtSoundingNotes[c]) s.on = 0;
  }
  origin_ = static_cast<uint32_t>(o);
  RhythmEngine.CvtPhaseOriginTick = origin_;
  const uint32_t quarterBeat = static_cast<uint32_t>(v.ppq / 4);
  if (keep) {
    // The pattern goes on: the few ticks between the last position and d fire now (a downbeat
    // just crossed is not lost); when d lies a little behind, the pattern waits until it gets
    // back to the last position, so a downbeat already struck is not struck again.
    const uint32_t ahead = d >= last_ ? d - last_ : d + length - last_;
    if (phase.difference > 0 && ahead == static_cast<uint32_t>(phase.difference) && !v.paused)
      FireStyleEvents(port_, RhythmStyles.active.main.events, {last_, d, false, length, v.ppq}, clock_);
    else if (phase.difference < 0)
      d = last_;
    if (d > 0 && d <= quarterBeat && !v.paused) SetMute(L"재동기화");
  } else if (d > 0 && d <= quarterBeat && !v.paused) {
    // The downbeat just passed is not lost.
    SendTickZero();
    FireStyleEvents(port_, RhythmStyles.active.main.events, {0, d, false, length, v.ppq}, clock_);
    SetMute(L"재동기화");
  } else if (d == 0 && !(tickZeroSent_ && tickZeroSentAt_ == origin_)) {
    // (A resync onto the downbeat just played, as at a song's first note, does not strike it twice.)
    if (v.paused) tickZeroOwed_ = true;
    else SendTickZero();
  }
  last_ = d;
  lastFireMs_ = v.now;
  if (d <= quarterBeat) lastBarMs_ = v.now;  // re-aligned on a bar line: the bar timing counts from here
}

void RhythmEngineRun::AdvanceOwnClock(View& v) {
  if (!ownClock_) {
    TraceLog(L"[CVT] 곡 시계 -> 자율 시계 인수인계(연속) 이어받은 위상 %d/1000틱\n", static_cast<int>(fraction_ * 1000));
    ownClock_ = true;
    // The phase taken over is the song clock's at its last step: the time since then counts too.
    ownLastMs_ = songClockMs_ >= 0 && v.now - songClockMs_ < 50 ? songClockMs_ : v.now;
    lastTick_ = v.tick;
  }
  const int pendingCarry = CvtState.PendingCarryTempoUs.load();
  if (pendingCarry > 0 && static_cast<int32_t>(plat::TimeGetTime() - RhythmEngine.PendingCarryDueMs.load()) >= 0) {
    CvtState.CvtCarryTempo.storeUs(pendingCarry);
    CvtState.PendingCarryTempoUs = 0;
    if (PlaybackState.PendingTempoOffsetSet.exchange(0)) {
      PlaybackState.TempoOffsetBpm = PlaybackState.PendingTempoOffset.load();
      PostTempoPitchDisplay();
    }
  }
  const uint32_t length = RhythmStyles.active.main.length;
  const double pendingFactor = CvtState.PendingTempoFactor.load();
  if (pendingFactor > 0) {
    const double carried = CvtState.CvtTempoFactor.load();
    const double old = carried > 0 ? carried : 1.0;
    const uint32_t p = PatternMod(static_cast<int64_t>((double(v.tick) - origin_) * old), length);
    CvtState.CvtTempoFactor = pendingFactor;
    const int64_t shift = std::llround(p / pendingFactor);
    origin_ = v.tick < shift ? v.tick : static_cast<uint32_t>(v.tick - shift);
    RhythmEngine.CvtPhaseOriginTick = origin_;
    CvtState.PendingTempoFactor = 0;
    TraceLog(L"[CVT-MULT] 경계 배속 전환 %.2f -> %.2f (위상 유지, ref=%u)\n", old, pendingFactor, origin_);
  }
  const double mpt = OwnClockMsPerTick(CvtState.CvtCarryTempo.us(), CvtState.CvtCarryTempo.ppq(),
                                       PlaybackState.CurrentTempoUs.load(), PlaybackState.TempoOffsetBpm.load(), v.rawPpq);
  const double elapsed = std::max(0.0, v.now - ownLastMs_);
  ownLastMs_ = v.now;
  // Jump guard: someone else moved the tick (a jump while nothing plays); keep the pattern phase.
  const bool guard = !PlaybackState.PlayerThreadAlive.load() && !v.waiting && CvtState.CvtCarryTempo.us() == 0 &&
                     !PlaybackState.ResyncContinuous.load() && !RhythmEngine.FillRequestPending.load() &&
                     !RhythmEngine.EndingRequested.load();
  if (guard) {
    const double expected = elapsed / mpt;
    const int64_t moved = int64_t{v.tick} - int64_t{lastTick_};
    if (moved > std::max(3.0, expected + 3) || moved < 0) {
      const int64_t shift = moved - std::llround(expected);
      origin_ = static_cast<uint32_t>(std::max<int64_t>(0, int64_t{origin_} + shift));
      RhythmEngine.CvtPhaseOriginTick = origin_;
      DebugLogAsync(L"[CVT] 시계 점프 " + std::to_wstring(moved) + L"틱(예상 " + std::to_wstring(std::llround(expected)) +
                    L"틱) 흡수 - 패턴 위상 유지");
    }
  }
  fraction_ += elapsed / mpt;
  const double whole = std::floor(fraction_);
  fraction_ -= whole;
  if (whole >= 1) {
    v.tick = static_cast<uint32_t>(std::min<double>(UINT32_MAX, v.tick + whole));
    PlaybackState.SongTick = v.tick;
    PlaybackState.LastTickChangeTime = plat::TimeGetTime();
  }
  lastTick_ = v.tick;
  v.fraction = fraction_;
  RhythmEngine.OwnClock.store({v.tick + fraction_, v.now, mpt});
}

void RhythmEngineRun::FactorStep(View& v) {
  if (RhythmEngine.ResetShownValues.exchange(0)) {
    shownPercent_ = shownBpm_ = -1;
    shownBeat_ = -1;
  }
  FactorInput in;
  in.carriedFactor = CvtState.CvtTempoFactor.load();
  in.halftime = PlaybackState.HalftimeSongFlag.load() != 0;
  in.baseBpm = v.song->SongBaseBpm;
  in.boxSpeed = Settings.boxSpeed;
  in.styleBpm = RhythmStyles.ActiveStyleBpm.load();
  in.carryUs = CvtState.CvtCarryTempo.us();
  in.currentUs = PlaybackState.CurrentTempoUs.load();
  in.offsetBpm = PlaybackState.TempoOffsetBpm.load();
  const FactorResult f = ComputePatternFactor(in);
  if (!f.override) {
    if (overrideActive_) RestartAt(v.tick, false);
  } else if (!overrideActive_) {
    RestartAt(v.tick, false);
  } else if (f.factor != lastOverride_) {
    const int64_t shift = std::llround(last_ / f.factor);
    origin_ = v.tick < shift ? v.tick : static_cast<uint32_t>(v.tick - shift);
    RhythmEngine.CvtPhaseOriginTick = origin_;
  }
  overrideActive_ = f.override;
  lastOverride_ = f.override ? f.factor : 0;
  factor_ = f.factor;
  RhythmEngine.LiveTempoFactor = factor_;

  int percent = static_cast<int>(std::lround(factor_ * 100));
  if (percent < 1) percent = 100;
  if (percent != shownPercent_) {
    DebugLogAsync(L"[CVT] 패턴 배속 " + std::to_wstring(shownPercent_) + L"% -> " + std::to_wstring(percent) + L"% (곡기준 " +
                  std::to_wstring(in.baseBpm) + L"bpm, 재생중=" + std::to_wstring(v.playing ? 1 : 0) + L")");
    shownPercent_ = percent;
    PostScriptToPage(PageCall(L"setRhythmMult", percent));
  }
  const double bpmExact = std::clamp(TempoBpm(in.carryUs, in.currentUs, in.offsetBpm) * factor_, 20.0, 400.0);
  const int bpm = static_cast<int>(std::lround(bpmExact));
  if (bpm != shownBpm_) {
    shownBpm_ = bpm;
    PostScriptToPage(PageCall(L"setCvtBpm", bpm));
  }
  const int64_t beat = static_cast<int64_t>(
      std::floor(std::max(0.0, (double(v.tick) - origin_ + v.fraction) * factor_) / (v.rawPpq < 1 ? 120 : v.rawPpq)));
  if (beat != shownBeat_) {
    shownBeat_ = beat;
    PostScriptToPage(PageCall(L"cvtBeatPulse", static_cast<int>(beat % 4), static_cast<int>(std::lround(60000.0 / bpm)), 4));
  }
}

double RhythmEngineRun::MsPerPatternTick(const View& v) const {
  double mpt = v.songClock ? PlaybackState.PlayerMsPerTick.load() : 0;
  if (!(mpt > 0))
    mpt = OwnClockMsPerTick(CvtState.CvtCarryTempo.us(), CvtState.CvtCarryTempo.ppq(), PlaybackState.CurrentTempoUs.load(),
                            PlaybackState.TempoOffsetBpm.load(), v.rawPpq);
  return mpt / (factor_ > 0 ? factor_ : 1);
}

bool RhythmEngineRun::EndingStep(View& v) {
  if (!RhythmEngine.EndingRequested.load() || RhythmStyles.active.ending.events.empty()) return false;
  RhythmEngine.EndingRequested = 0;
  const bool stopAfter = RhythmEngine.StopAfterEnding.load() != 0;
  const double started = clock_.NowMs();
  const double total = RhythmStyles.active.ending.length * MsPerPatternTick(v);
  PlayFillEvents(port_, RhythmStyles.active.ending.events, {stopAfter, false, false}, clock_);
  if (RhythmEngine.StopAfterEnding.exchange(0)) {
    if (CvtState.rhythm.load()) StopCvtRhythm();
    else AllEngineNotesOff(port_);
    return true;
  }
  const double remaining = total - (clock_.NowMs() - started);
  if (remaining > 0 && remaining < 4000) {
    DebugLogAsync(L"[CVT] 엔딩 여백 대기 " + std::to_wstring(std::lround(remaining)) + L"ms (전체 " +
                  std::to_wstring(std::lround(total)) + L"ms) - 다음 첫 박 정렬");
    const double until = clock_.NowMs() + remaining;
    while (CvtState.rhythm.load() && clock_.NowMs() < until) clock_.SleepMs(std::min(1.0, until - clock_.NowMs()));
  }
  RestartAt(PlaybackState.SongTick.load(), !v.songClock);
  ownLastMs_ = clock_.NowMs();
  SendTickZero();
  return true;
}

void RhythmEngineRun::StyleChangeFill(View& v) {
  RhythmStyles.StyleChangeFillPending = 0;
  std::vector<StyleEvent> fill;
  for (const StyleEvent& e : RhythmStyles.active.defaultFill)
    if (e.channel >= 9 && e.channel <= 14 && (e.kind == kStyleNoteOn || e.kind == kStyleNoteOff)) fill.push_back(e);
  PlayFillEvents(port_, fill, {true, false, false}, clock_);
  for (int i = 0; i < 80 && CvtState.rhythm.load() && !RhythmStyles.PendingStyleReady.load(); ++i) clock_.SleepMs(5);
  CommitPendingStyle();
  ReleaseCvtHeldNotes(port_);
  MarkCvtToneCachesEmpty();
  uint32_t tick = PlaybackState.SongTick.load();
  const bool songClock = PlaybackState.isPlaying.load() && !PlaybackState.waitingGo.load();
  if (songClock) {
    const auto& bars = v.song->BarTicks;
    const uint32_t start = BarStartOf(bars, tick), next = NextBarLine(bars, tick);
    if (next > start && tick - start >= (next - start) / 2) {
      const double until = clock_.NowMs() + 1500;
      while (PlaybackState.isPlaying.load() && clock_.NowMs() < until) {
        const uint32_t t = PlaybackState.SongTick.load();
        if (t >= next || t < start) break;
        clock_.SleepMs(1);
      }
      if (PlaybackState.SongTick.load() >= next) tick = next;
    }
  }
  RestartAt(tick, !songClock);
  ownLastMs_ = clock_.NowMs();
  PlaybackState.muteUntil = 0;
  SendTickZero();
}

bool RhythmEngineRun::BarLineActions(View& v, uint32_t& d) {
  if (RhythmStyles.StyleChangeFillPending.load()) {
    StyleChangeFill(v);
    return true;
  }
  if (!CommitPendingStyle()) return false;
  ReleaseCvtHeldNotes(port_);
  const uint32_t length = RhythmStyles.active.main.length;
  d = PatternMod(d, length);
  last_ = PatternMod(last_, length);
  const uint32_t distance = d >= last_ ? d - last_ : d + length - last_;
  const uint32_t half = static_cast<uint32_t>(std::max(1, v.rawPpq / 2));
  if (distance > half) {
    TraceLog(L"[SWAP] 교체가 %u틱 밀렸다 - 그 구간은 버리고 %u 부터 시작(몰아쏘기 방지)\n", distance, d);
    last_ = d;
  }
  return false;
}

void RhythmEngineRun::Fire(View& v, uint32_t d) {
  const StylePattern& main = RhythmStyles.active.main;
  const FireDecision f = DecideFiring(last_, d, main.length, v.rawPpq, lastFireMs_ >= 0, v.now - lastFireMs_);
  if (f.kind == FireKind::kNone) return;
  if (f.kind == FireKind::kDrop) {
    TraceLog(L"[DROP] %u틱 밀림 - 그 구간 버리고 %u 부터 이어감(연타 방지)\n", f.stretch, d);
  } else {
    const bool catchUp = f.kind == FireKind::kCatchUp;
    if (catchUp)
      TraceLog(L"[JIT-CATCHUP] 리듬 루프 지연 %ums - (%u,%u] 전부 발사 | tick나이=%ums liveTick=%u paused=%d playing=%d waitGo=%d\n",
               static_cast<unsigned>(v.now - lastFireMs_), last_, d,
               static_cast<unsigned>(plat::TimeGetTime() - PlaybackState.LastTickChangeTime.load()), v.tick, v.paused ? 1 : 0,
               v.playing ? 1 : 0, v.waiting ? 1 : 0);
    FireStyleEvents(port_, main.events, {last_, d, catchUp, main.length, v.ppq}, clock_);
    tickZeroSent_ = false;  // the pattern moved on: a later resync's downbeat is a new one
    const double expected = f.stretch * MsPerPatternTick(v);
    const double real = v.now - lastFireMs_;
    if (std::abs(real - expected) > 8 && v.now - lastTimingLogMs_ >= 300) {
      lastTimingLogMs_ = v.now;
      DebugLogAsync(L"[CVT] 타점 " + std::to_wstring(std::lround(real - expected)) + L"ms 어긋남 (실제 " +
                    std::to_wstring(std::lround(real)) + L"ms / 기대 " + std::to_wstring(std::lround(expected)) + L"ms, " +
                    std::to_wstring(f.stretch) + L"틱, 재생중=" + std::to_wstring(v.playing ? 1 : 0) + L")");
    }
  }
  last_ = d;
  lastFireMs_ = v.now;
}

// A transition's fill request, served on the engine's own bar line `d` (or at once while no
// pattern runs): the song is silenced when asked, the next downbeat of the pattern is fixed and
// the fill plays over the pattern until then. The engine's bar lines, not the song's, are the
// grid the next song lands on: over a song in three-four they lie apart from the song's.
bool RhythmEngineRun::FillRequestStep(View& v, uint32_t d) {
  if (!RhythmEngine.FillRequestPending.load()) return false;
  if (CvtState.FillRequested.exchange(0)) {
    CvtState.FillStarted = 1;
    for (int c = 0; c < 16; ++c)
      if (std::find(std::begin(kEngineChannels), std::end(kEngineChannels), c) == std::end(kEngineChannels))
        SendShortMidi(port_, PackMidi(0xB0 | c, 123, 0));
    if (const MidiOutHandle p2 = Sound.MidiOutPort2.load())
      for (int c = 0; c < 16; ++c) SendShortMidi(p2, PackMidi(0xB0 | c, 123, 0));
  }
  // Pattern ticks to the next bar line of the pattern (its end when that comes first).
  const uint32_t length = RhythmStyles.active.main.length;
  double patternTicks = 4.0 * v.ppq;
  if (length > 0) {
    const uint32_t bar = v.rawPpq > 0 ? 4u * static_cast<uint32_t>(v.rawPpq) : length;
    const uint32_t next = std::min<uint64_t>(length, (uint64_t{d} / bar + 1) * bar);
    const double exact = (double(v.tick) - origin_ + v.fraction) * factor_;
    patternTicks = std::max(0.0, double(next) - d - (exact > 0 ? exact - std::floor(exact) : 0.0));
  }
  const double factor = factor_ > 0 ? factor_ : 1;
  double mpt = MsPerPatternTick(v);
  if (!(mpt > 0)) mpt = 4 / factor;
  const double toGo = patternTicks * mpt;
  // On the engine's own clock (the monotonic millisecond clock the player reads it against).
  const uint64_t endMs = static_cast<uint64_t>(std::llround(v.now + toGo));
  CvtState.FillEndMs = static_cast<uint32_t>(endMs) == 0 ? 1 : static_cast<uint32_t>(endMs);
  const uint32_t downbeatTick = v.tick + static_cast<uint32_t>(std::lround(patternTicks / factor));
  // A fill shorter than the gap plays whole and the pattern takes the rest of the way.
  overlay_ = SelectFillEvents(RhythmStyles.active.defaultFill,
                              static_cast<uint32_t>(std::min<long>(4L * v.ppq, std::lround(patternTicks))), &overlayLength_);
  overlayStartMs_ = v.now;
  overlayMpt_ = -1;
  overlayLast_ = 0;
  overlayFired_ = false;
  RhythmEngine.FillOverlayActive = 1;
  RhythmEngine.FillRequestPending = 0;
  size_t zero = 0;
  for (; zero < overlay_.size() && overlay_[zero].tick == 0; ++zero) SendCvtEvent(port_, overlay_[zero]);
  TraceLog(L"[ACC] %ls %d마디 - tick %u -> %u, %dms 뒤 곡 (음색 로드 0, 필인이벤트 %d개)\n", L"필인 오버레이", 1, v.tick,
           downbeatTick, static_cast<int>(std::lround(toGo)), static_cast<int>(overlay_.size()));
  return true;
}

// One step of the fill overlay; false once it has ended (the pattern fires again, in this same
// step when the fill ended in it, so the downbeat at its end is not lost).
bool RhythmEngineRun::OverlayStep(View& v) {
  if (!RhythmEngine.FillOverlayActive.load()) return false;
  if (static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v.now)) - CvtState.FillEndMs.load()) >= 0) {
    RhythmEngine.FillOverlayActive = 0;
    return false;
  }
  if (overlayMpt_ < 0) {
    double mpt = v.songClock ? PlaybackState.PlayerMsPerTick.load() : 0;
    if (!(mpt > 0))
      mpt = OwnClockMsPerTick(CvtState.CvtCarryTempo.us(), CvtState.CvtCarryTempo.ppq(), PlaybackState.CurrentTempoUs.load(),
                              PlaybackState.TempoOffsetBpm.load(), v.rawPpq);
    mpt /= factor_ > 0 ? factor_ : 1;
    overlayMpt_ = mpt > 0 ? mpt : 2;
  }
  const double elapsed = v.now - overlayStartMs_;
  const int64_t f = std::min<int64_t>(overlayLength_, std::llround(std::max(0.0, elapsed) / overlayMpt_));
  if (f < overlayLast_) {
    TraceLog(L"[FILLREW] fTick 되감김 %u -> %u 차단 (경과=%ums pMpt=%.3f)\n", static_cast<unsigned>(overlayLast_),
             static_cast<unsigned>(f), static_cast<unsigned>(elapsed), overlayMpt_);
  } else if (f != overlayLast_) {
    const double songMpt = PlaybackState.PlayerMsPerTick.load();
    if (!overlayFired_)
      TraceLog(L"[FILL1] 첫발사 (0,%u] / 전체 %u틱  경과=%ums  sMpt=%.3f patMult=%.3f pMpt=%.3f  이벤트 %d개\n",
               static_cast<unsigned>(f), overlayLength_, static_cast<unsigned>(elapsed), songMpt, factor_, overlayMpt_,
               static_cast<int>(overlay_.size()));
    else if (f - overlayLast_ > 20)
      TraceLog(L"[FILLJUMP2] (%u -> %u] 한번에 %u틱!  경과=%ums  sMpt=%.3f patMult=%.3f pMpt=%.3f  liveMpt=%.3f playing=%d waitGo=%d\n",
               static_cast<unsigned>(overlayLast_), static_cast<unsigned>(f), static_cast<unsigned>(f - overlayLast_),
               static_cast<unsigned>(elapsed), songMpt, factor_, overlayMpt_, songMpt, v.playing ? 1 : 0, v.waiting ? 1 : 0);
    overlayFired_ = true;
    FireStyleEvents(port_, overlay_, {static_cast<uint32_t>(overlayLast_), static_cast<uint32_t>(f), false, 0, v.ppq}, clock_);
    overlayLast_ = f;
  }
  if (overlay_.empty() || f >= overlayLength_) {
    RhythmEngine.FillOverlayActive = 0;
    return false;
  }
  return true;
}

double RhythmEngineRun::Step() {
  View v = Look();
  if (CvtState.CvtTonesLost.exchange(0)) MarkCvtToneCachesEmpty();  // a song reset the module
  ReleaseQuickEffect(port_, plat::TimeGetTime());
  if (PlaybackState.ResyncRequested.load()) {
    Resync(v);
  } else if (tickZeroOwed_ && !v.paused) {
    SendTickZero();
  }
  const uint32_t length = RhythmStyles.active.main.length;
  if (length == 0) {
    FillRequestStep(v, 0);  // no bar lines to wait for
    return 10;
  }

  if (!v.songClock) {
    AdvanceOwnClock(v);
  } else {
    if (ownClock_) RhythmEngine.OwnClock.store({});
    ownClock_ = false;
    v.fraction = InterpolateTickFraction(v.tick, PlaybackState.PlayerMsPerTick.load(), v.paused);
    fraction_ = v.fraction;
    songClockMs_ = v.now;
  }
  const double sinceStep = lastStepMs_ >= 0 ? v.now - lastStepMs_ : 0;
  if (sinceStep > 12 && !CvtState.FillPlaying.load() && v.now - lastStallLogMs_ >= 1000) {
    lastStallLogMs_ = v.now;
    DebugLogAsync(L"[CVT] *** 리듬 루프 " + std::to_wstring(std::lround(sinceStep)) + L"ms 멈춤 (재생중=" +
                  std::to_wstring(v.playing ? 1 : 0) + L") ***");
  }
  FactorStep(v);
  if (EndingStep(v)) {
    lastStepMs_ = clock_.NowMs();
    return 2;
  }
  if (PlaybackState.ResyncContinuous.load()) return 1;
  if (!CvtState.FillPlaying.load() && sinceStep >= 13 && sinceStep < 1500) {
    TraceLog(L"[JIT] 리듬 루프 지연 %ums\n", static_cast<unsigned>(sinceStep));
    const uint32_t us = static_cast<uint32_t>(sinceStep * 1000);
    uint32_t seen = RhythmEngine.MaxLoopDelayUs.load();
    while (us > seen && !RhythmEngine.MaxLoopDelayUs.compare_exchange_weak(seen, us)) {
    }
  }
  lastStepMs_ = v.now;

  uint32_t d = PatternPosition(origin_, v.tick, v.fraction, factor_, length, last_, v.rawPpq);
  const uint32_t bar = v.rawPpq > 0 ? 4u * static_cast<uint32_t>(v.rawPpq) : length;
  const bool barLine = d < last_ || d / bar != last_ / bar;
  const uint32_t tNow = plat::TimeGetTime();
  if (barLine) {
    const double interval = v.now - lastBarMs_;
    const double expected = bar * MsPerPatternTick(v);
    if (expected > 50 && std::abs(interval - expected) > 12)
      DebugLogAsync(L"[CVT] 마디 간격 " + std::to_wstring(std::lround(interval)) + L"ms (기대 " +
                    std::to_wstring(std::lround(expected)) + L"ms, 오차 " + std::to_wstring(std::lround(interval - expected)) +
                    L"ms, 재생중=" + std::to_wstring(v.playing ? 1 : 0) + L")");
    lastBarMs_ = v.now;
    if (CvtState.HomeAtNextBar.exchange(0)) PostFromAnyThread(WM_CVT_BAR_HOME, 0);
    if (BarLineActions(v, d)) return 2;
    // A transition fill ends on the pattern's bar line it leads to, whatever the wall clock says:
    // that downbeat is struck by the pattern.
    RhythmEngine.FillOverlayActive = 0;
    FillRequestStep(v, d);
  } else if (CvtState.HomeAtNextBar.load() && tNow - RhythmEngine.HomeAtNextBarTime.load() > 3000) {
    if (CvtState.HomeAtNextBar.exchange(0)) PostFromAnyThread(WM_CVT_BAR_HOME, 1);
  }
  if (OverlayStep(v)) {
    last_ = d;
    return 2;
  }
  Fire(v, d);
  return NextWakeMs(v);
}

double RhythmEngineRun::NextWakeMs(const View& v) const {
  // Sleep at most 2 ms, less when the next event of the pattern is due sooner.
  const auto& events = RhythmStyles.active.main.events;
  auto it = std::upper_bound(events.begin(), events.end(), last_, [](uint32_t t, const StyleEvent& e) { return t < e.tick; });
  const uint32_t length = RhythmStyles.active.main.length;
  const uint32_t next = it != events.end() ? it->tick : (events.empty() ? length : events.front().tick + length);
  const double ticksToGo = std::max(0.0, double(next) - last_ - v.fraction * factor_);
  return std::clamp(ticksToGo * MsPerPatternTick(v), 0.25, 2.0);
}

void RhythmEngineRun::Finish() {
  // A fill asked of this run and not yet played is not carried into the next start.
  RhythmEngine.FillRequestPending = 0;
  RhythmEngine.FillOverlayActive = 0;
  RhythmEngine.OwnClock.store({});
  PostFromAnyThread(WM_DEBUG_CHORD_INFO, 0, 0, std::make_unique<std::wstring>());
  AllEngineNotesOff(port_);
  ResendChannelVolumes({6, 8, 9, 10, 11, 12, 13, 14}, false);
  shownPercent_ = shownBpm_ = -1;
  shownBeat_ = -1;
  PostScriptToPage(PageCall(L"setCvtBpm", 0));
  PostScriptToPage(PageCall(L"setRhythmMult", 0));
  PostScriptToPage(PageCall(L"cvtBeatRelease"));
}

// ---- The thread and its control ----

namespace {

// Step 3 and 4 of a start: wait for the song's next bar line, then claim the start. False when
// the start was withdrawn meanwhile.
bool WaitForStartAndClaim(RhythmClock& clock) {
  if (!CvtState.RhythmStartPending.load()) return false;
  if (PlaybackState.isPlaying.load() && !PlaybackState.waitingGo.load()) {
    const auto song = LoadedSong();
    const uint32_t start = PlaybackState.SongTick.load();
    const uint32_t target = NextBarLine(song->BarTicks, start);
    while (PlaybackState.isPlaying.load()) {
      if (!CvtState.RhythmStartPending.load()) return false;
      const uint32_t t = PlaybackState.SongTick.load();
      if (t >= target || t < start) break;
      clock.SleepMs(1);
    }
  }
  std::lock_guard lock(g_lifeMutex);
  if (!CvtState.RhythmStartPending.load()) return false;
  CvtState.RhythmStartPending = 0;
  CvtState.CvtOwnsChannels = 1;
  CvtState.rhythm = 1;
  return true;
}

}  // namespace

void CvtRhythmThread() {
  std::string refused;
  EnterRealtimeThread(40, &refused);
  if (!OpenMidiPort1()) {
    std::lock_guard lock(g_lifeMutex);
    RhythmEngine.RhythmThreadAlive = 0;
    CvtState.rhythm = 0;
    CvtState.RhythmStartPending = 0;
    CvtState.CvtOwnsChannels = 0;
    DebugLog(L"MIDI 장치 없음 - 리듬 시작 생략(무음 모드)");
    return;
  }
  RhythmClock& clock = SystemRhythmClock();
  for (;;) {
    if (!WaitForStartAndClaim(clock)) {
      std::lock_guard lock(g_lifeMutex);
      if (CvtState.RhythmStartPending.load()) continue;  // asked again while leaving: serve it
      RhythmEngine.RhythmThreadAlive = 0;
      break;
    }
    RhythmEngineRun run(clock, Sound.MidiOutPort1.load());
    run.Begin();
    while (CvtState.rhythm.load()) {
      const double sleep = run.Step();
      if (sleep > 0) clock.SleepMs(sleep);
    }
    run.Finish();
  }
  LeaveRealtimeThread();
}

void ReleaseQuickEffect(MidiOutHandle port, uint32_t now) {
  uint32_t on = CvtState.QfxNoteOnTime.load();
  if (on == 0 || now - on < kQuickEffectHoldMs) return;
  if (!CvtState.QfxNoteOnTime.compare_exchange_strong(on, 0)) return;  // struck again meanwhile
  SendCvtEvent(port, StyleEvent{0, 12, kStyleNoteOff, CvtState.QfxNoteSent.load(), 0, 0});
}

void StartCvtRhythm() {
  std::lock_guard lock(g_lifeMutex);
  if (CvtState.rhythm.load() || CvtState.RhythmStartPending.load()) return;
  if (!RhythmStyles.activeHasMain.load()) {
    PostAlertToPage(
        L"리듬 패턴 파일(" + plat::ShownPath(L"<root>/pxr") +
        L"/DS1-P1.MID)이 로드되지 않았습니다. 파일 위치를 확인하거나 곡을 먼저 재생해주세요.");
    return;
  }
  RhythmEngine.EndingRequested = 0;
  RhythmEngine.StopAfterEnding = 0;
  PlaybackState.SkipStartMuteOnce = 1;
  // Without a song nothing else sets the module up: the style would play on whatever it holds.
  if (!PlaybackState.isPlaying.load()) SendRhythmModuleSetup();
  CvtState.RhythmStartPending = 1;
  if (!RhythmEngine.RhythmThreadAlive.exchange(1)) std::thread(CvtRhythmThread).detach();
}

void StopCvtRhythm() {
  CvtState.EnterFillMute = 0;
  RhythmEngine.EndingRequested = 0;
  RhythmEngine.StopAfterEnding = 0;
  {
    std::lock_guard lock(g_lifeMutex);
    CvtState.RhythmStartPending = 0;
    if (!CvtState.rhythm.exchange(0)) return;
  }
  PushTempoPitchDisplay();
  if (CvtState.HomeAtNextBar.exchange(0)) std::thread(EndOriginalKeepRhythm).detach();
  const bool kit = RhythmParts.SnareSubKitOn.exchange(0) != 0;
  RhythmParts.SnareSubClapOn = 0;
  RhythmParts.SnareSubShakerOn = 0;
  CvtState.CvtTurnedOffByUser = 1;
  PostScriptToPage(PageCall(L"updateCvtBadge", false));
  PushRhythmUi();
  const MidiOutHandle p1 = Sound.MidiOutPort1.load();
  if (p1) AllEngineNotesOff(p1);
  if (kit) RestoreSecondDrumKit();
  // The song goes on with the tones it asked for while the engine had its channels.
  if (HeldSongTones.pending.load() && PlaybackState.isPlaying.load()) SendHeldSongTones(p1);
  CvtState.CvtOwnsChannels = 0;
  CvtState.CvtCarryTempo.store({});
  CvtState.CvtTempoFactor = -1;
  RhythmEngine.LiveTempoFactor = 0;
}


void RequestRhythmOff(int n) {
  if (n != 0 && CvtState.rhythm.load() && !PlaybackState.isPlaying.load() && RhythmStyles.activeHasEnding.load() &&
      !RhythmEngine.EndingRequested.load() && !RhythmEngine.StopAfterEnding.load()) {
    RhythmEngine.StopAfterEnding = 1;
    RhythmEngine.EndingRequested = 1;
    return;
  }
  StopCvtRhythm();
}

void StartRhythmAfterSong(int songBpm) {
  const std::wstring style = DefaultStyleForSong(songBpm);
  const std::wstring path = StylePartPath(style, L"P1");
  TraceLog(L"[AUTO] 곡끝 리듬연결  원곡템포=%d -> %ls  파일=%ls (있음=%d)\n", songBpm, style.c_str(), path.c_str(),
           FileExists(path) ? 1 : 0);
  PlaybackState.HalftimeSongFlag = 0;
  CvtState.CvtTempoFactor = 1;
  RhythmStyles.UserPickedStyle = 0;
  LoadAndCommitStyle(style, 1);
  StartCvtRhythm();
}

bool WaitRhythmThreadGone(unsigned ms) {
  for (unsigned i = 0; i < ms; ++i) {
    if (!RhythmEngine.RhythmThreadAlive.load()) return true;
    plat::SleepMs(1);
  }
  return !RhythmEngine.RhythmThreadAlive.load();
}

