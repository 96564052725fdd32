// The player's pure parts: chase plans, count-in, transposition, milliseconds per tick.
#include <gtest/gtest.h>

#include <vector>

#include "base/settings/app_settings.h"
#include "playback/player.h"
#include "playback/services.h"
#include "playback/tempo.h"

namespace {

SongEvent Ch(uint32_t tick, uint8_t status, uint8_t d1, uint8_t d2 = 0, uint8_t port = 0) {
  SongEvent e;
  e.tick = tick;
  e.kind = kSongEventChannel;
  e.status = status;
  e.data1 = d1;
  e.data2 = d2;
  e.port = port;
  return e;
}

SongEvent Sx(uint32_t tick) {
  SongEvent e;
  e.tick = tick;
  e.kind = kSongEventSysEx;
  return e;
}

// Indexes of the events before `start` that the plan sends (notes are never sent by a chase).
std::vector<int> Sent(const ChasePlan& plan, const SongModel& song, uint32_t start) {
  std::vector<int> out;
  for (size_t i = 0; i < song.SongEventList.size() && song.SongEventList[i].tick < start; ++i)
    if (!plan.skip[i] && (song.SongEventList[i].status & 0xE0) != 0x80) out.push_back(static_cast<int>(i));
  return out;
}

SongModel ChaseSong() {
  SongModel s;
  s.SongEventList = {
      Ch(0, 0xB0, 0, 1),     // 0 bank MSB ch1
      Ch(0, 0xC0, 10),       // 1 program ch1
      Ch(0, 0xB0, 7, 100),   // 2 volume
      Ch(0, 0x90, 60, 90),   // 3 note (never chased)
      Ch(100, 0xB0, 0, 2),   // 4 bank MSB again
      Ch(100, 0xC0, 20),     // 5 program again
      Ch(200, 0xB0, 7, 80),  // 6 volume again
      Ch(200, 0xB0, 10, 30), // 7 pan
      Ch(250, 0xB0, 101, 0), // 8 RPN (not chased: sequence)
      Sx(260),               // 9 SysEx (sequence)
      Ch(300, 0xE0, 0, 64),  // 10 pitch bend
      Ch(400, 0xB0, 10, 30), // 11 pan, same value as at 200
      Ch(400, 0xB0, 64, 127),// 12 sustain down
      Ch(500, 0x90, 62, 90), // 13 note at/after start
  };
  return s;
}

TEST(PlayerChase, NormalChaseKeepsEveryProgramAndTheLastControllerValues) {
  const SongModel song = ChaseSong();
  const ChasePlan plan = PlanChase(song, 500, 0, false);
  // Programs 1 and 5 both stay with their bank selects; volume only its last; notes are left to
  // the dispatch (which never sends them).
  EXPECT_EQ(Sent(plan, song, 500), (std::vector<int>{0, 1, 4, 5, 6, 8, 9, 10, 11, 12}));
  EXPECT_FALSE(plan.fast);
}

TEST(PlayerChase, FastJumpSendsOnlyWhatDiffersPlusVolumeAndHeldPedal) {
  const SongModel song = ChaseSong();
  // From 450 back to 350: the previous run already sent everything before 350 except what
  // changed between 350 and 450 (the sustain at 400 lies after the new start).
  const ChasePlan back = PlanChase(song, 350, 450, true);
  // Volume always; program and bank unchanged -> not sent; pan 30 at both -> not sent; the RPN and
  // the SysEx lie before 450 -> already sent.
  EXPECT_EQ(Sent(back, song, 350), (std::vector<int>{6}));
  EXPECT_EQ(back.keysSent, 1);
  EXPECT_EQ(back.keysAll, 4);

  // Forward from 150 to 500: volume, pan (none at 150), pitch bend (new), sustain (held), and the
  // sequence events after 150; program 20 was already in force at 150.
  const ChasePlan fwd = PlanChase(song, 500, 150, true);
  EXPECT_EQ(Sent(fwd, song, 500), (std::vector<int>{6, 8, 9, 10, 11, 12}));
}

TEST(PlayerChase, FastJumpKeepsTheLastBankOfAProgramThatIsSent) {
  SongModel song;
  song.SongEventList = {Ch(0, 0xB0, 0, 1), Ch(0, 0xC0, 10), Ch(100, 0xB0, 0, 2), Ch(100, 0xC0, 20),
                        Ch(300, 0x90, 60, 90)};
  const ChasePlan plan = PlanChase(song, 200, 50, true);
  EXPECT_EQ(Sent(plan, song, 200), (std::vector<int>{2, 3}));
  EXPECT_EQ(plan.sequenceEvents, 1);
}

TEST(PlayerChase, StartAtZeroChasesNothing) {
  const SongModel song = ChaseSong();
  const ChasePlan plan = PlanChase(song, 0, 0, false);
  EXPECT_TRUE(Sent(plan, song, 0).empty());
}

TEST(PlayerChase, ChasedControllers) {
  for (unsigned cc : {1u, 2u, 5u, 7u, 8u, 10u, 11u, 64u, 69u, 71u, 79u, 84u, 91u, 95u}) EXPECT_TRUE(IsChasedController(cc)) << cc;
  for (unsigned cc : {0u, 6u, 32u, 38u, 70u, 80u, 83u, 90u, 96u, 101u, 121u}) EXPECT_FALSE(IsChasedController(cc)) << cc;
}

TEST(PlayerStart, CountInClicks) {
  struct Case {
    uint32_t tick;
    int ppq, clicks;
  } cases[] = {{1920, 480, 4}, {1440, 480, 3}, {5760, 480, 8}, {100, 480, 1}, {480, 0, 4}, {480, -5, 4}};
  for (const Case& c : cases) EXPECT_EQ(CountInClicks(c.tick, c.ppq), c.clicks) << c.tick << "/" << c.ppq;
}

TEST(PlayerNotes, TransposeLeavesDrumsAndDropsNotesOutOfRange) {
  struct Case {
    int note, channel, key, sent;
  } cases[] = {{60, 0, 2, 62},   {60, 9, 5, 60},   {60, 12, -3, 60}, {60, 13, -3, 57}, {126, 0, 3, -1},
               {1, 0, -2, -1},   {127, 0, 0, 127}, {120, 1, 7, 127}, {0, 15, 0, 0}};
  for (const Case& c : cases) EXPECT_EQ(TransposeNote(c.note, c.channel, c.key), c.sent) << c.note << " " << c.key;
}

TEST(PlayerTempo, MsPerTickWithOffsets) {
  struct Case {
    int tempo, ppq, offset;
    double ms;
  } cases[] = {
      {500000, 480, 0, 60000.0 / 120 / 480},  {500000, 480, 10, 60000.0 / 130 / 480},
      {500000, 0, 0, 60000.0 / 120 / 120},    {0, 480, 0, 60000.0 / 120 / 480},
      {-5, 96, 0, 60000.0 / 120 / 96},        {500000, 480, -150, 60000.0 / 20 / 480},
      {1000000, 480, -50, 60000.0 / 20 / 480}, {250000, 120, 40, 60000.0 / 280 / 120},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(MsPerTickWithOffset(c.tempo, c.ppq, c.offset), c.ms) << c.tempo << " " << c.offset;
    PlaybackState.TempoOffsetBpm = c.offset;
    EXPECT_DOUBLE_EQ(MsPerTick(c.tempo, c.ppq), c.ms);
  }
  PlaybackState.TempoOffsetBpm = 0;
}

TEST(PlayerTempo, TempoPercentOfTheSong) {
  auto model = std::make_shared<SongModel>();
  model->SongBaseBpm = 100;
  PublishSongModel(model);
  struct Case {
    int percent, offset;
  } cases[] = {{100, 0}, {90, -10}, {300, 100}, {10, -50}, {133, 33}};
  for (const Case& c : cases) {
    SetTempoPercent(c.percent);
    EXPECT_EQ(PlaybackState.TempoOffsetBpm.load(), c.offset) << c.percent;
  }
  // While a transition carries the rhythm tempo the offset waits as the pending one.
  CvtState.CvtCarryTempo.store({500000, 0});
  SetTempoPercent(120);
  EXPECT_EQ(PlaybackState.PendingTempoOffset.load(), 20);
  EXPECT_EQ(PlaybackState.PendingTempoOffsetSet.load(), 1);
  CvtState.CvtCarryTempo.store({});
  PlaybackState.PendingTempoOffsetSet = 0;
  PlaybackState.TempoOffsetBpm = 0;
  PublishSongModel(nullptr);
}

TEST(PlayerTempo, FixedRhythmTempoTakenWhenASongIsPrepared) {
  auto model = std::make_shared<SongModel>();
  model->SongBaseBpm = 100;
  PublishSongModel(model);
  const int fixedBpm = Settings.cvtFixedBpm;
  const bool fixedOn = Settings.cvtFixedOn;
  Settings.cvtFixedBpm = 120;
  struct Case {
    bool fixedOn, rhythm;
    int songBpm;
    bool taken;
    int offset;
  } cases[] = {{true, true, 100, true, 20}, {false, true, 100, false, 7}, {true, false, 100, false, 7},
               {true, true, 0, false, 7},   {true, true, 80, true, -20}};  // 80 bpm: the rhythm plays it twice as fast
  for (const Case& c : cases) {
    model->SongBaseBpm = c.songBpm;
    Settings.cvtFixedOn = c.fixedOn;
    CvtState.rhythm = c.rhythm ? 1 : 0;
    PlaybackState.TempoOffsetBpm = 7;
    EXPECT_EQ(ApplyFixedTempoForNewSong(), c.taken) << c.fixedOn << c.rhythm << c.songBpm;
    EXPECT_EQ(PlaybackState.TempoOffsetBpm.load(), c.offset) << c.fixedOn << c.rhythm << c.songBpm;
    // The rhythm stops: the song's own offset comes back.
    CvtState.rhythm = 0;
    PushTempoPitchDisplay();
    EXPECT_EQ(PlaybackState.TempoOffsetBpm.load(), 7);
  }
  Settings.cvtFixedBpm = fixedBpm;
  Settings.cvtFixedOn = fixedOn;
  PlaybackState.TempoOffsetBpm = 0;
  PublishSongModel(nullptr);
}

}  // namespace

