// Worker pool for the video window's opening, decoding and drawing jobs.
#include "video/executor_thread.h"

namespace vts {

ExecutorThread::ExecutorThread(int workerCount) {
  workerCount_ = workerCount > 0 ? std::uint32_t(workerCount)
                                 : std::max(1u, std::thread::hardware_concurrency());
  try {
    for (std::uint32_t i = 0; i < workerCount_; ++i)
      workers_.emplace_back([this] { WorkerLoop(); });
  } catch (...) {
    Stop();  // the workers started so far end before the error leaves the constructor
    throw;
  }
}

ExecutorThread::~ExecutorThread() { Stop(); }

void ExecutorThread::Post(const std::function<void()>& job) {
  std::lock_guard lock(mutex_);
  queue_.push_back(job);
  wake_.notify_one();
}

void ExecutorThread::ClearQueue() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(queue_);
  }
  // Destroyed outside the lock: a job's captures may post again.
}

std::size_t ExecutorThread::QueuedCount() {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void ExecutorThread::Stop() {
  running_.store(false);
  // One do-nothing job per worker wakes a worker that waits on an empty queue.
  for (std::size_t i = 0; i < workers_.size(); ++i) Post([] {});
  for (auto& w : workers_)
    if (w.joinable()) w.join();
  workers_.clear();
}

void ExecutorThread::WorkerLoop() {
  while (running_.load()) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return !queue_.empty(); });
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    if (job) job();
  }
}

}  // namespace vts
