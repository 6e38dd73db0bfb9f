// The video window's widgets on the offscreen platform: names, captions and sizes of the
// frame, its drawing child and the trackbar; the trackbar's scroll codes go to the helper
// thread; positions set from another thread reach the slider without a scroll code.
#include <gtest/gtest.h>

#include <QAbstractSlider>
#include <QApplication>
#include <QSlider>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include <thread>

#include "audio/virtual_endpoints.h"
#include "platform/thread_queue.h"
#include "ui/video_window.h"

namespace vts::ui {
namespace {

QWidget* FindTopLevel(const QString& name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == name) return w;
  return nullptr;
}

TEST(VideoWindowWidgets, FrameChildAndTrackbarAreMadeAsTheWindowExpects) {
  audio::VirtualEndpoints::Instance()->Reset();
  plat::EnsureQueue();
  QWidget owner;
  owner.setGeometry(700, 50, 600, 470);
  auto windows = QtVideoWindowSystem();
  auto site =
      std::make_unique<CVideoSiteWindow>(nullptr, nullptr, audio::VirtualEndpoints::Instance());
  ASSERT_TRUE(site->Create(*windows, &owner, 100, 50, 600, 0, 0, plat::CurrentThreadId()));

  QWidget* frame = FindTopLevel(QStringLiteral("RecorderSiteWindow"));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->windowTitle(), QStringLiteral("Recorder Video"));
  EXPECT_FALSE(frame->isVisible()) << "shown when the open completes";
  EXPECT_EQ(frame->size(), QSize(600, 400));
  auto* child = frame->findChild<QWidget*>(QStringLiteral("RecorderVideoSiteWindow"));
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->windowTitle(), QStringLiteral("Video"));
  EXPECT_EQ(child->geometry(), QRect(0, 0, 600, 360));
  auto* bar = frame->findChild<QSlider*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->geometry(), QRect(0, 360, 600, 40));
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 1000);
  EXPECT_EQ(bar->pageStep(), 20);
  {
    std::lock_guard lock(site->DrawingLock());
    ASSERT_NE(site->BackBuffer(), nullptr);
    EXPECT_EQ(site->BackBuffer()->size(), QSize(600, 360));
  }

  // A page click: code 3 with the new position readable at once.
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  plat::Msg m;
  ASSERT_TRUE(plat::GetMessageTimeout(&m, std::chrono::seconds(10)));
  EXPECT_EQ(m.message, WM_HSCROLL);
  EXPECT_EQ(m.wParam & 0xFFFF, 3u);
  EXPECT_EQ(site->Frame()->TrackbarPos(), 20);

  // Set from another thread: the slider follows, and nothing is posted back.
  std::thread([&] { site->Frame()->SetTrackbarPos(500); }).join();
  EXPECT_EQ(site->Frame()->TrackbarPos(), 500);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (bar->value() != 500 && std::chrono::steady_clock::now() < end)
    QApplication::processEvents();
  EXPECT_EQ(bar->value(), 500);
  EXPECT_FALSE(plat::PeekMessage(&m, true));

  site->Frame()->ShowAndRaise();
  while (!frame->isVisible() && std::chrono::steady_clock::now() < end)
    QApplication::processEvents();
  EXPECT_TRUE(frame->isVisible());
  // Nor is a minimise, while the recorder window stands.
  frame->showMinimized();
  for (int i = 0; i < 10 && frame->isMinimized(); ++i) QApplication::processEvents();
  EXPECT_FALSE(frame->isMinimized());

  // Resized (or maximised), the picture and the trackbar follow and the last frame stays.
  frame->resize(900, 640);
  QApplication::processEvents();
  EXPECT_EQ(child->geometry(), QRect(0, 0, 900, 600));
  EXPECT_EQ(bar->geometry(), QRect(0, 600, 900, 40));
  {
    std::lock_guard lock(site->DrawingLock());
    ASSERT_NE(site->BackBuffer(), nullptr);
    EXPECT_EQ(site->BackBuffer()->size(), QSize(900, 600));
  }

  // No close or minimise box, and a close request (the window manager's too) is refused.
  const Qt::WindowFlags flags = frame->windowFlags();
  EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_FALSE(frame->close());
  ASSERT_NE(frame->windowHandle(), nullptr);
  EXPECT_FALSE(frame->windowHandle()->close());
  QApplication::processEvents();
  EXPECT_TRUE(frame->isVisible());
  // Nor is a minimise, while the recorder window stands.
  frame->showMinimized();
  for (int i = 0; i < 10 && frame->isMinimized(); ++i) QApplication::processEvents();
  EXPECT_FALSE(frame->isMinimized());
  site.reset();  // the frame goes with the window
  EXPECT_EQ(FindTopLevel(QStringLiteral("RecorderSiteWindow")), nullptr);
}

}  // namespace
}  // namespace vts::ui
