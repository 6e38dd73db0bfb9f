// The drawing base of the video window: a back-buffer image that frames are drawn into off
// the GUI thread and that the window presents. The resources are made on first need, the
// back buffer is rebuilt when the window is resized, and everything is thrown away after a
// failed present so that the next drawing makes it again.
//
// Threading: every operation holds the drawing lock for its whole length; the derived class
// holds it around its own drawing cycle, so operations may be called with it held. The
// presenting side (the window's paint on the GUI thread) copies BackBuffer() under the lock.
#pragma once

#include <QImage>
#include <cstdint>
#include <mutex>

namespace vts {

// A failed drawing-resource step, with its result code.
struct ComException {
  std::int32_t hr = 0;
};

constexpr std::int32_t kHrOutOfMemory = std::int32_t(0x8007000E);

// Where the back buffer is shown: the window's drawing child.
class IDrawTarget {
 public:
  virtual ~IDrawTarget() = default;
  // Shows the current back buffer (a queued repaint). False: the target can no longer show
  // anything (the window went away).
  virtual bool Present() = 0;
};

class D2DAbility {
 public:
  D2DAbility();
  virtual ~D2DAbility();
  D2DAbility(const D2DAbility&) = delete;
  D2DAbility& operator=(const D2DAbility&) = delete;

  // -1 without a target (nothing made); else 0. Throws ComException when a step fails.
  std::int32_t CreateDeviceResources();
  void DiscardDeviceResources();
  // The back buffer's new size in pixels (the window's client width, height less the
  // trackbar). Rebuilds the back buffer; a failure discards every resource.
  virtual void Resize(int width, int height);

  // One drawing cycle: resources made when missing, Draw into the back buffer, Present. A
  // failed present discards the resources. False when nothing was drawn.
  bool Render();

  void SetTarget(IDrawTarget* target);
  IDrawTarget* Target() const { return target_; }
  bool HasResources() const { return hasContext_; }
  std::recursive_mutex& DrawingLock() { return drawingLock_; }
  // Valid under the drawing lock; null without resources.
  const QImage* BackBuffer() const { return hasContext_ ? &backBuffer_ : nullptr; }
  // How many times the device was made (tests see rebuilds by it).
  std::uint32_t DeviceGeneration() const { return generation_; }

 protected:
  // Clears the back buffer to opaque black.
  virtual void Draw();
  virtual void OnDeviceResourcesCreated() {}
  virtual void ReleaseEffect() { hasEffect_ = false; }
  QImage& MutableBackBuffer() { return backBuffer_; }

 private:
  std::int32_t CreateDevice();
  void CreateTargetBitmap();

  IDrawTarget* target_ = nullptr;
  std::recursive_mutex drawingLock_;
  bool hasDevice_ = false;
  bool hasContext_ = false;
  bool hasEffect_ = false;
  QImage backBuffer_;
  int width_ = 1;
  int height_ = 1;
  std::uint32_t generation_ = 0;
};

}  // namespace vts
