// The periodic timer on a timerfd, woken early through an eventfd.
#include "platform/period_timer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace vts::plat {

PeriodicTimer::PeriodicTimer()
    : timerFd_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void PeriodicTimer::Arm(std::uint32_t intervalMs) {
  if (!timerFd_) return;
  itimerspec spec{};
  spec.it_value.tv_nsec = 1;  // at once
  spec.it_interval.tv_sec = intervalMs / 1000;
  spec.it_interval.tv_nsec = long(intervalMs % 1000) * 1000000L;
  ::timerfd_settime(timerFd_.get(), 0, &spec, nullptr);
}

void PeriodicTimer::Disarm() {
  if (!timerFd_) return;
  itimerspec none{};
  ::timerfd_settime(timerFd_.get(), 0, &none, nullptr);
}

void PeriodicTimer::Wait() {
  pollfd fds[2] = {{timerFd_.get(), POLLIN, 0}, {wakeFd_.get(), POLLIN, 0}};
  for (;;) {
    int r = ::poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return;
    std::uint64_t value = 0;
    bool any = false;
    if (fds[0].revents & POLLIN)
      any |= ::read(timerFd_.get(), &value, sizeof value) == sizeof value;
    if (fds[1].revents & POLLIN) any |= ::read(wakeFd_.get(), &value, sizeof value) == sizeof value;
    if (any) return;
  }
}

void PeriodicTimer::Wake() {
  std::uint64_t one = 1;
  // A failure means the counter is saturated: wakes are already waiting.
  (void)!::write(wakeFd_.get(), &one, sizeof one);
}

}  // namespace vts::plat
