// The engines' periodic timer (fires at once, then every period; a wake ends a wait early)
// and the growing page mappings of chunk memory.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/pages.h"
#include "platform/period_timer.h"

namespace plat = vts::plat;

namespace {

TEST(PeriodicTimer, FiresAtOnceThenEveryPeriod) {
  plat::PeriodicTimer timer;
  timer.Arm(5);
  for (int i = 0; i < 3; ++i) timer.Wait();  // returns: the expiries come
}

TEST(PeriodicTimer, AWakeFromAnotherThreadEndsTheWaitAndAnEarlierOneIsNotLost) {
  plat::PeriodicTimer timer;  // never armed: only wakes end a wait
  std::atomic<bool> woken{false};
  std::thread waker([&] {
    woken = true;
    timer.Wake();
  });
  timer.Wait();
  waker.join();
  EXPECT_TRUE(woken);
  timer.Wake();
  timer.Wait();  // would block for ever if the wake were lost
}

TEST(Pages, GrowKeepsTheBytesAndShrinkWorks) {
  constexpr std::size_t kSmall = 1 << 16, kLarge = 1 << 24;
  auto* p = static_cast<unsigned char*>(plat::MapPages(kSmall));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[kSmall - 1], 0) << "zero-filled";
  for (std::size_t i = 0; i < kSmall; ++i) p[i] = static_cast<unsigned char>(i * 31);
  auto* q = static_cast<unsigned char*>(plat::ResizePages(p, kSmall, kLarge));
  ASSERT_NE(q, nullptr);
  for (std::size_t i = 0; i < kSmall; ++i) ASSERT_EQ(q[i], static_cast<unsigned char>(i * 31));
  q[kLarge - 1] = 7;
  auto* r = static_cast<unsigned char*>(plat::ResizePages(q, kLarge, kSmall));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[kSmall - 1], static_cast<unsigned char>((kSmall - 1) * 31));
  plat::UnmapPages(r, kSmall);
  plat::UnmapPages(nullptr, 0);  // nothing to do
}

}  // namespace
