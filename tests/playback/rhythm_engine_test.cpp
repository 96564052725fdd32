// The rhythm engine's timing rules: bar lines, the pattern position, the factor, firing
// decisions, resync tolerance and fill windows as tables; one engine run stepped on a virtual
// clock, on its own clock and on a song clock.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "base/settings/app_settings.h"
#include "platform/clock.h"
#include "playback/rhythm_engine.h"
#include "playback/rhythm_sender.h"
#include "playback/services.h"
#include "sound/midi_send.h"
#include "sound/rhythm_parts.h"
#include "engine_state.h"

namespace {

TEST(RhythmTiming, BarLines) {
  const std::vector<uint32_t> bars = {0, 480, 960, 1200};
  struct Case {
    std::vector<uint32_t> bars;
    uint32_t t, next, start;
  };
  const std::vector<Case> cases = {
      {bars, 0, 480, 0},      {bars, 479, 480, 0},   {bars, 480, 960, 480}, {bars, 1000, 1200, 960},
      {bars, 5000, 1200, 1200},  // past the last bar: its start
      {{}, 0, 480, 0},        {{}, 500, 960, 480},   {{96, 480}, 10, 96, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NextBarLine(c.bars, c.t), c.next) << c.t;
    EXPECT_EQ(BarStartOf(c.bars, c.t), c.start) << c.t;
  }
}

TEST(RhythmTiming, PatternPosition) {
  struct Case {
    const char* name;
    uint32_t origin, tick;
    double fraction, factor;
    uint32_t length, last;
    int ppq;
    uint32_t expected;
  };
  const std::vector<Case> cases = {
      {"plain", 100, 340, 0, 1, 1920, 0, 120, 240},
      {"fraction counts", 100, 340, 0.6, 1, 1920, 0, 120, 240},
      {"factor 2", 0, 500, 0, 2, 1920, 0, 120, 1000},
      {"wraps at the length", 0, 2000, 0, 1, 1920, 0, 120, 80},
      {"before the origin: 0", 500, 100, 0, 1, 1920, 0, 120, 0},
      {"step back of a beat or less keeps the last", 0, 1000, 0, 1, 1920, 1100, 120, 1100},
      {"step back of more than a beat is a wrap", 0, 1000, 0, 1, 1920, 1121, 120, 1000},
      {"empty pattern", 0, 1000, 0, 1, 0, 0, 120, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PatternPosition(c.origin, c.tick, c.fraction, c.factor, c.length, c.last, c.ppq), c.expected) << c.name;
}

TEST(RhythmTiming, Factor) {
  struct Case {
    const char* name;
    FactorInput in;
    double factor;
    bool override;
  };
  auto in = [](double carried, bool half, int bpm, int box, int style, int us) {
    FactorInput f;
    f.carriedFactor = carried;
    f.halftime = half;
    f.baseBpm = bpm;
    f.boxSpeed = box;
    f.styleBpm = style;
    f.currentUs = us;
    return f;
  };
  const std::vector<Case> cases = {
      {"song default", in(-1, false, 120, 100, 0, 500000), 1, false},
      {"slow song doubles", in(-1, false, 70, 100, 0, 500000), 2, false},
      {"half-time song", in(-1, true, 70, 100, 0, 500000), 0.5, false},
      {"carried factor wins", in(2, true, 120, 100, 0, 500000), 2, false},
      {"style at 65 over a song at 130", in(-1, false, 130, 100, 65, 461538), 0.5, true},
      {"pattern speed 50 halves", in(-1, false, 120, 50, 0, 500000), 0.5, true},
      {"pattern speed halves a style override", in(-1, false, 130, 50, 65, 461538), 0.25, true},
      {"clamped to 8", in(-1, false, 120, 400, 300, 2000000), 8, true},
      {"clamped to 0.1", in(-1, false, 120, 25, 20, 250000), 0.1, true},
  };
  for (const auto& c : cases) {
    const FactorResult r = ComputePatternFactor(c.in);
    EXPECT_NEAR(r.factor, c.factor, 1e-3) << c.name;
    EXPECT_EQ(r.override, c.override) << c.name;
  }
}

TEST(RhythmTiming, FiringDecisions) {
  struct Case {
    uint32_t p, d, length;
    int ppq;
    bool has;
    double since;
    FireKind kind;
    uint32_t stretch;
  };
  const std::vector<Case> cases = {
      {100, 100, 1920, 120, true, 50, FireKind::kNone, 0},
      {100, 110, 1920, 120, true, 2, FireKind::kNormal, 10},
      {100, 110, 1920, 120, true, 40, FireKind::kCatchUp, 10},  // late 40 ms over 10 ticks
      {100, 103, 1920, 120, true, 40, FireKind::kNormal, 3},     // 3 ticks: not a catch-up
      {100, 340, 1920, 120, true, 2, FireKind::kNormal, 240},    // two beats exactly
      {100, 341, 1920, 120, true, 2, FireKind::kDrop, 241},      // more than two beats
      {1900, 20, 1920, 120, true, 2, FireKind::kNormal, 40},     // wrapped
      {100, 102, 1920, 0, true, 2, FireKind::kDrop, 2},          // no resolution: more than 1 dropped
  };
  for (const auto& c : cases) {
    const FireDecision f = DecideFiring(c.p, c.d, c.length, c.ppq, c.has, c.since);
    EXPECT_EQ(f.kind, c.kind) << c.p << "->" << c.d;
    EXPECT_EQ(f.stretch, c.stretch) << c.p << "->" << c.d;
  }
}

TEST(RhythmTiming, ResyncTolerance) {
  struct Case {
    uint32_t p, d;
    int ppq;
    int difference;
    bool keep;
  };
  const std::vector<Case> cases = {
      {480, 500, 120, 20, true},   {480, 510, 120, 30, true},    {480, 511, 120, 31, false},
      {470, 960, 120, 10, true},   {5, 1915, 120, -10, true},    {0, 240, 120, 240, false},
      {0, 3, 4, 3, false},  // tolerance max(2, ppq/4) = 2
  };
  for (const auto& c : cases) {
    const ResyncPhase r = CompareResyncPhase(c.p, c.d, c.ppq);
    EXPECT_EQ(r.difference, c.difference) << c.p << " " << c.d;
    EXPECT_EQ(r.keep, c.keep) << c.p << " " << c.d;
  }
}

TEST(RhythmTiming, FillWindow) {
  struct Case {
    const char* name;
    FillWindowInput in;
    uint32_t start, length;
    double exact = -1;  // the start with its fraction, while the engine runs
  };
  auto off = [](uint32_t t, bool song, std::vector<uint32_t> bars, double factor = 1) {
    FillWindowInput in;
    in.tick = t;
    in.factor = factor;
    in.songPlaying = song;
    in.bars = std::move(bars);
    return in;
  };
  auto on = [](uint32_t t, uint32_t origin, uint32_t length, double factor) {
    FillWindowInput in;
    in.tick = t;
    in.factor = factor;
    in.engineRunning = true;
    in.origin = origin;
    in.patternLength = length;
    return in;
  };
  const std::vector<Case> cases = {
      {"song at 150 of a 480 bar: from 240 for 240", off(150, true, {0, 480, 960}), 240, 240},
      {"on a beat: the next beat", off(240, true, {0, 480, 960}), 360, 120},
      {"last beat: the whole next bar", off(400, true, {0, 480, 960}), 480, 480},
      {"last beat of the last bar", off(1400, true, {0, 480, 960}), 1440, 480},
      {"empty bar table: 480-tick bars", off(1000, true, {}), 1080, 360},
      {"no song: bars of four beats from 0", off(150, false, {}), 240, 240},
      {"factor 2 doubles the length", off(150, true, {0, 480, 960}, 2), 240, 480},
      {"engine: to the pattern bar's end", on(1000, 0, 1920, 1), 1080, 360, 1080},
      {"engine at factor 2", on(1000, 0, 1920, 2), 1020, 360, 1020},
      {"engine in the last beat of its bar", on(450, 0, 1920, 1), 480, 480, 480},
      {"engine at factor 0.7: the beat between two ticks", on(1000, 0, 1920, 0.7), 1029, 240, 720 / 0.7},
  };
  for (const auto& c : cases) {
    const FillWindow w = ComputeFillWindow(c.in);
    EXPECT_EQ(w.start, c.start) << c.name;
    EXPECT_EQ(w.length, c.length) << c.name;
    EXPECT_NEAR(w.exactStart, c.exact, 1e-9) << c.name;
  }
}

// ---- One run on a virtual clock ----

struct Sent {
  uint32_t message;
  double at;
  uint32_t tick;
};
std::vector<Sent> g_sent;
VirtualRhythmClock* g_clock = nullptr;

void Record(MidiOutHandle, uint32_t m) {
  g_sent.push_back({m, g_clock->NowMs(), PlaybackState.SongTick.load()});
}
CurrentChordValue NoChord() { return {}; }

StyleEvent On(uint32_t t, int ch, int note) { return {t, uint8_t(ch), kStyleNoteOn, uint8_t(note), 100, 0}; }

class EngineRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetEngineState();
    g_sent.clear();
    g_clock = &clock_;
    SetCvtOutput(Record);
    SetCvtChordSource(NoChord);
    PublishSongModel(std::make_shared<SongModel>());
    // One bar at 120: kick on 1 and 3, hi-hat on every beat.
    StyleSet set;
    set.main.length = 480;
    set.main.events = {On(0, 9, 36), On(0, 11, 42), On(120, 11, 42), On(240, 9, 36), On(240, 11, 42), On(360, 11, 42)};
    RhythmStyles.active = set;
  }
  void TearDown() override {
    SetCvtOutput(nullptr);
    SetCvtChordSource(nullptr);
    g_clock = nullptr;
    Settings = AppSettings{};
    PlaybackState.isPlaying = 0;
    PlaybackState.CurrentTempoUs = 500000;
    RhythmStyles.active = StyleSet{};
  }
  std::vector<double> TimesOf(uint32_t message) const {
    std::vector<double> out;
    for (const Sent& s : g_sent)
      if (s.message == message) out.push_back(s.at);
    return out;
  }
  // Steps the run every `stepMs` for `ms`.
  void Run(RhythmEngineRun& run, double ms, double stepMs = 2) {
    const double end = clock_.NowMs() + ms;
    while (clock_.NowMs() < end) {
      clock_.Advance(stepMs);
      run.Step();
    }
  }
  VirtualRhythmClock clock_;
};

