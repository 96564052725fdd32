#include "sound/synth_clock.h"

#include <algorithm>
#include <cmath>

void SynthSampleClock::BeginBlock(uint64_t nowUs) {
  const double now = static_cast<double>(nowUs);
  if (originUs_ < 0) {
    originUs_ = now;
    return;
  }
  const double drift = now - (originUs_ + static_cast<double>(framesDone_) * 1e6 / rate_);
  if (std::fabs(drift) > 1e6)
    originUs_ += drift;
  else
    originUs_ += std::clamp(drift, -5000.0, 5000.0) / 2000.0;
}

int64_t SynthSampleClock::OffsetInBlock(uint64_t sentUs) const {
  const double frame = (static_cast<double>(sentUs) + lookAheadUs_ - originUs_) * rate_ / 1e6;
  const double offset = std::ceil(frame - static_cast<double>(framesDone_));
  return offset <= 0 ? 0 : static_cast<int64_t>(offset);
}
