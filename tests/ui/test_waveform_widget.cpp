// Waveform strip window: clicks, drags, the right-button scroll, Ctrl+click and the position
// bar, driven through Qt events; painting and the coalesced repaint.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "fake_waveform_host.h"
#include "ui/frame_clock.h"
#include "ui/waveform_widget.h"

namespace vts {
namespace {

// A mouse event with an explicit button state (moves carry the held buttons).
void Mouse(QWidget* w, QEvent::Type type, int x, Qt::MouseButton button, Qt::MouseButtons buttons,
           Qt::KeyboardModifiers mods = Qt::NoModifier) {
  const QPointF local(x, 10);
  QMouseEvent ev(type, local, w->mapToGlobal(local), button, buttons, mods);
  QApplication::sendEvent(w, &ev);
}
void Press(QWidget* w, int x, Qt::MouseButton b = Qt::LeftButton,
           Qt::KeyboardModifiers mods = Qt::NoModifier) {
  Mouse(w, QEvent::MouseButtonPress, x, b, b, mods);
}
void Move(QWidget* w, int x, Qt::MouseButtons held) {
  Mouse(w, QEvent::MouseMove, x, Qt::NoButton, held);
}
void Release(QWidget* w, int x, Qt::MouseButton b = Qt::LeftButton) {
  Mouse(w, QEvent::MouseButtonRelease, x, b, Qt::NoButton);
}

class WaveformWidgetTest : public ::testing::Test {
 protected:
  void Make(uint32_t width, uint32_t frames, uint32_t channels = 1) {
    host.strip.SetStripRect(12, 125, width);
    QImage bg(516, 470, QImage::Format_ARGB32);
    bg.fill(qRgba(200, 180, 90, 255));
    host.strip.SetBackground(bg);
    if (frames > 0) host.SetChunk(frames, channels);
    {
      std::lock_guard guard(host.lock);
      host.strip.Bar().SetRange(0, frames);
    }
    host.RedrawWaveform(0, 256);
    host.redraws = 0;
    widget = std::make_unique<WaveformWidget>(host);
    widget->show();
    QCoreApplication::processEvents();
  }
  WaveformViewState View() {
    std::lock_guard guard(host.lock);
    return host.strip.View();
  }
  test::FakeWaveformHost host;
  std::unique_ptr<WaveformWidget> widget;
};

TEST_F(WaveformWidgetTest, LayoutIsStripThenBarAtRow59) {
  Make(490, 200000);
  EXPECT_EQ(widget->width(), 490);
  EXPECT_EQ(widget->height(), 66);
  EXPECT_EQ(widget->positionBar()->geometry(), QRect(0, 59, 490, 7));
}

TEST_F(WaveformWidgetTest, ClickAt100With256FramesPerPixel) {
  Make(490, 200000);
  QTest::mouseClick(widget.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 20));
  EXPECT_EQ(View().cursorFrame, 25600u);
  EXPECT_EQ(View().anchorFrame, 25600u);
  EXPECT_EQ(host.positionNotices, 1);
  EXPECT_EQ(host.splits, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(widget->positionBar()->position(), 25600);
}

TEST_F(WaveformWidgetTest, BarClickAtAThirdOf90000Frames) {
  Make(342, 90000);
  QTest::mouseClick(widget->positionBar(), Qt::LeftButton, Qt::NoModifier, QPoint(114, 3));
  EXPECT_EQ(View().cursorFrame, 30000u);
  EXPECT_EQ(View().positionSet, 1);
  EXPECT_EQ(host.positionNotices, 1);
  EXPECT_EQ(host.lastRedrawFirst, 30000u - 342u * 256 / 3);
  QCoreApplication::processEvents();
  EXPECT_EQ(widget->positionBar()->position(), 30000);
}

TEST_F(WaveformWidgetTest, BarDragSeeksContinuously) {
  Make(342, 90000);
  PositionBar* bar = widget->positionBar();
  Press(bar, 0);
  Move(bar, 171, Qt::LeftButton);
  EXPECT_EQ(View().cursorFrame, 45000u);
  Move(bar, -50, Qt::LeftButton);  // left of the bar: its start
  EXPECT_EQ(View().cursorFrame, 0u);
  Move(bar, 400, Qt::LeftButton);  // right of it: its end
  EXPECT_EQ(View().cursorFrame, 90000u);
  Release(bar, 400);
  Move(bar, 100, Qt::NoButton);  // no button held: nothing
  EXPECT_EQ(View().cursorFrame, 90000u);
  EXPECT_EQ(host.positionNotices, 4);
}

struct DragCase {
  const char* name;
  int from, to;
  uint32_t anchorWhileDragging, cursorWhileDragging;
  uint32_t anchorAfter, cursorAfter;
  int firstInverted, lastInverted;  // columns shown inverted while dragging
};

class WaveformWidgetDrag : public WaveformWidgetTest,
                           public ::testing::WithParamInterface<DragCase> {};

TEST_P(WaveformWidgetDrag, SelectionAsDragged) {
  const DragCase& c = GetParam();
  Make(490, 200000);
  Press(widget.get(), c.from);
  Move(widget.get(), (c.from + c.to) / 2, Qt::LeftButton);
  Move(widget.get(), c.to, Qt::LeftButton);
  EXPECT_EQ(View().anchorFrame, c.anchorWhileDragging);
  EXPECT_EQ(View().cursorFrame, c.cursorWhileDragging);
  QCoreApplication::processEvents();
  const QImage shown =
      widget->grab(QRect(0, 0, 490, 52)).toImage().convertToFormat(QImage::Format_RGB32);
  {
    std::lock_guard guard(host.lock);
    const QImage& drawn = host.strip.DrawingImage();
    for (int x = 0; x < 490; ++x) {
      const bool inverted = x >= c.firstInverted && x <= c.lastInverted;
      const QRgb want =
          inverted ? ((~drawn.pixel(x, 3)) & 0xFFFFFFu) | 0xFF000000u : drawn.pixel(x, 3);
      ASSERT_EQ(shown.pixel(x, 3), want) << "column " << x;
    }
  }
  Release(widget.get(), c.to);
  EXPECT_EQ(View().anchorFrame, c.anchorAfter);
  EXPECT_EQ(View().cursorFrame, c.cursorAfter);
  EXPECT_EQ(host.positionNotices, 1);  // the press alone
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveformWidgetDrag,
    ::testing::Values(
        // Right of the click: shown and kept from the click to the release point.
        DragCase{"right", 100, 200, 25600, 51200, 25600, 51200, 100, 200},
        // Left of the click: the cursor column alone, then a collapsed selection.
        DragCase{"left", 200, 50, 51200, 12800, 12800, 12800, 50, 50},
        // Out of the window to the left while held: clamped to the chunk's start.
        DragCase{"left_out_of_window", 100, -300, 25600, 0, 0, 0, 0, 0},
        // Out to the right: the view ends at column 490; the cursor column lies off the strip.
        DragCase{"right_out_of_window", 400, 900, 102400, 200000, 102400, 200000, 400, 489}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WaveformWidgetTest, ClickRightOfAShortWaveformStopsAtItsEnd) {
  Make(490, 5000);
  QTest::mouseClick(widget.get(), Qt::LeftButton, Qt::NoModifier, QPoint(300, 20));
  EXPECT_EQ(View().cursorFrame, 5000u);
  EXPECT_EQ(View().anchorFrame, 5000u);
}

TEST_F(WaveformWidgetTest, ControlClickSplitsAtTheClickedPosition) {
  Make(490, 200000);
  QTest::mouseClick(widget.get(), Qt::LeftButton, Qt::ControlModifier, QPoint(77, 20));
  EXPECT_EQ(host.splits, 1);
  EXPECT_EQ(host.splitAt, 77u * 256);
  EXPECT_EQ(host.positionNotices, 1);
}

TEST_F(WaveformWidgetTest, RightDragScrollsAndLeftButtonDoesNotInterfere) {
  Make(490, 400000);
  host.RedrawWaveform(100 * 256, 256);
  Press(widget.get(), 200, Qt::RightButton);
  Move(widget.get(), 220, Qt::RightButton | Qt::LeftButton);  // right button wins
  EXPECT_EQ(host.lastRedrawFirst, 80u * 256);
  EXPECT_EQ(View().viewStartFrame, 80u * 256);
  EXPECT_EQ(View().cursorFrame, 0u);
  Release(widget.get(), 220, Qt::RightButton);
  EXPECT_EQ(View().dragAnchor, -1);
  EXPECT_EQ(host.positionNotices, 0);
}

TEST_F(WaveformWidgetTest, RightDragWithoutAChunkDoesNothing) {
  Make(490, 0);
  Press(widget.get(), 200, Qt::RightButton);
  Move(widget.get(), 100, Qt::RightButton);
  Release(widget.get(), 100, Qt::RightButton);
  EXPECT_EQ(host.redraws, 0);
}

TEST_F(WaveformWidgetTest, PaintsTheCompositionInTheStripRows) {
  Make(490, 200000, 2);
  {
    std::lock_guard guard(host.lock);
    host.strip.View().cursorFrame = 300 * 256;
    host.strip.View().anchorFrame = 250 * 256;
    host.strip.View().playFrame = 120 * 256;
  }
  host.strip.PaintWaveform();
  QCoreApplication::processEvents();
  const QImage shown =
      widget->grab(QRect(0, 0, 490, 52)).toImage().convertToFormat(QImage::Format_RGB32);
  std::lock_guard guard(host.lock);
  const QImage want = host.strip.CompositionImage();
  ASSERT_EQ(shown.size(), want.size());
  int diffs = 0;
  for (int y = 0; y < 52; ++y)
    for (int x = 0; x < 490; ++x) diffs += (shown.pixel(x, y) | 0xFF000000u) != want.pixel(x, y);
  EXPECT_EQ(diffs, 0);
  EXPECT_EQ(shown.pixel(120, 10), kPlayLineColour);
}

TEST_F(WaveformWidgetTest, RepaintsFromAnotherThreadCoalesce) {
  Make(490, 200000);
  QCoreApplication::processEvents();
  const int before = widget->repaintsRun();
  std::thread core([&] {
    for (int i = 0; i < 200; ++i) {
      std::lock_guard guard(host.lock);
      host.strip.View().playFrame = uint32_t(i * 256);
      host.strip.Bar().SetPos(i * 256);
      host.strip.PaintWaveform();
    }
  });
  core.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(widget->repaintsRun(), before + 1);
  EXPECT_EQ(widget->positionBar()->position(), 199 * 256);
  host.strip.PaintWaveform();  // a later change posts again (at the repaint rate)
  EXPECT_TRUE(QTest::qWaitFor([&] { return widget->repaintsRun() == before + 2; }, 5000));
  QCoreApplication::processEvents();
  EXPECT_EQ(widget->repaintsRun(), before + 2);
}

TEST_F(WaveformWidgetTest, DrawingWhileTheGuiPaintsStaysConsistent) {
  Make(490, 200000, 2);
  std::atomic<bool> stop{false};
  std::thread core([&] {
    uint32_t first = 0;
    while (!stop.load()) {
      host.RedrawWaveform(first, 128);
      first = (first + 4096) % 100000;
    }
  });
  for (int i = 0; i < 50; ++i) {
    widget->repaint();
    QCoreApplication::processEvents();
  }
  stop = true;
  core.join();
  SUCCEED();
}

TEST_F(WaveformWidgetTest, PaintNeverWaitsForALockHeldElsewhere) {
  Make(490, 200000);
  std::atomic<bool> held{false}, release{false};
  std::thread other([&] {
    std::lock_guard guard(host.lock);  // e.g. the core thread waiting for a message box
    {
      std::lock_guard inner(host.lock);
      host.strip.View().cursorFrame = 250 * 256;
      host.strip.View().anchorFrame = 250 * 256;
    }
    host.strip.PaintWaveform();
    held = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  widget->repaint();  // must return although the lock is taken
  QCoreApplication::processEvents();
  release = true;
  other.join();
  // Once the lock is free the retried repaint shows the new cursor column.
  bool shown = false;
  for (int i = 0; i < 200 && !shown; ++i) {
    QTest::qWait(10);
    const QImage img = widget->grab(QRect(0, 0, 490, 52)).toImage();
    std::lock_guard guard(host.lock);
    shown = (img.pixel(250, 3) | 0xFF000000u) == host.strip.CompositionImage().pixel(250, 3) &&
            host.strip.CompositionImage().pixel(250, 3) != host.strip.DrawingImage().pixel(250, 3);
  }
  EXPECT_TRUE(shown);
}

// Changes made from another thread one after another, the GUI running meanwhile: every
// change is shown in the end, however the requests fall around the frame clock's stops.
TEST_F(WaveformWidgetTest, TheLastOfManyChangesFromAnotherThreadIsShown) {
  Make(490, 200000);
  for (int round = 0; round < 20; ++round) {
    const uint32_t column = uint32_t(10 + round * 20);
    std::atomic<bool> done{false};
    std::thread core([&] {
      for (uint32_t c = column - 9; c <= column; ++c) {
        std::lock_guard guard(host.lock);
        host.strip.View().playFrame = c * 256;
        host.strip.PaintWaveform();
      }
      done = true;
    });
    // The GUI thread runs its loop while the changes come; each round starts with the
    // clock stopped, so its first request must start it again.
    const bool shown = QTest::qWaitFor(
        [&] {
          if (!done) return false;
          const QImage img = widget->grab(QRect(0, 0, 490, 52)).toImage();
          return (img.pixel(int(column), 10) | 0xFF000000u) == kPlayLineColour;
        },
        10000);
    core.join();
    ASSERT_TRUE(shown) << "round " << round;
    // With nothing left to show the clock stops: an idle strip does not wake the GUI.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !widget->frameClockRunning(); }, 10000))
        << "round " << round;
  }
}

// The changes of one frame are shown together: clients changed before the GUI thread runs
// are handled by the same tick. A clock with nothing left to show stops, and a request from
// another thread starts it again.
TEST(FrameClock, ChangesOfOneFrameAreShownTogetherAndTheClockStops) {
  FrameClock clock;
  int strip = 0, times = 0;
  FrameClock::Client stripClient(clock, [&] { ++strip; });
  FrameClock::Client timeClient(clock, [&] { ++times; });
  stripClient.Request();
  timeClient.Request();
  timeClient.Request();
  QCoreApplication::processEvents();  // the one posted start, which shows at once
  EXPECT_EQ(strip, 1);
  EXPECT_EQ(times, 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !clock.Running(); }, 10000));
  EXPECT_EQ(strip, 1);
  EXPECT_EQ(times, 1);
  std::thread other([&] { stripClient.Request(); });
  other.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return strip == 2; }, 10000));
  EXPECT_EQ(times, 1);
  {
    // A client made and gone between ticks leaves the clock working.
    FrameClock::Client gone(clock, [] {});
    gone.Request();
  }
  timeClient.Request();
  ASSERT_TRUE(QTest::qWaitFor([&] { return times == 2; }, 10000));
}