TEST_F(EngineRunTest, OwnClockKeepsTheBeat) {
  PlaybackState.CurrentTempoUs = 500000;  // 120 bpm: 500 ms a beat
  RhythmEngineRun run(clock_, 1);
  run.Begin();
  PlaybackState.CurrentTempoUs = 500000;  // the fixed tempo of an idle start is not wanted here
  const double start = clock_.NowMs();
  Run(run, 4100);
  const std::vector<double> kicks = TimesOf(PackMidi(0x99, 36, 100));
  ASSERT_EQ(kicks.size(), 5u);
  for (size_t i = 0; i < kicks.size(); ++i) EXPECT_NEAR(kicks[i] - start, 1000.0 * i, 2.01) << i;
  const std::vector<double> hats = TimesOf(PackMidi(0x9B, 42, 100));
  ASSERT_EQ(hats.size(), 9u);
  for (size_t i = 1; i < hats.size(); ++i) EXPECT_NEAR(hats[i] - hats[i - 1], 500, 2.01) << i;
  EXPECT_GE(PlaybackState.SongTick.load(), 4100 / (500.0 / 120) - 2);
  // The fine position a joining song reads: the whole tick plus its fraction, at this step.
  const OwnClockReading own = RhythmEngine.OwnClock.load();
  EXPECT_EQ(own.atMs, clock_.NowMs());
  EXPECT_DOUBLE_EQ(own.msPerTick, 500.0 / 120);
  EXPECT_GE(own.tick, PlaybackState.SongTick.load());
  EXPECT_LT(own.tick, PlaybackState.SongTick.load() + 1.0);
  EXPECT_GT(own.tick - PlaybackState.SongTick.load(), 0.0);  // 4098 ms is no whole number of ticks
}

