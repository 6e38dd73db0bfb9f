// A real-time period timer on timerfd, woken early through an eventfd.
#include "system_timer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vts::audio {
namespace {

class SystemTimer final : public PeriodTimer {
 public:
  SystemTimer()
      : timerFd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
        wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~SystemTimer() override {
    if (timerFd_ >= 0) close(timerFd_);
    if (wakeFd_ >= 0) close(wakeFd_);
  }

  void Arm(std::uint32_t intervalMs) override {
    if (timerFd_ < 0) return;
    itimerspec spec{};
    spec.it_value.tv_nsec = 1;  // at once
    spec.it_interval.tv_sec = intervalMs / 1000;
    spec.it_interval.tv_nsec = long(intervalMs % 1000) * 1000000L;
    timerfd_settime(timerFd_, 0, &spec, nullptr);
  }

  void Disarm() override {
    if (timerFd_ < 0) return;
    itimerspec none{};
    timerfd_settime(timerFd_, 0, &none, nullptr);
  }

  void Wait() override {
    pollfd fds[2] = {{timerFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (;;) {
      int r = poll(fds, 2, -1);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return;
      std::uint64_t value = 0;
      bool any = false;
      if (fds[0].revents & POLLIN) any |= read(timerFd_, &value, sizeof value) == sizeof value;
      if (fds[1].revents & POLLIN) any |= read(wakeFd_, &value, sizeof value) == sizeof value;
      if (any) return;
    }
  }

  void Wake() override {
    std::uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
      // Nothing else to do: the counter is saturated only when wakes already wait.
    }
  }

 private:
  int timerFd_;
  int wakeFd_;
};

}  // namespace

std::unique_ptr<PeriodTimer> MakeSystemTimer() { return std::make_unique<SystemTimer>(); }

std::uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::uint64_t(ts.tv_sec) * 1000 + std::uint64_t(ts.tv_nsec) / 1000000;
}

}  // namespace vts::audio
