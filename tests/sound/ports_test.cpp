#include "sound_fixture.h"

#include "base/text.h"

#include "base/debug_log.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/synth_library.h"

namespace {

std::string DebugLogText() {
  FlushDebugLogQueue();
  return plat::ReadFileBytes(plat::RealPath(L"C:/tavelo/system/debug_log.txt")).value_or("");
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

}  // namespace

TEST(DeviceNames, NormalizeAndStrip) {
  struct Case {
    std::wstring in, stripped, normalized;
  } cases[] = {
      {L"  SC-8850 \r\n", L"SC-8850", L"SC-8850"},
      {L"2- SC-88Pro", L"2- SC-88Pro", L"SC-88Pro"},
      {L"12-  loopMIDI Port 1", L"12-  loopMIDI Port 1", L"loopMIDI Port 1"},
      {L"2-", L"2-", L""},
      {L"123", L"123", L"123"},
      {L"SC\x01-88\t", L"SC-88", L"SC-88"},
      {std::wstring(L"UM-ONE\0junk", 11), L"UM-ONE", L"UM-ONE"},
      {L" \t\r\n", L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StripControlAndTrim(c.in), c.stripped);
    EXPECT_EQ(NormalizeDeviceName(c.in), c.normalized);
  }
}

TEST_F(SoundTest, DeviceSearchExactBeforeSubstringAndCaseMatters) {
  struct Case {
    std::vector<std::wstring> devices;
    std::vector<std::wstring> wanted;
    bool found;
    unsigned index;
  } cases[] = {
      {{L"loopMIDI Port 1", L"SC-8850"}, {L"loopMIDI Port", L"SC-88Pro", L"SC-88", L"SC-8850"}, true, 1},
      {{L"loopMIDI Port", L"SC-8850"}, {L"loopMIDI Port", L"SC-8850"}, true, 0},
      {{L"Roland SC-8850"}, {L"loopMIDI Port", L"SC-88Pro", L"SC-88"}, true, 0},
      {{L"x", L"2- SC-88Pro"}, {L"SC-88Pro"}, true, 1},
      {{L"usb midi"}, {L"USB MIDI"}, false, 0},
      {{}, {L"SC-8850"}, false, 0},
      {{L"SC-8850"}, {L"", L"  "}, false, 0},
  };
  for (const auto& c : cases) {
    Devices(c.devices);
    unsigned index = 99;
    EXPECT_EQ(FindMidiOutDevice(c.wanted, &index), c.found) << c.wanted.front();
    EXPECT_EQ(index, c.index) << c.wanted.front();
  }
}

TEST_F(SoundTest, PortsOpenTheFallbacksAndPortTwoUsesOnlyItsDefault) {
  // Unnamed ports take the machine's first and second output ports; a through port makes no sound.
  Devices({L"Midi Through:Midi Through Port-0 14:0", L"SD-90:SD-90 Part A 20:0", L"SD-90:SD-90 Part B 20:1"});
  EXPECT_EQ(DefaultPortName(0), L"SD-90:SD-90 Part A 20:0");
  EXPECT_EQ(DefaultPortName(1), L"SD-90:SD-90 Part B 20:1");
  ASSERT_TRUE(OpenMidiPort1());
  ASSERT_TRUE(OpenMidiPort2());
  SendShortMidi(Sound.MidiOutPort1, PackMidi(0x90, 60, 100));
  SendShortMidi(Sound.MidiOutPort2, PackMidi(0x91, 61, 100));
  EXPECT_EQ(Lines("1"), std::vector<std::string>{"1 90 3C 64"});  // part A on port 1
  EXPECT_EQ(Lines("2"), std::vector<std::string>{"2 91 3D 64"});  // part B on port 2
  EXPECT_EQ(GetPortHandle(1), Sound.MidiOutPort2.load());
  EXPECT_EQ(GetPortHandle(0), Sound.MidiOutPort1.load());

  // Configured names that are missing: port 1 falls back to the list, port 2 to its default only.
  CloseMidiPorts();
  Devices({L"SC-88Pro"}, "b");
  Settings.port1Device = L"Nothing here";
  Settings.port2Device = L"Nothing either";
  EXPECT_TRUE(OpenMidiPort1());
  EXPECT_FALSE(OpenMidiPort2());
  EXPECT_EQ(Sound.Port2OpenTried.load(), 1);
  EXPECT_EQ(GetPortHandle(1), Sound.MidiOutPort1.load());  // port-2 events go to port 1
  SendShortMidi(GetPortHandle(1), PackMidi(0x92, 1, 2));
  EXPECT_EQ(Lines("b0"), std::vector<std::string>{"1 92 01 02"});

  // Port 2 stays tried until a device change clears it.
  Devices({L"SC-88Pro", L"SD-90 Part B"}, "c");
  EXPECT_FALSE(OpenMidiPort2());
  ApplyMidiDeviceSelection(L"  SC-88Pro \t", L"\x01SD-90 Part B\r\n");
  EXPECT_EQ(Settings.port1Device, L"SC-88Pro");
  EXPECT_EQ(Settings.port2Device, L"SD-90 Part B");
  EXPECT_EQ(Sound.Port2OpenTried.load(), 0);
  EXPECT_EQ(Sound.MidiOutPort1.load(), 0u);
  EXPECT_TRUE(OpenMidiPort2());
}

TEST_F(SoundTest, MissingDeviceIsReportedOncePerRunAndOpenErrorsOncePerNumber) {
  Devices({});
  EXPECT_FALSE(OpenMidiPort1());  // no SoundFont either: the synthesizer cannot stand in
  EXPECT_FALSE(OpenMidiPort1());
  EXPECT_EQ(GetMidiPortStatusText().rfind(L"1포트: MIDI 출력 장치를 찾지 못했습니다 (무음 상태)", 0), 0u);
  EXPECT_EQ(Count(DebugLogText(), "[MIDI] 1포트 열기 실패 - 출력 장치 없음"), 1u);
  EXPECT_EQ(BuildMidiDeviceList(), L"['내장음원(FluidSynth)']");

  plat::SetFakeMidiOutDevices({{L"SC-8850", {}, plat::kMidiAllocated, false, false},
                               {L"Bad caps", {}, 0, true, false}});
  EXPECT_FALSE(OpenMidiPort1());
  EXPECT_FALSE(OpenMidiPort1());
  EXPECT_EQ(GetMidiPortStatusText(), L"1포트: 장치를 열지 못했습니다 - 다른 프로그램이 이미 사용 중 (무음 상태)");
  std::string log = DebugLogText();
  EXPECT_EQ(Count(log, "오류 4 (다른 프로그램이 이미 사용 중), 장치번호 0, 지정이름 [자동탐색]"), 1u);
  EXPECT_EQ(BuildMidiDeviceList(), L"['내장음원(FluidSynth)','SC-8850']");

  // A device that appears later is found by the next call.
  Devices({L"UM-ONE"});
  EXPECT_TRUE(OpenMidiPort1());
  EXPECT_EQ(GetMidiPortStatusText(), L"");
}

// Where port 1's sound goes when the device the settings name (or none) is missing. A started
// synthesizer runs to the end of the process, so each case runs in a fresh copy of this program
// (gtest's "threadsafe" death-test style) and reports by its exit code.
TEST_F(SoundTest, OutputFallsBackToTheBuiltInSynthesizerWhenNoDeviceIsThere) {
  const char* systemFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  if (!std::filesystem::exists(systemFont)) GTEST_SKIP() << "TimGM6mb SoundFont not installed";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* what;
    std::vector<std::wstring> devices;
    std::wstring named;
    bool synthChosen;
    bool systemSoundFont;  // the system holds a General MIDI SoundFont
    bool opens;
    bool synth;                // port 1 is the synthesizer
    std::wstring statusPart;   // in the device line ("" = the line stays empty)
  } cases[] = {
      {"no device named", {}, L"", false, true, true, true, L"1포트: MIDI 출력 장치가 없어 내장음원으로 재생합니다 (사운드폰트 TimGM6mb.sf2)"},
      {"device missing", {}, L"SC-8850", false, true, true, true,
       L"1포트: 지정한 MIDI 장치 [SC-8850]가 없어 내장음원으로 재생합니다"},
      {"device present", {L"SC-8850"}, L"SC-8850", false, true, true, false, L""},
      {"synthesizer chosen", {L"SC-8850"}, L"SC-8850", true, true, true, true, L""},
      {"no SoundFont anywhere", {}, L"", false, false, false, false, L"timgm6mb-soundfont 또는 fluid-soundfont-gm 패키지를 설치"},
  };
  for (const Case& c : cases) {
    auto checks = [&] {
      int failures = 0;
      auto check = [&failures, &c](bool ok, const char* what) {
        if (!ok) {
          std::fprintf(stderr, "%s: failed: %s\n", c.what, what);
          ++failures;
        }
      };
      const auto fonts = root_.path() / "fonts-of-the-system";
      std::filesystem::create_directories(fonts);
      if (c.systemSoundFont) std::filesystem::create_symlink(systemFont, fonts / "TimGM6mb.sf2");
      plat::SetSystemSoundFontDir(fonts);
      SetSynthRenderFile((root_.path() / "render.raw").wstring());
      Devices(c.devices);
      Settings.port1Device = c.named;
      Settings.builtinSynth = c.synthChosen ? 1 : 0;
      check(OpenMidiPort1() == c.opens, "port 1 opens");
      check(OpenMidiPort1() == c.opens, "port 1 opens again");
      check(IsSynthMarker(Sound.MidiOutPort1.load()) == c.synth, "port 1 on the synthesizer");
      if (c.synth) check(OpenMidiPort2() && Sound.MidiOutPort2.load() == BUILTIN_SYNTH_PORT2, "port 2 joins it");
      const std::wstring status = GetMidiPortStatusText();
      check(c.statusPart.empty() ? status.empty() : status.find(c.statusPart) != std::wstring::npos, "device line");
      const std::string log = DebugLogText();
      check(Count(log, "내장음원으로 재생합니다") == (c.synth && !c.synthChosen ? 1u : 0u), "told once in the log");
      check(Count(log, "[MIDI] 1포트 열기 실패") == (c.opens ? 0u : 1u), "a failure is logged once");
      // The operator's choice stays as it was.
      check(Settings.port1Device == c.named && Settings.builtinSynth == (c.synthChosen ? 1 : 0), "settings kept");
      if (!c.synth) check(Sound.BuiltInSynthState.load() == (c.opens ? 0 : -1), "synthesizer state");
      if (!failures) std::fprintf(stderr, "status: %s\n", WideToUtf8(status).c_str());
      std::fflush(stderr);
      std::_Exit(failures == 0 ? 0 : 1);
    };
    EXPECT_EXIT(checks(), ::testing::ExitedWithCode(0), "") << c.what;
  }
}

