// Thread message queues: one queue per thread, a registry from numeric id to queue, an
// eventfd per queue to wake a waiting GetMessage, and thread timers on the monotonic clock.
#include "platform/thread_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vts::plat {
namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
  std::uintptr_t id;
  Clock::duration interval;
  Clock::time_point due;
};

struct Queue {
  Queue() : wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~Queue() {
    if (wakeFd >= 0) close(wakeFd);
  }
  void Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd, &one, sizeof one);
  }
  void ClearWake() {
    std::uint64_t v;
    [[maybe_unused]] ssize_t n = read(wakeFd, &v, sizeof v);
  }

  std::mutex mutex;
  std::deque<Msg> messages;
  std::vector<Timer> timers;  // touched by the owner thread only, but kept under the mutex
  std::uintptr_t nextTimerId = 1;
  bool alive = true;
  int wakeFd;
};

std::shared_mutex g_registryMutex;
std::unordered_map<ThreadId, std::shared_ptr<Queue>>& Registry() {
  static auto* registry = new std::unordered_map<ThreadId, std::shared_ptr<Queue>>();
  return *registry;
}
std::atomic<ThreadId> g_nextThreadId{1};

void EndQueueOf(ThreadId id, std::shared_ptr<Queue>& queue, const std::function<void(const Msg&)>& drop);

// Ends the thread's queue when the thread exits, so posts to a dead thread fail.
struct ThreadState {
  ThreadId id = 0;
  std::shared_ptr<Queue> queue;
  ~ThreadState() {
    if (queue) EndQueueOf(id, queue, {});
  }
};
thread_local ThreadState t_state;

std::shared_ptr<Queue>& OwnQueue() {
  if (!t_state.queue) {
    auto queue = std::make_shared<Queue>();
    ThreadId id = CurrentThreadId();
    std::unique_lock lock(g_registryMutex);
    Registry()[id] = queue;
    t_state.queue = std::move(queue);
  }
  return t_state.queue;
}

void EndQueueOf(ThreadId id, std::shared_ptr<Queue>& queue, const std::function<void(const Msg&)>& drop) {
  {
    std::unique_lock lock(g_registryMutex);
    Registry().erase(id);
  }
  std::deque<Msg> left;
  {
    std::lock_guard lock(queue->mutex);
    queue->alive = false;
    left.swap(queue->messages);
    queue->timers.clear();
  }
  if (drop) {
    for (const Msg& m : left) drop(m);
  }
  queue.reset();
}

// Takes the next message: a due timer first (so a busy queue cannot starve the timers),
// then posted messages in order. Caller holds the queue's mutex.
bool TakeReady(Queue& q, Msg* msg, bool remove, Clock::time_point now) {
  for (Timer& t : q.timers) {
    if (t.due <= now) {
      *msg = Msg{WM_TIMER, t.id, 0};
      if (remove) t.due = now + t.interval;
      return true;
    }
  }
  if (!q.messages.empty()) {
    *msg = q.messages.front();
    if (remove) q.messages.pop_front();
    return true;
  }
  return false;
}

// timeout < 0: wait without limit.
bool Wait(Msg* msg, std::chrono::milliseconds timeout) {
  std::shared_ptr<Queue> q = OwnQueue();
  const bool forever = timeout.count() < 0;
  const Clock::time_point giveUp = forever ? Clock::time_point::max() : Clock::now() + timeout;
  for (;;) {
    Clock::time_point wakeAt = giveUp;
    {
      std::lock_guard lock(q->mutex);
      Clock::time_point now = Clock::now();
      if (TakeReady(*q, msg, true, now)) return true;
      if (!forever && now >= giveUp) {
        *msg = Msg{};
        return false;
      }
      for (const Timer& t : q->timers) wakeAt = std::min(wakeAt, t.due);
    }
    int waitMs = -1;
    if (wakeAt != Clock::time_point::max()) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now()).count();
      waitMs = static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
    }
    pollfd pfd{q->wakeFd, POLLIN, 0};
    poll(&pfd, 1, waitMs);
    q->ClearWake();
  }
}

}  // namespace

ThreadId CurrentThreadId() {
  if (t_state.id == 0) t_state.id = g_nextThreadId.fetch_add(1);
  return t_state.id;
}

void EnsureQueue() { OwnQueue(); }

void EndQueue(const std::function<void(const Msg&)>& drop) {
  if (t_state.queue) EndQueueOf(t_state.id, t_state.queue, drop);
}

bool PostThreadMessage(ThreadId thread, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  std::shared_lock lock(g_registryMutex);
  auto it = Registry().find(thread);
  if (it == Registry().end()) return false;
  Queue& q = *it->second;
  {
    std::lock_guard qlock(q.mutex);
    if (!q.alive) return false;
    q.messages.push_back(Msg{message, wParam, lParam});
  }
  q.Wake();
  return true;
}

bool GetMessage(Msg* msg) {
  Wait(msg, std::chrono::milliseconds(-1));
  return msg->message != WM_QUIT;
}

bool GetMessageTimeout(Msg* msg, std::chrono::milliseconds timeout) {
  if (timeout.count() < 0) timeout = std::chrono::milliseconds(0);
  if (!Wait(msg, timeout)) return false;
  return msg->message != WM_QUIT;
}

bool PeekMessage(Msg* msg, bool remove) {
  std::shared_ptr<Queue> q = OwnQueue();
  std::lock_guard lock(q->mutex);
  return TakeReady(*q, msg, remove, Clock::now());
}

std::uintptr_t SetThreadTimer(std::uintptr_t id, std::chrono::milliseconds interval) {
  std::shared_ptr<Queue> q = OwnQueue();
  std::lock_guard lock(q->mutex);
  if (interval.count() < 1) interval = std::chrono::milliseconds(1);
  if (id == 0) {
    // A fresh id that no timer of this thread uses.
    for (bool used = true; used;) {
      id = q->nextTimerId++;
      used = false;
      for (const Timer& t : q->timers) used |= t.id == id;
    }
  }
  Clock::time_point due = Clock::now() + interval;
  for (Timer& t : q->timers) {
    if (t.id == id) {
      t.interval = interval;
      t.due = due;
      return id;
    }
  }
  q->timers.push_back(Timer{id, interval, due});
  return id;
}

bool KillThreadTimer(std::uintptr_t id) {
  if (!t_state.queue) return false;
  std::lock_guard lock(t_state.queue->mutex);
  auto& timers = t_state.queue->timers;
  for (auto it = timers.begin(); it != timers.end(); ++it) {
    if (it->id == id) {
      timers.erase(it);
      return true;
    }
  }
  return false;
}

void CreateQueueByPostingToSelf() {
  EnsureQueue();
  while (!PostThreadMessage(CurrentThreadId(), WM_USER, 0, 0)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EnsureQueue();
  }
}

}  // namespace vts::plat
