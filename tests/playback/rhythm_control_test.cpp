// Rhythm engine control: start and stop rules, "RHYTHM_OFF:" with the ending, the tempo factor
// query, the drum switches and their notice; fill cutting and a fill with a held crash played on
// a virtual clock.
#include <gtest/gtest.h>

#include <vector>

#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/midi_out.h"
#include "playback/rhythm_engine.h"
#include "playback/rhythm_fills.h"
#include "playback/rhythm_sender.h"
#include "playback/services.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"
#include "sound/rhythm_parts.h"

namespace {

StyleEvent On(uint32_t t, int ch, int note, int vel = 100) { return {t, uint8_t(ch), kStyleNoteOn, uint8_t(note), uint8_t(vel), 0}; }
StyleEvent Off(uint32_t t, int ch, int note) { return {t, uint8_t(ch), kStyleNoteOff, uint8_t(note), 0, 0}; }

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallPlaybackSignals();  // the sound layer asks whether the rhythm runs
    Reset();
  }
  void TearDown() override { Reset(); }
  static void Reset() {
    CvtState.rhythm = 0;
    CvtState.RhythmStartPending = 0;
    CvtState.CvtTempoFactor = -1;
    RhythmEngine.LiveTempoFactor = 0;
    RhythmEngine.EndingRequested = 0;
    RhythmEngine.StopAfterEnding = 0;
    RhythmStyles.activeHasMain = 0;
    RhythmStyles.activeHasEnding = 0;
    PlaybackState.isPlaying = 0;
    PlaybackState.HalftimeSongFlag = 0;
    RhythmParts.SnareSubKitOn = RhythmParts.SnareSubClapOn = RhythmParts.SnareSubShakerOn = 0;
    PublishSongModel(std::make_shared<SongModel>());
  }
};

TEST_F(ControlTest, StartWithoutAPatternDoesNothing) {
  StartCvtRhythm();
  EXPECT_EQ(CvtState.RhythmStartPending.load(), 0);
  EXPECT_EQ(RhythmEngine.RhythmThreadAlive.load(), 0);
}

TEST_F(ControlTest, StartTwiceAsksOnceAndStopWithdrawsIt) {
  CvtState.rhythm = 1;  // running: a start is not asked again
  StartCvtRhythm();
  EXPECT_EQ(CvtState.RhythmStartPending.load(), 0);
  StopCvtRhythm();
  EXPECT_EQ(CvtState.rhythm.load(), 0);
  EXPECT_EQ(CvtState.CvtTempoFactor.load(), -1);
  CvtState.RhythmStartPending = 1;  // pending: a stop withdraws it
  StopCvtRhythm();
  EXPECT_EQ(CvtState.RhythmStartPending.load(), 0);
}

