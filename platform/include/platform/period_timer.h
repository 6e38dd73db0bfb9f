// A periodic timer one thread waits on and any thread can wake early: the pacing clock of a
// sound engine's real backends. Wait() from one thread at a time; Arm() and Wake() from any.
#pragma once

#include <cstdint>

#include "platform/fd.h"

namespace vts::plat {

class PeriodicTimer {
 public:
  PeriodicTimer();
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;

  // Fires at once, then every intervalMs.
  void Arm(std::uint32_t intervalMs);
  // No more expiries until the next Arm (a Wait meanwhile returns only after a Wake).
  void Disarm();
  // Returns after the next expiry, or after a Wake() (one that came earlier counts too).
  void Wait();
  void Wake();

 private:
  UniqueFd timerFd_;
  UniqueFd wakeFd_;
};

}  // namespace vts::plat
