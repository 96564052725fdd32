#include "test_paths.h"
#include "sound_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "base/text.h"
#include "platform/clock.h"
#include "platform/synth_library.h"

namespace {
const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
}

TEST_F(SoundTest, SynthPlaysANoteFromSendShortMidiIntoTheFileDriver) {
  if (!std::filesystem::exists(kSoundFont)) GTEST_SKIP() << "TimGM6mb SoundFont not installed";
  std::filesystem::create_directories(root_.path() / "synth");
  std::filesystem::create_symlink(kSoundFont, root_.path() / "synth" / "TimGM6mb.sf2");
  auto out = root_.path() / "render.raw";
  SetSynthRenderFile(out.wstring());
  Settings.builtinSynth = 1;
  Settings.synthSf2 = L"../escape.sf2";  // not a bare name: the first SoundFont is taken
  ASSERT_TRUE(OpenMidiPort1()) << WideToUtf8(GetSynthStatusText());
  ASSERT_TRUE(OpenMidiPort2());
  EXPECT_EQ(Sound.MidiOutPort1.load(), BUILTIN_SYNTH_PORT1);
  EXPECT_EQ(Sound.MidiOutPort2.load(), BUILTIN_SYNTH_PORT2);
  EXPECT_EQ(Sound.BuiltInSynthState.load(), 1);
  EXPECT_EQ(LoadedSoundFontName(), L"TimGM6mb.sf2");
  EXPECT_EQ(SendShortMidi(Sound.MidiOutPort1, PackMidi(0xC0, 0)), 0);
  EXPECT_EQ(SendShortMidi(Sound.MidiOutPort1, PackMidi(0x90, 60, 120)), 0);
  plat::SleepMs(400);
  SendShortMidi(Sound.MidiOutPort1, PackMidi(0x80, 60, 0));
  plat::SleepMs(100);
  std::ifstream in(out, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 4000u);
  size_t loud = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    int16_t v = static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
    if (v > 300 || v < -300) ++loud;
  }
  EXPECT_GT(loud, 100u);

  // GS messages: reverb values, reset, rhythm part on port 2; markers are never closed.
  SendSysExBothPorts(BuildGsDt1(0x40, 0x01, 0x33, {100}));
  EXPECT_EQ(GetSynthGsEffects().reverbLevel, 100);
  SendSysExBothPorts(BuildGsDt1(0x40, 0x01, 0x3A, {50}));
  EXPECT_EQ(GetSynthGsEffects().chorusLevel, 50);
  SendSysExBothPorts(BuildGsDt1(0x40, 0x01, 0x34, {100}));
  SendSysExBothPorts(BuildGsDt1(0x40, 0x00, 0x7F, {0}));
  SynthGsEffects fx = GetSynthGsEffects();
  EXPECT_EQ(fx.reverbTime, 64);
  EXPECT_EQ(fx.reverbLevel, 64);
  EXPECT_EQ(fx.chorusLevel, 0);
  EXPECT_EQ(fx.reverbMacro, 4);
  for (int ch : {9, 10, 11, 12, 25, 26, 27, 28}) EXPECT_EQ(SynthChannelBank(ch), 128) << ch;
  EXPECT_EQ(SynthChannelBank(0), 0);
  EXPECT_EQ(SynthChannelBank(16), 0);
  // Block 1 (part 1) as a rhythm part on port 2: synthesizer channel 16 becomes a drum channel.
  EXPECT_TRUE(SendSysExToPort(1, BuildGsDt1(0x40, 0x11, 0x15, {1})));
  EXPECT_EQ(SynthChannelBank(16), 128);
  EXPECT_TRUE(SendSysExToPort(0, BuildGsDt1(0x40, 0x1A, 0x15, {1})));  // block A: channel 10
  EXPECT_EQ(SynthChannelBank(10), 128);
  EXPECT_TRUE(SendSysExToPort(0, BuildGsDt1(0x40, 0x12, 0x15, {0})));  // block 2: channel 1 melodic
  EXPECT_EQ(SynthChannelBank(1), 0);
  SendSysExBothPorts(BuildGsDt1(0x40, 0x00, 0x7F, {0}));  // GS reset: the standard drum channels again
  EXPECT_EQ(SynthChannelBank(16), 0);
  EXPECT_EQ(SynthChannelBank(25), 128);
  // A reset meant for port 2 (GS reset or GM System On) resets port 2's channels only: port 1's
  // channel 0, made a drum part, stays one, and the shared effects stay as they are.
  const std::vector<uint8_t> gmOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  for (const auto& reset : {BuildGsDt1(0x40, 0x00, 0x7F, {0}), gmOn}) {
    EXPECT_TRUE(SendSysExToPort(0, BuildGsDt1(0x40, 0x11, 0x15, {1})));
    EXPECT_TRUE(SendSysExToPort(1, BuildGsDt1(0x40, 0x11, 0x15, {1})));
    SendSysExBothPorts(BuildGsDt1(0x40, 0x01, 0x33, {100}));
    ASSERT_EQ(SynthChannelBank(0), 128);
    ASSERT_EQ(SynthChannelBank(16), 128);
    EXPECT_TRUE(SendSysExToPort(1, reset));
    EXPECT_EQ(SynthChannelBank(0), 128);
    EXPECT_EQ(SynthChannelBank(16), 0);
    EXPECT_EQ(SynthChannelBank(9), 128);
    EXPECT_EQ(SynthChannelBank(25), 128);
    EXPECT_EQ(GetSynthGsEffects().reverbLevel, 100);
  }
  SendSysExBothPorts(BuildGsDt1(0x40, 0x00, 0x7F, {0}));
  EXPECT_EQ(SynthChannelBank(0), 0);
  EXPECT_EQ(CloseMidiOut(Sound.MidiOutPort1), 0);
  EXPECT_EQ(Sound.MidiOutPort1.load(), BUILTIN_SYNTH_PORT1);
  EXPECT_TRUE(SwapSoundfont(L"TimGM6mb.sf2"));
  EXPECT_FALSE(SwapSoundfont(L"missing.sf2"));
  CloseMidiPorts();
}

