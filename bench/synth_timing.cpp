// Timing of the built-in synthesizer's audio: a metronome of 256 clicks (sixteenths at 120 bpm,
// 125 ms apart) played by the player into the synthesizer's file output three times, the second
// time with render stalls (the audio thread held up 80 ms, four times); each time FluidSynth's
// own MIDI player renders the same file into its own file driver alongside. The onset of every
// click is found in the audio, and the error of every interval against 125 ms is printed for
// both (p99, max). Needs the TimGM6mb SoundFont (fluid-soundfont / timgm6mb-soundfont).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/realtime_thread.h"
#include "base/settings/app_settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/synth_library.h"
#include "playback/services.h"
#include "sound/builtin_synth.h"
#include "sound/midi_ports.h"
#include "sound/services.h"
#include "ui/play_commands.h"

namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kClicks = 256;
constexpr int kPpq = 480;
constexpr int kStepTicks = 120;            // a sixteenth
constexpr double kIntervalMs = 125.0;      // at 120 bpm
constexpr double kRate = 44100.0;

std::string Vlq(uint32_t v) {
  std::string out(1, static_cast<char>(v & 0x7F));
  while (v >>= 7) out.insert(out.begin(), static_cast<char>(0x80 | (v & 0x7F)));
  return out;
}

// One track: tempo 120 bpm, then 256 wood-block clicks on the drum channel.
std::string MetronomeFile() {
  std::string body = Vlq(0) + std::string("\xFF\x51\x03\x07\xA1\x20", 6);
  for (int i = 0; i < kClicks; ++i) {
    body += Vlq(i == 0 ? 0 : kStepTicks - 30) + std::string{'\x99', 76, 127};
    body += Vlq(30) + std::string{'\x89', 76, 0};
  }
  body += Vlq(0) + std::string("\xFF\x2F\x00", 3);
  std::string file = "MThd" + std::string("\0\0\0\6\0\0\0\1", 8);
  file += static_cast<char>(kPpq >> 8);
  file += static_cast<char>(kPpq & 0xFF);
  file += "MTrk";
  const uint32_t n = static_cast<uint32_t>(body.size());
  file += {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
  return file + body;
}

std::vector<int16_t> ReadLeft(const std::filesystem::path& file, size_t fromByte, size_t toByte) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  toByte = std::min(toByte, bytes.size());
  std::vector<int16_t> left;
  for (size_t i = fromByte & ~size_t{3}; i + 3 < toByte; i += 4)
    left.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  return left;
}

// Click onsets in frames: the first sample over a quarter of the loudest, 60 ms after the last.
std::vector<double> Onsets(const std::vector<int16_t>& audio) {
  int peak = 1;
  for (int16_t v : audio) peak = std::max(peak, std::abs(static_cast<int>(v)));
  std::vector<double> out;
  const size_t refractory = static_cast<size_t>(0.060 * kRate);
  for (size_t i = 0; i < audio.size(); ++i)
    if (std::abs(static_cast<int>(audio[i])) * 4 >= peak && (out.empty() || i - static_cast<size_t>(out.back()) > refractory))
      out.push_back(static_cast<double>(i));
  return out;
}

void Report(const char* who, int run, const std::vector<double>& onsets) {
  std::vector<double> err;
  std::string off;  // the intervals off by more than 2 ms: "click:error"
  for (size_t i = 1; i < onsets.size(); ++i) {
    err.push_back(std::abs((onsets[i] - onsets[i - 1]) / kRate * 1000.0 - kIntervalMs));
    if (err.back() > 2.0 && off.size() < 200) off += " " + std::to_string(i) + ":" + std::to_string(std::lround(err.back()));
  }
  std::sort(err.begin(), err.end());
  if (err.empty()) {
    std::printf("run %d %-22s no clicks found\n", run, who);
    return;
  }
  const double p99 = err[err.size() * 99 / 100], max = err.back();
  std::printf("run %d %-22s clicks %3zu  interval error p99 %.3f ms  max %.3f ms  goal (p99 <= 1.5, max <= 2): %s\n", run, who,
              onsets.size(), p99, max, onsets.size() == kClicks && p99 <= 1.5 && max <= 2.0 ? "met" : "MISSED");
  if (!off.empty()) std::printf("      off by more than 2 ms (click:ms):%s\n", off.c_str());
}

// FluidSynth's own MIDI player into its own file driver, bound at run time like the program.
struct FluidPlayer {
  void* lib = nullptr;
  void* (*new_settings)() = nullptr;
  int (*setstr)(void*, const char*, const char*) = nullptr;
  int (*setint)(void*, const char*, int) = nullptr;
  void* (*new_synth)(void*) = nullptr;
  int (*sfload)(void*, const char*, int) = nullptr;
  void* (*new_driver)(void*, void*) = nullptr;
  void* (*new_player)(void*) = nullptr;
  int (*player_add)(void*, const char*) = nullptr;
  int (*player_play)(void*) = nullptr;
  int (*player_join)(void*) = nullptr;
  void (*delete_player)(void*) = nullptr;
  void (*delete_driver)(void*) = nullptr;
  void (*delete_synth)(void*) = nullptr;
  void (*delete_settings)(void*) = nullptr;

