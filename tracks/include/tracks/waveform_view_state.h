// The view state of a track's waveform strip: zoom, what is shown, cursor and selection,
// the play position and the position bar. One instance per track, owned by the track and
// shared by reference with the strip that draws it; nothing keeps a copy of its own.
//
// Threading: the owner's lock (the track's bufferLock) guards every field. Change fields and
// read more than one of them under it, or take a copy under it (CSoundTrack::ViewSnapshot).
// The one exception is `playFrame`, which the core thread moves on with every played or
// recorded period: it is still changed under the lock only, but reading it alone needs no
// lock (CSoundTrack::PlayFrame), so the dialog's counters never queue up behind the audio
// path or a redraw.
#pragma once

#include <atomic>
#include <cstdint>

namespace vts {

inline constexpr std::uint32_t kWaveformDefaultFramesPerPixel = 64;  // what a zoom of 0 means
inline constexpr std::uint32_t kWaveformStripHeight = 52;            // rows 0-51 of the window

// Range and position with the semantics of a progress control: the range starts as
// 0..100, the position is kept inside the range, a new range pulls the position into it.
class ProgressRange {
 public:
  void SetRange(std::int64_t low, std::int64_t high);
  void SetPos(std::int64_t pos);
  std::int64_t Low() const { return low_; }
  std::int64_t High() const { return high_; }
  std::int64_t Pos() const { return pos_; }

 private:
  std::int64_t Clamp(std::int64_t v) const;
  std::int64_t low_ = 0;
  std::int64_t high_ = 100;
  std::int64_t pos_ = 0;
};

// A field changed only under its owner's lock that may also be read without it from any
// thread. Relaxed: such a reader gets a recent value, not an order with the other fields.
template <typename T>
class LockFreeReadable {
 public:
  constexpr LockFreeReadable(T value = T{}) noexcept : value_(value) {}  // NOLINT: as a T
  LockFreeReadable(const LockFreeReadable& other) noexcept : value_(other.load()) {}
  LockFreeReadable& operator=(const LockFreeReadable& other) noexcept {
    store(other.load());
    return *this;
  }
  LockFreeReadable& operator=(T value) noexcept {
    store(value);
    return *this;
  }
  // Writers hold the lock, so a read and a write in two steps lose nothing.
  LockFreeReadable& operator+=(T delta) noexcept {
    store(load() + delta);
    return *this;
  }
  operator T() const noexcept { return load(); }  // NOLINT: reads as a T
  T load() const noexcept { return value_.load(std::memory_order_relaxed); }
  void store(T value) noexcept { value_.store(value, std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
};

// Frames are counted from the start of the current chunk; pixel values are columns of the
// strip.
struct WaveformViewState {
  std::uint32_t framesPerPixel = 256;  // zoom; 0 is taken as 64 everywhere
  std::uint32_t viewStartFrame = 0;    // first frame shown (a multiple of the zoom after a redraw)
  std::uint32_t viewFrames = 0;        // frames covered by the drawn columns
  std::uint32_t cursorFrame = 0;       // where playback starts; end of a mouse selection
  std::uint32_t anchorFrame = 0;       // the other end of the selection
  std::int32_t cursorPixel = 0;        // the three positions as columns at the last paint
  std::int32_t anchorPixel = 0;
  std::int32_t playPixel = 0;
  LockFreeReadable<std::uint32_t> playFrame;  // position of running playback or recording
  std::int32_t dragAnchor = -1;  // frames under the mouse at the last right-button event; -1 = none
  std::uint8_t positionSet = 0;  // 1 once the user set the position on the position bar
  std::int32_t stripX = 0;       // the strip's place in the dialog (and in its background picture)
  std::int32_t stripY = 0;
  std::uint32_t bitmapWidth = 0;  // size of the strip's pictures; 0 wide before there is a window
  std::uint32_t bitmapHeight = kWaveformStripHeight;
  // The position bar under the strip: range 0..length of the current chunk (or of the
  // recording so far), position the cursor or the play position.
  ProgressRange progress;
};

}  // namespace vts