// The synthesizer's library is bound once per process and a started synthesizer runs to the end
// of the run, so an earlier test that started the real one would answer this one. The checks run
// in a fresh copy of this program (gtest's "threadsafe" death-test style starts one) and report
// by their exit code.
TEST_F(SoundTest, ALibraryMissingARequiredFunctionFailsTheStartAndFallsBack) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto checks = [this] {
    int failures = 0;
    auto check = [&failures](bool ok, const char* what) {
      if (!ok) {
        std::fprintf(stderr, "failed: %s\n", what);
        ++failures;
      }
    };
    std::filesystem::create_directories(root_.path() / "synth");
    std::filesystem::copy_file(TAVELO_FAKE_SYNTH_LIB, root_.path() / "synth" / "libfakefluidsynth.so");
    Settings.builtinSynth = 1;
    Devices({L"SC-8850"});
    check(!StartBuiltInSynth(), "the start fails");
    check(Sound.BuiltInSynthState.load() == -1, "state -1");
    check(GetSynthStatusText() == L"fluidsynth 함수 해석 실패 - 라이브러리가 fluidsynth 본체가 아니거나 버전이 "
                                  L"너무 다릅니다 (없는 함수: fluid_settings_setint)",
          "the status names the missing function");
    if (GetSynthStatusText().find(L"DLL") != std::wstring::npos) check(false, "no Windows words");
    check(!StartBuiltInSynth(), "not retried while failed");
    check(OpenMidiPort1(), "the real device instead");
    check(!IsSynthMarker(Sound.MidiOutPort1.load()), "port 1 is the device");
    ResetBuiltInSynthFailure();
    check(Sound.BuiltInSynthState.load() == 0, "a reset allows a new start");
    std::fflush(stderr);
    std::_Exit(failures == 0 ? 0 : 1);
  };
  EXPECT_EXIT(checks(), ::testing::ExitedWithCode(0), "");
}

