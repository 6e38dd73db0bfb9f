// Position bar under the waveform strip.
#include "ui/position_bar.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace vts {

PositionBar::PositionBar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PositionBar::setRange(int64_t low, int64_t high) {
  if (low == range_.Low() && high == range_.High()) return;
  range_.SetRange(low, high);
  update();
}

void PositionBar::setPosition(int64_t position) {
  const int64_t before = range_.Pos();
  range_.SetPos(position);
  if (range_.Pos() != before) update();
}

void PositionBar::setPressHandler(std::function<void(int x, int width)> handler) {
  pressHandler_ = std::move(handler);
}

void PositionBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor::fromRgb(kTroughColour));
  const int64_t span = range_.High() - range_.Low();
  if (span <= 0) return;
  const int filled = int(double(range_.Pos() - range_.Low()) * width() / double(span));
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
