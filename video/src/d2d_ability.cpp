// Back-buffer drawing base of the video window.
#include "video/d2d_ability.h"

#include <QPainter>
#include <algorithm>

namespace vts {

D2DAbility::D2DAbility() = default;

D2DAbility::~D2DAbility() {
  std::lock_guard lock(drawingLock_);
  hasEffect_ = hasContext_ = hasDevice_ = false;
  backBuffer_ = QImage();
}

void D2DAbility::SetTarget(IDrawTarget* target) {
  std::lock_guard lock(drawingLock_);
  target_ = target;
}

std::int32_t D2DAbility::CreateDeviceResources() {
  if (!target_) return -1;
  std::lock_guard lock(drawingLock_);
  if (!hasContext_) {
    if (std::int32_t hr = CreateDevice(); hr != 0) throw ComException{hr};
    CreateTargetBitmap();
    OnDeviceResourcesCreated();
  }
  return 0;
}

std::int32_t D2DAbility::CreateDevice() {
  hasDevice_ = true;
  hasContext_ = true;
  hasEffect_ = true;
  ++generation_;
  return 0;
}

void D2DAbility::CreateTargetBitmap() {
  // Opaque 32-bit pixels, as the swap chain's buffers are.
  QImage image(std::max(width_, 1), std::max(height_, 1), QImage::Format_RGB32);
  if (image.isNull()) {
    DiscardDeviceResources();  // no half-made set stays behind
    throw ComException{kHrOutOfMemory};
  }
  image.fill(Qt::black);
  backBuffer_ = std::move(image);
}

void D2DAbility::DiscardDeviceResources() {
  std::lock_guard lock(drawingLock_);
  ReleaseEffect();
  hasEffect_ = false;
  hasContext_ = false;
  backBuffer_ = QImage();
  hasDevice_ = false;
}

void D2DAbility::Resize(int width, int height) {
  std::lock_guard lock(drawingLock_);
  width_ = std::max(width, 1);
  height_ = std::max(height, 1);
  try {
    if (!hasContext_) CreateDeviceResources();
    if (!hasContext_) return;
    backBuffer_ = QImage();
    QImage image(width_, height_, QImage::Format_RGB32);
    if (image.isNull()) {
      DiscardDeviceResources();  // made again at the next drawing
      return;
    }
    image.fill(Qt::black);
    backBuffer_ = std::move(image);
  } catch (const ComException&) {
    // The size is kept; the next drawing tries again.
  }
}

bool D2DAbility::Render() {
  std::lock_guard lock(drawingLock_);
  try {
    if (CreateDeviceResources() < 0) return false;
  } catch (const ComException&) {
    return false;  // a device failure skips this drawing
  }
  Draw();
  if (!target_->Present()) {
    DiscardDeviceResources();
    return false;
  }
  return true;
}

void D2DAbility::Draw() { backBuffer_.fill(Qt::black); }

}  // namespace vts