// A virtual millisecond clock for the chase pacer.
struct PacerClock {
  uint32_t now = 10000, downbeat = 0;
  ChaseClock clock() {
    return {[this] { return now; }, [this](unsigned ms) { now += ms; }, [] { return true; }, [this] { return downbeat; }};
  }
};

TEST(PlayerChase, PacedOverTheTimeLeftByWeight) {
  PacerClock c;
  c.downbeat = c.now + 1350;  // 1000 ms to spread, 350 kept
  ChasePacer pacer(c.clock());
  pacer.Plan(80, true);  // ten program changes
  ASSERT_TRUE(pacer.pacing());
  EXPECT_EQ(pacer.spreadMs(), 1000u);
  std::vector<uint32_t> at;
  for (int i = 0; i < 10; ++i) {
    pacer.Before(Ch(0, 0x90, 60, 100), true);  // notes weigh nothing
    pacer.Before(Ch(0, 0xC0, 5), true);
    pacer.AfterSent(true, true);  // no burst pauses while paced
    at.push_back(c.now - 10000);
  }
  EXPECT_EQ(at, (std::vector<uint32_t>{100, 200, 300, 400, 500, 600, 700, 800, 900, 1000}));
  // More weight than planned never passes the margin before the downbeat.
  pacer.Before(Ch(0, 0xC0, 6), true);
  EXPECT_EQ(c.now - 10000, 1000u);
  // The downbeat cancelled: no more waiting.
  PacerClock d;
  d.downbeat = d.now + 1350;
  ChasePacer cancelled(d.clock());
  cancelled.Plan(16, true);
  d.downbeat = 0;
  cancelled.Before(Ch(0, 0xC0, 5), true);
  EXPECT_EQ(d.now, 10000u);
}

