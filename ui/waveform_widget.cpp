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

// Rows 0-51: the strip's picture, which covers them wholly. Being opaque, a repaint of the
// strip repaints it alone, not the dialog behind it; the mouse goes to the strip window.
class WaveformWidget::StripView : public QWidget {
 public:
  explicit StripView(WaveformWidget& owner) : QWidget(&owner), owner_(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

 protected:
  void paintEvent(QPaintEvent*) override { owner_.PaintStrip(*this); }

 private:
  WaveformWidget& owner_;
};

WaveformWidget::WaveformWidget(IWaveformHost& host, QWidget* parent, FrameClock* clock)
    : QWidget(parent), host_(host), strip_(host.WaveformStrip()) {
  if (clock == nullptr) {
    ownClock_ = std::make_unique<FrameClock>();
    clock = ownClock_.get();
  }
  clock_ = clock;
  frame_ = std::make_unique<FrameClock::Client>(*clock, [this] { RunRepaint(); });
  int width = 0;
  {
    std::lock_guard guard(strip_.Lock());
    width = int(strip_.View().bitmapWidth);
  }
  setFixedSize(width, kWaveformWindowHeight);
  setCursor(Qt::ArrowCursor);
  stripView_ = new StripView(*this);
  stripView_->setGeometry(0, 0, width, int(kWaveformStripHeight));
  bar_ = new PositionBar(this);
  bar_->setGeometry(0, kPositionBarTop, width, kPositionBarHeight);
  bar_->setPressHandler([this](int x, int barWidth) { strip_.OnBarPress(host_, x, barWidth); });
  strip_.SetRepaintRequest([this] { requestRepaint(); });
  RunRepaint();
  repaintsRun_ = 0;
}

WaveformWidget::~WaveformWidget() {
  // Taken under the strip's lock: no other thread is inside the request after this.
  strip_.SetRepaintRequest(nullptr);
}

// The requests come with every sound block; the repaints follow the window's frame clock.
void WaveformWidget::requestRepaint() { frame_->Request(); }

void WaveformWidget::RunRepaint() {
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
  bar_->setRangeAndPosition(low, high, pos);
  stripView_->update();
}

void WaveformWidget::RetryLater() {
  QTimer::singleShot(kRetryMs, this, [this] { requestRepaint(); });
}

void WaveformWidget::PaintStrip(QWidget& view) {
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
  QPainter painter(&view);
  if (shown_.isNull()) {
    painter.fillRect(view.rect(), Qt::black);  // opaque: something must cover the rows
    return;
  }
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