TEST_F(ControlTest, RhythmOffWithTheEnding) {
  struct Case {
    const char* name;
    int n;
    bool running, song, ending;
    bool endingAsked, stillRunning;
  };
  const std::vector<Case> cases = {
      {"RHYTHM_OFF:1 without a song, with an ending: the ending, then stop", 1, true, false, true, true, true},
      {"RHYTHM_OFF:1 without an ending stops at once", 1, true, false, false, false, false},
      {"RHYTHM_OFF:1 with a song stops at once", 1, true, true, true, false, false},
      {"RHYTHM_OFF stops at once", 0, true, false, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    CvtState.rhythm = c.running;
    PlaybackState.isPlaying = c.song;
    RhythmStyles.activeHasEnding = c.ending;
    RequestRhythmOff(c.n);
    EXPECT_EQ(RhythmEngine.EndingRequested.load() != 0, c.endingAsked);
    EXPECT_EQ(RhythmEngine.StopAfterEnding.load() != 0, c.endingAsked);
    EXPECT_EQ(CvtState.rhythm.load() != 0, c.stillRunning);
  }
}

TEST_F(ControlTest, CurrentFactor) {
  EXPECT_EQ(CurrentCvtTempoFactor(), 1);
  PlaybackState.HalftimeSongFlag = 1;
  EXPECT_EQ(CurrentCvtTempoFactor(), 0.5);
  CvtState.CvtTempoFactor = 2;
  EXPECT_EQ(CurrentCvtTempoFactor(), 2);
  RhythmEngine.LiveTempoFactor = 0.25;
  EXPECT_EQ(CurrentCvtTempoFactor(), 2);  // the live factor only while the engine runs
  CvtState.rhythm = 1;
  EXPECT_EQ(CurrentCvtTempoFactor(), 0.25);
}

TEST_F(ControlTest, DrumSwitchesOnlyWhileTheRhythmRuns) {
  EXPECT_FALSE(ToggleRhythmSubstitution(1));
  CvtState.rhythm = 1;
  EXPECT_FALSE(ToggleRhythmSubstitution(4));
  EXPECT_EQ(RhythmSubstitutionToast(), L"기본 소리로 복관");
  EXPECT_TRUE(ToggleRhythmSubstitution(1));
  EXPECT_TRUE(ToggleRhythmSubstitution(3));
  EXPECT_EQ(RhythmSubstitutionToast(), L"전자효과(G) + 찰찰이(J)");
  EXPECT_TRUE(ToggleRhythmSubstitution(2));
  EXPECT_EQ(RhythmSubstitutionToast(), L"전자효과(G) + 박수(H) + 찰찰이(J)");
  StopCvtRhythm();  // the switches end with the rhythm
  EXPECT_EQ(RhythmSubstitutionToast(), L"기본 소리로 복관");
}

TEST_F(ControlTest, AHardPanicForgetsTheChasedControllers) {
  TempRoot root;
  plat::SetFakeMidiOutDevices({{L"P1", root.path() / "p1.rec", 0, false, false}});
  SetSettingText(&AppSettings::port1Device, std::wstring(L"P1"));
  PlaybackState.LastPlayedValid = 1;
  PanicCvtChannels({0, 1}, true, false);  // all notes off only: the controllers stand
  EXPECT_EQ(PlaybackState.LastPlayedValid.load(), 1);
  PanicCvtChannels({0, 1}, false, false);
  EXPECT_EQ(PlaybackState.LastPlayedValid.load(), 0);
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({});
  SetSettingText(&AppSettings::port1Device, std::wstring());
}

TEST(QuickEffect, ItsNoteEndsAfterItsHold) {
  static std::vector<uint32_t> sent;
  sent.clear();
  SetCvtOutput([](MidiOutHandle, uint32_t m) { sent.push_back(m); });
  CvtState.QfxNoteSent = 56;
  CvtState.QfxNoteOnTime = 1000;
  ReleaseQuickEffect(1, 1000 + kQuickEffectHoldMs - 1);
  EXPECT_TRUE(sent.empty());
  ReleaseQuickEffect(1, 1000 + kQuickEffectHoldMs);
  ReleaseQuickEffect(1, 1000 + kQuickEffectHoldMs + 5);  // once
  EXPECT_EQ(sent, (std::vector<uint32_t>{PackMidi(0x8C, 56, 0)}));
  EXPECT_EQ(CvtState.QfxNoteOnTime.load(), 0u);
  SetCvtOutput(nullptr);
}

TEST(FillCut, TailOfAFill) {
  const std::vector<StyleEvent> fill = {On(0, 9, 36),  On(0, 10, 38), Off(100, 10, 38), On(240, 11, 42),
                                        {240, 13, kStyleProgram, 5, 0, 0}, On(300, 8, 40), On(360, 12, 60), Off(470, 12, 60),
                                        On(480, 10, 40)};
  // The last 240 ticks of 480: channels 6, 8, 9 and programs left out; a note left open ends at the cut's end.
  EXPECT_EQ(BuildFillFromPatternTail(fill, 240),
            (std::vector<StyleEvent>{On(0, 11, 42), On(120, 12, 60), Off(230, 12, 60), On(240, 10, 40), Off(240, 10, 40),
                                     Off(240, 11, 42)}));
  EXPECT_TRUE(BuildFillFromPatternTail(fill, 0).empty());
  EXPECT_TRUE(BuildFillFromPatternTail({On(0, 10, 38)}, 240).empty());  // last tick 0
  EXPECT_EQ(BuildFillFromPatternTail(fill, 5000).size(), 8u);           // longer than the fill: all of it
}

TEST(FillCut, TransitionFillWithItsExtraPartTonesAndItsLength) {
  const StyleEvent bank13{0, 13, kStyleController, 0, 8, 0}, prog13{0, 13, kStyleProgram, 11, 0, 0},
      vol13{5, 13, kStyleController, 7, 90, 0}, vol13b{200, 13, kStyleController, 7, 50, 0}, prog14{0, 14, kStyleProgram, 61, 0, 0},
      prog10{0, 10, kStyleProgram, 16, 0, 0};
  const std::vector<StyleEvent> fill = {bank13, prog13, prog14, prog10, vol13, On(0, 9, 36), On(240, 13, 72), Off(300, 13, 72),
                                        vol13b, On(360, 10, 38), On(470, 14, 60), Off(479, 14, 60)};
  uint32_t length = 0;
  // The last 240 ticks: channel 13 and 14 play, so their first tones come first at tick 0 (not
  // channel 10's program, not a second volume of channel 13).
  EXPECT_EQ(SelectFillEvents(fill, 240, &length),
            (std::vector<StyleEvent>{bank13, prog13, prog14, {0, 13, kStyleController, 7, 90, 0}, On(1, 13, 72),
                                     Off(61, 13, 72), On(121, 10, 38), On(231, 14, 60), Off(240, 14, 60), Off(240, 10, 38)}));
  EXPECT_EQ(length, 240u);
  // A gap longer than the fill: the selection is the whole fill and its length the fill's.
  EXPECT_EQ(SelectFillEvents(fill, 1920, &length).size(), 4u + 8u);
  EXPECT_EQ(length, 479u);
  // Only drums in the cut: no tones.
  EXPECT_EQ(SelectFillEvents({prog13, On(0, 10, 38), Off(100, 10, 38)}, 100, &length),
            (std::vector<StyleEvent>{On(0, 10, 38), Off(100, 10, 38)}));
  EXPECT_TRUE(SelectFillEvents({}, 100, &length).empty());
  EXPECT_EQ(length, 0u);
}

std::vector<std::pair<uint32_t, double>> g_sent;
VirtualRhythmClock* g_clock = nullptr;
void Record(MidiOutHandle, uint32_t m) { g_sent.push_back({m, g_clock->NowMs()}); }

TEST(FillPlay, HeldCrashEndsTheFillOnTheWallClock) {
  VirtualRhythmClock clock;
  g_clock = &clock;
  g_sent.clear();
  SetCvtOutput(Record);
  PlaybackState.isPlaying = 0;
  PlaybackState.CurrentTempoUs = 500000;
  PlaybackState.TempoOffsetBpm = 0;
  CvtState.CvtCarryTempo.store({});
  CvtState.CvtTempoFactor = 1;
  PublishSongModel(std::make_shared<SongModel>());
  const std::vector<StyleEvent> fill = {On(0, 10, 38), On(120, 10, 40), On(240, 11, 49)};
  const double start = clock.NowMs();
  PlayFillEvents(77, fill, {false, true, false}, clock);
  SetCvtOutput(nullptr);
  // The crash is held back: it is struck by the fill player itself (not through the sender).
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[0].first, PackMidi(0x9A, 38, 100));
  EXPECT_EQ(g_sent[1].first, PackMidi(0x9A, 40, 100));
  EXPECT_NEAR(g_sent[1].second - start, 500, 5);  // a beat at 120 bpm
  EXPECT_NEAR(clock.NowMs() - start, 239 * 500.0 / 120, 5);  // ends one tick before the crash
  EXPECT_EQ(CvtState.FillPlaying.load(), 0);
  CvtState.CvtTempoFactor = -1;
  g_clock = nullptr;
}

}  // namespace
