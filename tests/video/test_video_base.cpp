// Executor threads, the back-buffer drawing base, letterbox geometry and frame intervals.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "video/d2d_ability.h"
#include "video/executor_thread.h"
#include "video/video_site_window.h"
#include "video_fixtures.h"

namespace vts {
namespace {

// A gate a job waits at until the test opens it.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool open = false, reached = false;
  void Wait() {
    std::unique_lock l(m);
    reached = true;
    cv.notify_all();
    cv.wait(l, [&] { return open; });
  }
  void AwaitReached() {
    std::unique_lock l(m);
    ASSERT_TRUE(cv.wait_for(l, std::chrono::seconds(20), [&] { return reached; }));
  }
  void Open() {
    std::lock_guard l(m);
    open = true;
    cv.notify_all();
  }
};

using test::WaitFor;

TEST(ExecutorThread, RunsJobsOneAtATimeInPostingOrderOffThePostingThreads) {
  ExecutorThread exec(1);
  std::mutex m;
  std::vector<char> order;
  std::atomic<int> running{0}, maxRunning{0};
  std::vector<std::thread::id> posters, runners;
  for (char name : {'A', 'B', 'C'}) {
    std::thread t([&, name] {
      {
        std::lock_guard l(m);
        posters.push_back(std::this_thread::get_id());
      }
      exec.Post([&, name] {
        const int now = ++running;
        maxRunning = std::max(maxRunning.load(), now);
        std::this_thread::yield();
        std::lock_guard l(m);
        order.push_back(name);
        runners.push_back(std::this_thread::get_id());
        --running;
      });
    });
    t.join();
  }
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard l(m);
    return order.size() == 3;
  }));
  EXPECT_EQ(order, (std::vector<char>{'A', 'B', 'C'}));
  EXPECT_EQ(maxRunning.load(), 1);
  for (auto id : runners) {
    EXPECT_EQ(id, runners[0]);
    for (auto p : posters) EXPECT_NE(id, p);
  }
}

TEST(ExecutorThread, ClearQueueDropsWaitingJobsUnrunAndLetsTheRunningOneFinish) {
  ExecutorThread exec(1);
  Gate gate;
  std::atomic<bool> firstDone{false}, dropped{false}, after{false};
  auto token = std::make_shared<int>(0);
  exec.Post([&] {
    gate.Wait();
    firstDone = true;
  });
  gate.AwaitReached();
  exec.Post([&, token] { dropped = true; });
  exec.Post([&, token] { dropped = true; });
  EXPECT_EQ(exec.QueuedCount(), 2u);
  exec.ClearQueue();
  EXPECT_EQ(token.use_count(), 1) << "the dropped jobs are destroyed";
  exec.Post([&] { after = true; });
  gate.Open();
  ASSERT_TRUE(WaitFor([&] { return after.load(); }));
  EXPECT_TRUE(firstDone);
  EXPECT_FALSE(dropped);
}

TEST(ExecutorThread, DestroyingRunsAtMostOneWaitingJobAndReturnsWhenIdle) {
  {
    auto idle = std::make_unique<ExecutorThread>(1);
    idle.reset();  // a worker waiting on an empty queue is woken and joined
  }
  auto exec = std::make_unique<ExecutorThread>(1);
  Gate gate;
  std::atomic<int> ran{0};
  exec->Post([&] { gate.Wait(); });
  gate.AwaitReached();
  for (int i = 0; i < 5; ++i) exec->Post([&] { ++ran; });
  ExecutorThread* raw = exec.get();
  std::thread destroyer([&] { exec.reset(); });
  // Stop has begun once its wake-up job sits behind the five.
  ASSERT_TRUE(WaitFor([&] { return raw->QueuedCount() == 6; }));
  gate.Open();
  destroyer.join();
  EXPECT_LE(ran.load(), 1);
}

class TestTarget : public IDrawTarget {
 public:
  bool Present() override {
    ++presents;
    return presentOk;
  }
  bool presentOk = true;
  int presents = 0;
};

