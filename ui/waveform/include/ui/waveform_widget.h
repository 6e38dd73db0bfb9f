// The waveform strip window of a track: shows the strip's composed picture in rows 0-51,
// carries the position bar at row 59, and turns mouse input into the strip's rules.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <atomic>

#include "tracks/waveform_host.h"
#include "tracks/waveform_strip.h"
#include "ui/position_bar.h"

namespace vts {

// Lives on the GUI thread. The strip's repaint request (made under the strip's lock from any
// thread, the core thread while recording or playing) only marks the picture changed; a
// frame clock on the GUI thread, running only while changes come, repaints at most once a
// frame, and a request wakes the GUI thread only to start that clock. Painting takes the strip's
// lock for the composition alone and never waits for it: while another thread holds it, the last
// picture stays and a repaint is retried shortly. Mouse handling takes the lock briefly (the host's
// operations run outside it).
class WaveformWidget : public QWidget {
 public:
  // The strip's size must be set (CWaveformStrip::SetStripRect) before; the widget takes
  // the strip's width, is 66 pixels high, and should be placed at the strip's (x, y).
  explicit WaveformWidget(IWaveformHost& host, QWidget* parent = nullptr);
  ~WaveformWidget() override;

  PositionBar* positionBar() const { return bar_; }

  // Thread-safe; requests made before the next frame are merged into one repaint.
  void requestRepaint();
  // Repaints that the posted requests ran so far (GUI thread).
  int repaintsRun() const { return repaintsRun_; }
  // Whether the frame clock runs: only while changes come (GUI thread).
  bool frameClockRunning() const { return frameClock_.isActive(); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  class StripView;
  void PaintStrip(QWidget& view);  // the strip's rows, from the strip's composed picture
  void StartFrameClock();
  void OnFrameTick();
  void RunRepaint();
  void RetryLater();

  static constexpr int kRetryMs = 20;
  // Repaints come at most this often: the tracks ask with every sound block (25 a second),
  // more than a person follows on a strip this size.
  static constexpr int kMinRepaintIntervalMs = 66;

  IWaveformHost& host_;
  CWaveformStrip& strip_;
  StripView* stripView_ = nullptr;  // rows 0-51
  PositionBar* bar_ = nullptr;
  std::atomic<bool> repaintPending_{false};  // a change not yet shown
  std::atomic<bool> clockRunning_{false};    // frameClock_ runs (set and cleared on the GUI)
  std::atomic<bool> kickPosted_{false};      // a start of the clock is posted
  QTimer frameClock_;                        // a repaint per tick while changes come
  int repaintsRun_ = 0;
  QElapsedTimer sinceRepaint_;  // since the last repaint ran (invalid before the first)
  QImage shown_;                // the last composed picture (GUI thread)
};

}  // namespace vts