// Counts the paint events of the widgets it watches.
class PaintCounter : public QObject {
 public:
  std::map<QObject*, int> paints;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints[watched];
    return false;
  }
};

// The strip's rows are repainted on their own: the window behind the strip (the dialog, with
// its whole background) is not painted again for every frame of playback or recording.
TEST(WaveformWidgetInAWindow, AStripRepaintLeavesTheWindowBehindAlone) {
  test::FakeWaveformHost host;
  host.strip.SetStripRect(12, 125, 490);
  host.SetChunk(200000, 1);
  host.RedrawWaveform(0, 256);
  QWidget window;
  window.resize(516, 300);
  auto* widget = new WaveformWidget(host, &window);
  widget->move(12, 125);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  PaintCounter counter;
  window.installEventFilter(&counter);
  QWidget* rows = nullptr;  // the child that shows rows 0-51
  for (QWidget* child : widget->findChildren<QWidget*>())
    if (child->geometry() == QRect(0, 0, 490, 52)) rows = child;
  ASSERT_NE(rows, nullptr);
  rows->installEventFilter(&counter);
  QCoreApplication::processEvents();
  counter.paints.clear();
  for (int i = 1; i <= 3; ++i) {
    {
      std::lock_guard guard(host.lock);
      host.strip.View().playFrame = uint32_t(i * 40 * 256);
    }
    host.strip.PaintWaveform();
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.paints[rows] >= i; }, 10000));
  }
  EXPECT_EQ(counter.paints[&window], 0);
  const QImage img = window.grab(QRect(12, 125, 490, 52)).toImage();
  EXPECT_EQ(img.pixel(120, 10) | 0xFF000000u, kPlayLineColour);
}

