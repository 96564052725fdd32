#include "sound_fixture.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "base/settings/song_settings.h"

TEST_F(SoundTest, ComputeOutputVolumeTable) {
  struct Case {
    int all, orch, trim, gain, saxExpr, saxBoost, port, channel, base, out;
  } cases[] = {
      {64, 64, 100, 100, 0, 100, 0, 1, 100, 100},  // unity
      {64, 64, 80, 100, 0, 100, 0, 1, 100, 80},    // output trim
      {64, 0, 100, 100, 0, 100, 0, 1, 100, 1},     // never 0 when the song asks for sound
      {64, 0, 100, 100, 0, 100, 0, 9, 100, 100},   // drum group keeps the accompaniment volume
      {64, 0, 100, 100, 0, 100, 0, 8, 100, 100},
      {64, 64, 100, 100, 0, 100, 0, 1, 0, 0},      // base 0 stays 0
      {0, 64, 30, 25, 0, 100, 1, 3, 1, 1},         // every factor low, base 1: 1
      {64, 64, 100, 200, 0, 100, 0, 1, 100, 127},  // song gain, clamped
      {64, 64, 100, 100, 1, 300, 0, 0, 40, 120},   // sax melody x3
      {64, 64, 100, 100, 1, 300, 0, 1, 100, 50},   // others halved
      {64, 64, 100, 100, 1, 200, 0, 1, 100, 65},   // 65 percent
      {128, 64, 100, 100, 0, 100, 0, 1, 100, 127},
  };
  for (const auto& c : cases) {
    Settings.volAllUser = c.all;
    Settings.volOrchUser = c.orch;
    Settings.outTrim = c.trim;
    SongSettings.SongGainPercent = c.gain;
    Settings.saxExpr = c.saxExpr;
    Settings.saxBoost = c.saxBoost;
    EXPECT_EQ(ComputeOutputVolume(c.port, c.channel, c.base), c.out)
        << c.all << " " << c.orch << " " << c.trim << " " << c.gain << " " << c.saxBoost << " " << c.base;
  }
  SongSettings.SongGainPercent = 100;
  Mixer.PatchVolumePercent[0][2] = 50;
  Settings = AppSettings{};
  Settings.outTrim = 100;
  EXPECT_EQ(ComputeOutputVolume(0, 2, 100), 50);
  Mixer.PatchVolumePercent[0][2] = 100;
}

TEST_F(SoundTest, EffectiveLevelsAreCapped) {
  ResetMixerDefaults();
  Settings.mixerMaxPct = 125;
  Mixer.MixerGroupMaster[0] = 150;
  Mixer.MixerChannelPercent[0][1] = 150;
  UpdateChannelLevel(0, 1);
  EXPECT_EQ(Mixer.EffectiveChannelPercent[0][1].load(), 125);
  Settings.mixerMaxPct = 0;  // not positive: 125
  UpdateChannelLevel(0, 1);
  EXPECT_EQ(Mixer.EffectiveChannelPercent[0][1].load(), 125);
  Mixer.MixerGroupMaster[0] = 100;
  Mixer.MixerChannelPercent[0][1] = 100;
  RecomputeAllLevels();
  Mixer.MixerChannelPercent[0][1] = 77;
  ResetMixerDefaults();  // a later call keeps what the operator set
  EXPECT_EQ(Mixer.MixerChannelPercent[0][1].load(), 77);
  EXPECT_TRUE(IsDrumGroupChannel(0, 8));
  EXPECT_FALSE(IsDrumGroupChannel(1, 8));
  EXPECT_TRUE(IsDrumGroupChannel(1, 12));
}

TEST_F(SoundTest, MixerFileRoundTripAndReadRules) {
  ResetMixerDefaults();
  LoadMixerConfig();
  SaveMixerConfig();
  auto path = plat::RealPath(L"C:/tavelo/system/mixer.cfg");
  EXPECT_EQ(plat::ReadFileBytes(path).value_or("x"), "");  // all defaults: empty file

  Mixer.MixerChannelPercent[1][15] = 120;
  Mixer.RhythmChannelPercent[4] = 80;
  Mixer.MixerGroupMaster[2] = 90;
  Mixer.ReverbSendOffset[0][3] = -12;
  Mixer.ChorusSendOffset[1][0] = 7;
  SaveMixerConfig();
  std::string text = plat::ReadFileBytes(path).value_or("");
  EXPECT_EQ(text, "M 1 15 120\nCV 4 80\nMM 2 90\nRV 0 3 -12\nCH 1 0 7\n");
  LoadMixerConfig();
  SaveMixerConfig();
  EXPECT_EQ(plat::ReadFileBytes(path).value_or(""), text);
  EXPECT_EQ(Mixer.EffectiveRhythmPercent[4].load(), 72);

  Settings.mixerMaxPct = 150;
  plat::WriteFileAtomic(path, "M 1 15 200\nM 2 0 50\nMM 3 50\nRV 0 16 5\nRV 0 1 -99\nXX 1 2\nM 0 1 abc\nCV 2\n");
  LoadMixerConfig();
  EXPECT_EQ(Mixer.MixerChannelPercent[1][15].load(), 150);
  EXPECT_EQ(Mixer.ReverbSendOffset[0][1].load(), -40);
  EXPECT_EQ(Mixer.MixerChannelPercent[0][1].load(), 100);
  EXPECT_EQ(Mixer.RhythmChannelPercent[2].load(), 100);
  EXPECT_EQ(Mixer.MixerGroupMaster[2].load(), 100);
  EXPECT_EQ(Mixer.ChorusSendOffset[1][0].load(), 0);
  EXPECT_TRUE(AnySendOffsetSet());
  Settings.rawSound = 1;
  EXPECT_FALSE(AnySendOffsetSet());
  EXPECT_EQ(AddSendOffset(10, 40), 10);
  Settings.rawSound = 0;
  EXPECT_EQ(AddSendOffset(100, 40), 127);
  EXPECT_EQ(AddSendOffset(10, -40), 0);
  std::wstring init = BuildMixerInitScript();
  EXPECT_EQ(init.rfind(L"initMixerFromApp([100,", 0), 0u);
  EXPECT_TRUE(init.ends_with(L",[100,100,100])"));
}

TEST_F(SoundTest, RhythmLevelCommandIgnoresThePortAndSendsNothing) {
  Devices({L"SC-8850"});
  ASSERT_TRUE(OpenMidiPort1());
  SetRhythmChannelPercent(4, 80);
  EXPECT_EQ(Mixer.RhythmChannelPercent[4].load(), 80);
  EXPECT_TRUE(Lines("0").empty());
  SetMixerChannelPercent(0, 3, 50);
  EXPECT_EQ(Mixer.ChannelVolumeOverride[0][3].load(), 50);
  EXPECT_EQ(Lines("0"), std::vector<std::string>{"1 B3 07 28"});  // 50 x trim 80%
  SetMixerChannelPercent(2, 3, 50);  // ignored
  EXPECT_EQ(Lines("0").size(), 1u);
}
