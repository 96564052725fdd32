// Fill cutting and playing: the style-change fill, the ending, manual and Enter fills.
#include "playback/rhythm_fills.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <thread>

#include "base/debug_log.h"
#include "base/trace_log.h"
#include "base/realtime_thread.h"
#include "platform/clock.h"
#include "platform/realtime.h"
#include "playback/rhythm_timing.h"
#include "playback/rhythm_sender.h"
#include "playback/services.h"
#include "sound/midi_send.h"
#include "sound/mixer_state.h"
#include "sound/services.h"
#include "sound/rhythm_parts.h"

namespace {

int SongPpqNow() {
  const int ppq = LoadedSong()->SongPpq;
  return ppq > 0 ? ppq : 120;
}

bool SongClockUsable() { return PlaybackState.isPlaying.load() && !PlaybackState.waitingGo.load(); }

double SongMsPerTick() {
  const double mpt = PlaybackState.PlayerMsPerTick.load();
  if (mpt > 0) return mpt;
  return 60000.0 / std::max(20, 120 + PlaybackState.TempoOffsetBpm.load()) / SongPpqNow();
}

double WallMsPerTick() {
  return OwnClockMsPerTick(CvtState.CvtCarryTempo.us(), CvtState.CvtCarryTempo.ppq(), PlaybackState.CurrentTempoUs.load(),
                           PlaybackState.TempoOffsetBpm.load(), LoadedSong()->SongPpq);
}

// The fill sender: drum switches and levels apply; note-offs only for the two extra parts.
void SendFillEvent(MidiOutHandle port, const StyleEvent& e) {
  const int ch = e.channel;
  if (ch > 15 || e.data1 > 127 || e.data2 > 127) return;
  if (e.kind == kStyleNoteOff) {
    if (ch == 13 || ch == 14) SendShortMidi(port, PackMidi(0x80 | ch, e.data1, 0));
    return;
  }
  if (e.kind != kStyleNoteOn) return;
  int note = e.data1;
  const bool g = RhythmParts.SnareSubKitOn.load(), h = RhythmParts.SnareSubClapOn.load();
  if (ch == 10) {
    const bool tom = note == 41 || note == 43 || note == 45 || note == 47 || note == 48 || note == 50;
    if (!tom) note = DrumNoteOverride(0, 10, note);
    if (g) note = 50;
    else if (h) note = 39;
  }
  int v = e.data2;
  const int percent = Mixer.EffectiveRhythmPercent[ch].load();
  if (percent != 100) {
    if (percent <= 0) return;
    v = v * percent / 100;
  }
  if (v <= 0) return;
  v = std::min(v, 127);
  SendShortMidi(port, PackMidi(0x90 | ch, std::clamp(note, 0, 127), v));
  if (ch == 10 && g && h) SendShortMidi(port, PackMidi(0x90 | ch, 39, v));
  Mixer.LastNoteOnTime[0][ch] = plat::TimeGetTime();
}

bool HasExtraPartNotes(const std::vector<StyleEvent>& events) {
  return std::any_of(events.begin(), events.end(),
                     [](const StyleEvent& e) { return e.kind == kStyleNoteOn && (e.channel == 13 || e.channel == 14); });
}

}  // namespace

namespace {

template <typename Keep>
std::vector<StyleEvent> CutFillTail(const std::vector<StyleEvent>& source, uint32_t n, Keep keep) {
  std::vector<StyleEvent> out;
  if (source.empty() || n == 0) return out;
  uint32_t L = 0;
  for (const StyleEvent& e : source) L = std::max(L, e.tick);
  if (L == 0) return out;
  const uint32_t m = std::min(n, L);
  std::array<std::array<bool, 128>, 16> sounding{};
  for (const StyleEvent& e : source) {
    if (e.kind != kStyleNoteOn && e.kind != kStyleNoteOff) continue;
    if (!keep(e.channel) || e.channel > 15 || e.tick < L - m) continue;
    StyleEvent c = e;
    c.tick = e.tick - (L - m);
    out.push_back(c);
    sounding[c.channel][c.data1 & 0x7F] = c.kind == kStyleNoteOn;
  }
  for (int ch = 0; ch < 16; ++ch)
    for (int note = 0; note < 128; ++note)
      if (sounding[ch][note]) out.push_back({m, uint8_t(ch), kStyleNoteOff, uint8_t(note), 0, 0});
  return out;
}

}  // namespace

std::vector<StyleEvent> BuildFillFromPatternTail(const std::vector<StyleEvent>& source, uint32_t n) {
  return CutFillTail(source, n, [](int ch) { return ch != 6 && ch != 8 && ch != 9; });
}

