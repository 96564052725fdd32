// The argument handling of the mixer, channel-sound, device, effect and sax commands: what each
// stores, and what reaches the recording devices.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "platform/midi_out.h"
#include "playback/services.h"
#include "sound/services.h"
#include "ui/sound_commands.h"

namespace {

class SoundCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    plat::SetFakeMidiOutDevices({{L"P1", root_.path() / "p1.rec", 0, false, false},
                                 {L"P2", root_.path() / "p2.rec", 0, false, false}});
    Settings.port1Device = L"P1";
    Settings.port2Device = L"P2";
    CloseMidiPorts();
    ResetMixerDefaults();
    LoadMixerConfig();
  }
  void TearDown() override {
    CloseMidiPorts();
    plat::SetFakeMidiOutDevices({});
    Settings = AppSettings{};
  }
  std::vector<std::string> Recorded(const char* file) {
    std::vector<std::string> out;
    std::ifstream in(root_.path() / file);
    std::string line;
    while (std::getline(in, line)) out.push_back(line.substr(line.find(' ') + 1));
    return out;
  }
  TempRoot root_;
};

}  // namespace

TEST(SoundCommandArgs, ColonIntsReadLikeTheScanner) {
  struct Case {
    std::wstring text;
    std::vector<int> defaults, out;
  } cases[] = {
      {L"0:3:200", {0, 0, 100}, {0, 3, 200}},
      {L"1:2", {0, 0, 100}, {1, 2, 100}},
      {L"x:2:3", {0, 0, 100}, {0, 0, 100}},
      {L"-1: 5:+7", {0, 0, 0}, {-1, 5, 7}},
      {L"4:y:9", {7, 7, 7}, {4, 7, 7}},
      {L"", {0, 64, 0, 64}, {0, 64, 0, 64}},
      {L"1:40:0:90xyz", {0, 64, 0, 64}, {1, 40, 0, 90}},
  };
  for (const auto& c : cases) EXPECT_EQ(ScanColonInts(c.text, c.defaults), c.out) << std::string(c.text.begin(), c.text.end());
}

TEST_F(SoundCommandsTest, MixerCommandsStoreClampedValues) {
  struct Case {
    std::wstring message;
    int port, channel, percent;  // the stored MixerChannelPercent (port -1: rhythm level)
  } cases[] = {
      {L"SET_CH_PCT:0:3:200", 0, 3, 150},
      {L"SET_CH_PCT:1:15:-5", 1, 15, 0},
      {L"SET_CH_PCT:0:4", 0, 4, 100},
      {L"SET_CVT_PCT:9:13:70", -1, 13, 70},
      {L"SET_CVT_PCT:0:2:999", -1, 2, 150},
  };
  for (const auto& c : cases) {
    if (c.message.starts_with(L"SET_CVT")) HandleSetCvtPct(c.message);
    else HandleSetChPct(c.message);
    const int stored = c.port < 0 ? Mixer.RhythmChannelPercent[c.channel].load() : Mixer.MixerChannelPercent[c.port][c.channel].load();
    EXPECT_EQ(stored, c.percent) << std::string(c.message.begin(), c.message.end());
  }
  // Out of range: nothing changes.
  HandleSetChPct(L"SET_CH_PCT:2:3:50");
  HandleSetChPct(L"SET_CH_PCT:0:16:50");
  EXPECT_EQ(Mixer.MixerChannelPercent[0][3].load(), 150);
  HandleSetMixMaster(L"SET_MIX_MASTER:1:80");
  EXPECT_EQ(Mixer.MixerGroupMaster[1].load(), 80);
  HandleSetMixMaster(L"SET_MIX_MASTER:3:80");
  EXPECT_EQ(Mixer.MixerGroupMaster[0].load(), 100);

  Settings.volAllUser = 125;
  HandleVolGlobal(L"VOL_GLOBAL:0:5");
  EXPECT_EQ(Settings.volAllUser.load(), 127);
  Settings.volOrchUser = 5;
  HandleVolGlobal(L"VOL_GLOBAL:1:-10");
  EXPECT_EQ(Settings.volOrchUser.load(), 0);

  HandleSetChSend(L"SET_CH_REV:0:2:55");
  HandleSetChSend(L"SET_CH_CHO:1:2:-99");
  HandleSetChSend(L"SET_CH_REV:0:16:10");
  EXPECT_EQ(Mixer.ReverbSendOffset[0][2].load(), 40);
  EXPECT_EQ(Mixer.ChorusSendOffset[1][2].load(), -40);
  Mixer.ReverbSendOffset[0][2] = 0;
  Mixer.ChorusSendOffset[1][2] = 0;
  for (int c : {3, 4}) Mixer.MixerChannelPercent[0][c] = 100;
  Mixer.MixerChannelPercent[1][15] = 100;
  Mixer.RhythmChannelPercent[13] = 100;
  Mixer.RhythmChannelPercent[2] = 100;
  Mixer.MixerGroupMaster[1] = 100;
  SaveMixerConfig();
}

