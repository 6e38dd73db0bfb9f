// The waveform strip window of a track: shows the strip's composed picture in rows 0-51,
// carries the position bar at row 59, and turns mouse input into the strip's rules.
#pragma once

#include <QWidget>
#include <memory>

#include "tracks/waveform_host.h"
#include "tracks/waveform_strip.h"
#include "ui/frame_clock.h"
#include "ui/position_bar.h"

namespace vts {

// Lives on the GUI thread. The strip's repaint request (made under the strip's lock from any
// thread, the core thread while recording or playing) only marks the picture changed; the
// window's frame clock repaints it at most once a frame, together with the window's other
// changing pictures (see FrameClock). Painting takes the strip's
// lock for the composition alone and never waits for it: while another thread holds it, the last
// picture stays and a repaint is retried shortly. Mouse handling takes the lock briefly (the host's
// operations run outside it).
class WaveformWidget : public QWidget {
 public:
  // The strip's size must be set (CWaveformStrip::SetStripRect) before; the widget takes
  // the strip's width, is 66 pixels high, and should be placed at the strip's (x, y).
  // clock: the window's frame clock, which must outlive the widget; none: one of its own.
  explicit WaveformWidget(IWaveformHost& host, QWidget* parent = nullptr,
                          FrameClock* clock = nullptr);
  ~WaveformWidget() override;

  PositionBar* positionBar() const { return bar_; }

  // Thread-safe; requests made before the next frame are merged into one repaint.
  void requestRepaint();
  // Repaints that the posted requests ran so far (GUI thread).
  int repaintsRun() const { return repaintsRun_; }
  // Whether the frame clock runs: only while changes come (GUI thread).
  bool frameClockRunning() const { return clock_->Running(); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  class StripView;
  void PaintStrip(QWidget& view);  // the strip's rows, from the strip's composed picture
  void RunRepaint();
  void RetryLater();

  static constexpr int kRetryMs = 20;

  IWaveformHost& host_;
  CWaveformStrip& strip_;
  StripView* stripView_ = nullptr;  // rows 0-51
  PositionBar* bar_ = nullptr;
  std::unique_ptr<FrameClock> ownClock_;  // when the window gave none
  FrameClock* clock_ = nullptr;
  std::unique_ptr<FrameClock::Client> frame_;  // runs the repaint on the clock's ticks
  int repaintsRun_ = 0;
  QImage shown_;  // the last composed picture (GUI thread)
};

}  // namespace vts
