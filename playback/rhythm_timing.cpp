// The rhythm engine's timing rules.
#include "playback/rhythm_timing.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"
#include "platform/realtime.h"
#include "playback/services.h"
#include "songs/song_model.h"

RhythmEngineValues RhythmEngine;

uint32_t PatternMod(int64_t v, uint32_t length) {
  if (length == 0) return 0;
  const int64_t r = v % static_cast<int64_t>(length);
  return static_cast<uint32_t>(r < 0 ? r + length : r);
}

uint32_t NextBarLine(const std::vector<uint32_t>& bars, uint32_t t) {
  if (bars.empty()) return static_cast<uint32_t>(std::min<uint64_t>((uint64_t{t} / 480 + 1) * 480, UINT32_MAX));
  auto it = std::upper_bound(bars.begin(), bars.end(), t);
  if (it == bars.begin()) return bars.front();
  if (it == bars.end()) return bars.back();
  return *it;
}

uint32_t BarStartOf(const std::vector<uint32_t>& bars, uint32_t t) {
  if (bars.empty()) return t / 480 * 480;
  auto it = std::upper_bound(bars.begin(), bars.end(), t);
  return it == bars.begin() ? 0 : *(it - 1);
}

uint32_t PatternPosition(uint32_t origin, uint32_t tick, double fraction, double factor, uint32_t length,
                         uint32_t last, int ppq) {
  if (length == 0) return 0;
  const double raw = std::floor(std::max(0.0, (static_cast<double>(tick) - origin + fraction) * factor));
  const uint32_t pos = static_cast<uint32_t>(std::fmod(std::min(raw, 9.0e15), static_cast<double>(length)));
  if (pos < last && last - pos <= static_cast<uint32_t>(std::max(0, ppq))) return last;
  return pos;
}

double SongDefaultFactor(bool halftime, int baseBpm) {
  if (halftime) return 0.5;
  return baseBpm >= 1 && baseBpm <= 85 ? 2.0 : 1.0;
}

double TempoBpm(int carryUs, int currentUs, int offsetBpm) {
  const int us = carryUs > 0 ? carryUs : currentUs > 0 ? currentUs : 500000;
  return 60000000.0 / us + offsetBpm;
}

FactorResult ComputePatternFactor(const FactorInput& in) {
  const double base = in.carriedFactor > 0 ? in.carriedFactor : SongDefaultFactor(in.halftime, in.baseBpm);
  const double s = in.boxSpeed < 1 ? 1.0 : in.boxSpeed / 100.0;
  double q = 0;
  bool override = false;
  if (in.styleBpm >= 1) {
    const double bpm = TempoBpm(in.carryUs, in.currentUs, in.offsetBpm);
    if (bpm >= 20) {
      q = in.styleBpm / bpm;
      override = true;
    }
  } else if (s != 1.0) {
    q = base;
    override = true;
  }
  if (!override) return {base, false};
  return {std::clamp(q * s, 0.1, 8.0), true};
}

FireDecision DecideFiring(uint32_t p, uint32_t d, uint32_t length, int ppq, bool hasLastFire, double msSinceLastFire) {
  if (p == d) return {};
  const uint32_t stretch = d > p ? d - p : d + length - p;
  const uint32_t limit = ppq > 0 ? 2u * static_cast<uint32_t>(ppq) : 1u;
  if (stretch > limit) return {FireKind::kDrop, stretch};
  if (hasLastFire && msSinceLastFire > 30 && stretch > 3) return {FireKind::kCatchUp, stretch};
  return {FireKind::kNormal, stretch};
}

ResyncPhase CompareResyncPhase(uint32_t p, uint32_t d, int ppq) {
  const int q = ppq > 0 ? ppq : 120;
  const int bar = 4 * q;
  int diff = static_cast<int>(d % bar) - static_cast<int>(p % bar);
  if (diff > bar / 2) diff -= bar;
  if (diff < -bar / 2) diff += bar;
  ResyncPhase r;
  r.difference = diff;
  r.tolerance = std::max(2, q / 4);
  r.keep = std::abs(diff) <= r.tolerance;
  return r;
}

double OwnClockMsPerTick(int carryUs, int carryPpq, int currentUs, int offsetBpm, int songPpq) {
  const double bpm = std::max(20.0, TempoBpm(carryUs, currentUs, offsetBpm));
  const int ppq = carryPpq > 0 ? carryPpq : songPpq > 0 ? songPpq : 120;
  return 60000.0 / bpm / ppq;
}

FillWindow ComputeFillWindow(const FillWindowInput& in) {
  const double m = in.factor > 0 ? in.factor : 1.0;
  const uint32_t b = in.ppq > 0 ? static_cast<uint32_t>(in.ppq) : 480;
  const uint32_t B = 4 * b;
  const uint32_t t = in.tick;
  if (in.engineRunning && in.patternLength > 0) {
    const uint32_t P = std::min(in.patternLength, B);
    const uint32_t beat = std::min(b, P);
    const int64_t x = static_cast<int64_t>(std::floor(std::max(0.0, (double(t) - in.origin) * m)));
    const uint32_t p = PatternMod(x, P);
    const uint32_t q = p + beat - (p % beat);
    const uint32_t target = q < P ? q : P;
    const double exact = in.origin + double(x - p + target) / m;
    return {t + static_cast<uint32_t>(std::lround((target - p) / m)), q < P ? P - q : P, exact};
  }
  uint32_t s, e;
  const bool table = in.songPlaying && !in.bars.empty();
  if (table) {
    s = BarStartOf(in.bars, t);
    auto it = std::upper_bound(in.bars.begin(), in.bars.end(), s);
    e = it != in.bars.end() ? *it : s + B;
  } else if (in.songPlaying) {
    s = t / 480 * 480;
    e = s + 480;
  } else {
    s = t / B * B;
    e = s + B;
  }
  const uint32_t l = t > s ? t - s : 0;
  uint32_t start = s + l - (l % b) + b;
  uint32_t end = e;
  if (start >= e) {
    start = e;
    if (table) {
      auto it = std::upper_bound(in.bars.begin(), in.bars.end(), e);
      end = it != in.bars.end() ? *it : e + B;
    } else if (in.songPlaying) {
      end = e + 480;
    } else {
      end = e + B;
    }
    if (end <= e) end = e + B;
  }
  return {start, static_cast<uint32_t>(std::lround((end - start) * m))};
}

double CurrentCvtTempoFactor() {
  const double live = RhythmEngine.LiveTempoFactor.load();
  if (CvtState.rhythm.load() && live > 0) return live;
  const double carried = CvtState.CvtTempoFactor.load();
  if (carried > 0) return carried;
  return SongDefaultFactor(PlaybackState.HalftimeSongFlag.load(), LoadedSong()->SongBaseBpm);
}

namespace {
class SystemClock : public RhythmClock {
 public:
  double NowMs() override { return plat::NowMs(); }
  void SleepMs(double ms) override {
    if (ms > 0) plat::SleepUntilMs(plat::NowMs() + ms);
  }
};
}  // namespace

RhythmClock& SystemRhythmClock() {
  static SystemClock clock;
  return clock;
}