std::vector<StyleEvent> SelectFillEvents(const std::vector<StyleEvent>& defaultFill, uint32_t n, uint32_t* length) {
  std::vector<StyleEvent> fill = CutFillTail(defaultFill, n, [](int ch) { return ch >= 9 && ch <= 14; });
  uint32_t last = 0;
  for (const StyleEvent& e : defaultFill) last = std::max(last, e.tick);
  if (length) *length = fill.empty() ? 0 : std::min(n, last);
  PrependFillChannelTones(fill, defaultFill);
  return fill;
}

void PrependFillChannelTones(std::vector<StyleEvent>& fill, const std::vector<StyleEvent>& defaultFill) {
  bool plays[16] = {};
  for (const StyleEvent& e : fill)
    if (e.kind == kStyleNoteOn && (e.channel == 13 || e.channel == 14)) plays[e.channel] = true;
  if (!plays[13] && !plays[14]) return;
  std::vector<StyleEvent> tones;
  std::array<std::array<bool, 128>, 16> controller{};
  bool program[16] = {};
  for (const StyleEvent& e : defaultFill) {
    if (e.channel > 15 || !plays[e.channel]) continue;
    bool& seen = e.kind == kStyleController ? controller[e.channel][e.data1 & 0x7F] : program[e.channel];
    if ((e.kind != kStyleController && e.kind != kStyleProgram) || seen) continue;
    seen = true;
    StyleEvent t = e;
    t.tick = 0;
    tones.push_back(t);
  }
  fill.insert(fill.begin(), tones.begin(), tones.end());
}

void PlayFillEvents(MidiOutHandle port, const std::vector<StyleEvent>& events, FillPlayOptions options, RhythmClock& clock) {
  if (events.empty()) return;
  CvtState.FillPlaying = 1;
  bool wall = options.forceWallClock || !PlaybackState.isPlaying.load();
  const double mpt = wall ? WallMsPerTick() : SongMsPerTick();
  const int ppq = SongPpqNow();
  // A last crash cymbal is held back and struck at the end.
  uint32_t end = events.back().tick;
  int heldChannel = -1, heldNote = 0;
  for (auto it = events.rbegin(); it != events.rend(); ++it) {
    if (it->kind != kStyleNoteOn) continue;
    if ((it->data1 == 49 || it->data1 == 57) && it->channel >= 9 && it->channel <= 12) {
      heldChannel = it->channel;
      heldNote = it->data1;
      end = it->tick > 0 ? it->tick - 1 : 0;
    }
    break;
  }
  const double carried = CvtState.CvtTempoFactor.load();
  const double m = carried > 0 ? carried : SongDefaultFactor(PlaybackState.HalftimeSongFlag.load(), LoadedSong()->SongBaseBpm);
  const uint32_t startTick = PlaybackState.SongTick.load();
  double wallStart = clock.NowMs();
  int64_t position = -1;
  size_t next = 0;
  for (;;) {
    if (options.stopWithEngine && !CvtState.rhythm.load()) break;
    double elapsed;
    if (!wall) {
      const uint32_t t = PlaybackState.SongTick.load();
      if (!PlaybackState.isPlaying.load() || t < startTick) {
        if (t < startTick)
          TraceLog(L"[FILLBACK] 곡 시계가 뒤로 점프(%u -> %u) - 벽시계로 전환, 진행 %u틱 유지\n", startTick, t,
                   static_cast<unsigned>(std::max<int64_t>(0, position)));
        wall = true;
        wallStart = clock.NowMs() - std::max<int64_t>(0, position) / m * mpt;
        continue;
      }
      elapsed = t - startTick;
    } else {
      elapsed = (clock.NowMs() - wallStart) / mpt;
    }
    const int64_t step = std::max(4, ppq / 8);
    const int64_t target = std::min<int64_t>(position < 0 ? step : position + step, static_cast<int64_t>(std::floor(m * elapsed)));
    const int64_t reached = std::min<int64_t>(std::max(target, position), end);
    for (; next < events.size() && events[next].tick <= reached; ++next) {
      const StyleEvent& e = events[next];
      if (options.skipBass && e.channel == 8 && (e.kind == kStyleNoteOn || e.kind == kStyleNoteOff)) continue;
      SendCvtEvent(port, e);
    }
    if (reached > position) PlayHalfBeatPulse(port, position, reached, ppq);
    position = std::max(position, reached);
    if (position >= end && next >= events.size()) break;
    if (position >= end && events[next].tick > end) break;
    clock.SleepMs(1);
  }
  if (heldChannel >= 0 && port) SendShortMidi(port, PackMidi(0x90 | heldChannel, heldNote, 55));
  CvtState.FillPlaying = 0;
}

