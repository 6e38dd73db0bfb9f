// The thin position bar under a waveform strip: a progress control of our own (range,
// position kept inside it) that also seeks: a left press, and every move with the left
// button held, reports the point to its owner.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

#include "tracks/waveform_strip.h"

namespace vts {

// GUI thread only.
class PositionBar : public QWidget {
 public:
  explicit PositionBar(QWidget* parent = nullptr);

  // Progress-control semantics: the range starts as 0..100; the position stays inside it.
  void setRange(int64_t low, int64_t high);
  void setPosition(int64_t position);
  // Both at once: repaints only when the filled part at the end differs from before.
  void setRangeAndPosition(int64_t low, int64_t high, int64_t position);
  int64_t minimum() const { return range_.Low(); }
  int64_t maximum() const { return range_.High(); }
  int64_t position() const { return range_.Pos(); }

  // x of the press (may lie outside the bar while the button is held) and the bar's width.
  void setPressHandler(std::function<void(int x, int width)> handler);

  // Colours of the empty and the filled part.
  static constexpr QRgb kTroughColour = 0xFFE6E6E6u;
  static constexpr QRgb kFillColour = 0xFF06B025u;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void Press(QMouseEvent* event);
  int FilledWidth() const;  // pixels of the filled part

  ProgressRange range_;
  std::function<void(int, int)> pressHandler_;
};

}  // namespace vts
