// Position bar under the waveform strip.
#include "ui/position_bar.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace vts {

PositionBar::PositionBar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

// A new range or position repaints only when the filled part changes by a pixel: the
// tracks move the position with every sound block, far more often than that.
void PositionBar::setRange(int64_t low, int64_t high) {
  if (low == range_.Low() && high == range_.High()) return;
  const int before = FilledWidth();
  range_.SetRange(low, high);
  if (FilledWidth() != before) update();
}

void PositionBar::setPosition(int64_t position) {
  const int before = FilledWidth();
  range_.SetPos(position);
  if (FilledWidth() != before) update();
}

// The range and the position of one sound block at once: while recording both grow together,
// and the bar's look only changes when the filled part does.
void PositionBar::setRangeAndPosition(int64_t low, int64_t high, int64_t position) {
  const int before = FilledWidth();
  range_.SetRange(low, high);
  range_.SetPos(position);
  if (FilledWidth() != before) update();
}

int PositionBar::FilledWidth() const {
  const int64_t span = range_.High() - range_.Low();
  if (span <= 0) return 0;
  return int(double(range_.Pos() - range_.Low()) * width() / double(span));
}

void PositionBar::setPressHandler(std::function<void(int x, int width)> handler) {
  pressHandler_ = std::move(handler);
}

void PositionBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor::fromRgb(kTroughColour));
  const int filled = FilledWidth();
  if (filled > 0) p.fillRect(0, 0, filled, height(), QColor::fromRgb(kFillColour));
}

void PositionBar::Press(QMouseEvent* event) {
  if (pressHandler_) pressHandler_(int(std::floor(event->position().x())), width());
}

void PositionBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Press(event);
}

void PositionBar::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) Press(event);  // dragging seeks continuously
}

}  // namespace vts