void PlayFillRange(const std::vector<StyleEvent>& events, RhythmClock& clock, double startMs) {
  const MidiOutHandle port = Sound.MidiOutPort1.load();
  if (events.empty() || !port) return;
  CvtState.FillDrumMute = 1;
  const int ppq = SongPpqNow();
  const double d = std::max(1e-3, SongClockUsable() ? SongMsPerTick() : WallMsPerTick());
  const double factor = CurrentCvtTempoFactor();
  const double m = factor > 0 ? factor : 1;
  uint32_t end = 0;
  for (const StyleEvent& e : events) end = std::max(end, e.tick);
  bool wall = !SongClockUsable();
  const uint32_t startTick = PlaybackState.SongTick.load();
  const double begin = clock.NowMs();
  double wallStart = startMs >= 0 ? startMs : begin;
  int64_t position = 0;
  std::vector<bool> sent(events.size(), false);
  while (clock.NowMs() - begin < 12000) {
    double elapsed;
    if (!wall) {
      const uint32_t t = PlaybackState.SongTick.load();
      if (!PlaybackState.isPlaying.load() || t < startTick) {
        if (t < startTick)
          TraceLog(L"[FILLJMP] 곡 시계가 뒤로 점프(%u -> %u) - 벽시계로 전환, 진행 %u틱 유지\n", startTick, t,
                   static_cast<unsigned>(position));
        wall = true;
        wallStart = clock.NowMs() - position / m * d;
        continue;
      }
      elapsed = t - startTick;
    } else {
      elapsed = (clock.NowMs() - wallStart) / d;
    }
    position = std::min<int64_t>(position + std::max(8, ppq / 2), static_cast<int64_t>(std::floor(m * elapsed)));
    for (size_t i = 0; i < events.size(); ++i)
      if (!sent[i] && events[i].tick <= position) {
        sent[i] = true;
        SendFillEvent(port, events[i]);
      }
    if (position >= end) break;
    double nap = 1;
    if (wall) {
      // On the wall clock the next stroke's time is known: wake for it, not up to a millisecond
      // after it. (A stroke already due waits the usual millisecond: catch-up keeps its spacing.)
      int64_t next = end;
      for (size_t i = 0; i < events.size(); ++i)
        if (!sent[i]) next = std::min<int64_t>(next, events[i].tick);
      const double left = wallStart + double(next) / m * d + 0.01 - clock.NowMs();
      if (left > 0) nap = std::min(1.0, left);
    }
    clock.SleepMs(nap);
  }
  CvtState.FillDrumMute = 0;
}

namespace {

// A fill thread sends drum strokes in time beside the engine (which runs at 40): real-time just
// below it, so that a busy machine does not hold a stroke back.
struct FillThreadPriority {
  FillThreadPriority() { EnterRealtimeThread(38, nullptr); }
  ~FillThreadPriority() { LeaveRealtimeThread(); }
};

void ManualFillThread(int index) {
  const FillThreadPriority priority;
  RhythmClock& clock = SystemRhythmClock();
  const auto song = LoadedSong();
  FillWindowInput in;
  in.tick = PlaybackState.SongTick.load();
  in.factor = CurrentCvtTempoFactor();
  in.ppq = song->SongPpq;
  in.engineRunning = CvtState.rhythm.load() != 0;
  in.origin = RhythmEngine.CvtPhaseOriginTick.load();
  StyleFill fill;
  {
    // Outside the engine thread the active set is read under the swap's lock.
    std::lock_guard lock(RhythmStyles.SetMutex);
    in.patternLength = RhythmStyles.active.main.length;
    fill = RhythmStyles.active.fills[index - 1];
  }
  in.songPlaying = PlaybackState.isPlaying.load() != 0;
  in.bars = song->BarTicks;
  const FillWindow w = ComputeFillWindow(in);
  // On the engine's own clock the beat's time is known to the fraction of a tick: the fill waits
  // for it exactly and counts from it. On a song's clock it follows the song's tick.
  const double beatTick = w.exactStart >= 0 ? w.exactStart : w.start;
  auto ownClockTimeOf = [](double tick) {
    const OwnClockReading own = RhythmEngine.OwnClock.load();
    return own.atMs >= 0 && own.msPerTick > 0 ? own.atMs + (tick - own.tick) * own.msPerTick : -1.0;
  };
  double startMs = -1;
  for (int i = 0; i < 3000 && PlaybackState.SongTick.load() < w.start; ++i) {
    if (!PlaybackState.isPlaying.load() && !CvtState.rhythm.load()) {
      RhythmEngine.ManualFillBusy = 0;
      return;
    }
    const double due = ownClockTimeOf(beatTick), left = due - clock.NowMs();
    if (due >= 0 && left <= 1.5) {
      if (left > 0) clock.SleepMs(left);
      startMs = due;
      break;
    }
    clock.SleepMs(1);
  }
  if (startMs < 0) startMs = ownClockTimeOf(beatTick);
  if (startMs >= 0 && clock.NowMs() - startMs > 50) startMs = -1;  // no time of this beat: count from now
  const std::vector<StyleEvent> cut = BuildFillFromPatternTail(fill.events, w.length);
  const int ppq = song->SongPpq;
  const long beats = ppq > 0 ? std::lround(double(w.length) / ppq) : 480;
  wchar_t factorText[32];
  swprintf(factorText, 32, L"%f", in.factor);
  DebugLogAsync(L"[FILL] 수동 필인 F" + std::to_wstring(index) + L" - " + std::to_wstring(w.length) + L"틱 = " +
                std::to_wstring(beats) + L"박 / 시작tick=" + std::to_wstring(w.start) + L" 배속=" + factorText + L" (" +
                (in.engineRunning ? L"CVT" : L"원곡") + L")");
  if (HasExtraPartNotes(cut))
    if (const MidiOutHandle p1 = Sound.MidiOutPort1.load())
      for (const StyleEvent& e : fill.programs) SendCvtEvent(p1, e);
  PlayFillRange(cut, clock, startMs);
  RhythmEngine.ManualFillBusy = 0;
}

}  // namespace

