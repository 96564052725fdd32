// A next song over the running rhythm, the engine's side on a virtual clock: the transition fill
// starts on one of the engine's bar lines and ends on the next one, and the next song, placed on
// that downbeat (its pick-up before it), has its first bar line on an engine downbeat with the
// pattern's grid unbroken: 4/4 and 3/4 songs, pick-ups, the engine at different places in its
// bar, one- and two-bar patterns and the last bar of a song.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "platform/clock.h"
#include "playback/rhythm_engine.h"
#include "playback/rhythm_sender.h"
#include "playback/services.h"
#include "playback/transition_timing.h"
#include "sound/midi_send.h"
#include "sound/rhythm_parts.h"
#include "engine_state.h"

namespace {

constexpr int kPpq = 120;
const uint32_t kKick = PackMidi(0x99, 36, 100);

struct Sent {
  uint32_t message;
  double at;
};
std::vector<Sent> g_sent;
VirtualRhythmClock* g_clock = nullptr;

void Record(MidiOutHandle, uint32_t m) { g_sent.push_back({m, g_clock->NowMs()}); }
CurrentChordValue NoChord() { return {}; }
StyleEvent On(uint32_t t, int ch, int note) { return {t, uint8_t(ch), kStyleNoteOn, uint8_t(note), 100, 0}; }

std::shared_ptr<SongModel> Song(int beatsPerBar, int bpm, uint32_t bars) {
  auto s = std::make_shared<SongModel>();
  s->SongPpq = kPpq;
  s->SongBaseBpm = bpm;
  for (uint32_t b = 0; b < bars; ++b) s->BarTicks.push_back(b * uint32_t(beatsPerBar) * kPpq);
  return s;
}

struct Case {
  const char* name;
  int oldBeats, oldBpm;   // the playing song
  uint32_t oldBars;       // bars in the playing song
  uint32_t engineStart;   // song tick where the engine began
  uint32_t requestTick;   // song tick of the next-song request
  int patternBars;        // the style's main pattern
  int newBeats, newBpm;   // the next song
  uint32_t firstBar;      // bar of the next song that its first note leads into
  uint32_t pickup;        // ticks of pick-up before that bar line (0: the first note is on it)
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class TransitionDownbeatTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ResetEngineState();
    g_sent.clear();
    g_clock = &clock_;
    SetCvtOutput(Record);
    SetCvtChordSource(NoChord);
  }
  void TearDown() override {
    SetCvtOutput(nullptr);
    SetCvtChordSource(nullptr);
    g_clock = nullptr;
    PlaybackState.isPlaying = 0;
    PlaybackState.waitingGo = 0;
    PlaybackState.CurrentTempoUs = 500000;
    CvtState.FillStarted = 0;
    CvtState.CvtTempoFactor = -1;
    CvtState.CvtCarryTempo.store({});
    RhythmEngine.FillRequestPending = 0;
    RhythmEngine.FillOverlayActive = 0;
    RhythmStyles.active = StyleSet{};
    PublishSongModel(std::make_shared<SongModel>());
    Settings = AppSettings{};
  }
  VirtualRhythmClock clock_;
};