// Counts its paints.
class CountingBar : public PositionBar {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent* event) override {
    ++paints;
    PositionBar::paintEvent(event);
  }
};

// Positions that fill the same pixels ask for no repaint; the next pixel does.
TEST(PositionBar, RepaintsOnlyWhenTheFilledPartChanges) {
  CountingBar bar;
  bar.resize(200, 7);
  bar.setRange(0, 2000);  // 10 per pixel
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  QCoreApplication::processEvents();
  const int before = bar.paints;
  for (int pos = 500; pos < 510; ++pos) bar.setPosition(pos);  // all fill 50 pixels
  bar.setRange(0, 2000);
  QCoreApplication::processEvents();
  EXPECT_EQ(bar.paints, before + 1);  // the first move, from 0 to 50 pixels
  bar.setPosition(510);
  EXPECT_TRUE(QTest::qWaitFor([&] { return bar.paints == before + 2; }, 5000));
  bar.setRange(0, 4000);  // the same position now fills half as much
  EXPECT_TRUE(QTest::qWaitFor([&] { return bar.paints == before + 3; }, 5000));
  const QImage img = bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
  int filled = 0;
  for (int x = 0; x < 200; ++x) filled += img.pixel(x, 3) == PositionBar::kFillColour;
  EXPECT_EQ(filled, 25);
}