TEST_F(EngineRunTest, SongClockNoRefireOnShortStepBack) {
  PlaybackState.isPlaying = 1;
  PlaybackState.CurrentTempoUs = 500000;
  PlaybackState.PlayerMsPerTick = 500.0 / 120;
  RhythmEngineRun run(clock_, 1);
  run.Begin();
  g_sent.clear();
  struct Move {
    uint32_t tick;
    size_t total;  // messages sent so far
  };
  const std::vector<Move> moves = {
      {100, 0}, {121, 1},   // the hat at 120
      {60, 1},              // back by less than a beat: nothing again
      {130, 1}, {245, 3},   // kick and hat at 240
      {600, 3},             // more than two beats at once: dropped
      {610, 3},             // 490..610 wraps: tick 0 events of the next pass... are behind the dropped point
  };
  for (const auto& m : moves) {
    PlaybackState.SongTick = m.tick;
    clock_.Advance(2);
    run.Step();
    EXPECT_EQ(g_sent.size(), m.total) << m.tick;
  }
}

TEST_F(EngineRunTest, LateStepCatchesUpWithSpacing) {
  PlaybackState.isPlaying = 1;
  PlaybackState.PlayerMsPerTick = 500.0 / 120;
  RhythmEngineRun run(clock_, 1);
  run.Begin();
  PlaybackState.SongTick = 230;
  clock_.Advance(2);
  run.Step();
  g_sent.clear();
  // 40 ms late over 20 ticks: the kick and hat at 240 and the pattern goes on.
  PlaybackState.SongTick = 250;
  clock_.Advance(40);
  const double at = clock_.NowMs();
  run.Step();
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[0].at, at);
  EXPECT_EQ(g_sent[1].at, at);  // another channel: no wait
  EXPECT_EQ(run.lastPosition(), 250u);
}

