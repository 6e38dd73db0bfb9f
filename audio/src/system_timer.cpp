// The real-time period timer of the real backends, over the platform's periodic timer.
#include "system_timer.h"

#include <chrono>
#include <cstdint>

#include "platform/period_timer.h"

namespace vts::audio {
namespace {

class SystemTimer final : public PeriodTimer {
 public:
  void Arm(std::uint32_t intervalMs) override { timer_.Arm(intervalMs); }
  void Disarm() override { timer_.Disarm(); }
  void Wait() override { timer_.Wait(); }
  void Wake() override { timer_.Wake(); }

 private:
  plat::PeriodicTimer timer_;
};

}  // namespace

std::unique_ptr<PeriodTimer> MakeSystemTimer() { return std::make_unique<SystemTimer>(); }

std::uint64_t MonotonicMs() {
  // The steady clock is the monotonic clock here.
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace vts::audio
