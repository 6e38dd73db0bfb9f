// A waitable timer of its own (a timerfd), in place of a named waitable timer: armed at an
// absolute deadline on the monotonic clock or after a delay, once or periodically. One thread
// waits on it (with a timeout, woken early by Wake from any thread), or reads how long until
// it fires to bound a wait on its message queue. The name only labels it: two objects of the
// same name are two timers, so two recorders never disturb each other's timing.
#pragma once

#include <cstdint>

#include "platform/fd.h"

namespace vts::plat {

// Nanoseconds on the monotonic clock (the clock of ArmAt).
std::int64_t MonotonicNs();

class WaitableTimer {
 public:
  explicit WaitableTimer(const char* name);
  WaitableTimer(const WaitableTimer&) = delete;
  WaitableTimer& operator=(const WaitableTimer&) = delete;

  const char* Name() const { return name_; }
  // Fires at deadlineNs (MonotonicNs), then every periodNs when that is above 0.
  void ArmAt(std::int64_t deadlineNs, std::int64_t periodNs = 0);
  void ArmIn(std::int64_t delayNs, std::int64_t periodNs = 0);
  // Waits up to timeoutMs: true when the timer fired (its expiries are taken), false after a
  // Wake or the timeout.
  bool Wait(int timeoutMs);
  void Wake();
  // Milliseconds until it fires next (rounded up), at most `cap`; `cap` when not armed.
  int MsUntilNext(int cap);
  // Takes expiries that came, without waiting; true when there were any.
  bool TakeExpiries();

 private:
  const char* name_;
  UniqueFd timerFd_;
  UniqueFd wakeFd_;
};

}  // namespace vts::plat