TEST_F(EngineRunTest, StyleTempoOverridesTheFactor) {
  PlaybackState.isPlaying = 1;
  PlaybackState.CurrentTempoUs = 500000;  // 120 bpm
  PlaybackState.PlayerMsPerTick = 500.0 / 120;
  RhythmStyles.ActiveStyleBpm = 60;
  RhythmEngineRun run(clock_, 1);
  run.Begin();
  PlaybackState.SongTick = 100;
  clock_.Advance(2);
  run.Step();
  EXPECT_NEAR(run.factor(), 0.5, 1e-3);
  EXPECT_EQ(run.origin(), 100u);  // the override starts the pattern afresh
  PlaybackState.SongTick = 340;   // 240 song ticks = 120 pattern ticks
  clock_.Advance(2);
  run.Step();
  EXPECT_EQ(run.lastPosition(), 120u);
  EXPECT_NEAR(RhythmEngine.LiveTempoFactor.load(), 0.5, 1e-3);
}

TEST_F(EngineRunTest, SwapAtTheBarLineSkipsALateStretch) {
  PlaybackState.isPlaying = 1;
  PlaybackState.PlayerMsPerTick = 500.0 / 120;
  RhythmEngineRun run(clock_, 1);
  run.Begin();
  PlaybackState.SongTick = 470;
  clock_.Advance(2);
  run.Step();
  // A new style waits; the next step lands 100 ticks into the next bar.
  {
    std::lock_guard lock(RhythmStyles.SetMutex);
    RhythmStyles.pending = RhythmStyles.active;
    RhythmStyles.pending.main.events = {On(0, 9, 35), On(60, 9, 35), On(120, 9, 35)};
    RhythmStyles.pending.name = L"DS2";
    RhythmStyles.PendingStyleReady = 1;
  }
  g_sent.clear();
  PlaybackState.SongTick = 580;
  clock_.Advance(2);
  run.Step();
  EXPECT_EQ(RhythmStyles.active.name, L"DS2");
  EXPECT_EQ(run.lastPosition(), 100u);
  for (const Sent& s : g_sent) EXPECT_NE(s.message, PackMidi(0x99, 35, 100));  // the skipped stretch stays silent
  PlaybackState.SongTick = 600;
  clock_.Advance(2);
  run.Step();
  EXPECT_EQ(TimesOf(PackMidi(0x99, 35, 100)).size(), 1u);  // 120 fires
}

TEST_F(EngineRunTest, ContinuousResyncKeepsPhaseWithinTolerance) {
  PlaybackState.isPlaying = 1;
  PlaybackState.PlayerMsPerTick = 500.0 / 120;
  auto song = std::make_shared<SongModel>();
  song->BarTicks = {0, 480, 960, 1440};
  PublishSongModel(song);
  RhythmEngineRun run(clock_, 1);
  run.Begin();
  PlaybackState.SongTick = 700;
  clock_.Advance(2);
  run.Step();  // position 220 (DROP of more than two beats is fine here)
  ASSERT_EQ(run.lastPosition(), 220u);
  // The song jumps to 1190 (bar start 960, in-bar 230): 10 ticks off, within 30.
  PlaybackState.SongTick = 1190;
  PlaybackState.ResyncContinuous = 1;
  PlaybackState.ResyncRequested = 1;
  clock_.Advance(2);
  run.Step();
  EXPECT_EQ(run.lastPosition(), 230u);
  EXPECT_EQ(run.origin(), 960u);
}

}  // namespace