TEST_P(TransitionDownbeatTest, NextSongLandsOnTheEngineDownbeat) {
  const Case c = GetParam();
  // The pattern: a kick on every bar line, a hi-hat on every beat. The fill: a snare on every beat.
  StyleSet set;
  set.main.length = uint32_t(c.patternBars) * 4 * kPpq;
  for (int b = 0; b < c.patternBars; ++b) {
    set.main.events.push_back(On(uint32_t(b) * 4 * kPpq, 9, 36));
    for (int q = 0; q < 4; ++q) set.main.events.push_back(On(uint32_t(b * 4 + q) * kPpq, 11, 42));
  }
  std::stable_sort(set.main.events.begin(), set.main.events.end(),
                   [](const StyleEvent& a, const StyleEvent& b) { return a.tick < b.tick; });
  set.defaultFill = {On(0, 10, 38), On(120, 10, 38), On(240, 10, 38), On(360, 10, 38)};
  RhythmStyles.active = set;

  const double oldMpt = 60000.0 / c.oldBpm / kPpq, newMpt = 60000.0 / c.newBpm / kPpq;
  const double oldFactor = c.oldBpm <= 85 ? 2.0 : 1.0, newFactor = c.newBpm <= 85 ? 2.0 : 1.0;
  const double oldEngineBar = 4 * kPpq * oldMpt / oldFactor, newEngineBar = 4 * kPpq * newMpt / newFactor;
  const uint32_t oldLast = (c.oldBars - 1) * uint32_t(c.oldBeats) * kPpq;  // start of the old song's last bar

  PublishSongModel(Song(c.oldBeats, c.oldBpm, c.oldBars));
  PlaybackState.isPlaying = 1;
  PlaybackState.CurrentTempoUs = 60000000 / c.oldBpm;
  PlaybackState.PlayerMsPerTick = oldMpt;
  PlaybackState.SongTick = c.engineStart;
  RhythmEngineRun run(clock_, 1);
  run.Begin();
  const double t0 = clock_.NowMs();

  // The old song plays; the request comes at requestTick; the engine answers with the fill.
  bool requested = false, started = false, oldStopped = false, nextPrepared = false, nextPlaying = false;
  double fillStart = 0, fillEnd = 0, downbeat = 0, songStart = 0;
  const auto next = Song(c.newBeats, c.newBpm, 40);
  const uint32_t H = c.firstBar * uint32_t(c.newBeats) * kPpq, G = H - c.pickup;
  double barLineAt = 0;  // when the next song reaches its first bar line
  double stallUntil = 0;
  for (int ms = 0; ms < 30000; ++ms) {
    clock_.Advance(1);
    const double now = clock_.NowMs();
    if (started && !oldStopped && now >= fillStart + 20 && std::fmod(now - 1 - t0, oldMpt) < 0.5) {
      // The transition stops the old player (just after its clock's last step fell on a whole
      // tick: the test's song clock has no fraction to hand over).
      PlaybackState.isPlaying = 0;
      oldStopped = true;
      stallUntil = now + 8;  // and the engine's next step comes late
    }
    if (!oldStopped) {
      const uint32_t tick = c.engineStart + static_cast<uint32_t>((now - t0) / oldMpt);
      if (tick >= oldLast + uint32_t(c.oldBeats) * kPpq) {  // the old song ran out: its player ends
        PlaybackState.SongTick = oldLast + uint32_t(c.oldBeats) * kPpq;
        PlaybackState.isPlaying = 0;
        oldStopped = true;
      } else {
        PlaybackState.SongTick = tick;
      }
      if (!requested && tick >= c.requestTick) {
        requested = true;
        CvtState.CvtCarryTempo.store({60000000 / c.oldBpm, kPpq});  // the transition carries the rhythm
        CvtState.CvtTempoFactor = oldFactor;
        CvtState.FillRequested = 1;
        RhythmEngine.FillRequestPending = 1;
      }
    }
    if (started && !nextPrepared && now >= fillStart + 200) {
      nextPrepared = true;
      PublishSongModel(next);
      PickupInput in;
      in.firstNote = G;
      in.bars = next->BarTicks;
      in.songBaseBpm = c.newBpm;
      in.songPpq = kPpq;
      in.carryUs = 60000000 / c.oldBpm;
      in.carryFactor = oldFactor;
      in.downbeatMs = static_cast<uint32_t>(std::lround(fillEnd));
      in.nowMs = static_cast<uint32_t>(now);
      downbeat = AlignPickup(in).downbeatMs;
      PlaybackState.isPlaying = 1;  // the scheduled player waits for its downbeat
      PlaybackState.waitingGo = 1;
    }
    if (nextPrepared && !nextPlaying && now >= downbeat) {
      // The player's first note: the song clock starts at G and the engine re-aligns continuously.
      nextPlaying = true;
      songStart = now;
      barLineAt = songStart + (H - G) * newMpt;
      PlaybackState.SongTick = G;
      PlaybackState.waitingGo = 0;
      PlaybackState.CurrentTempoUs = 60000000 / c.newBpm;
      PlaybackState.PlayerMsPerTick = newMpt;
      PlaybackState.ResyncContinuous = 1;
      PlaybackState.ResyncContinuousTransition = 1;
      PlaybackState.ResyncRequested = 1;
      CvtState.CvtCarryTempo.store({});
      CvtState.CvtTempoFactor = -1;
    }
    if (nextPlaying) PlaybackState.SongTick = G + static_cast<uint32_t>((now - songStart) / newMpt);
    if (now >= stallUntil) run.Step();
    if (requested && !started && RhythmEngine.FillRequestPending.load() == 0) {
      ASSERT_EQ(CvtState.FillStarted.load(), 1) << c.name;
      started = true;
      fillStart = now;
      fillEnd = now + static_cast<int32_t>(CvtState.FillEndMs.load() - static_cast<uint32_t>(std::llround(now)));
    }
    if (nextPlaying && now > barLineAt + 2 * newEngineBar + 50) break;
  }
  ASSERT_TRUE(nextPlaying) << c.name;

  std::vector<double> kicks;
  for (const Sent& s : g_sent)
    if (s.message == kKick) kicks.push_back(s.at);
  auto nearest = [&](double t) {
    double best = 1e9;
    for (double k : kicks) best = std::abs(k - t) < std::abs(best) ? k - t : best;
    return best;
  };
  auto kicksNear = [&](double t, double within) {
    return std::count_if(kicks.begin(), kicks.end(), [&](double k) { return std::abs(k - t) <= within; });
  };
  // The engine's grid before the fill: its last kick before the request.
  double lastKick = -1;
  for (double k : kicks)
    if (k < fillStart - 1) lastKick = k;
  ASSERT_GE(lastKick, 0) << c.name;
  // The fill starts on an engine bar line and lasts one engine bar.
  const double barsToFill = (fillStart - lastKick) / oldEngineBar;
  EXPECT_NEAR(barsToFill, std::round(barsToFill), 2.5 / oldEngineBar) << c.name << ": fill start off the engine's bar";
  EXPECT_NEAR(fillEnd - fillStart, oldEngineBar, 2.5) << c.name;
  EXPECT_NEAR(nearest(fillEnd), 0, 2.5) << c.name << ": the pattern back on its downbeat after the fill";
  // The next song's first bar line: one kick on it, on the engine's grid, and the pattern goes on
  // one engine bar later at the next song's tempo.
  EXPECT_NEAR(nearest(barLineAt), 0, 2.5) << c.name;
  EXPECT_EQ(kicksNear(barLineAt, 60), 1) << c.name << ": the downbeat struck twice";
  if (c.pickup == 0 || c.newBpm == c.oldBpm) {
    const double bars = (barLineAt - lastKick) / oldEngineBar;
    EXPECT_NEAR(bars, std::round(bars), 2.5 / oldEngineBar) << c.name << ": the engine's grid moved";
  }
  EXPECT_NEAR(nearest(barLineAt + newEngineBar), 0, 2.5) << c.name;
}

