#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "platform/midi_out.h"

namespace {
std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
}  // namespace

// The environment scripts the devices at first use: names, record files and open errors.
TEST(MidiOutLayer, ScriptedDevicesFromTheEnvironmentRecordEveryMessage) {
  auto dir = std::filesystem::temp_directory_path() / ("tavelo_midi_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  std::string rec = (dir / "a.rec").string();
  std::string env = "record:" + rec + ";SC-8850=" + (dir / "b.rec").string() + ";Busy One!4";
  ::setenv("TAVELO_MIDI_OUT", env.c_str(), 1);

  unsigned n = plat::MidiOutDeviceCount();
  ASSERT_GE(n, 3u);
  unsigned first = n - 3;  // real devices, when any, come first
  std::wstring name;
  ASSERT_TRUE(plat::MidiOutDeviceName(first + 1, &name));
  EXPECT_EQ(name, L"SC-8850");
  EXPECT_FALSE(plat::MidiOutDeviceName(n, &name));

  plat::MidiOutDevice* dev = nullptr;
  EXPECT_EQ(plat::MidiOutOpen(first + 2, "1", &dev), plat::kMidiAllocated);
  EXPECT_EQ(dev, nullptr);
  EXPECT_EQ(plat::MidiOutOpen(n + 5, "1", &dev), plat::kMidiBadDeviceId);

  ASSERT_EQ(plat::MidiOutOpen(first, "2", &dev), plat::kMidiOk);
  EXPECT_EQ(plat::MidiOutShortMsg(dev, 0x00643C90u), plat::kMidiOk);
  EXPECT_EQ(plat::MidiOutShortMsg(dev, 0x000005C1u), plat::kMidiOk);  // two bytes
  EXPECT_EQ(plat::MidiOutShortMsg(dev, 0x00000012u), plat::kMidiInvalidParam);  // no status
  const uint8_t sysex[] = {0xF0, 0x7E, 0xF7};
  EXPECT_EQ(plat::MidiOutLongMsg(dev, sysex, 3), plat::kMidiOk);
  EXPECT_TRUE(plat::MidiOutLongDone(dev));
  EXPECT_EQ(plat::MidiOutClose(dev), plat::kMidiOk);
  EXPECT_EQ(plat::MidiOutShortMsg(nullptr, 0x90), plat::kMidiInvalidHandle);

  std::string text = ReadAll(rec);
  // "<microseconds> <tag> <bytes>" per message.
  size_t p1 = text.find(" 2 90 3C 64\n"), p2 = text.find(" 2 C1 05\n"), p3 = text.find(" 2 F0 7E F7\n");
  EXPECT_NE(p1, std::string::npos) << text;
  EXPECT_LT(p1, p2);
  EXPECT_LT(p2, p3);
  EXPECT_EQ(text.find_first_not_of("0123456789"), text.find(' '));
  std::filesystem::remove_all(dir);
  ::unsetenv("TAVELO_MIDI_OUT");
}

// A device that refuses messages answers with the error and says why; the others go through.
TEST(MidiOutLayer, ARefusedSendIsAnErrorWithTheDriversWords) {
  auto dir = std::filesystem::temp_directory_path() / ("tavelo_midi_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  plat::SetFakeMidiOutDevices({{L"Picky", dir / "p.rec", 0, false, false, plat::kMidiError, "\x7E"}});
  const unsigned n = plat::MidiOutDeviceCount();
  plat::MidiOutDevice* dev = nullptr;
  ASSERT_EQ(plat::MidiOutOpen(n - 1, "1", &dev), plat::kMidiOk);
  EXPECT_EQ(plat::MidiOutLastError(dev), "");
  const uint8_t refused[] = {0xF0, 0x7E, 0xF7}, taken[] = {0xF0, 0x41, 0xF7};
  EXPECT_EQ(plat::MidiOutLongMsg(dev, refused, 3), plat::kMidiError);
  EXPECT_EQ(plat::MidiOutShortMsg(dev, 0x007E3C90u), plat::kMidiError);
  EXPECT_EQ(plat::MidiOutLongMsg(dev, taken, 3), plat::kMidiOk);
  EXPECT_EQ(plat::MidiOutLastError(dev), "scripted send failure 1");
  EXPECT_EQ(plat::MidiOutLastError(nullptr), "");
  plat::MidiOutClose(dev);
  EXPECT_EQ(ReadAll(dir / "p.rec").find("7E"), std::string::npos);
  EXPECT_NE(ReadAll(dir / "p.rec").find("F0 41 F7"), std::string::npos);
  plat::SetFakeMidiOutDevices({});
  std::filesystem::remove_all(dir);
}
