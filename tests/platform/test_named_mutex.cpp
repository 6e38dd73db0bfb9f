// Named locks: exclusion across processes and threads, recursion, release when the holder dies;
// the program's position locks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/named_mutex.h"
#include "platform/position_lock.h"

namespace vts::plat {
namespace {

// Runs `body` in a child process and returns its exit status.
template <typename F>
int InChild(F body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 100 + WTERMSIG(st);
}

TEST(NamedMutex, FileLiesUnderTheRuntimeFolder) {
  const std::string path = NamedMutexPath(kMp3DecodeMutexName);
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "Global_VoxtrailstudyMP3DecodeMutex");
  NamedMutex m(kMp3DecodeMutexName);
  EXPECT_TRUE(m.IsValid());
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
}

TEST(NamedMutex, ExcludesOtherProcessesAndIsRecursiveForItsOwner) {
  NamedMutex m("test-exclusion");
  ASSERT_TRUE(m.Lock());
  ASSERT_TRUE(m.Lock());  // created with ownership and waited for: held twice
  EXPECT_EQ(InChild([] { return NamedMutex("test-exclusion").TryLock() ? 1 : 0; }), 0);
  m.Unlock();
  EXPECT_EQ(InChild([] { return NamedMutex("test-exclusion").TryLock() ? 1 : 0; }), 0);
  m.Unlock();
  EXPECT_EQ(InChild([] { return NamedMutex("test-exclusion").TryLock() ? 1 : 0; }), 1);
  // Other names are other locks.
  ASSERT_TRUE(m.Lock());
  EXPECT_EQ(InChild([] { return NamedMutex("test-other").TryLock() ? 1 : 0; }), 1);
  m.Unlock();
}

TEST(NamedMutex, ReleasedWhenTheHolderDies) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    NamedMutex m("test-abandoned");
    m.Lock();
    char c = 1;
    (void)!write(ready[1], &c, 1);
    pause();  // killed while holding the lock
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  NamedMutex m("test-abandoned");
  EXPECT_FALSE(m.TryLock());
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  NamedMutexLock hold(m);  // would wait forever if the dead holder kept it
  EXPECT_TRUE(hold.OwnsLock());
  close(ready[0]);
  close(ready[1]);
}

TEST(NamedMutex, SerialisesThreadsOfOneObjectAndOfTwoObjects) {
  NamedMutex shared("test-threads");
  NamedMutex second("test-threads");
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  auto work = [&](NamedMutex& m) {
    for (int i = 0; i < 200; ++i) {
      NamedMutexLock hold(m);
      if (inside.fetch_add(1) != 0) overlap = true;
      std::this_thread::yield();
      inside.fetch_sub(1);
    }
  };
  std::thread a(work, std::ref(shared)), b(work, std::ref(shared)), c(work, std::ref(second));
  a.join();
  b.join();
  c.join();
  EXPECT_FALSE(overlap.load());
  // A thread that does not own it cannot release it.
  ASSERT_TRUE(shared.Lock());
  std::thread([&] { shared.Unlock(); }).join();
  EXPECT_FALSE(second.TryLock());
  shared.Unlock();
  EXPECT_TRUE(second.TryLock());
  second.Unlock();
}

}  // namespace
}  // namespace vts::plat

// One copy per position; a position that must be alone also needs no copy anywhere else.
// Each lock stands for a copy (flock() excludes descriptors, also in one process).
TEST(PositionLock, OneCopyPerPositionAndPosition0Alone) {
  using R = vts::plat::PositionLock::Result;
  struct Step {
    unsigned position;
    bool alone;
    R result;
  };
  const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
      {"a second copy at position 1", {{1, false, R::kTaken}, {1, false, R::kPositionHeld}}},
      {"positions 1 and 2 side by side", {{1, false, R::kTaken}, {2, false, R::kTaken}}},
      {"position 0 after position 1", {{1, false, R::kTaken}, {0, true, R::kAnotherCopyRuns}}},
      {"a second position 0", {{0, true, R::kTaken}, {0, true, R::kPositionHeld}}},
      {"position 1 after position 0", {{0, true, R::kTaken}, {1, false, R::kTaken}}},
  };
  for (const auto& [name, steps] : cases) {
    SCOPED_TRACE(name);
    std::vector<std::unique_ptr<vts::plat::PositionLock>> copies;
    for (const Step& step : steps) {
      copies.push_back(std::make_unique<vts::plat::PositionLock>());
      EXPECT_EQ(copies.back()->Take("TestProgram", step.position, step.alone), step.result);
    }
  }
  // A copy that ended gave its position back.
  auto again = std::make_unique<vts::plat::PositionLock>();
  EXPECT_EQ(again->Take("TestProgram", 0, true), R::kTaken);
}