// Every kind of channel message reaches the synthesizer, key and channel pressure included, on
// both ports (port 2 is synthesizer channels 16 to 31). The library is a stand-in that writes
// down each call; like above, the checks run in a fresh copy of this program.
TEST_F(SoundTest, EveryChannelMessageKindReachesTheSynthesizer) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto checks = [this] {
    std::filesystem::create_directories(root_.path() / "synth");
    std::filesystem::copy_file(TAVELO_RECORDING_SYNTH_LIB, root_.path() / "synth" / "librecordingfluidsynth.so");
    std::ofstream(root_.path() / "synth" / "any.sf2") << "x";
    const auto calls = root_.path() / "calls.txt";
    setenv("FAKE_SYNTH_CALLS", calls.c_str(), 1);
    Settings.builtinSynth = 1;
    if (!OpenMidiPort1() || !OpenMidiPort2() || !IsSynthMarker(Sound.MidiOutPort2.load())) {
      std::fprintf(stderr, "no synthesizer: %s\n", WideToUtf8(GetSynthStatusText()).c_str());
      std::_Exit(2);
    }
    std::ofstream(calls, std::ios::trunc).close();
    const struct {
      int port;
      uint32_t message;
      const char* call;
    } cases[] = {
        {0, PackMidi(0x92, 60, 100), "noteon 2 60 100"},
        {0, PackMidi(0xA2, 60, 45), "key_pressure 2 60 45"},
        {0, PackMidi(0xD2, 77), "channel_pressure 2 77 0"},
        {1, PackMidi(0xA5, 64, 127), "key_pressure 21 64 127"},
        {1, PackMidi(0xD5, 12), "channel_pressure 21 12 0"},
        {0, PackMidi(0xE2, 0, 80), "bend 2 10240 0"},
        {0, PackMidi(0xC2, 5), "program 2 5 0"},
        {0, PackMidi(0x82, 60, 0), "noteoff 2 60 0"},
    };
    for (const auto& c : cases) SendShortMidi(c.port == 0 ? Sound.MidiOutPort1.load() : Sound.MidiOutPort2.load(), c.message);
    std::ifstream in(calls);
    std::vector<std::string> got;
    for (std::string line; std::getline(in, line);) got.push_back(line);
    int failures = got.size() == std::size(cases) ? 0 : 1;
    for (size_t i = 0; i < std::size(cases); ++i)
      if (i >= got.size() || got[i] != cases[i].call) {
        std::fprintf(stderr, "call %zu: want \"%s\", got \"%s\"\n", i, cases[i].call, i < got.size() ? got[i].c_str() : "");
        ++failures;
      }
    std::fflush(stderr);
    std::_Exit(failures == 0 ? 0 : 1);
  };
  EXPECT_EXIT(checks(), ::testing::ExitedWithCode(0), "");
}

// A library the loader refuses is reported in the loader's own words.
TEST_F(SoundTest, ALibraryThatCannotBeLoadedIsToldInTheLoadersWords) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto checks = [this] {
    std::filesystem::create_directories(root_.path() / "synth");
    std::ofstream(root_.path() / "synth" / "libfluidsynth-broken.so") << "not a library";
    Settings.builtinSynth = 1;
    StartBuiltInSynth();  // the system's library may stand in afterwards
    std::ifstream in(root_.path() / "system" / "debug_log.txt");
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string line = WideToUtf8(L"내장음원: 라이브러리 로드 실패 - libfluidsynth-broken.so: ");
    const size_t at = log.find(line);
    const size_t lineEnd = at == std::string::npos ? at : log.find('\n', at);
    // dlopen's own message names the file it could not load.
    const bool ok = at != std::string::npos &&
                    log.substr(at + line.size(), lineEnd - at - line.size()).find("libfluidsynth-broken.so") !=
                        std::string::npos &&
                    log.find("DLL") == std::string::npos;
    if (!ok) std::fprintf(stderr, "log: %s\n", log.c_str());
    std::fflush(stderr);
    std::_Exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(checks(), ::testing::ExitedWithCode(0), "");
}

TEST(SynthLibraryFiles, NamesWithFluidsynthInAnyCaseInSortedOrder) {
  TempRoot root;
  auto dir = root.path() / "synth";
  std::filesystem::create_directories(dir / "fluidsynth-dir.so");
  for (const char* name : {"libFluidSynth-3.so", "afluidsynth.so", "fluidsynth", "other.so"})
    std::ofstream(dir / name) << "x";
  auto files = plat::SynthLibraryFiles(dir);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].filename(), "afluidsynth.so");
  EXPECT_EQ(files[1].filename(), "fluidsynth");
  EXPECT_EQ(files[2].filename(), "libFluidSynth-3.so");
}