TEST_F(SoundCommandsTest, EffectAndSaxSettings) {
  struct Case {
    std::wstring message;
    void (*handler)(const std::wstring&);
    SettingInt AppSettings::*setting;
    int value;
  } cases[] = {
      {L"SET_REVERB_LV:-5", HandleSetReverbLv, &AppSettings::reverbLevel, -1},
      {L"SET_REVERB_LV:200", HandleSetReverbLv, &AppSettings::reverbLevel, 127},
      {L"SET_CHORUS:9:50:-1", HandleSetChorus, &AppSettings::chorusLevel, 50},
      {L"SET_CHORUS:9:50:-1", HandleSetChorus, &AppSettings::chorusMacro, -1},
      {L"SET_REVERB_SHAPE:0:9:100", HandleSetReverbShape, &AppSettings::reverbTime, 100},
      {L"SET_REVERB_SHAPE:0:9:100", HandleSetReverbShape, &AppSettings::reverbMacro, 4},
      {L"SET_REVERB_SHAPE:0:9:100", HandleSetReverbShape, &AppSettings::reverbShapeOn, 0},
      {L"SET_SAX_GATE:10", HandleSetSaxGate, &AppSettings::saxGate, 70},
      {L"SET_SAX_GATE:150", HandleSetSaxGate, &AppSettings::saxGate, 100},
      {L"SET_SAX_INSLV:20", HandleSetSaxInsLv, &AppSettings::saxInsLv, 60},
      {L"SET_SAX_BOOST:400", HandleSetSaxBoost, &AppSettings::saxBoost, 300},
      {L"SET_SAX_LAYER:1", HandleSetSaxLayer, &AppSettings::saxLayer, 1},
      {L"SET_SAX_EXPR:7", HandleSetSaxExpr, &AppSettings::saxExpr, 1},
      {L"SET_RAW_SOUND:0", HandleSetRawSound, &AppSettings::rawSound, 0},
      {L"SET_CC_DEDUP:1", HandleSetCcDedup, &AppSettings::ccDedupOn, 1},
      {L"SET_OUTPUT:4", HandleSetOutput, &AppSettings::outputMode, 4},
  };
  for (const auto& c : cases) {
    c.handler(c.message);
    EXPECT_EQ((Settings.*c.setting).load(), c.value) << std::string(c.message.begin(), c.message.end());
  }
  // The settings file holds them.
  const std::string file = plat::ReadFileBytes(root_.path() / "system" / "app_settings.cfg").value_or("");
  EXPECT_NE(file.find("saxBoost=300"), std::string::npos);
  EXPECT_NE(file.find("reverbLevel=127"), std::string::npos);

  HandleSetEq(L"SET_EQ:1:40:0:90");
  EXPECT_EQ(EqSettings.lowFreq, 1);
  EXPECT_EQ(EqSettings.lowGain, 52);
  EXPECT_EQ(EqSettings.highFreq, 0);
  EXPECT_EQ(EqSettings.highGain, 76);
  EqSettings = {};

  HandleSetModule(L"SET_MODULE:1:SC8850");
  EXPECT_EQ(Settings.port2Module, L"SC8850");
  HandleSetModule(L"SET_MODULE:7:SC8820");
  EXPECT_EQ(Settings.port1Module, L"SC8820");
  HandleSetModule(L"SET_MODULE:CS88Pro");
  EXPECT_EQ(Settings.port1Module, L"SC8820");
}

