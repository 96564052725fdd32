// One thread closes and reopens the ports while others send: no send may reach a closed device
// (run under ThreadSanitizer by tools/checks/tsan-sound.sh).
#include "sound_fixture.h"

#include <thread>

TEST_F(SoundTest, StressReopenWhileSending) {
  Devices({L"SC-8850", L"loopMIDI Port 1"});
  Settings.ccDedupOn = 1;
  ASSERT_TRUE(OpenMidiPort1());
  std::atomic<bool> stop{false};
  std::atomic<long> sent{0}, refused{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 3; ++t)
    senders.emplace_back([&, t] {
      unsigned n = 0;
      while (!stop.load()) {
        MidiOutHandle h = (n & 1) ? GetPortHandle(1) : Sound.MidiOutPort1.load();
        int r = SendShortMidi(h, PackMidi(0xB0 | t, 10, n & 127));
        (r == 0 ? sent : refused).fetch_add(1);
        if (n % 64 == 0) SendSysExBothPorts({0xF0, 0x7E, static_cast<uint8_t>(t), 0xF7});
        ++n;
      }
    });
  for (int i = 0; i < 200; ++i) {
    if (i % 2)
      CloseMidiPorts();
    else
      ApplyMidiDeviceSelection(L"", L"");
    OpenMidiPort1();
    OpenMidiPort2();
  }
  stop = true;
  for (auto& s : senders) s.join();
  EXPECT_GT(sent.load(), 0);
  CloseMidiPorts();
}