  template <class F>
  bool Bind(F& f, const char* name) {
    f = reinterpret_cast<F>(plat::LibrarySymbol(lib, name));
    return f != nullptr;
  }
  bool Load() {
    lib = plat::LoadLibraryFile(plat::kSystemSynthLibrary, nullptr);
    return lib && Bind(new_settings, "new_fluid_settings") && Bind(setstr, "fluid_settings_setstr") &&
           Bind(setint, "fluid_settings_setint") && Bind(new_synth, "new_fluid_synth") &&
           Bind(sfload, "fluid_synth_sfload") && Bind(new_driver, "new_fluid_audio_driver") &&
           Bind(new_player, "new_fluid_player") && Bind(player_add, "fluid_player_add") &&
           Bind(player_play, "fluid_player_play") && Bind(player_join, "fluid_player_join") &&
           Bind(delete_player, "delete_fluid_player") && Bind(delete_driver, "delete_fluid_audio_driver") &&
           Bind(delete_synth, "delete_fluid_synth") && Bind(delete_settings, "delete_fluid_settings");
  }
  void Render(const std::filesystem::path& midi, const std::filesystem::path& out) {
    void* settings = new_settings();
    setstr(settings, "audio.driver", "file");
    setstr(settings, "audio.file.name", out.c_str());
    setstr(settings, "audio.file.type", "raw");
    setint(settings, "audio.period-size", 441);
    setstr(settings, "player.timing-source", "sample");
    void* synth = new_synth(settings);
    sfload(synth, kSoundFont, 1);
    void* driver = new_driver(settings, synth);
    void* player = new_player(synth);
    player_add(player, midi.c_str());
    player_play(player);
    player_join(player);
    plat::SleepMs(500);
    delete_driver(driver);
    delete_player(player);
    delete_synth(synth);
    delete_settings(settings);
  }
};

}  // namespace

int main() {
  if (!std::filesystem::exists(kSoundFont)) {
    std::printf("%s is not installed\n", kSoundFont);
    return 1;
  }
  LockMemoryForRealtime();
  const auto root = std::filesystem::temp_directory_path() / ("tavelo-bench-synth-" + std::to_string(plat::NowUs()));
  std::filesystem::create_directories(root / "system");
  std::filesystem::create_directories(root / "synth");
  std::filesystem::create_symlink(kSoundFont, root / "synth" / "TimGM6mb.sf2");
  plat::SetRootDir(root);
  const auto midi = root / "system" / "P0001.MID";
  plat::WriteFileAtomic(midi, MetronomeFile());
  plat::WriteFileAtomic(root / "system" / "P0001.txt", "벤치\n");
  Settings = AppSettings{};
  Settings.builtinSynth = 1;
  Settings.leadInMode = 0;
  const auto ours = root / "builtin.raw";
  SetSynthRenderFile(ours.wstring());
  if (!OpenMidiPort1() || !IsSynthMarker(Sound.MidiOutPort1.load())) {
    std::printf("the built-in synthesizer did not start\n");
    return 1;
  }
  FluidPlayer fluid;
  const bool haveFluid = fluid.Load();
  std::printf("metronome: %d clicks %.0f ms apart; built-in synthesizer look-ahead %.1f ms\n", kClicks, kIntervalMs,
              SynthLookAheadMs());
  for (int run = 1; run <= 3; ++run) {
    plat::SleepMs(1000);
    const size_t from = std::filesystem::file_size(ours);
    const auto theirs = root / ("fluidsynth-" + std::to_string(run) + ".raw");
    std::thread reference([&] {
      if (haveFluid) fluid.Render(midi, theirs);
    });
    PlaybackState.SongStartGuardTime = 0;
    HandleStartSongId(L"START_SONG_ID:1");
    for (int i = 0; i < 400 && !PlaybackState.isPlaying.load(); ++i) plat::SleepMs(5);
    if (run == 2)
      for (int stall = 0; stall < 4; ++stall) {
        plat::SleepMs(6000);
        DelayNextSynthFileBlock(80);
      }
    while (PlaybackState.PlayerThreadAlive.load()) plat::SleepMs(20);
    plat::SleepMs(600);
    reference.join();
    Report(run == 2 ? "built-in (4 stalls)" : "built-in", run, Onsets(ReadLeft(ours, from, SIZE_MAX)));
    if (haveFluid) Report("FluidSynth's player", run, Onsets(ReadLeft(theirs, 0, SIZE_MAX)));
  }
  CloseMidiPorts();
  std::filesystem::remove_all(root);
  return 0;
}
