// Qt widgets of the video window and the window system that makes them.
#include "ui/video_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QSlider>
#include <QWidget>
#include <algorithm>
#include <atomic>

#include "platform/thread_queue.h"

namespace vts::ui {

namespace {

// Windows trackbar scroll codes for the slider's actions.
int ScrollCode(int action) {
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      return 0;  // TB_LINEUP
    case QAbstractSlider::SliderSingleStepAdd:
      return 1;  // TB_LINEDOWN
    case QAbstractSlider::SliderPageStepSub:
      return 2;  // TB_PAGEUP
    case QAbstractSlider::SliderPageStepAdd:
      return 3;  // TB_PAGEDOWN
    case QAbstractSlider::SliderMove:
      return TB_THUMBTRACK;
    case QAbstractSlider::SliderToMinimum:
      return 6;  // TB_TOP
    case QAbstractSlider::SliderToMaximum:
      return 7;  // TB_BOTTOM
    default:
      return 4;  // TB_THUMBPOSITION
  }
}

// The drawing child: shows the site's back buffer.
class VideoSurface : public QWidget {
 public:
  VideoSurface(CVideoSiteWindow& site, QWidget* parent) : QWidget(parent), site_(site) {
    setObjectName(QStringLiteral("RecorderVideoSiteWindow"));
    setWindowTitle(QStringLiteral("Video"));
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    std::lock_guard lock(site_.DrawingLock());
    if (const QImage* img = site_.BackBuffer()) {
      p.drawImage(QPoint(0, 0), *img);
    } else {
      p.fillRect(rect(), Qt::black);
    }
  }

 private:
  CVideoSiteWindow& site_;
};

// A caption, a sizing border and a maximise box; no close or minimise box. As a dialog of
// the recorder window it stays with it (window managers give dialogs no minimise box).
class VideoFrame : public QWidget {
 public:
  VideoFrame(CVideoSiteWindow& site, QWidget* owner)
      : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowMaximizeButtonHint),
        site_(site) {
    setObjectName(QStringLiteral("RecorderSiteWindow"));
    setWindowTitle(QStringLiteral("Recorder Video"));
  }
  VideoSurface* surface = nullptr;
  QSlider* trackbar = nullptr;

 protected:
  void resizeEvent(QResizeEvent*) override {
    // The picture and the trackbar follow the frame (a maximised window shows a larger
    // picture); the back buffer is the drawing child's size.
    const int h = std::max(height() - kTrackbarHeight, 1);
    if (surface) surface->setGeometry(0, 0, width(), h);
    if (trackbar) trackbar->setGeometry(0, h, width(), kTrackbarHeight);
    site_.Resize(width(), h);
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
  }
  // The window goes with its video only: a window manager's close would leave the recorder
  // playing a video nobody sees. Minimised it is, with the recorder window only.
  void closeEvent(QCloseEvent* event) override { event->ignore(); }
  void changeEvent(QEvent* event) override {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
    if (parentWidget() && parentWidget()->isMinimized()) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
          setWindowState(windowState() & ~Qt::WindowMinimized);
          show();
        },
        Qt::QueuedConnection);
  }

 private:
  CVideoSiteWindow& site_;
};

class QtFrameHost : public IVideoFrameHost {
 public:
  QtFrameHost(CVideoSiteWindow& site, QWidget* owner, int x, int y, int width, int height) {
    if (width <= 0)
      width = QGuiApplication::primaryScreen()
                  ? QGuiApplication::primaryScreen()->geometry().width()
                  : 800;
    frame_ = new VideoFrame(site, owner);
    frame_->setGeometry(x, y, width, height);
    const int w = frame_->width(), h = frame_->height();
    auto* surface = new VideoSurface(site, frame_);
    surface->setGeometry(0, 0, w, h - kTrackbarHeight);
    frame_->surface = surface;
    auto* bar = new QSlider(Qt::Horizontal, frame_);
    bar->setGeometry(0, h - kTrackbarHeight, w, kTrackbarHeight);
    bar->setRange(0, kTrackbarMax);
    bar->setPageStep(kTrackbarPage);
    bar->setValue(0);
    frame_->trackbar = bar;
    const plat::ThreadId helper = site.HelperThreadId();
    // The scroll code goes to the helper thread once the slider holds the new position.
    QObject::connect(bar, &QAbstractSlider::actionTriggered, bar,
                     [this](int action) { pendingCode_ = ScrollCode(action); });
    QObject::connect(bar, &QAbstractSlider::valueChanged, bar, [this, helper](int v) {
      pos_.store(v);
      if (pendingCode_ >= 0) {
        plat::PostThreadMessage(helper, WM_HSCROLL, plat::WPARAM(pendingCode_), 0);
        pendingCode_ = -1;
      }
    });
    QObject::connect(bar, &QAbstractSlider::sliderReleased, bar, [this, helper] {
      pos_.store(frame_->trackbar->value());
      plat::PostThreadMessage(helper, WM_HSCROLL, plat::WPARAM(TB_ENDTRACK), 0);
    });
    site.SetTarget(this);
    site.Resize(w, h - kTrackbarHeight);
    frame_->raise();
  }
  ~QtFrameHost() override { delete frame_.data(); }

  bool Present() override {
    QWidget* s = surface();
    if (!s) return false;
    QMetaObject::invokeMethod(
        s, [s] { s->update(); }, Qt::QueuedConnection);
    return true;
  }
  void ShowAndRaise() override {
    if (QWidget* f = frame_.data())
      QMetaObject::invokeMethod(
          f,
          [f] {
            f->show();
            f->raise();
          },
          Qt::QueuedConnection);
  }
  void SetTrackbarPos(int pos) override {
    pos_.store(pos);
    if (QWidget* f = frame_.data())
      QMetaObject::invokeMethod(
          f,
          [this, pos] {
            if (frame_ && frame_->trackbar && !frame_->trackbar->isSliderDown()) {
              pendingCode_ = -1;
              frame_->trackbar->setValue(pos);
            }
          },
          Qt::QueuedConnection);
  }
  int TrackbarPos() const override { return pos_.load(); }

 private:
  QWidget* surface() const { return frame_ ? frame_->surface : nullptr; }
  QPointer<VideoFrame> frame_;
  std::atomic<int> pos_{0};
  int pendingCode_ = -1;  // GUI thread only
};

class QtSystem : public IVideoWindowSystem {
 public:
  bool OwnerRect(void* owner, WindowRect* rect) override {
    auto* w = static_cast<QWidget*>(owner);
    if (!w) return false;
    const QRect g = w->frameGeometry();
    *rect = {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
    return true;
  }
  void MoveOwner(void* owner, int x, int y) override {
    if (auto* w = static_cast<QWidget*>(owner)) w->move(x, y);
  }
  WindowRect ScreenRect(void* owner) override {
    auto* w = static_cast<QWidget*>(owner);
    QScreen* s = w && w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!s) return {};
    const QRect g = s->availableGeometry();
    return {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
  }
  std::unique_ptr<IVideoFrameHost> CreateFrame(CVideoSiteWindow& site, void* owner, int x, int y,
                                               int width, int height) override {
    return std::make_unique<QtFrameHost>(site, static_cast<QWidget*>(owner), x, y, width, height);
  }
};

}  // namespace

std::shared_ptr<IVideoWindowSystem> QtVideoWindowSystem() { return std::make_shared<QtSystem>(); }

}  // namespace vts::ui