void StartManualFill(int n) {
  if (n < 1 || n > 4) return;
  // The fill slots are swapped only by the engine at bar lines; a copy is taken by the fill thread.
  bool empty;
  {
    std::lock_guard lock(RhythmStyles.SetMutex);
    empty = RhythmStyles.active.fills[n - 1].events.empty();
  }
  if (empty) {
    DebugLog(L"[FILL] F" + std::to_wstring(n) + L" 필인이 비어 있어 무시합니다 - 파일 확인: " +
             StylePartPath(ActiveStyleName(), L"F" + std::to_wstring(n)));
    return;
  }
  if (CvtState.FillPlaying.load() || RhythmEngine.FillRequestPending.load() || RhythmEngine.FillOverlayActive.load()) return;
  uint8_t expected = 0;
  if (!RhythmEngine.ManualFillBusy.compare_exchange_strong(expected, 1)) return;
  std::thread(ManualFillThread, n).detach();
}

void EnterTransitionFillThreadEntry(uint32_t startMs, uint32_t downbeatMs, bool muteEngine) {
  const FillThreadPriority priority;
  RhythmClock& clock = SystemRhythmClock();
  StyleFill fill;
  {
    std::lock_guard lock(RhythmStyles.SetMutex);
    fill = RhythmStyles.active.fills[0];
  }
  uint32_t L = 0;
  for (const StyleEvent& e : fill.events) L = std::max(L, e.tick);
  const double factor = CurrentCvtTempoFactor();
  const double m = factor > 0 ? factor : 1;
  double e = SongClockUsable() ? PlaybackState.PlayerMsPerTick.load() : 0;
  if (!(e > 0)) e = WallMsPerTick();
  if (!(e > 0)) e = 1;
  if (fill.events.empty() || L == 0) {
    RhythmEngine.ManualFillBusy = 0;
    return;
  }
  const long h = std::lround(L * e / m);
  const uint32_t start = startMs ? startMs : downbeatMs - static_cast<uint32_t>(h);
  for (int i = 0; i < 20000 && static_cast<int32_t>(plat::TimeGetTime() - start) < 0; ++i) {
    if (!CvtState.rhythm.load()) {
      RhythmEngine.ManualFillBusy = 0;
      return;
    }
    clock.SleepMs(1);
  }
  const int32_t r = static_cast<int32_t>(downbeatMs - (plat::TimeGetTime() + 25));
  if (r >= 60) {
    const uint32_t ticks = static_cast<uint32_t>(std::lround(r * m / e));
    const std::vector<StyleEvent> cut = BuildFillFromPatternTail(fill.events, ticks);
    if (!cut.empty()) {
      DebugLogAsync(L"[FILL] 엔터 전환 필인 - " + std::to_wstring(r) + L"ms (" + std::to_wstring(ticks) + L"틱, 필인 전체 " +
                    std::to_wstring(h) + L"ms)");
      if (HasExtraPartNotes(cut))
        if (const MidiOutHandle p1 = Sound.MidiOutPort1.load())
          for (const StyleEvent& ev : fill.programs) SendCvtEvent(p1, ev);
      if (muteEngine) CvtState.EnterFillMute = 1;
      PlayFillRange(cut, clock);
      CvtState.EnterFillMute = 0;
    }
  }
  RhythmEngine.ManualFillBusy = 0;
}
