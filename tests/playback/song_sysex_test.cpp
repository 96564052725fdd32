// The song's SysEx path on the recording devices: a GS reset in the song is sent, later messages
// wait for it to settle, and 80 ms later the module setup's replay list goes out again.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/clock.h"
#include "platform/midi_out.h"
#include "playback/services.h"
#include "playback/song_sysex.h"
#include "sound/rhythm_parts.h"
#include "sound/services.h"

namespace {

std::vector<std::string> RecordedSysEx(const std::filesystem::path& file) {
  std::vector<std::string> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tag = line.find(' '), bytes = line.find(' ', tag + 1);
    if (bytes != std::string::npos && line.compare(bytes + 1, 2, "F0") == 0) out.push_back(line.substr(bytes + 1));
  }
  return out;
}

class SongSysExTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    Settings.port1Device = L"P1";
    Settings.port2Device = L"none";
    CloseMidiPorts();
    plat::SetFakeMidiOutDevices({{L"P1", root_.path() / "p1.rec", 0, false, false}});
    ASSERT_TRUE(OpenMidiPort1());
    std::lock_guard lock(ModuleReplayList.mu);
    ModuleReplayList.list = {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x03, 0x00, 0x01, 0x3C, 0xF7}};
    ModuleReplayList.base = 1;
    ModuleReplayList.songEfxActive = false;
  }
  void TearDown() override {
    CloseMidiPorts();
    plat::SetFakeMidiOutDevices({});
    Settings = AppSettings{};
    std::lock_guard lock(ModuleReplayList.mu);
    ModuleReplayList.list.clear();
    ModuleReplayList.base = 0;
  }
  TempRoot root_;
};

const std::vector<uint8_t> kGsReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};

TEST_F(SongSysExTest, ResetIsSentAndTheSetupRestoredEightyMillisecondsLater) {
  SongSysExPath path;
  path.Filter(kGsReset, 0, 1000);
  EXPECT_TRUE(path.SettlePending());
  EXPECT_TRUE(path.RestorePending());
  path.RestoreAfterReset(1079, false);  // not yet due
  EXPECT_EQ(RecordedSysEx(root_.path() / "p1.rec"), (std::vector<std::string>{"F0 41 10 42 12 40 00 7F 00 41 F7"}));
  path.RestoreAfterReset(1080, false);
  EXPECT_FALSE(path.RestorePending());
  const auto sent = RecordedSysEx(root_.path() / "p1.rec");
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent.front(), "F0 41 10 42 12 40 00 7F 00 41 F7");
  // The recorded module setup comes last, after the reverb, equaliser and the rest.
  EXPECT_EQ(sent.back(), "F0 41 10 42 12 40 03 00 01 3C F7");
}

TEST_F(SongSysExTest, AResetForgetsTheTonesTheRhythmSent) {
  MarkCvtToneCachesEmpty();
  RhythmParts.CvtToneCache.program[8] = 33;
  RhythmParts.CvtToneCache.msb[10] = 0;
  CvtState.CvtTonesLost = 0;
  SongSysExPath path;
  path.Filter(std::vector<uint8_t>{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x19, 0x64, 0x12, 0xF7}, 0, 1000);
  EXPECT_EQ(RhythmParts.CvtToneCache.program[8], 33);  // a part message leaves them
  path.Filter(kGsReset, 0, 1001);
  EXPECT_EQ(RhythmParts.CvtToneCache.program[8], 0xFF);
  EXPECT_EQ(RhythmParts.CvtToneCache.msb[10], 0xFF);
  EXPECT_EQ(CvtState.CvtTonesLost.load(), 1);
  CvtState.CvtTonesLost = 0;
}

TEST_F(SongSysExTest, WhileADownbeatIsAwaitedTheRestoreWaitsUnlessForced) {
  SongSysExPath path;
  path.Filter(kGsReset, 0, 1000);
  PlaybackState.waitingGo = 1;
  path.RestoreAfterReset(1100, false);
  EXPECT_TRUE(path.RestorePending());
  EXPECT_EQ(path.RestoreDue(), 1180u);
  path.RestoreAfterReset(1180, true);
  EXPECT_FALSE(path.RestorePending());
  PlaybackState.waitingGo = 0;
}

