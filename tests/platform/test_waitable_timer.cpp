// Waitable timers: absolute deadlines, periods, early wakes, and timers of the same name that
// stay apart.
#include <gtest/gtest.h>

#include <thread>

#include "platform/waitable_timer.h"

namespace vts::plat {
namespace {

TEST(WaitableTimer, FiresAtItsDeadlineAndNotBefore) {
  WaitableTimer timer("FrameRate Timer");
  EXPECT_FALSE(timer.Wait(0)) << "not armed: never fires";
  EXPECT_EQ(timer.MsUntilNext(50), 50);
  const std::int64_t deadline = MonotonicNs() + 30'000'000;
  timer.ArmAt(deadline);
  EXPECT_GT(timer.MsUntilNext(1000), 0);
  ASSERT_TRUE(timer.Wait(10'000));
  EXPECT_GE(MonotonicNs(), deadline);
  EXPECT_FALSE(timer.Wait(0)) << "a one-shot timer fires once";
}

TEST(WaitableTimer, PeriodicTimersOfOneNameAreTimersOfTheirOwn) {
  WaitableTimer a("VideoManagerHelperThreadTimer"), b("VideoManagerHelperThreadTimer");
  a.ArmIn(1'000'000, 5'000'000);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(a.Wait(10'000));
  EXPECT_FALSE(b.Wait(0)) << "arming one leaves the other alone";
  EXPECT_LE(a.MsUntilNext(1000), 5);
}

TEST(WaitableTimer, AWakeEndsAWaitWithoutAFiring) {
  WaitableTimer timer("FrameRate Timer");
  timer.ArmIn(60'000'000'000);  // a minute away
  std::thread waker([&] { timer.Wake(); });
  EXPECT_FALSE(timer.Wait(60'000));
  waker.join();
}

}  // namespace
}  // namespace vts::plat
