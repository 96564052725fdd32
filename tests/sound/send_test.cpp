#include "sound_fixture.h"

#include <cmath>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"

TEST_F(SoundTest, VolumeCeilingAndSevenBitPacking) {
  Devices({L"SC-8850"});
  ASSERT_TRUE(OpenMidiPort1());
  struct Case {
    int ceiling;
    unsigned value;
    const char* sent;
  } cases[] = {{100, 127, "1 B3 07 64"}, {100, 0, "1 B3 07 00"}, {127, 127, "1 B3 07 7F"}, {60, 61, "1 B3 07 3C"}};
  std::vector<std::string> want;
  for (const auto& c : cases) {
    Settings.volCeil = c.ceiling;
    SendShortMidi(Sound.MidiOutPort1, PackMidi(0xB3, 7, c.value));
    want.push_back(c.sent);
  }
  // Data bytes above 127 never reach the device.
  SendShortMidi(Sound.MidiOutPort1, 0x00FFFF90u);
  want.push_back("1 90 7F 7F");
  EXPECT_EQ(Lines("0"), want);
  EXPECT_EQ(PackMidi(0x90, 0x80 | 60, 0x80 | 100), PackMidi(0x90, 60, 100));
}

TEST_F(SoundTest, ControllerDeDuplicationPerPortAndRow) {
  Devices({L"SC-8850", L"loopMIDI Port 1", L"SD-90"});
  Settings.ccDedupOn = 1;
  Settings.extDevice = L"SD-90";
  ASSERT_TRUE(OpenMidiPort1());
  ASSERT_TRUE(OpenMidiPort2());
  ASSERT_TRUE(OpenExternalModule());
  MidiOutHandle p1 = Sound.MidiOutPort1, p2 = Sound.MidiOutPort2, ext = Sound.ExtModuleOut;
  uint32_t dropped = CcDedupDropCount().load();
  struct Step {
    MidiOutHandle h;
    uint32_t msg;
    bool sent;
  } steps[] = {
      {p1, PackMidi(0xB3, 10, 64), true},   {p1, PackMidi(0xB3, 10, 64), false},
      {p2, PackMidi(0xB3, 10, 64), true},   {ext, PackMidi(0xB3, 10, 64), true},
      {p1, PackMidi(0xB3, 121, 0), true},   {p1, PackMidi(0xB3, 10, 64), true},
      {p1, PackMidi(0xB3, 0, 1), true},     {p1, PackMidi(0xB3, 0, 1), true},
      {p1, PackMidi(0xB3, 101, 0), true},   {p1, PackMidi(0xB3, 101, 0), true},
      {p1, PackMidi(0xB4, 10, 64), true},   {p1, PackMidi(0xB3, 10, 65), true},
  };
  size_t expected[3] = {0, 0, 0};
  for (const auto& s : steps) {
    SendShortMidi(s.h, s.msg);
    int row = s.h == p1 ? 0 : s.h == p2 ? 1 : 2;
    if (s.sent) ++expected[row];
  }
  EXPECT_EQ(Lines("0").size(), expected[0]);
  EXPECT_EQ(Lines("1").size(), expected[1]);
  EXPECT_EQ(Lines("2").size(), expected[2]);
  EXPECT_EQ(CcDedupDropCount().load() - dropped, 1u);

  // A SysEx between two equal values lets the second through.
  SendShortMidi(p1, PackMidi(0xB5, 11, 90));
  SendSysExBothPorts({0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  SendShortMidi(p1, PackMidi(0xB5, 11, 90));
  std::vector<std::string> lines = Lines("0");
  EXPECT_EQ(lines[lines.size() - 1], "1 B5 0B 5A");
  EXPECT_EQ(lines[lines.size() - 3], "1 B5 0B 5A");
}

TEST_F(SoundTest, ExternalModuleRouting) {
  Devices({L"SC-8850", L"SD-90"});
  Settings.extOn = 1;
  Settings.extDevice = L"SD-90";
  Settings.extToCh = 5;
  ParseExtRouting(L"0000000001");  // port 1 channel 9 (0-based)
  ParseExtNoteMap(L"36>35");
  ASSERT_TRUE(OpenMidiPort1());
  MidiOutHandle p1 = Sound.MidiOutPort1;
  SendShortMidi(p1, PackMidi(0x99, 36, 100));  // note, mapped and moved to channel 5
  SendShortMidi(p1, PackMidi(0xC9, 3));         // program: dropped without extPc
  SendShortMidi(p1, PackMidi(0xB9, 0, 1));      // bank: dropped without extPc
  SendShortMidi(p1, PackMidi(0xB9, 7, 100));    // other controller: dropped without extCc
  SendShortMidi(p1, PackMidi(0xB9, 123, 0));    // all notes off: always
  SendShortMidi(p1, PackMidi(0x98, 36, 100));   // channel 8 is not routed
  Settings.extPc = 1;
  SendShortMidi(p1, PackMidi(0xC9, 3));
  EXPECT_EQ(Lines("1"), (std::vector<std::string>{"E 95 23 64", "E B5 7B 00", "E C5 03"}));
  EXPECT_EQ(Lines("0"), std::vector<std::string>{"1 98 24 64"});
  ParseExtRouting(L"");
  ParseExtNoteMap(L"");
}

TEST_F(SoundTest, RoutedMessagesPlayOnTheirOwnPortWithoutAModule) {
  Devices({L"SC-8850"});
  Settings.extOn = 1;
  Settings.extDevice = L"SD-90";
  ParseExtRouting(L"1");
  ASSERT_TRUE(OpenMidiPort1());
  SendShortMidi(Sound.MidiOutPort1, PackMidi(0x90, 60, 1));
  EXPECT_EQ(Lines("0"), std::vector<std::string>{"1 90 3C 01"});
  ParseExtRouting(L"");
}

TEST_F(SoundTest, PacingSleepsByTheTimeLeft) {
  Devices({L"SC-8850"});
  ASSERT_TRUE(OpenMidiPort1());
  struct Case {
    uint32_t left;
    double minMs, maxMs;
  } cases[] = {{400, 45, 200}, {600, 55, 250}, {60, 7, 40}, {25, 0, 5}};
  for (const auto& c : cases) {
    OpenSendPacing(plat::TimeGetTime() + c.left);
    for (int i = 0; i < 3; ++i) SendShortMidi(Sound.MidiOutPort1, PackMidi(0xC0, 1));
    double t0 = plat::NowMs();
    SendShortMidi(Sound.MidiOutPort1, PackMidi(0xC0, 1));  // the 4th program change
    double slept = plat::NowMs() - t0;
    EXPECT_GE(slept, c.minMs) << c.left;
    EXPECT_LE(slept, c.maxMs) << c.left;
  }
  // Every 16th other message sleeps 1 ms; a passed deadline ends the window.
  OpenSendPacing(plat::TimeGetTime() + 5000);
  for (int i = 0; i < 15; ++i) SendShortMidi(Sound.MidiOutPort1, PackMidi(0x90, 1, 1));
  double t0 = plat::NowMs();
  SendShortMidi(Sound.MidiOutPort1, PackMidi(0x90, 1, 1));
  EXPECT_GE(plat::NowMs() - t0, 0.9);
  OpenSendPacing(plat::TimeGetTime() - 1);
  for (int i = 0; i < 8; ++i) SendShortMidi(Sound.MidiOutPort1, PackMidi(0xC0, 1));
  OpenSendPacing(0);
}

TEST_F(SoundTest, SplitSysExAndRawMode) {
  auto parts = SplitSysEx(std::string("\xF0\x41\xF7\x00\xF0\x7E", 6));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(Hex(parts[0]), "F0 41 F7");
  EXPECT_EQ(SplitSysEx(std::string("\x01\xF0\x01\xF0\x02\xF7\xF0\x03\xF7", 9)).size(), 2u);

  Devices({L"SC-8850", L"loopMIDI Port 1"});
  ASSERT_TRUE(OpenMidiPort1());
  ASSERT_TRUE(OpenMidiPort2());
  Settings.rawSound = 1;
  SendSysExBothPorts({0xF0, 0x01, 0xF7});
  EXPECT_FALSE(SendSysExToPort(0, {0xF0, 0x01, 0xF7}));
  SendShortMidi(Sound.MidiOutPort1, PackMidi(0x90, 1, 1));
  EXPECT_EQ(Lines("0"), std::vector<std::string>{"1 90 01 01"});
  Settings.rawSound = 0;
  SendSysExBothPorts({0xF0, 0x01, 0xF7});
  EXPECT_EQ(Lines("0").back(), "1 F0 01 F7");
  EXPECT_EQ(Lines("1"), std::vector<std::string>{"2 F0 01 F7"});
}

TEST_F(SoundTest, ABusySysExBufferIsReleasedOnlyAfterAReset) {
  plat::SetFakeMidiOutDevices({{L"SC-8850", Rec("0"), 0, false, true}});
  ASSERT_TRUE(OpenMidiPort1());
  std::vector<uint8_t> message(100, 0x11);
  message.front() = 0xF0;
  message.back() = 0xF7;
  double t0 = plat::NowMs();
  SendSysExBothPorts(message);
  double waited = plat::NowMs() - t0;
  EXPECT_GE(waited, 200.0 + message.size() - 1);  // the limit grows with the length
  std::vector<std::string> lines = Lines("0");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "1 reset");
}

TEST_F(SoundTest, TickStampInterpolation) {
  Sound.ClockSample = 0;
  EXPECT_EQ(InterpolateTickFraction(10, 2.0, false), 0.0);
  StampTickPosition(100);
  double f = InterpolateTickFraction(100, 2.0, false);
  EXPECT_GE(f, 0.0);
  EXPECT_LE(f, 11.5);
  EXPECT_EQ(InterpolateTickFraction(100, 2.0, true), 0.0);
  EXPECT_EQ(InterpolateTickFraction(100, 0.0, false), 0.0);
  EXPECT_EQ(InterpolateTickFraction(0, 2.0, false), 0.0);  // too far away
  // A stamp between whole milliseconds: the fraction follows the microsecond time, bracketed by
  // the clock readings around the call.
  for (double past : {0.3, 2.5, 7.7}) {
    const double before = plat::NowMs();
    StoreClockSample(100.25, before - past);
    const double fraction = InterpolateTickFraction(100, 1.0, false);
    const double after = plat::NowMs();
    EXPECT_GE(fraction, 0.25 + past - 0.002) << past;
    if (after - before + past < 19) EXPECT_LE(fraction, 0.25 + past + (after - before) + 0.002) << past;
  }
  // A whole-millisecond stamp of another tick than the fine one counts in milliseconds.
  Sound.ClockSample = (uint64_t{50 * 256} << 32) | plat::TimeGetTime();
  const double coarse = InterpolateTickFraction(50, 1.0, false);
  EXPECT_GE(coarse, 0.0);
  EXPECT_EQ(coarse, std::floor(coarse));
  StampTickPosition(-5);
  EXPECT_EQ(Sound.ClockSample.load() >> 32, 0u);
  StampTickPosition(1LL << 40);
  EXPECT_EQ(Sound.ClockSample.load() >> 32, 4294967040ull);
}

// A device that refuses a message: the sender answers with the failure, never with success, logs
// the first refusal of a run with the driver's words and the end of the run with its count, and
// a refused controller is not taken for one the module holds.
TEST_F(SoundTest, RefusedSendsAreReturnedAndLogged) {
  const std::string refusedBytes = "\x0B\x7F";  // expression 127, and any message holding those bytes
  plat::SetFakeMidiOutDevices({{L"SC-8850", Rec("0"), 0, false, false, plat::kMidiError, refusedBytes}});
  Settings.ccDedupOn = 1;
  ASSERT_TRUE(OpenMidiPort1());
  const auto logPath = plat::RealPath(L"C:/tavelo/system/debug_log.txt");
  FlushDebugLogQueue();  // lines queued before this test
  const size_t logStart = plat::ReadFileBytes(logPath).value_or("").size();
  EXPECT_EQ(SendShortMidi(Sound.MidiOutPort1, PackMidi(0xB0, 11, 127)), plat::kMidiError);
  EXPECT_EQ(SendShortMidi(Sound.MidiOutPort1, PackMidi(0xB0, 11, 127)), plat::kMidiError);  // tried again
  EXPECT_FALSE(SendSysExToPort(0, {0xF0, 0x41, 0x0B, 0x7F, 0xF7}));
  EXPECT_FALSE(SendSysExBothPorts({0xF0, 0x41, 0x0B, 0x7F, 0xF7}));
  EXPECT_EQ(SendShortMidi(Sound.MidiOutPort1, PackMidi(0xB0, 11, 100)), plat::kMidiOk);
  EXPECT_TRUE(SendSysExBothPorts({0xF0, 0x7E, 0xF7}));
  EXPECT_EQ(Lines("0"), (std::vector<std::string>{"1 B0 0B 64", "1 F0 7E F7"}));
  FlushDebugLogQueue();
  const std::string log = plat::ReadFileBytes(logPath).value_or("").substr(logStart);
  const std::string failed = WideToUtf8(L"[MIDI] 포트 1 전송 실패 (오류 1): scripted send failure 1");
  EXPECT_NE(log.find(failed), std::string::npos) << log;
  EXPECT_EQ(log.find(failed), log.rfind(failed)) << log;  // once for the run
  EXPECT_NE(log.find(WideToUtf8(L"[MIDI] 포트 1 전송 다시 됨 (그 사이 실패 4건)")), std::string::npos) << log;
}
