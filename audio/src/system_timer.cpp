// The real backends' monotonic clock.
#include "system_timer.h"

#include <chrono>
#include <cstdint>

namespace vts::audio {

std::uint64_t MonotonicMs() {
  // The steady clock is the monotonic clock here.
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace vts::audio
