// The song's tones held on the rhythm channels and handed back, on a recording device.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/midi_out.h"
#include "playback/player.h"
#include "playback/services.h"
#include "sound/services.h"

namespace {

std::vector<std::string> Recorded(const std::filesystem::path& file) {
  std::vector<std::string> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) out.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
  return out;
}

}  // namespace

TEST(HeldSongTones, HandedBackInOrderOnceWithDrySendsOnBassAndDrums) {
  TempRoot root;
  Settings = AppSettings{};
  Settings.port1Device = L"P1";
  Settings.dryDrumBass = 1;
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({{L"P1", root.path() / "p1.rec", 0, false, false}});
  ASSERT_TRUE(OpenMidiPort1());
  ClearCcCache();
  ResetTrackingGlobals();
  HeldSongTones.program[6] = 26;
  HeldSongTones.bankMsb[6] = 0;
  HeldSongTones.bankLsb[6] = 1;
  HeldSongTones.reverb[6] = 50;
  HeldSongTones.chorus[9] = 30;  // a drum channel: dry
  HeldSongTones.program[9] = 8;
  HeldSongTones.pending = 1;
  SendHeldSongTones(Sound.MidiOutPort1.load());
  SendHeldSongTones(Sound.MidiOutPort1.load());  // emptied: nothing again
  EXPECT_EQ(Recorded(root.path() / "p1.rec"),
            (std::vector<std::string>{"B6 00 00", "B6 20 01", "C6 1A", "B6 5B 32", "C9 08", "B9 5D 00"}));
  EXPECT_EQ(HeldSongTones.pending.load(), 0);
  EXPECT_EQ(HeldSongTones.program[6].load(), 0xFF);
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({});
  Settings = AppSettings{};
}
