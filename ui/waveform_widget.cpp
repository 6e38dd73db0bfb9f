// Waveform strip window: painting under the strip's lock and the mouse rules.
#include "ui/waveform_widget.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <cmath>
#include <cstring>
#include <mutex>

namespace vts {

namespace {
int ColumnOf(const QMouseEvent* event) { return int(std::floor(event->position().x())); }
}  // namespace

WaveformWidget::WaveformWidget(IWaveformHost& host, QWidget* parent)
    : QWidget(parent), host_(host), strip_(host.WaveformStrip()) {
  int width = 0;
  {
    std::lock_guard guard(strip_.Lock());
    width = int(strip_.View().bitmapWidth);
  }
  setFixedSize(width, kWaveformWindowHeight);
  setCursor(Qt::ArrowCursor);
  bar_ = new PositionBar(this);
  bar_->setGeometry(0, kPositionBarTop, width, kPositionBarHeight);
  bar_->setPressHandler([this](int x, int barWidth) { strip_.OnBarPress(host_, x, barWidth); });
  strip_.SetRepaintRequest([this] { requestRepaint(); });
  RunRepaint();
  repaintsRun_ = 0;
  sinceRepaint_.invalidate();  // the first change shows at once
}

WaveformWidget::~WaveformWidget() {
  // Taken under the strip's lock: no other thread is inside the request after this.
  strip_.SetRepaintRequest(nullptr);
}

void WaveformWidget::requestRepaint() {
  if (repaintPending_.exchange(true)) return;
  // The queued call is dropped with the widget if it goes first.
  QMetaObject::invokeMethod(
      this, [this] { RunRepaint(); }, Qt::QueuedConnection);
}

void WaveformWidget::RunRepaint() {
  if (sinceRepaint_.isValid() && sinceRepaint_.elapsed() < kMinRepaintIntervalMs) {
    // Still pending: requests until then merge into this one.
    QTimer::singleShot(int(kMinRepaintIntervalMs - sinceRepaint_.elapsed()), this,
                       [this] { RunRepaint(); });
    return;
  }
  sinceRepaint_.start();
  // Cleared before reading, so a change made from here on posts a new repaint.
  repaintPending_.store(false);
  std::unique_lock guard(strip_.Lock(), std::try_to_lock);
  if (!guard.owns_lock()) {
    RetryLater();
    return;
  }
  ++repaintsRun_;
  const int64_t low = strip_.Bar().Low();
  const int64_t high = strip_.Bar().High();
  const int64_t pos = strip_.Bar().Pos();
  guard.unlock();
  bar_->setRange(low, high);
  bar_->setPosition(pos);
  update(0, 0, width(), int(kWaveformStripHeight));
}

void WaveformWidget::RetryLater() {
  QTimer::singleShot(kRetryMs, this, [this] { requestRepaint(); });
}

void WaveformWidget::paintEvent(QPaintEvent*) {
  // The GUI thread never waits for the track's lock: a thread that holds it may itself be
  // waiting for the GUI (a message box). Then the last picture is shown and a repaint follows.
  {
    std::unique_lock guard(strip_.Lock(), std::try_to_lock);
    if (guard.owns_lock()) {
      strip_.Compose();
      const QImage& picture = strip_.CompositionImage();
      if (shown_.size() != picture.size() || shown_.format() != picture.format())
        shown_ = QImage(picture.size(), picture.format());
      if (!picture.isNull())
        std::memcpy(shown_.bits(), picture.constBits(), size_t(picture.sizeInBytes()));
    } else {
      RetryLater();
    }
  }
  if (shown_.isNull()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, shown_);
}

void WaveformWidget::mousePressEvent(QMouseEvent* event) {
  // The widget keeps the mouse while a button is held, as a capture would.
  if (event->button() == Qt::LeftButton)
    strip_.OnLeftButtonDown(host_, ColumnOf(event), event->modifiers() & Qt::ControlModifier);
  else if (event->button() == Qt::RightButton)
    strip_.OnRightButtonDown(host_, ColumnOf(event));
}

void WaveformWidget::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::RightButton)
    strip_.OnRightDrag(host_, ColumnOf(event));
  else if (event->buttons() & Qt::LeftButton)
    strip_.OnLeftDrag(host_, ColumnOf(event));
}

void WaveformWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    strip_.OnWaveformMouse(host_, false, ColumnOf(event));
  else if (event->button() == Qt::RightButton)
    strip_.OnRightButtonUp(host_);
}

}  // namespace vts
