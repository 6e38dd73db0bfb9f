// A small pool of worker threads that run posted jobs. With one worker (what the video window
// uses) the jobs run one at a time, in the order they were posted, never on the posting thread.
//
// Threading: Post and ClearQueue from any thread, workers included. Stop (and the destructor)
// on a thread that is not one of the workers. A job must not throw.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vts {

class ExecutorThread {
 public:
  // workerCount <= 0: one worker per hardware thread. Throws std::system_error when a
  // worker cannot be started.
  explicit ExecutorThread(int workerCount);
  ~ExecutorThread();
  ExecutorThread(const ExecutorThread&) = delete;
  ExecutorThread& operator=(const ExecutorThread&) = delete;

  void Post(const std::function<void()>& job);
  // Drops every job that has not started; they are destroyed unrun.
  void ClearQueue();
  // Jobs waiting to run (not counting one that runs).
  std::size_t QueuedCount();
  // Each worker finishes what it runs (or takes one more job) and ends; joins them all.
  void Stop();

 private:
  void WorkerLoop();

  std::atomic<bool> running_{true};
  std::deque<std::function<void()>> queue_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint32_t workerCount_ = 0;
};

}  // namespace vts
