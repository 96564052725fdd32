// Send-time precision of the rhythm engine: a one-bar pattern of sixteenth notes (each step its own
// note number) played for a number of bars (RHYTHM_BARS, default 60), alone on its own clock and
// locked to a playing song, idle and with every core busy. Prints each note-on's error against its
// ideal time on the first note's grid (median, p99, max) and the error of the bar intervals.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "base/settings/app_settings.h"
#include "platform/clock.h"
#include "platform/midi_out.h"
#include "platform/paths.h"
#include "playback/player.h"
#include "playback/rhythm_engine.h"
#include "playback/rhythm_sender.h"
#include "playback/services.h"
#include "sound/midi_send.h"
#include "sound/services.h"

namespace {

constexpr int kPpq = 120;
constexpr int kBpm = 120;
constexpr double kStepMs = 60000.0 / kBpm / 4;  // a sixteenth

struct Hit {
  int step;
  double ms;
};
std::mutex g_mu;
std::vector<Hit> g_hits;

void Record(MidiOutHandle h, uint32_t m) {
  const double now = plat::NowMs();
  if ((m & 0xF0) == 0x90 && ((m >> 16) & 0x7F) > 0 && (m & 0x0F) == 11) {
    std::lock_guard lock(g_mu);
    g_hits.push_back({static_cast<int>((m >> 8) & 0x7F) - 40, now});
  }
  SendShortMidi(h, m);
}

StyleSet SixteenthsPattern() {
  StyleSet set;
  set.main.length = 4 * kPpq;
  for (int step = 0; step < 16; ++step) {
    const uint32_t t = static_cast<uint32_t>(step * kPpq / 4);
    set.main.events.push_back({t, 11, kStyleNoteOn, static_cast<uint8_t>(40 + step), 90, 0});
    set.main.events.push_back({t + 10, 11, kStyleNoteOff, static_cast<uint8_t>(40 + step), 0, 0});
  }
  std::stable_sort(set.main.events.begin(), set.main.events.end(),
                   [](const StyleEvent& a, const StyleEvent& b) { return a.tick < b.tick; });
  return set;
}

std::shared_ptr<SongModel> LongSong(int bars) {
  auto s = std::make_shared<SongModel>();
  s->SongPpq = kPpq;
  s->SongBaseBpm = kBpm;
  SongEvent tempo;
  tempo.kind = kSongEventTempo;
  tempo.tempo = 60000000 / kBpm;
  s->SongEventList.push_back(tempo);
  for (int bar = 0; bar <= bars + 2; ++bar) {
    s->BarTicks.push_back(static_cast<uint32_t>(bar * 4 * kPpq));
    for (int beat = 0; beat < 4; ++beat) {
      SongEvent on;
      on.tick = static_cast<uint32_t>((bar * 4 + beat) * kPpq);
      on.status = 0x90;
      on.data1 = 60;
      on.data2 = 80;
      s->SongEventList.push_back(on);
      SongEvent off = on;
      off.tick += kPpq / 2;
      off.data2 = 0;
      s->SongEventList.push_back(off);
    }
  }
  return s;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

void Measure(const char* label, bool withSong, int busyThreads, int bars) {
  {
    std::lock_guard lock(g_mu);
    g_hits.clear();
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  for (int i = 0; i < busyThreads; ++i)
    busy.emplace_back([&] {
      volatile double x = 1;
      while (!stop) x = x * 1.0000001 + 1e-9;
    });
  PlaybackState.CurrentTempoUs = 60000000 / kBpm;
  if (withSong) {
    PublishSongModel(LongSong(bars));
    StartPlayMidiThread();
    for (int i = 0; i < 5000 && !PlaybackState.isPlaying.load(); ++i) plat::SleepMs(1);
  } else {
    PublishSongModel(std::make_shared<SongModel>());
  }
  RhythmStyles.active = SixteenthsPattern();
  RhythmStyles.activeHasMain = 1;
  StartCvtRhythm();
  const double wanted = bars * 16;
  for (;;) {
    plat::SleepMs(100);
    std::lock_guard lock(g_mu);
    if (g_hits.size() >= wanted) break;
  }
  StopCvtRhythm();
  StopPlayer(2000);
  WaitRhythmThreadGone(3000);
  stop = true;
  for (auto& t : busy) t.join();

  std::vector<Hit> hits;
  {
    std::lock_guard lock(g_mu);
    hits = g_hits;
  }
  // Ideal times on the grid of the first downbeat: steps counted across bar wraps.
  size_t first = 0;
  while (first < hits.size() && hits[first].step != 0) ++first;
  std::vector<double> errors, barErrors;
  long count = 0;
  int previous = -1;
  double lastBar = -1;
  for (size_t i = first; i < hits.size(); ++i) {
    if (previous >= 0) count += (hits[i].step - previous + 16) % 16;
    if (std::getenv("RHYTHM_DEBUG") && previous >= 0 && (hits[i].step - previous + 16) % 16 != 1)
      std::printf("  gap: step %d -> %d at %.1f ms\n", previous, hits[i].step, hits[i].ms - hits[first].ms);
    previous = hits[i].step;
    const double ideal = hits[first].ms + count * kStepMs;
    errors.push_back(std::abs(hits[i].ms - ideal));
    if (hits[i].step == 0) {
      if (lastBar >= 0) barErrors.push_back(std::abs(hits[i].ms - lastBar - 16 * kStepMs));
      lastBar = hits[i].ms;
    }
  }
  std::printf("%-18s notes %zu  error median %.3f ms  p99 %.3f ms  max %.3f ms  | bar interval error median %.3f p99 %.3f max %.3f ms\n",
              label, errors.size(), Percentile(errors, 0.5), Percentile(errors, 0.99), Percentile(errors, 1.0),
              Percentile(barErrors, 0.5), Percentile(barErrors, 0.99), Percentile(barErrors, 1.0));
}

}  // namespace

int main() {
  const auto root = std::filesystem::temp_directory_path() / ("tavelo_bench_rhythm_" + std::to_string(plat::NowUs()));
  std::filesystem::create_directories(root / "system");
  plat::SetRootDir(root);
  Settings.port1Device = L"P1";
  Settings.port2Device = L"P2";
  Settings.cvtFixedBpm = kBpm;
  plat::SetFakeMidiOutDevices({{L"P1", {}, 0, false, false}, {L"P2", {}, 0, false, false}});
  SetCvtOutput(Record);
  const char* env = std::getenv("RHYTHM_BARS");
  const int bars = env ? std::max(2, std::atoi(env)) : 60;
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  std::printf("rhythm engine: sixteenths at %d bpm, %d bars per run (goal: p99 <= 1 ms idle, <= 1.5 ms busy)\n", kBpm, bars);
  Measure("alone idle", false, 0, bars);
  Measure("alone busy", false, cores, bars);
  Measure("with song idle", true, 0, bars);
  Measure("with song busy", true, cores, bars);
  SetCvtOutput(nullptr);
  CloseMidiPorts();
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}