TEST_F(SoundCommandsTest, ApplySoundAndToneStepsReachTheDevice) {
  std::filesystem::create_directories(root_.path() / "system");
  ASSERT_TRUE(plat::WriteFileAtomic(root_.path() / "system" / "SOUNDTBL.CFG",
                                    "Default 2 0 0 0 0 0 0\nFretless 2 0 3 8 35 0 0\nNylon 3 0 0 0 24 0 0\n"));
  LoadSoundTable();
  ASSERT_TRUE(OpenMidiPort1());
  ASSERT_TRUE(OpenMidiPort2());
  HandleApplySound(L"APPLY_SOUND:2:0:1");
  HandleApplySound(L"APPLY_SOUND:2:0");      // one colon: nothing
  HandleApplySound(L"APPLY_SOUND:2:0:3");    // outside the table: nothing
  HandleApplySound(L"APPLY_SOUND:3:1:2");
  HandleApplySound(L"APPLY_SOUND:5:1:2");    // part 5: stored in its first slot, nothing sent
  EXPECT_TRUE(GetCvtToneSlot(3, 1).chosen);
  EXPECT_TRUE(GetCvtToneSlot(5, 0).chosen);
  HandleSoundPitchUp(L"SOUND_PITCH_UP:2:0");  // no pitch for the bass
  HandleSoundFilterUp(L"SOUND_FILTER_UP:2:0:10");
  EXPECT_EQ(Recorded("p1.rec"), (std::vector<std::string>{"1 B8 00 08", "1 B8 20 03", "1 C8 23", "1 B6 00 00",
                                                          "1 B6 20 00", "1 C6 18", "1 B8 4A 4A"}));
  FlushDeferredSoundSaves();
  const std::string sel = plat::ReadFileBytes(root_.path() / "system" / "soundsel.cfg").value_or("");
  EXPECT_NE(sel.find("SEL 2 0 0 3 8 35 0 Fretless\n"), std::string::npos);
  EXPECT_NE(sel.find("TONE 0 8 100 0 74 40 64 0 0\n"), std::string::npos);
  ClearCvtToneSlots();
  ResetToneSettings();
}

TEST_F(SoundCommandsTest, SoundFontMustBeAFileOfTheSynthFolder) {
  std::filesystem::create_directories(root_.path() / "synth");
  std::ofstream(root_.path() / "synth" / "demo.sf2") << "x";
  EXPECT_TRUE(IsSelectableSoundFont(L"demo.sf2"));
  for (const wchar_t* bad : {L"", L"../demo.sf2", L"/etc/passwd", L"sub/demo.sf2", L"..", L"C:demo.sf2", L"other.sf2"})
    EXPECT_FALSE(IsSelectableSoundFont(bad)) << std::wstring(bad).size();
  HandleSelectMidiDevices(L"SELECT_MIDI_DEVICES:P1|P2|../../x.sf2");
  EXPECT_EQ(Settings.synthSf2, L"");
  EXPECT_EQ(Settings.port1Device, L"P1");
  HandleSelectMidiDevices(L"SELECT_MIDI_DEVICES:A|B");
  EXPECT_EQ(Settings.port1Device, L"A");
  EXPECT_EQ(Settings.port2Device, L"B");
}

TEST_F(SoundCommandsTest, ExternalModuleApplyAndPanic) {
  ASSERT_TRUE(OpenMidiPort1());
  ASSERT_TRUE(OpenMidiPort2());
  HandleExtPanic(L"EXT_PANIC");  // module closed: ports 1 and 2 get 32 messages each
  EXPECT_EQ(Recorded("p1.rec").size(), 32u);
  EXPECT_EQ(Recorded("p2.rec").size(), 32u);
  EXPECT_EQ(Recorded("p1.rec")[0], "1 B0 78 00");
  EXPECT_EQ(Recorded("p1.rec")[1], "1 B0 7B 00");
  HandleExtApply(L"EXT_APPLY:1\t20\t1\t0\t0\t1000000001\t36>35,99>200,x,38>40\tNoSuchModule");
  EXPECT_EQ(Settings.extOn.load(), 1);
  EXPECT_EQ(Settings.extToCh.load(), -1);
  EXPECT_EQ(Settings.extCc.load(), 1);
  EXPECT_EQ(FormatExtNoteMap(), L"36>35,38>40");
  EXPECT_EQ(FormatExtRouting(), L"10000000010000000000000000000000");
  EXPECT_EQ(Settings.extDevice, L"NoSuchModule");
  EXPECT_FALSE(ExternalClockRunning());
  ParseExtRouting(L"");
  ParseExtNoteMap(L"");
}

TEST(ExternalClock, TempoSourceAndPeriod) {
  struct Case {
    ExtClockTempo tempo;
    int bpm;
  } cases[] = {
      {{0, 100, 10}, 110}, {{0, 0, 10}, 120}, {{400, 100, 0}, 300}, {{0, 20, 0}, 30}, {{0, 100, -150}, 120}, {{90, 140, 5}, 90},
  };
  for (const auto& c : cases) EXPECT_EQ(ExternalClockBpm(c.tempo), c.bpm);
  EXPECT_NEAR(ExternalClockPeriodMs(110), 22.727, 0.001);
  EXPECT_NEAR(ExternalClockPeriodMs(120), 20.833, 0.001);
}