TEST_F(SoundTest, PortTwoOpenFailureSetsTheStatusOnlyWhenEmpty) {
  plat::SetFakeMidiOutDevices({{L"SC-8850", {}, plat::kMidiOk, false, false},
                               {L"SD-90 Part B", {}, plat::kMidiNoDriver, false, false}});
  EXPECT_FALSE(OpenMidiPort2());
  EXPECT_EQ(GetMidiPortStatusText(), L"2포트: 장치를 열지 못했습니다 - 드라이버 없음 (트랙 17~32 무음)");
  EXPECT_NE(DebugLogText().find("[MIDI] 2포트 열기 실패 - 오류 6 (드라이버 없음), 장치번호 1, 지정이름 [SD-90 Part B]"),
            std::string::npos);
}

TEST_F(SoundTest, ExternalModuleTexts) {
  Devices({L"SC-8850"});
  EXPECT_FALSE(OpenExternalModule());
  EXPECT_EQ(GetExtModuleStatusText(), L"외부 모듈 장치가 지정되지 않았습니다");
  Settings.extDevice = L"SD-90";
  EXPECT_FALSE(OpenExternalModule());  // tried; no retry until closed
  CloseExternalModule();
  EXPECT_FALSE(OpenExternalModule());
  EXPECT_EQ(GetExtModuleStatusText(), L"장치를 찾지 못했습니다 - [SD-90]");
  CloseExternalModule();
  plat::SetFakeMidiOutDevices({{L"SD-90", {}, plat::kMidiAllocated, false, false}});
  EXPECT_FALSE(OpenExternalModule());
  EXPECT_EQ(GetExtModuleStatusText(), L"장치를 열지 못했습니다 - 다른 프로그램이 이미 사용 중 [SD-90]");
  CloseExternalModule();
  plat::SetFakeMidiOutDevices({{L"SD-90", Rec("ext"), 0, false, false}});
  EXPECT_TRUE(OpenExternalModule());
  EXPECT_EQ(GetExtModuleStatusText(), L"");
  CloseExternalModule();
  std::vector<std::string> lines = Lines("ext");
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[0], "E B0 7B 00");
  EXPECT_EQ(lines[15], "E BF 7B 00");
}

