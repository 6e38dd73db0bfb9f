// The "Pipe Data" boxes of the core (private to the core's sources).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "core/app_core.h"
#include "platform/message_box.h"

namespace vts {

// Texts from the stream peer are shown one after another on a thread of their own, so a box
// left open holds up neither the recording nor the stream.
struct CAppCore::PipeTextBoxes {
  PipeTextBoxes() : thread([this] { Run(); }) {}
  ~PipeTextBoxes() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    wake.notify_all();
    thread.join();
  }
  void Add(std::u16string text) {
    {
      std::lock_guard lock(mutex);
      if (texts.size() >= kMaxWaiting) return;  // a flood of texts is not a queue of boxes
      texts.push_back(std::move(text));
    }
    wake.notify_all();
  }
  void Run() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [this] { return stop || !texts.empty(); });
      if (stop) return;
      std::u16string text = std::move(texts.front());
      texts.pop_front();
      lock.unlock();
      plat::MessageBox(text, u"Pipe Data", plat::MB_ICONINFORMATION);
      lock.lock();
    }
  }
  static constexpr std::size_t kMaxWaiting = 16;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::u16string> texts;
  bool stop = false;
  std::thread thread;  // last: starts when the rest exists
};

}  // namespace vts
