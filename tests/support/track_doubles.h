// Doubles for track tests: a notification window that records what it is posted, and the
// production core thread routing the engines' messages to two tracks (it can be held still,
// so that blocks queue up as they would behind a busy core thread).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/core_thread.h"
#include "core/track_sound_handler.h"
#include "platform/thread_queue.h"
#include "tracks/notify.h"
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
  // Waits until `code` came `count` times. With a clock set (the virtual backend's manual
  // clock), time moves only by it: each step moves the sound on by a period.
  bool WaitForCount(std::uint32_t code, int count,
                    std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    if (clock_) {
      for (auto waited = std::chrono::milliseconds(0); waited < limit; waited += clockStep_) {
        if (Count(code) >= count) return true;
        clock_();
      }
      return Count(code) >= count;
    }
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit,
                        [&] { return std::count(codes_.begin(), codes_.end(), code) >= count; });
  }
  // The step WaitForCount takes while it waits (null: real time).
  void SetClock(std::function<void()> step, std::chrono::milliseconds stepLength) {
    clock_ = std::move(step);
    clockStep_ = stepLength;
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
  std::function<void()> clock_;
  std::chrono::milliseconds clockStep_{20};
  std::vector<std::uint32_t> codes_;
  std::vector<plat::LPARAM> senders_;
};

class CoreThreadDouble {
 public:
  CoreThreadDouble() {
    SetSoundPayloadReleaser(
        [](plat::WPARAM d) { ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(d)); });
    core_.Start();
  }
  ~CoreThreadDouble() {
    Release();
    Attach(nullptr, nullptr);
    core_.Stop();
  }
  plat::ThreadId Id() const { return core_.Id(); }
  CCoreThread& Core() { return core_; }
  // The tracks the core thread hands their engines' messages to (null: none; then it
  // releases them). Returns after the core thread took the change.
  void Attach(CSoundTrack* master, CSoundTrack* student) {
    auto m = master ? std::make_unique<CTrackSoundHandler>(master) : nullptr;
    auto s = student ? std::make_unique<CTrackSoundHandler>(student) : nullptr;
    core_.SetTrackHandlers(m.get(), s.get());
    master_ = master;
    student_ = student;
    masterHandler_ = std::move(m);
    studentHandler_ = std::move(s);
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
  // While held, the core thread takes no message (they queue up). Returns once it is held.
  void Hold() {
    if (holder_.joinable()) return;
    auto holding = std::make_shared<std::promise<void>>();
    auto held = holding->get_future();
    released_ = std::promise<void>();
    holder_ = std::thread([this, holding] {
      auto release = released_.get_future();
      core_.Apply([&] {
        holding->set_value();
        release.wait();
      });
    });
    held.wait();
  }
  void Release() {
    if (!holder_.joinable()) return;
    released_.set_value();
    holder_.join();
  }

 private:
  CCoreThread core_;
  CSoundTrack* master_ = nullptr;
  CSoundTrack* student_ = nullptr;
  std::unique_ptr<CTrackSoundHandler> masterHandler_, studentHandler_;
  std::thread holder_;
  std::promise<void> released_;
};

// Fills the chunk with 16-bit mono samples (the chunk becomes loaded, its length the count).
inline void FillChunk(CChunkInfo* chunk, const std::vector<std::int16_t>& samples) {
  chunk->Unload();
  chunk->Reserve(samples.size() * 2 + 2, kChunkGrowStep);
  std::copy(samples.begin(), samples.end(), reinterpret_cast<std::int16_t*>(chunk->data));
  chunk->dataSize = static_cast<std::uint32_t>(samples.size() * 2);
  chunk->length = static_cast<std::uint32_t>(samples.size());
}

// What Clear leaves: the chunk without sound or a play offset, and the track's play position
// and bar back at the start.
inline void ExpectClearedChunk(const CSoundTrack& track, const CChunkInfo* chunk) {
  ASSERT_NE(chunk, nullptr);
  EXPECT_FALSE(chunk->IsLoaded());
  EXPECT_EQ(chunk->dataSize, 0u);
  EXPECT_EQ(chunk->dataCapacity, 0u);
  EXPECT_EQ(chunk->length, 0u);
  EXPECT_EQ(chunk->start, 0u);
  EXPECT_EQ(chunk->playOffset, 0u);
  EXPECT_EQ(track.PlayFrame(), 0u);
  EXPECT_EQ(track.ViewSnapshot().progress.Pos(), 0u);
}

}  // namespace vts::test
