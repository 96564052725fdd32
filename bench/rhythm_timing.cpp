// Send-time precision of the rhythm engine: a one-bar pattern of sixteenth notes (each step its own
// note number) played for a number of bars (RHYTHM_BARS, default 60), alone on its own clock and
// locked to a playing song, idle and with every core busy. Prints each note-on's error against its
// ideal time (median, p99, max) and the error of the bar intervals. The ideal grid is the song's
// own beat grid when a song plays (its beat notes as recorded on port 1, fitted to their median
// phase), else the engine's own sixteenths fitted to their median phase, so that one late first
// note does not shift every other note's error.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
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

std::filesystem::path g_portFile;

// The song's beat notes (note-on 60 on channel 1) recorded on port 1 after `from` bytes, in ms.
std::vector<double> SongBeatTimes(std::uintmax_t from) {
  std::vector<double> out;
  std::ifstream in(g_portFile);
  in.seekg(static_cast<std::streamoff>(from));
  std::string line;
  while (std::getline(in, line)) {
    const size_t tag = line.find(' ');
    const size_t bytes = tag == std::string::npos ? tag : line.find(' ', tag + 1);
    if (bytes == std::string::npos || line.compare(bytes + 1, 5, "90 3C") != 0 || line.compare(bytes + 6, 3, " 00") == 0)
      continue;
    out.push_back(std::stod(line.substr(0, tag)) / 1000.0);
  }
  return out;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
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
  std::error_code sizeError;
  const std::uintmax_t recordedBefore = std::filesystem::exists(g_portFile) ? std::filesystem::file_size(g_portFile, sizeError) : 0;
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
  // Steps counted across bar wraps from the first downbeat.
  size_t first = 0;
  while (first < hits.size() && hits[first].step != 0) ++first;
  std::vector<long> counts;
  long count = 0;
  int previous = -1;
  for (size_t i = first; i < hits.size(); ++i) {
    if (previous >= 0) count += (hits[i].step - previous + 16) % 16;
    if (std::getenv("RHYTHM_DEBUG") && previous >= 0 && (hits[i].step - previous + 16) % 16 != 1)
      std::printf("  gap: step %d -> %d at %.1f ms\n", previous, hits[i].step, hits[i].ms - hits[first].ms);
    previous = hits[i].step;
    counts.push_back(count);
  }
  // The grid's origin: the song's beat grid, or the engine's own notes' median phase.
  double origin = first < hits.size() ? hits[first].ms : 0;
  const std::vector<double> beats = withSong ? SongBeatTimes(recordedBefore) : std::vector<double>{};
  if (beats.size() >= 4 && first < hits.size()) {
    const double beatMs = 4 * kStepMs;
    std::vector<double> phases;
    for (double b : beats) phases.push_back(b - beats.front() - std::round((b - beats.front()) / beatMs) * beatMs);
    const double songPhase = beats.front() + Median(phases);
    origin = songPhase + std::round((hits[first].ms - songPhase) / beatMs) * beatMs;
  } else {
    std::vector<double> offsets;
    for (size_t i = first; i < hits.size(); ++i) offsets.push_back(hits[i].ms - origin - counts[i - first] * kStepMs);
    origin += Median(offsets);
  }
  std::vector<double> errors, barErrors;
  double lastBar = -1;
  for (size_t i = first; i < hits.size(); ++i) {
    errors.push_back(std::abs(hits[i].ms - (origin + counts[i - first] * kStepMs)));
    if (hits[i].step == 0) {
      if (lastBar >= 0) barErrors.push_back(std::abs(hits[i].ms - lastBar - 16 * kStepMs));
      lastBar = hits[i].ms;
    }
  }
  if (withSong) std::printf("  (song beats recorded: %zu; first engine downbeat %+.3f ms from the song's grid)\n", beats.size(),
                            first < hits.size() ? hits[first].ms - origin : 0.0);
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
  g_portFile = root / "p1.rec";
  plat::SetFakeMidiOutDevices({{L"P1", g_portFile, 0, false, false}, {L"P2", {}, 0, false, false}});
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
