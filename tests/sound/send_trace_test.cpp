#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/player_signals.h"
#include "base/trace_lines.h"
#include "platform/clock.h"
#include "sound/send_trace.h"
#include "sound/services.h"
#include "base/settings/app_settings.h"
#include "platform/midi_out.h"

namespace {

std::atomic<bool> RhythmRuns{false};

class SendTraceTest : public TraceLogTest {
 protected:
  void SetUp() override {
    TraceLogTest::SetUp();
    PlayerSignals signals{};
    signals.rhythmRunning = [] { return RhythmRuns.load(); };
    InstallPlayerSignals(signals);
  }
  static void Arm(std::vector<LoadTraceRecord> records) {
    LoadTraceRecords.count = static_cast<int>(records.size());
    for (size_t i = 0; i < records.size() && i < LoadTraceState::kCapacity; ++i)
      LoadTraceRecords.records[i] = records[i];
    LoadTraceRecords.armed = 1;
  }
};

}  // namespace

TEST_F(SendTraceTest, LoadReportGroupsRecordsAtMost4MsApart) {
  LoadTraceRecords.armed = 0;
  ReportChannelLoad();  // not armed: nothing
  EXPECT_TRUE(Lines().empty());

  Arm({});
  ReportChannelLoad();
  auto none = Lines();
  ASSERT_EQ(none.size(), 1u);
  EXPECT_NE(none[0].find("\xED\x95\x98\xEB\x82\x98\xEB\x8F\x84 \xEC\x97\x86\xEC\x9D\x8C"), std::string::npos);  // 하나도 없음
  EXPECT_EQ(LoadTraceRecords.armed.load(), 0);

  std::filesystem::remove(root.path() / "system" / "altz_log.txt");
  Arm({{0.0, 1, 9, 2, 5}, {4.0, 1, 10, 0, 0}, {8.1, 1, 6, 4, 100}, {8.5, 1, 0, 1, 3}});
  ReportChannelLoad();
  auto lines = Lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_NE(lines[0].find("- \xEA\xB8\xB0\xEB\xA1\x9D 4\xEA\xB0\x9C"), std::string::npos);  // 기록 4개
  EXPECT_EQ(lines[1], "[LOAD]  \xEB\xAC\xB6\xEC\x9D\x8C" "1  +    0.0 ~    4.0ms  PC  1\xEA\xB0\x9C \xEB\xB1\x85\xED\x81\xAC  1\xEA\xB0\x9C   p0:ch9,10");
  EXPECT_EQ(lines[2], "[LOAD]  \xEB\xAC\xB6\xEC\x9D\x8C" "2  +    8.1 ~    8.5ms  PC  0\xEA\xB0\x9C \xEB\xB1\x85\xED\x81\xAC  1\xEA\xB0\x9C   p0:ch0,6");
  EXPECT_EQ(lines[3].substr(0, 12), "[LOAD] \xEC\xB4\x9D 2");
  // Rhythm channels 9, 10 and 6 (not 0): three hits, two of them sound changes.
  EXPECT_NE(lines.back().find(" 3 ("), std::string::npos) << lines.back();
  EXPECT_NE(lines.back().find(" 2)"), std::string::npos) << lines.back();
}

TEST_F(SendTraceTest, VolumeWatchTracesRhythmChannelsOfPortOneWhileOpen) {
  RhythmRuns = true;
  TraceVolumeCc(0, 9, 7, 100);  // closed: nothing
  OpenVolumeTrace(15000);
  TraceVolumeCc(0, 9, 7, 100);
  TraceVolumeCc(0, 8, 128, 33);
  TraceVolumeCc(1, 9, 7, 100);  // port 2
  TraceVolumeCc(0, 7, 7, 100);  // not a rhythm channel
  const uint8_t master[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x04, 0x64, 0x58, 0xF7};
  const uint8_t part0[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x19, 0x50, 0x00, 0xF7};
  const uint8_t part12[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x50, 0x1C, 0x19, 0x50, 0x00, 0xF7};
  TraceVolumeSysEx(master, sizeof master, L"song");
  TraceVolumeSysEx(part0, sizeof part0, L"song");
  TraceVolumeSysEx(part12, sizeof part12, L"rhythm");
  TraceVolumeSysEx(part0, 9, L"short");
  RhythmRuns = false;
  Sound.VolumeTraceUntil = 0;
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_NE(lines[1].find("p0:ch9  CC7   = 100  (tid "), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("p0:ch8  PROG 33"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("SysEx = 100  (song, tid"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("40 10 = 80 (ch9)  (song"), std::string::npos) << lines[4];
  EXPECT_NE(lines[5].find("50 1C = 80 (ch12)  (rhythm"), std::string::npos) << lines[5];
}

TEST_F(SendTraceTest, PerformanceMonitorRunsOnceAtATime) {
  StartPerfMonitor();
  EXPECT_EQ(Sound.PerfMonitorRunning.load(), 1);
  StartPerfMonitor();  // running: nothing more starts
  // Wait for three samples (the monitor's thread runs at a low priority and may be slow under
  // load). One monitor gives one rising series of elapsed times; a second would repeat them.
  std::vector<std::string> lines;
  for (int i = 0; i < 2000 && lines.size() < 3; ++i) {
    plat::SleepMs(10);
    lines = Lines();
  }
  ASSERT_GE(lines.size(), 3u);
  long previous = -1;
  for (const auto& line : lines) {
    ASSERT_EQ(line.substr(0, 7), "[PRF] +");
    EXPECT_NE(line.find("| [BN] msg="), std::string::npos);
    const long ms = std::stol(line.substr(7));
    EXPECT_GT(ms, previous) << line;
    previous = ms;
  }
}

// The volumes resent to channels the rhythm owns are traced with their base and the mixer level;
// other channels and skipped ones are not.
TEST_F(SendTraceTest, ResentVolumesOfRhythmOwnedChannelsAreTraced) {
  Settings = AppSettings{};
  Settings.port1Device = L"P1";
  Settings.port2Device = L"none";
  plat::SetFakeMidiOutDevices({{L"P1", {}, 0, false, false}});
  ASSERT_TRUE(OpenMidiPort1());
  RhythmRuns = true;
  Mixer.SongChannelVolume[0][8] = 90;
  ResendChannelVolumes({0, 8}, false);
  ResendChannelVolumes({9}, true);
  RhythmRuns = false;
  ResendChannelVolumes({10}, false);
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({});
  std::vector<std::string> vol;
  for (const std::string& line : Lines())
    if (line.rfind("[VOL] ", 0) == 0) vol.push_back(line);
  ASSERT_EQ(vol.size(), 1u);
  RhythmRuns = true;
  char want[64];
  std::snprintf(want, sizeof want, "[VOL] ch8  = %3d  (", ComputeOutputVolume(0, 8, DefaultRhythmVolume(8)));
  RhythmRuns = false;
  EXPECT_EQ(vol[0].rfind(want, 0), 0u) << vol[0];
  EXPECT_NE(vol[0].find(", \xEA\xB8\xB0\xEC\xA4\x80\xEB\xB3\xBC\xEB\xA5\xA8 90, "), std::string::npos) << vol[0];  // 기준볼륨
  Settings = AppSettings{};
}