namespace {

TEST_F(EngineRunTest, ResyncOnTheDownbeatJustPlayedDoesNotStrikeItTwice) {
  PlaybackState.isPlaying = 1;
  PlaybackState.PlayerMsPerTick = 500.0 / 120;
  auto song = std::make_shared<SongModel>();
  song->BarTicks = {0, 480, 960};
  PublishSongModel(song);
  PlaybackState.SongTick = 480;
  RhythmEngineRun run(clock_, 1);
  run.Begin();  // the downbeat of bar 2
  PlaybackState.ResyncRequested = 1;  // the song's first note asks to line up on the same bar
  clock_.Advance(2);
  run.Step();
  EXPECT_EQ(TimesOf(PackMidi(0x99, 36, 100)).size(), 1u);
  PlaybackState.SongTick = 960;  // the next bar line: struck once
  PlaybackState.ResyncRequested = 1;
  clock_.Advance(2);
  run.Step();
  EXPECT_EQ(TimesOf(PackMidi(0x99, 36, 100)).size(), 2u);
}

}  // namespace

namespace {

// A transition's fill: nothing until the song's next bar line; there the song's own channels are
// silenced, the downbeat after it is fixed, and the fill plays instead of the pattern, which
// comes back on that downbeat.
TEST_F(EngineRunTest, TransitionFillFromTheNextBarLine) {
  struct Case {
    const char* name;
    bool songSilenced;  // FillRequested with the request (a bare request only plays the fill)
    double tickMs;      // the song clock's real pace (the fill times itself at 500/120 ms a tick)
  };
  for (const Case c : {Case{"transition", true, 500.0 / 120}, Case{"bare fill", false, 500.0 / 120},
                       Case{"song clock ahead of the fill's", true, 4.0}}) {
    SetUp();
    PlaybackState.isPlaying = 1;
    PlaybackState.PlayerMsPerTick = 500.0 / 120;  // 480-tick bars of 2000 ms
    RhythmStyles.active.defaultFill = {On(0, 10, 38), On(100, 8, 40), On(120, 10, 38), On(240, 10, 38), On(360, 12, 49)};
    CvtState.FillStarted = 0;
    RhythmEngineRun run(clock_, 1);
    run.Begin();
    PlaybackState.SongTick = 100;
    clock_.Advance(2);
    run.Step();
    CvtState.FillRequested = c.songSilenced ? 1 : 0;
    RhythmEngine.FillRequestPending = 1;
    g_sent.clear();
    for (uint32_t t = 101; t <= 1000; ++t) {
      PlaybackState.SongTick = t;
      clock_.Advance(c.tickMs);
      const uint32_t before = static_cast<uint32_t>(std::llround(clock_.NowMs()));
      run.Step();
      if (t < 480) {
        EXPECT_EQ(RhythmEngine.FillRequestPending.load(), 1) << c.name << " " << t;
      } else if (t == 480) {
        EXPECT_EQ(RhythmEngine.FillRequestPending.load(), 0) << c.name;
        EXPECT_EQ(CvtState.FillStarted.load(), c.songSilenced ? 1 : 0) << c.name;
        EXPECT_NEAR(static_cast<int32_t>(CvtState.FillEndMs.load() - before), 2000, 20) << c.name;
      }
    }
    auto count = [](uint32_t m, uint32_t from, uint32_t to) {
      int n = 0;
      for (const Sent& s : g_sent) n += s.message == m && s.tick >= from && s.tick < to;
      return n;
    };
    EXPECT_EQ(count(PackMidi(0xB9, 123, 0), 0, 2000), 0) << c.name;                        // an engine channel
    EXPECT_EQ(count(PackMidi(0x9A, 38, 100), 480, 960), 3) << c.name;                      // the fill's snares
    EXPECT_EQ(count(PackMidi(0x98, 40, 100), 0, 2000), 0) << c.name;                       // no bass in a fill
    EXPECT_EQ(count(PackMidi(0x99, 36, 100), 100, 480), 1) << c.name;  // pattern's kick at 340 before the bar line
    EXPECT_EQ(count(PackMidi(0x99, 36, 100), 480, 960), 0) << c.name;  // the pattern is silent under the fill
    EXPECT_EQ(count(PackMidi(0x99, 36, 100), 960, 961), 1) << c.name;  // and comes back on the downbeat
    EXPECT_EQ(RhythmEngine.FillOverlayActive.load(), 0) << c.name;
  }
  CvtState.FillStarted = 0;
}

}  // namespace

namespace {

// A fill asked of a run that stops before playing it is not played by the next start.
TEST_F(EngineRunTest, StopDropsAnUnplayedFill) {
  RhythmEngineRun run(clock_, 1);
  run.Begin();
  RhythmEngine.FillRequestPending = 1;
  RhythmEngine.FillOverlayActive = 1;
  run.Finish();
  EXPECT_EQ(RhythmEngine.FillRequestPending.load(), 0);
  EXPECT_EQ(RhythmEngine.FillOverlayActive.load(), 0);
}

}  // namespace
