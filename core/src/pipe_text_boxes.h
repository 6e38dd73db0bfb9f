// The "Pipe Data" boxes of the core (private to the core's sources).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "core/app_core.h"
#include "platform/message_box.h"

namespace vts {

// Texts from the stream peer are shown one after another on a thread of their own, so a box
// left open holds up neither the recording nor the stream. A text that cannot be shown that
// way (16 already wait, or the thread could not start) is refused, never shown on the
// caller's thread.
struct CAppCore::PipeTextBoxes {
  PipeTextBoxes() {
    try {
      thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // Without the thread every text is refused.
    }
  }
  ~PipeTextBoxes() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
  }
  // Queues the text for its box; false, with the reason in *why, when it is refused.
  bool Add(std::u16string text, std::string* why) {
    {
      std::lock_guard lock(mutex);
      if (!thread.joinable()) {
        *why = "no thread shows the boxes";
        return false;
      }
      if (texts.size() >= kMaxWaiting) {  // a flood of texts is not a queue of boxes
        *why = std::to_string(kMaxWaiting) + " texts wait for their boxes";
        return false;
      }
      texts.push_back(std::move(text));
    }
    wake.notify_all();
    return true;
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
