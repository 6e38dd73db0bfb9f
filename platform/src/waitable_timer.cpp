// Waitable timers on a timerfd, woken early through an eventfd.
#include "platform/waitable_timer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vts::plat {

namespace {
timespec ToTimespec(std::int64_t ns) {
  timespec t{};
  t.tv_sec = time_t(ns / 1'000'000'000);
  t.tv_nsec = long(ns % 1'000'000'000);
  return t;
}
}  // namespace

std::int64_t MonotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

WaitableTimer::WaitableTimer(const char* name)
    : name_(name),
      timerFd_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WaitableTimer::ArmAt(std::int64_t deadlineNs, std::int64_t periodNs) {
  if (!timerFd_) return;
  itimerspec spec{};
  spec.it_value = ToTimespec(std::max<std::int64_t>(deadlineNs, 1));
  spec.it_interval = ToTimespec(std::max<std::int64_t>(periodNs, 0));
  ::timerfd_settime(timerFd_.get(), TFD_TIMER_ABSTIME, &spec, nullptr);
}

void WaitableTimer::ArmIn(std::int64_t delayNs, std::int64_t periodNs) {
  ArmAt(MonotonicNs() + std::max<std::int64_t>(delayNs, 1), periodNs);
}

bool WaitableTimer::Wait(int timeoutMs) {
  pollfd fds[2] = {{timerFd_.get(), POLLIN, 0}, {wakeFd_.get(), POLLIN, 0}};
  int r;
  do {
    r = ::poll(fds, 2, timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return false;
  std::uint64_t value = 0;
  if (fds[1].revents & POLLIN) (void)!::read(wakeFd_.get(), &value, sizeof value);
  return (fds[0].revents & POLLIN) && TakeExpiries();
}

void WaitableTimer::Wake() {
  std::uint64_t one = 1;
  // A failure means the counter is saturated: wakes are already waiting.
  (void)!::write(wakeFd_.get(), &one, sizeof one);
}

int WaitableTimer::MsUntilNext(int cap) {
  itimerspec left{};
  if (!timerFd_ || ::timerfd_gettime(timerFd_.get(), &left) != 0) return cap;
  const std::int64_t ns =
      std::int64_t(left.it_value.tv_sec) * 1'000'000'000 + left.it_value.tv_nsec;
  if (ns == 0) return cap;
  return int(std::min<std::int64_t>((ns + 999'999) / 1'000'000, cap));
}

bool WaitableTimer::TakeExpiries() {
  std::uint64_t expirations = 0;
  return ::read(timerFd_.get(), &expirations, sizeof expirations) == sizeof expirations &&
         expirations > 0;
}

}  // namespace vts::plat