TEST_F(SongSysExTest, ResetWhileTheRhythmPlaysIsNotSentAndNothingIsRestored) {
  SongSysExPath path;
  CvtState.rhythm = 1;
  path.Filter(kGsReset, 0, 1000);
  // A part message for a rhythm channel (block 9 = channel 8) is blocked too; one for channel 0 passes.
  path.Filter(std::vector<uint8_t>{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x19, 0x19, 0x64, 0x0A, 0xF7}, 0, 1001);
  path.Filter(std::vector<uint8_t>{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x19, 0x64, 0x12, 0xF7}, 0, 1002);
  CvtState.rhythm = 0;
  EXPECT_FALSE(path.RestorePending());
  EXPECT_EQ(RecordedSysEx(root_.path() / "p1.rec"), (std::vector<std::string>{"F0 41 10 42 12 40 11 19 64 12 F7"}));
}

// A reset of port 2's track goes to port 2 only; without a port-2 device it is not sent at all
// (port 1 keeps its set-up and its sounding notes), while port 2's other messages still fall back
// to port 1.
TEST_F(SongSysExTest, APortTwoResetNeverReachesPortOne) {
  const std::vector<uint8_t> gmOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  const std::vector<uint8_t> part = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x19, 0x64, 0x12, 0xF7};
  const struct {
    bool port2Open;
    std::vector<std::string> p1, p2;
  } cases[] = {
      {false, {"F0 41 10 42 12 40 11 19 64 12 F7"}, {}},
      {true, {}, {"F0 41 10 42 12 40 00 7F 00 41 F7", "F0 7E 7F 09 01 F7", "F0 41 10 42 12 40 11 19 64 12 F7"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port2Open);
    CloseMidiPorts();
    std::filesystem::remove(root_.path() / "p1.rec");
    std::filesystem::remove(root_.path() / "p2.rec");
    Settings.port2Device = c.port2Open ? L"P2" : L"none";
    // Without its device port 2 would take the machine's second port: there is none then.
    std::vector<plat::FakeMidiOutDevice> devices = {{L"P1", root_.path() / "p1.rec", 0, false, false}};
    if (c.port2Open) devices.push_back({L"P2", root_.path() / "p2.rec", 0, false, false});
    plat::SetFakeMidiOutDevices(devices);
    ASSERT_TRUE(OpenMidiPort1());
    {
      SongSysExPath path;
      path.Filter(kGsReset, 1, 1000);
      path.Filter(gmOn, 1, 1001);
      path.Filter(part, 1, 1002);
      EXPECT_EQ(path.RestorePending(), c.port2Open);
    }
    EXPECT_EQ(RecordedSysEx(root_.path() / "p1.rec"), c.p1);
    EXPECT_EQ(RecordedSysEx(root_.path() / "p2.rec"), c.p2);
  }
}

// The settle wait after a reset is handed to the player once, so that its clock moves on by it.
TEST_F(SongSysExTest, TheSettleWaitIsTakenOnce) {
  SongSysExPath path;
  EXPECT_EQ(path.TakeSettleWaitMs(), 0.0);
  path.Filter(kGsReset, 0, plat::TimeGetTime());
  path.SleepUntilSettled();
  EXPECT_GE(path.TakeSettleWaitMs(), 40.0);
  EXPECT_EQ(path.TakeSettleWaitMs(), 0.0);
  path.SleepUntilSettled();  // nothing pending: no wait
  EXPECT_EQ(path.TakeSettleWaitMs(), 0.0);
}

TEST_F(SongSysExTest, TheSongsInsertionEffectReplacesTheSetupsInTheReplayList) {
  SongSysExPath path;
  const std::vector<uint8_t> type1 = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x03, 0x00, 0x01, 0x10, 0x2A, 0xF7};
  const std::vector<uint8_t> type2 = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x03, 0x00, 0x01, 0x11, 0x29, 0xF7};
  path.Filter(type1, 0, 1000);
  path.Filter(type2, 0, 1001);
  std::lock_guard lock(ModuleReplayList.mu);
  ASSERT_EQ(ModuleReplayList.list.size(), 2u);  // the setup's own entry, then the song's last one
  EXPECT_EQ(ModuleReplayList.list[1], type2);
}

}  // namespace