// Songs at 120 bpm: an engine bar (four beats) is 2000 ms; at 80 bpm the pattern runs twice as
// fast (factor 2), a bar of 1500 ms. Three-four songs put the engine's bar lines off the song's.
INSTANTIATE_TEST_SUITE_P(
    Table, TransitionDownbeatTest,
    ::testing::Values(
        //   name                                  old       bars start  request pat  new    bar pickup
        Case{"4/4 to 4/4 on the bar", 4, 120, 40, 0, 2000, 1, 4, 120, 1, 0},
        Case{"4/4 to 4/4 request late in the bar", 4, 120, 40, 0, 2390, 1, 4, 120, 1, 0},
        Case{"4/4 engine begun mid-song to 3/4", 4, 120, 40, 960, 3000, 1, 3, 120, 1, 0},
        Case{"3/4 engine at beat 4 of its bar", 3, 120, 40, 0, 1080, 1, 4, 120, 1, 0},
        Case{"3/4 engine at beat 3 of its bar", 3, 120, 40, 0, 1440, 1, 4, 120, 1, 0},
        Case{"3/4 engine at beat 2 of its bar", 3, 120, 40, 0, 1800, 1, 3, 120, 1, 0},
        Case{"3/4 to 3/4 beginning where the engine began", 3, 120, 40, 360, 2000, 1, 3, 120, 1, 0},
        Case{"3/4 to 4/4 with a one-beat pick-up", 3, 120, 40, 0, 1500, 1, 4, 120, 1, 120},
        Case{"3/4 to 3/4 with a two-beat pick-up", 3, 120, 40, 0, 1100, 1, 3, 120, 2, 240},
        Case{"4/4 to 4/4 with a three-beat pick-up", 4, 120, 40, 0, 2100, 1, 4, 120, 1, 360},
        Case{"3/4 two-bar pattern, engine in its last bar", 3, 120, 40, 0, 1450, 2, 4, 120, 1, 0},
        Case{"4/4 two-bar pattern, engine in its first bar", 4, 120, 40, 0, 1000, 2, 4, 120, 1, 0},
        Case{"3/4 slow song: the pattern twice as fast", 3, 80, 40, 0, 1500, 1, 3, 80, 1, 0},
        Case{"3/4 slow song into a faster one", 3, 80, 40, 0, 1500, 1, 4, 120, 1, 0},
        Case{"3/4 request in the song's last bar", 3, 120, 6, 0, 1900, 1, 4, 120, 1, 0},
        Case{"4/4 request in the song's last bar", 4, 120, 5, 0, 1930, 1, 4, 120, 1, 0}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name;
      for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

}  // namespace