TEST_F(SoundTest, DeviceChangeSilencesOpenPortsAndOldHandlesSendNothing) {
  Devices({L"SC-8850"});
  ASSERT_TRUE(OpenMidiPort1());
  MidiOutHandle old = Sound.MidiOutPort1;
  CloseMidiPorts();
  std::vector<std::string> lines = Lines("0");
  ASSERT_EQ(lines.size(), 32u);
  EXPECT_EQ(lines[0], "1 B0 7B 00");
  EXPECT_EQ(lines[1], "1 B0 78 00");
  EXPECT_EQ(SendShortMidi(old, PackMidi(0x90, 60, 1)), plat::kMidiInvalidHandle);
  ASSERT_TRUE(OpenMidiPort1());
  EXPECT_NE(Sound.MidiOutPort1.load(), old);  // a reopened slot never gets an old handle back
  EXPECT_EQ(SendShortMidi(old, PackMidi(0x90, 60, 1)), plat::kMidiInvalidHandle);
  EXPECT_EQ(Lines("0").size(), 32u);
  EXPECT_EQ(CloseMidiOut(BUILTIN_SYNTH_PORT1), 0);
  EXPECT_EQ(CloseMidiOut(Sound.MidiOutPort1), 0);
  EXPECT_EQ(Sound.MidiOutPort1.load(), 0u);
}

TEST_F(SoundTest, SoundFontListHoldsTheSf2FilesOfTheSynthFolder) {
  EXPECT_EQ(BuildSoundFontList(), L"[]");
  std::filesystem::create_directories(root_.path() / "synth" / "dir.sf2");
  plat::WriteFileAtomic(root_.path() / "synth" / "b.SF2", "x");
  plat::WriteFileAtomic(root_.path() / "synth" / "a'1.sf2", "x");
  plat::WriteFileAtomic(root_.path() / "synth" / "readme.txt", "x");
  EXPECT_EQ(BuildSoundFontList(), L"['a\\'1.sf2','b.SF2']");
}