// The bar follows the strip's range and position of each frame as one change: while
// recording, the range's end and the position grow together and the full bar is not
// repainted; a position that stays on its pixel while the range grows is not either.
TEST_F(WaveformWidgetTest, ABarThatLooksTheSameIsNotRepaintedWithTheStrip) {
  struct Step {
    int64_t high, position;
  };
  struct Case {
    const char* name;
    int64_t position;  // in the range 0..2000 at the start
    std::vector<Step> steps;
    int filled;  // pixels filled all along
  };
  const Case cases[] = {
      {"full bar growing", 2000, {{2100, 2100}, {2200, 2200}, {4000, 4000}}, 490},
      {"half bar growing", 1000, {{2004, 1002}, {2010, 1005}, {2020, 1010}}, 245},
  };
  Make(490, 2000);
  PaintCounter counter;
  QWidget* rows = nullptr;  // the child that shows rows 0-51
  for (QWidget* child : widget->findChildren<QWidget*>())
    if (child->geometry() == QRect(0, 0, 490, 52)) rows = child;
  ASSERT_NE(rows, nullptr);
  rows->installEventFilter(&counter);
  widget->positionBar()->installEventFilter(&counter);
  int frames = 0;
  auto show = [&](int64_t high, int64_t position) {
    {
      std::lock_guard guard(host.lock);
      host.strip.Bar().SetRange(0, high);
      host.strip.Bar().SetPos(position);
      host.strip.View().playFrame = uint32_t(++frames * 256);  // the strip changes too
    }
    host.strip.PaintWaveform();
    return QTest::qWaitFor([&] { return counter.paints[rows] >= frames; }, 10000);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(show(2000, c.position));
    counter.paints[widget->positionBar()] = 0;
    for (const Step& s : c.steps) ASSERT_TRUE(show(s.high, s.position));
    EXPECT_EQ(counter.paints[widget->positionBar()], 0);
    const QImage img =
        widget->grab(QRect(0, 59, 490, 7)).toImage().convertToFormat(QImage::Format_RGB32);
    int filled = 0;
    for (int x = 0; x < 490; ++x) filled += img.pixel(x, 3) == PositionBar::kFillColour;
    EXPECT_EQ(filled, c.filled);
  }
}

TEST(PositionBar, ProgressSemanticsAndFill) {
  PositionBar bar;
  bar.resize(200, 7);
  EXPECT_EQ(bar.minimum(), 0);
  EXPECT_EQ(bar.maximum(), 100);
  bar.setPosition(500);
  EXPECT_EQ(bar.position(), 100);
  bar.setRange(0, 1000);
  bar.setPosition(250);
  EXPECT_EQ(bar.position(), 250);
  bar.setRange(0, 100);
  EXPECT_EQ(bar.position(), 100);
  bar.setRange(0, 1000);
  bar.setPosition(250);
  const QImage img = bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
  int filled = 0;
  for (int x = 0; x < 200; ++x) filled += img.pixel(x, 3) == PositionBar::kFillColour;
  EXPECT_EQ(filled, 50);
  EXPECT_EQ(img.pixel(199, 3), PositionBar::kTroughColour);
}

}  // namespace
}  // namespace vts
