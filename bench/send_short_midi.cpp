// Speed of SendShortMidi to a recording device: messages per second and the cost per message,
// once with the device discarding (our own path) and once writing its record file.
#include <cstdio>
#include <filesystem>

#include "base/settings/app_settings.h"
#include "platform/clock.h"
#include "platform/midi_out.h"
#include "platform/paths.h"
#include "sound/services.h"

namespace {

double Run(MidiOutHandle h, int count) {
  double t0 = plat::NowMs();
  for (int i = 0; i < count; ++i) SendShortMidi(h, PackMidi(0x90 | (i & 15), i & 127, 64));
  return plat::NowMs() - t0;
}

void Report(const char* what, double ms, int count) {
  std::printf("%-34s %10.0f messages/s  %7.3f us/message\n", what, count / (ms / 1000.0),
              ms * 1000.0 / count);
}

}  // namespace

int main() {
  auto root = std::filesystem::temp_directory_path() / "tavelo_bench_send";
  std::filesystem::create_directories(root / "system");
  plat::SetRootDir(root);
  constexpr int kCount = 200000;

  plat::SetFakeMidiOutDevices({{L"Discard", {}, 0, false, false}});
  Settings.port1Device = L"Discard";
  OpenMidiPort1();
  Run(Sound.MidiOutPort1, 10000);
  Report("SendShortMidi, device discards", Run(Sound.MidiOutPort1, kCount), kCount);
  Settings.ccDedupOn = 1;
  Report("  with controller de-duplication", Run(Sound.MidiOutPort1, kCount), kCount);
  Settings.ccDedupOn = 0;

  CloseMidiPorts();
  auto record = root / "send.rec";
  std::filesystem::remove(record);
  plat::SetFakeMidiOutDevices({{L"record:" + record.wstring(), {}, 0, false, false}});
  Settings.port1Device = L"record:" + record.wstring();
  OpenMidiPort1();
  Report("SendShortMidi, recording device", Run(Sound.MidiOutPort1, kCount), kCount);
  CloseMidiPorts();
  std::filesystem::remove_all(root);
  return 0;
}