class Surface : public D2DAbility {
 public:
  using D2DAbility::MutableBackBuffer;
};

TEST(D2DAbility, NothingIsMadeWithoutATarget) {
  Surface s;
  EXPECT_EQ(s.CreateDeviceResources(), -1);
  s.Resize(320, 200);  // before the window exists: no failure, nothing made
  EXPECT_FALSE(s.HasResources());
  EXPECT_FALSE(s.Render());
}

TEST(D2DAbility, ResizeRebuildsTheBackBufferAndKeepsTheDevice) {
  Surface s;
  TestTarget t;
  s.SetTarget(&t);
  s.Resize(320, 200);
  ASSERT_TRUE(s.HasResources());
  EXPECT_EQ(s.BackBuffer()->size(), QSize(320, 200));
  const auto generation = s.DeviceGeneration();
  EXPECT_EQ(s.CreateDeviceResources(), 0);  // already there: nothing new
  s.Resize(800, 300);
  EXPECT_EQ(s.BackBuffer()->size(), QSize(800, 300));
  EXPECT_EQ(s.DeviceGeneration(), generation);
  EXPECT_TRUE(s.Render());
  EXPECT_EQ(qRgb(0, 0, 0), s.BackBuffer()->pixel(10, 10) | 0xFF000000u);
}

TEST(D2DAbility, AFailedResizeOrPresentDiscardsAndTheNextDrawingMakesEverythingAgain) {
  Surface s;
  TestTarget t;
  s.SetTarget(&t);
  s.Resize(320, 200);
  const auto generation = s.DeviceGeneration();
  s.Resize(1 << 27, 1);  // wider than an image row can be: refused before any allocation
  EXPECT_FALSE(s.HasResources());
  s.Resize(320, 200);
  EXPECT_TRUE(s.HasResources());
  EXPECT_GT(s.DeviceGeneration(), generation);

  t.presentOk = false;
  EXPECT_FALSE(s.Render());
  EXPECT_FALSE(s.HasResources());
  t.presentOk = true;
  EXPECT_TRUE(s.Render());
  EXPECT_TRUE(s.HasResources());
  EXPECT_EQ(s.BackBuffer()->size(), QSize(320, 200));
}

TEST(Letterbox, KeepsTheAspectCentredWithBars) {
  struct Case {
    float bw, bh, tw, th, left, top, width, height;
  } cases[] = {
      {1920, 1080, 800, 300, 133.333f, 0, 533.333f, 300},
      {640, 480, 800, 300, 200, 0, 400, 300},
      {1920, 1080, 640, 600, 0, 120, 640, 360},
      {320, 240, 640, 360, 80, 0, 480, 360},
  };
  for (const Case& c : cases) {
    const FloatRect r = LetterboxRect(c.bw, c.bh, c.tw, c.th);
    EXPECT_NEAR(r.left, c.left, 0.01) << c.bw << "x" << c.bh;
    EXPECT_NEAR(r.top, c.top, 0.01);
    EXPECT_NEAR(r.right - r.left, c.width, 0.01);
    EXPECT_NEAR(r.bottom - r.top, c.height, 0.01);
  }
}

TEST(FrameInterval, ComesFromTheAverageRateWithFallbacks) {
  struct Case {
    int num, den, rnum, rden;
    std::int64_t interval;
  } cases[] = {
      {25, 1, 25, 1, 400'000},
      {30000, 1001, 30000, 1001, 333'333},
      {24000, 1001, 24000, 1001, 416'416},
      {0, 1, 30, 1, 333'333},      // no average rate: the real base rate
      {0, 0, 0, 0, 400'000},       // nothing known: 25 fps
      {90000, 1, 24, 1, 416'666},  // above 240 fps: not a frame rate
      {1, 2, 0, 1, 400'000},       // half a frame per second
  };
  for (const Case& c : cases)
    EXPECT_EQ(FrameInterval100ns(c.num, c.den, c.rnum, c.rden), c.interval)
        << c.num << "/" << c.den;
}

}  // namespace
}  // namespace vts
