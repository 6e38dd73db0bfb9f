// Thread queues: delivery order, failed posts keep ownership, quit, peek, timers.
#include "platform/thread_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

using namespace vts::plat;
using namespace std::chrono_literals;

namespace {

// A worker thread with a queue; its id is known once the queue exists.
struct Worker {
  std::promise<ThreadId> idPromise;
  std::thread thread;
  ThreadId id = 0;
  template <class F>
  explicit Worker(F body) {
    auto fut = idPromise.get_future();
    thread = std::thread([this, body] {
      CreateQueueByPostingToSelf();
      Msg first;
      ASSERT_TRUE(GetMessage(&first));  // the WM_USER it posted to itself
      EXPECT_EQ(first.message, WM_USER);
      idPromise.set_value(CurrentThreadId());
      body();
    });
    id = fut.get();
  }
  ~Worker() {
    if (thread.joinable()) thread.join();
  }
};

}  // namespace

TEST(ThreadQueue, ThreadIdsAreNonZeroAndDistinct) {
  ThreadId mine = CurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(mine, CurrentThreadId());
  ThreadId other = 0;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

TEST(ThreadQueue, MessagesFromManySendersArriveInPerSenderOrderUntilQuit) {
  constexpr int kSenders = 4, kEach = 2000;
  std::vector<std::vector<int>> seen(kSenders);
  Worker w([&] {
    Msg m;
    while (GetMessage(&m)) {
      ASSERT_EQ(m.message, WM_USER + 5);
      seen[m.wParam].push_back(static_cast<int>(m.lParam));
    }
    EXPECT_EQ(m.message, WM_QUIT);
  });
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s) {
    senders.emplace_back([&, s] {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(PostThreadMessage(w.id, WM_USER + 5, s, i));
    });
  }
  for (auto& t : senders) t.join();
  ASSERT_TRUE(PostThreadMessage(w.id, WM_QUIT, 0, 0));
  w.thread.join();
  for (int s = 0; s < kSenders; ++s) {
    ASSERT_EQ(seen[s].size(), static_cast<size_t>(kEach));
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[s][i], i);
  }
}

TEST(ThreadQueue, PostFailsWithoutALiveQueue) {
  EXPECT_FALSE(PostThreadMessage(0, WM_USER, 0, 0));
  EXPECT_FALSE(PostThreadMessage(0x7FFFFFF0u, WM_USER, 0, 0));
  // A thread that never made a queue.
  ThreadId noQueue = 0;
  std::promise<void> release;
  std::promise<void> idKnown;
  std::thread t([&] {
    noQueue = CurrentThreadId();
    idKnown.set_value();
    release.get_future().wait();
  });
  idKnown.get_future().wait();
  EXPECT_FALSE(PostThreadMessage(noQueue, WM_USER, 0, 0));
  release.set_value();
  t.join();
}

TEST(ThreadQueue, PostAfterThreadExitFails) {
  Worker w([] {});
  w.thread.join();
  int* payload = new int(7);
  EXPECT_FALSE(PostThreadMessage(w.id, WM_USER, 0, reinterpret_cast<LPARAM>(payload)));
  delete payload;  // the failed post left it with us
}

TEST(ThreadQueue, EndQueueHandsQueuedPayloadsBackAndLaterPostsFail) {
  std::promise<void> posted;
  std::vector<LPARAM> dropped;
  std::atomic<bool> laterPostFailed{false};
  ThreadId self = 0;
  Worker w([&] {
    self = CurrentThreadId();
    posted.get_future().wait();
    EndQueue([&](const Msg& m) { dropped.push_back(m.lParam); });
    laterPostFailed = !PostThreadMessage(self, WM_USER, 0, 0);
  });
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(PostThreadMessage(w.id, WM_USER + 1, 0, i));
  posted.set_value();
  w.thread.join();
  EXPECT_EQ(dropped, (std::vector<LPARAM>{1, 2, 3}));
  EXPECT_TRUE(laterPostFailed);
  EXPECT_FALSE(PostThreadMessage(w.id, WM_USER, 0, 0));
}

TEST(ThreadQueue, PeekLeavesOrRemovesAndGetTimeoutGivesUp) {
  EnsureQueue();
  Msg m;
  EXPECT_FALSE(PeekMessage(&m, true));
  ASSERT_TRUE(PostThreadMessage(CurrentThreadId(), WM_USER + 9, 1, 2));
  ASSERT_TRUE(PeekMessage(&m, false));
  EXPECT_EQ(m.message, WM_USER + 9);
  ASSERT_TRUE(PeekMessage(&m, true));
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_EQ(m.lParam, 2);
  EXPECT_FALSE(PeekMessage(&m, true));
  m.message = 99;
  EXPECT_FALSE(GetMessageTimeout(&m, 20ms));
  EXPECT_EQ(m.message, 0u);
  ASSERT_TRUE(PostThreadMessage(CurrentThreadId(), WM_QUIT, 0, 0));
  EXPECT_FALSE(GetMessageTimeout(&m, 1000ms));
  EXPECT_EQ(m.message, WM_QUIT);
  EndQueue();
}

TEST(ThreadQueue, TimerTicksWithItsIdAndNeverPilesUp) {
  EnsureQueue();
  std::uintptr_t id = SetThreadTimer(1, 10ms);
  EXPECT_EQ(id, 1u);
  Msg m;
  ASSERT_TRUE(GetMessageTimeout(&m, 5000ms));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.wParam, 1u);
  // Many intervals pass without anyone waiting: one tick is pending, not many.
  std::this_thread::sleep_for(100ms);
  int ticks = 0;
  while (PeekMessage(&m, true)) ticks += m.message == WM_TIMER;
  EXPECT_EQ(ticks, 1);
  EXPECT_TRUE(KillThreadTimer(id));
  EXPECT_FALSE(KillThreadTimer(id));
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(GetMessageTimeout(&m, 30ms));
  EndQueue();
}

TEST(ThreadQueue, BusyQueueDoesNotStarveATimer) {
  EnsureQueue();
  ThreadId self = CurrentThreadId();
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(PostThreadMessage(self, WM_USER + 1, 0, 0));
  SetThreadTimer(5, 1ms);
  std::this_thread::sleep_for(10ms);
  Msg m;
  ASSERT_TRUE(GetMessage(&m));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.wParam, 5u);
  KillThreadTimer(5);
  int rest = 0;
  while (PeekMessage(&m, true)) rest += m.message == WM_USER + 1;
  EXPECT_EQ(rest, 1000);
  EndQueue();
}

TEST(ThreadQueue, ZeroTimerIdGetsAFreshId) {
  EnsureQueue();
  std::uintptr_t a = SetThreadTimer(0, 1000ms);
  std::uintptr_t b = SetThreadTimer(0, 1000ms);
  EXPECT_NE(a, 0u);
  EXPECT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(KillThreadTimer(a));
  EXPECT_TRUE(KillThreadTimer(b));
  EndQueue();
}