TEST(PlayerChase, WithoutRoomInBurstsAndPausesAfterProgramChanges) {
  struct Case {
    int downbeatIn;  // ms ahead; 0 none
    uint32_t waited;  // after 32 controllers and 8 program changes
  } cases[] = {
      {300, 1},        // too close to spread, too close for the pauses: only the one after 32 messages
      {2000, 2 + 24},  // nothing to spread: 1 ms after the 32nd event and message, 12 after every 4th program
      {0, 1},          // no downbeat: bursts of 32 only
  };
  for (const Case& k : cases) {
    PacerClock c;
    c.downbeat = k.downbeatIn ? c.now + static_cast<uint32_t>(k.downbeatIn) : 0;
    ChasePacer pacer(c.clock());
    if (k.downbeatIn) pacer.Plan(0, true);
    EXPECT_FALSE(pacer.pacing());
    const bool pending = k.downbeatIn != 0;
    for (int i = 0; i < 32; ++i) {
      pacer.Before(Ch(0, 0xB0, 7, 100), pending);
      pacer.AfterSent(false, pending);
    }
    for (int i = 0; i < 8; ++i) pacer.AfterSent(true, pending);
    EXPECT_EQ(c.now - 10000, k.waited) << k.downbeatIn;
  }
}

TEST(PlayerTicks, ReportsWaitForTheWindowAndAreSpacedInLiteMode) {
  struct Case {
    uint32_t now, last;
    bool inFlight, lite, due;
  } cases[] = {
      {1000, 990, false, false, true},  {1000, 990, true, false, false}, {1000, 500, true, false, true},
      {1000, 990, false, true, false},  {1000, 951, false, true, false}, {1000, 950, false, true, true},
      {1000, 600, true, true, false},   {1000, 500, true, true, true},   {5, 0xFFFFFFF0u, false, true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TickReportDue(c.now, c.last, c.inFlight, c.lite), c.due) << c.now << " " << c.last << " " << c.inFlight << c.lite;
}
