// The position bar's range and position.
#include "tracks/waveform_view_state.h"

#include <algorithm>

namespace vts {

std::int64_t ProgressRange::Clamp(std::int64_t v) const {
  const std::int64_t lo = std::min(low_, high_);
  const std::int64_t hi = std::max(low_, high_);
  return std::clamp(v, lo, hi);
}

void ProgressRange::SetRange(std::int64_t low, std::int64_t high) {
  low_ = low;
  high_ = high;
  pos_ = Clamp(pos_);
}

void ProgressRange::SetPos(std::int64_t pos) { pos_ = Clamp(pos); }

}  // namespace vts
