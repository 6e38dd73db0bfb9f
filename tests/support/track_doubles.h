// Doubles for track tests: a notification window that records what it is posted, and a
// stand-in core thread that routes the engines' messages to two tracks (and can be held
// still, so that blocks queue up as they would behind a busy core thread).
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/thread_queue.h"
#include "tracks/notify.h"
#include "tracks/sound_routing.h"
#include "tracks/sound_track.h"

namespace vts::test {

class NotifyLog : public INotifyWindow {
 public:
  void PostNotify(std::uint32_t message, plat::WPARAM code, plat::LPARAM sender) override {
    std::lock_guard lock(mutex_);
    if (message == WM_TRACKNOTIFY) codes_.push_back(static_cast<std::uint32_t>(code));
    senders_.push_back(sender);
    cv_.notify_all();
  }
  std::vector<std::uint32_t> Codes() const {
    std::lock_guard lock(mutex_);
    return codes_;
  }
  // Codes without the per-block ones (4 and 10), which depend on timing.
  std::vector<std::uint32_t> CodesWithout(std::initializer_list<std::uint32_t> skip) const {
    std::vector<std::uint32_t> out;
    for (auto c : Codes())
      if (std::find(skip.begin(), skip.end(), c) == skip.end()) out.push_back(c);
    return out;
  }
  int Count(std::uint32_t code) const {
    auto c = Codes();
    return static_cast<int>(std::count(c.begin(), c.end(), code));
  }
  bool WaitForCount(std::uint32_t code, int count,
                    std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit,
                        [&] { return std::count(codes_.begin(), codes_.end(), code) >= count; });
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    codes_.clear();
    senders_.clear();
  }
  NotifyTarget Target() { return NotifyTarget{0, this, WM_TRACKNOTIFY}; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::uint32_t> codes_;
  std::vector<plat::LPARAM> senders_;
};

class CoreThreadDouble {
 public:
  CoreThreadDouble() {
    thread_ = std::thread([this] { Run(); });
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return id_ != 0; });
  }
  ~CoreThreadDouble() {
    Release();
    plat::PostThreadMessage(id_, plat::WM_QUIT, 0, 0);
    thread_.join();
  }
  plat::ThreadId Id() const { return id_; }
  void Attach(CSoundTrack* master, CSoundTrack* student) {
    std::lock_guard lock(routeMutex_);
    master_ = master;
    student_ = student;
  }
  // Stops the tracks, lets their last blocks arrive, then routes nothing more to them.
  void Detach() {
    for (CSoundTrack* t : {master_, student_}) {
      if (t == nullptr) continue;
      t->StopAll();
      t->WaitForRecordingEnd();
    }
    Attach(nullptr, nullptr);
  }
  // While held, the thread takes no message (they queue up).
  void Hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      held_ = false;
    }
    cv_.notify_all();
  }
  int Routed() const { return routed_; }

 private:
  void Run() {
    plat::EnsureQueue();
    {
      std::lock_guard lock(mutex_);
      id_ = plat::CurrentThreadId();
    }
    cv_.notify_all();
    plat::Msg msg;
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return !held_; });
      }
      if (!plat::GetMessage(&msg)) break;
      std::lock_guard lock(routeMutex_);
      if (RouteSoundMessage(msg, master_, student_)) ++routed_;
    }
    plat::EndQueue([](const plat::Msg& m) {
      if (m.message == WM_SOUND_OUT || m.message == WM_SOUND_IN)
        ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(m.wParam));
    });
  }

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool held_ = false;
  plat::ThreadId id_ = 0;
  std::mutex routeMutex_;
  CSoundTrack* master_ = nullptr;
  CSoundTrack* student_ = nullptr;
  std::atomic<int> routed_{0};
};

// Fills the chunk with 16-bit mono samples (the chunk becomes loaded, its length the count).
inline void FillChunk(CChunkInfo* chunk, const std::vector<std::int16_t>& samples) {
  chunk->Unload();
  chunk->Reserve(samples.size() * 2 + 2, kChunkGrowStep);
  std::copy(samples.begin(), samples.end(), reinterpret_cast<std::int16_t*>(chunk->data));
  chunk->dataSize = static_cast<std::uint32_t>(samples.size() * 2);
  chunk->length = static_cast<std::uint32_t>(samples.size());
}

}  // namespace vts::test
