// The please-wait window: its places on the screen and on the window, the duration tick
// on an injected clock, and its painting with and without a text.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

#include "ui/wait_window.h"

namespace vts::ui {
namespace {

TEST(WaitWindow, MadeHiddenAndCentredOnTheScreen) {
  struct Case {
    QRect screen;
    QRect expected;
  };
  const Case cases[] = {
      {{0, 0, 1920, 1080}, {810, 490, 300, 100}},
      {{0, 0, 1366, 768}, {533, 334, 300, 100}},
      {{0, 0, 301, 101}, {0, 0, 300, 100}},
  };
  for (const Case& c : cases) {
    WaitWindow w(nullptr, c.screen);
    EXPECT_EQ(w.Place(), c.expected) << c.screen.width() << "x" << c.screen.height();
    EXPECT_EQ(w.geometry(), c.expected);
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.Visible());
  }
}

TEST(WaitWindow, DurationHidesOnTheFirstTickPastItAndZeroStays) {
  std::uint64_t now = 5000;
  WaitWindow w(nullptr, QRect(0, 0, 1920, 1080));
  w.SetClock([&] { return now; });
  w.SetText(QStringLiteral("Wait for all the selected students to login..."));

  w.ShowWait(0);
  EXPECT_TRUE(w.isVisible());
  for (int i = 0; i < 1000; ++i) {
    now += WaitWindow::kTickMs;
    w.OnTimer();
  }
  EXPECT_TRUE(w.isVisible()) << "duration 0 stays until hidden";
  w.HideWait();
  EXPECT_FALSE(w.isVisible());

  w.ShowWait(3000);  // start tick = now
  const std::uint64_t start = now;
  struct Step {
    std::uint64_t at;
    bool visible;
  };
  const Step steps[] = {{start + 2900, true}, {start + 3000, true}, {start + 3001, false}};
  for (const Step& s : steps) {
    now = s.at;
    w.OnTimer();
    EXPECT_EQ(w.isVisible(), s.visible) << "at +" << (s.at - start);
    EXPECT_EQ(w.Visible(), s.visible);
  }
}

// The tick runs only while there is a duration to watch: a hidden or lasting window wakes
// nothing.
TEST(WaitWindow, TicksOnlyWhileShownWithADuration) {
  std::uint64_t now = 5000;
  WaitWindow w(nullptr, QRect(0, 0, 1920, 1080));
  w.SetClock([&] { return now; });
  EXPECT_FALSE(w.Ticking()) << "made hidden";
  w.ShowWait(0);
  EXPECT_FALSE(w.Ticking()) << "shown without a duration";
  w.ShowWait(3000);
  EXPECT_TRUE(w.Ticking()) << "shown with a duration";
  w.HideWait();
  EXPECT_FALSE(w.Ticking()) << "hidden before its end";
  w.ShowWait(3000);
  w.ShowWait(0);
  EXPECT_FALSE(w.Ticking()) << "shown again without a duration";
  w.ShowWait(200);
  ASSERT_TRUE(w.Ticking());
  // Its own timer hides it after the duration, and stops.
  now += 201;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Visible(); }, 5000));
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.Ticking());
}

TEST(WaitWindow, PaintsItsTextCentredAndAnEmptyFaceWithoutOne) {
  WaitWindow w(nullptr, QRect(0, 0, 1920, 1080));
  QFont font;
  font.setPixelSize(11);
  w.SetTextFont(font);
  w.SetPlace(QRect(0, 0, 300, 80));

  const QImage empty = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRgb face = empty.pixel(150, 40);
  int differing = 0;
  for (int y = 2; y < 78; ++y)
    for (int x = 2; x < 298; ++x) differing += empty.pixel(x, y) != face;
  EXPECT_EQ(differing, 0) << "no text paints the face only";

  w.SetText(QStringLiteral("Please wait"));
  const QImage shot = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
  QRect ink;
  for (int y = 2; y < 78; ++y)
    for (int x = 2; x < 298; ++x)
      if (shot.pixel(x, y) != face) ink = ink.united(QRect(x, y, 1, 1));
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_NEAR(ink.center().x(), 150, 3);
  EXPECT_LT(ink.center().y(), 40) << "the line stands above the middle";
  EXPECT_GT(ink.center().y(), 28);
}

}  // namespace
}  // namespace vts::ui
