// The hover hints with an injected clock, cursor, activity and screens: when a hint appears
// and goes, where it stands and how large it is, and areas of hidden controls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QMenu>
#include <QTest>
#include <QWindow>

#include "ui/gdi_font.h"
#include "ui/hint_window.h"

namespace vts::ui {
namespace {

class Hints : public ::testing::Test {
 protected:
  void SetUp() override {
    owner.setGeometry(100, 100, 500, 400);
    owner.show();
    hint = std::make_unique<HintWindow>(&owner);
    HintWindow::Environment env;
    env.nowMs = [this] { return now; };
    env.cursor = [this] { return std::optional<QPoint>(cursor); };
    env.ownerActive = [this] { return active; };
    env.screenAt = [](QPoint p) {
      return p.x() >= 1920 ? QRect(1920, 0, 1280, 1024) : QRect(0, 0, 1920, 1080);
    };
    hint->SetEnvironment(env);
    hint->AddEntry(QRect(10, 10, 50, 20), QStringLiteral("first"));
    hint->AddEntry(QRect(10, 10, 200, 200), QStringLiteral("Two\nlines"));
  }
  // Ticks every 100 ms for `ms` milliseconds; the first tick at which the hint was shown
  // (ms after the start), or -1.
  int TickFor(int ms) {
    int shownAt = -1;
    for (int t = 0; t <= ms; t += HintWindow::kTickMs) {
      hint->OnTimer();
      if (shownAt < 0 && hint->Visible()) shownAt = t;
      now += HintWindow::kTickMs;
    }
    return shownAt;
  }
  QWidget owner;
  std::unique_ptr<HintWindow> hint;
  std::uint64_t now = 10000;
  QPoint cursor{130, 120};  // (30, 20) in the owner: the first area
  bool active = true;
};

TEST_F(Hints, AppearsOnTheFirstTickAfter700MsAtRestAndGoesOnAMove) {
  EXPECT_EQ(TickFor(1500), 800);
  EXPECT_EQ(hint->ShownText(), QStringLiteral("first"));
  EXPECT_TRUE(hint->isVisible());

  cursor += QPoint(1, 0);  // one pixel
  hint->OnTimer();
  EXPECT_FALSE(hint->Visible());
  EXPECT_FALSE(hint->isVisible());
  EXPECT_EQ(TickFor(1500), 800) << "the wait starts again at the move";

  // Outside every area: nothing.
  cursor = QPoint(100 + 300, 100 + 300);
  hint->OnTimer();
  now += 100;
  EXPECT_EQ(TickFor(2000), -1);
}

TEST_F(Hints, NoHintWhileTheWindowIsNotActive) {
  active = false;
  EXPECT_EQ(TickFor(2000), -1);
  active = true;
  // The wait counts from the last tick without the foreground.
  EXPECT_EQ(TickFor(2000), 700);
  active = false;
  hint->OnTimer();
  EXPECT_FALSE(hint->Visible());
}

TEST_F(Hints, SizeAndPlaceFollowTheTextAndTheScreenUnderTheCursor) {
  const QFontMetrics m(MakeGdiFont(QStringLiteral("Tahoma"), 16, 6));
  const int w = std::max(m.horizontalAdvance(QStringLiteral("Two")),
                         m.horizontalAdvance(QStringLiteral("lines"))) +
                6;
  struct Case {
    const char* what;
    QPoint ownerAt;
    QPoint inOwner;
    QPoint expected;  // top-left; (-1, -1): x or y computed from the width or height
    bool rightClamped, bottomClamped;
  };
  const Case cases[] = {
      {"plain: under the cursor", {100, 100}, {100, 100}, {200, 220}, false, false},
      {"right edge: 2 px inside", {1900 - 150, 100}, {140, 100}, {-1, 220}, true, false},
      {"bottom edge: ends at the bottom", {100, 1000}, {100, 70}, {200, -1}, false, true},
      {"second screen: its own right edge", {3200 - 150, 100}, {140, 100}, {-1, 220}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    hint = std::make_unique<HintWindow>(&owner);
    owner.move(c.ownerAt);
    HintWindow::Environment env;
    env.nowMs = [this] { return now; };
    env.cursor = [this] { return std::optional<QPoint>(cursor); };
    env.ownerActive = [] { return true; };
    env.screenAt = [](QPoint p) {
      return p.x() >= 1920 ? QRect(1920, 0, 1280, 1024) : QRect(0, 0, 1920, 1080);
    };
    hint->SetEnvironment(env);
    hint->AddEntry(QRect(0, 0, 200, 200), QStringLiteral("Two\nlines"));
    cursor = owner.frameGeometry().topLeft() + c.inOwner;
    ASSERT_EQ(TickFor(1000), 800);
    const QRect g = hint->geometry();
    EXPECT_EQ(g.width(), w);
    EXPECT_GE(g.height(), 2 * m.height() + 4);
    EXPECT_LE(g.height(), 2 * m.height() + 8);
    const QRect screen = cursor.x() >= 1920 ? QRect(1920, 0, 1280, 1024) : QRect(0, 0, 1920, 1080);
    EXPECT_EQ(g.x(), c.rightClamped ? screen.left() + screen.width() - w - 2 : c.expected.x());
    EXPECT_EQ(g.y(),
              c.bottomClamped ? screen.top() + screen.height() - g.height() : c.expected.y());
  }
}

TEST_F(Hints, AreasOfControlsHiddenLaterShowNothing) {
  QWidget control(&owner);
  control.setGeometry(300, 300, 40, 40);
  hint->AddEntry(QRect(300, 300, 40, 40), QStringLiteral("hidden later"), &control);
  cursor = QPoint(100 + 310, 100 + 310);
  control.hide();
  EXPECT_EQ(TickFor(1500), -1);
  control.show();
  now += 100;
  cursor += QPoint(1, 1);
  EXPECT_EQ(TickFor(1500), 800);
  EXPECT_EQ(hint->ShownText(), QStringLiteral("hidden later"));
}

TEST(HintText, LinesAndTheTextLimit) {
  struct Case {
    QString text;
    QStringList lines;
  };
  const Case cases[] = {
      {"one", {"one"}},
      {"Two\nlines", {"Two", "lines"}},
      {"end\n", {"end"}},
      {"a\n\nb", {"a", "", "b"}},
  };
  for (const Case& c : cases) {
    QStringList got;
    QString line;
    for (int i = 0; HintWindow::MeasureHintText(c.text, i, &line); ++i) got.append(line);
    EXPECT_EQ(got, c.lines) << c.text.toStdString();
  }
  QWidget owner;
  HintWindow hint(&owner);
  hint.AddEntry(QRect(0, 0, 1, 1), QString(300, QLatin1Char('h')));
  EXPECT_EQ(hint.Entries().back().text.size(), 249);
}

}  // namespace
}  // namespace vts::ui

namespace vts::ui {
namespace {

TEST(HintsInFront, APopupMenuOfTheWindowHidesTheHint) {
  QWidget owner;
  owner.setGeometry(100, 100, 500, 400);
  owner.show();
  QApplication::setActiveWindow(&owner);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&owner));
  HintWindow hint(&owner);
  std::uint64_t now = 1000;
  HintWindow::Environment env;
  env.nowMs = [&] { return now; };
  env.cursor = [] { return std::optional<QPoint>(QPoint(130, 120)); };
  env.screenAt = [](QPoint) { return QRect(0, 0, 1920, 1080); };
  hint.SetEnvironment(env);  // the window's own activity
  hint.AddEntry(QRect(0, 0, 100, 100), QStringLiteral("tip"));
  auto tick = [&](int times) {
    for (int i = 0; i < times; ++i, now += HintWindow::kTickMs) hint.OnTimer();
  };
  tick(10);
  ASSERT_TRUE(hint.Visible());

  QMenu menu(&owner);
  menu.addAction(QStringLiteral("item"));
  menu.popup(QPoint(200, 200));
  ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
  tick(1);
  EXPECT_FALSE(hint.Visible());
  tick(20);
  EXPECT_FALSE(hint.Visible()) << "none while the menu is open";
  menu.close();
  tick(20);
  EXPECT_TRUE(hint.Visible());
}

}  // namespace
}  // namespace vts::ui

namespace vts::ui {
namespace {

// The pointer as the window itself sees it (its moves, its enter and leave), without an
// injected cursor: the hint follows those.
TEST(HintsFromTheWindowsMoves, RestAfterAMoveShowsLeavingHides) {
  QWidget owner;
  owner.setGeometry(100, 100, 500, 400);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  HintWindow hint(&owner);
  std::uint64_t now = 1000;
  HintWindow::Environment env;
  env.nowMs = [&] { return now; };
  env.ownerActive = [] { return true; };
  env.screenAt = [](QPoint) { return QRect(0, 0, 1920, 1080); };
  hint.SetEnvironment(env);
  hint.AddEntry(QRect(10, 10, 50, 20), QStringLiteral("first"));
  hint.AddEntry(QRect(300, 200, 50, 20), QStringLiteral("second"));
  auto tick = [&](int times) {
    for (int i = 0; i < times; ++i, now += HintWindow::kTickMs) hint.OnTimer();
  };
  QWindow* window = owner.windowHandle();
  ASSERT_NE(window, nullptr);
  const QPoint origin = owner.frameGeometry().topLeft() - owner.geometry().topLeft();

  QTest::mouseMove(window, QPoint(30, 20) - origin);
  tick(10);
  ASSERT_TRUE(hint.Visible());
  EXPECT_EQ(hint.ShownText(), QStringLiteral("first"));

  QTest::mouseMove(window, QPoint(310, 210) - origin);
  tick(1);
  EXPECT_FALSE(hint.Visible()) << "a move hides it";
  tick(10);
  ASSERT_TRUE(hint.Visible());
  EXPECT_EQ(hint.ShownText(), QStringLiteral("second"));

  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(window, &leave);
  tick(1);
  EXPECT_FALSE(hint.Visible()) << "leaving the window hides it";
  tick(20);
  EXPECT_FALSE(hint.Visible()) << "and none comes while the pointer is away";

  QTest::mouseMove(window, QPoint(30, 20) - origin);
  tick(10);
  EXPECT_TRUE(hint.Visible()) << "back over an area";
  EXPECT_EQ(hint.ShownText(), QStringLiteral("first"));
}

}  // namespace
}  // namespace vts::ui

namespace vts::ui {
namespace {

// The tick runs only while a hint may come: not with the pointer away from the window, nor
// while the window is not active; the window's moves, enter and activation start it again.
TEST(HintsTick, StopsWithThePointerAwayOrTheWindowInactiveAndStartsOnItsEvents) {
  QWidget owner;
  owner.setGeometry(100, 100, 500, 400);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  QWindow* window = owner.windowHandle();
  ASSERT_NE(window, nullptr);
  const QPoint origin = owner.frameGeometry().topLeft() - owner.geometry().topLeft();
  std::uint64_t now = 1000;
  bool active = false;
  HintWindow hint(&owner);
  HintWindow::Environment env;
  env.nowMs = [&] { return now; };
  env.ownerActive = [&] { return active; };
  env.screenAt = [](QPoint) { return QRect(0, 0, 1920, 1080); };
  hint.SetEnvironment(env);
  hint.AddEntry(QRect(10, 10, 50, 20), QStringLiteral("first"));
  auto tick = [&](int times) {
    for (int i = 0; i < times; ++i, now += HintWindow::kTickMs) hint.OnTimer();
  };
  auto activate = [&] {
    active = true;
    QEvent activation(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&owner, &activation);
  };

  EXPECT_FALSE(hint.Ticking()) << "made for a window that is not active";
  QTest::mouseMove(window, QPoint(30, 20) - origin);
  EXPECT_FALSE(hint.Ticking()) << "moves over a window that is not active";

  activate();
  EXPECT_TRUE(hint.Ticking()) << "the window became active";
  QTest::mouseMove(window, QPoint(31, 20) - origin);
  tick(10);
  ASSERT_TRUE(hint.Visible());
  active = false;
  tick(1);
  EXPECT_FALSE(hint.Visible()) << "gone when the window is no longer active";
  EXPECT_FALSE(hint.Ticking());

  activate();
  QTest::mouseMove(window, QPoint(30, 20) - origin);
  tick(1);
  EXPECT_TRUE(hint.Ticking());
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(window, &leave);
  tick(1);
  EXPECT_FALSE(hint.Ticking()) << "the pointer left the window";

  // Back over the area: the hint comes as it did with a tick that never stopped.
  QTest::mouseMove(window, QPoint(32, 20) - origin);
  EXPECT_TRUE(hint.Ticking()) << "the pointer came back";
  int shownAt = -1;
  for (int t = 0; t <= 1500 && shownAt < 0; t += HintWindow::kTickMs) {
    hint.OnTimer();
    if (hint.Visible()) shownAt = t;
    now += HintWindow::kTickMs;
  }
  EXPECT_EQ(shownAt, 800);
  EXPECT_TRUE(hint.Ticking()) << "a shown hint is watched";
}

}  // namespace
}  // namespace vts::ui

namespace vts::ui {
namespace {

// A pointer at rest costs nothing: once the hint knows where the pointer is (from the
// window's moves, or asked once) and it has rested, the tick stops, whether a hint is shown
// or the pointer rests where there is none; the window's events start it again, and the
// hint then goes or comes on the tick it would have had.
TEST(HintsAtRest, TheTickStopsOnceThePointerRestsAndItsEventsStartItAgain) {
  QWidget owner;
  owner.setGeometry(100, 100, 500, 400);
  owner.show();
  auto activate = [](QWidget& w) {
    w.activateWindow();
    QApplication::setActiveWindow(&w);
    return QTest::qWaitForWindowActive(&w);
  };
  ASSERT_TRUE(activate(owner));
  QWindow* window = owner.windowHandle();
  ASSERT_NE(window, nullptr);
  const QPoint corner = owner.frameGeometry().topLeft();
  const QPoint origin = corner - owner.geometry().topLeft();
  std::uint64_t now = 1000;
  int asked = 0;
  HintWindow hint(&owner);
  HintWindow::Environment env;
  env.nowMs = [&] { return now; };
  env.askCursor = [&] {
    ++asked;
    return corner + QPoint(30, 20);
  };
  env.screenAt = [](QPoint) { return QRect(0, 0, 1920, 1080); };
  hint.SetEnvironment(env);  // the window's own activity
  hint.AddEntry(QRect(10, 10, 50, 20), QStringLiteral("first"));
  hint.AddEntry(QRect(300, 200, 50, 20), QStringLiteral("second"));
  // The first tick at which the hint shows (ms from the call), -1 if none in `ms`.
  auto tickFor = [&](int ms) {
    int shownAt = -1;
    for (int t = 0; t <= ms; t += HintWindow::kTickMs, now += HintWindow::kTickMs) {
      if (hint.Ticking()) hint.OnTimer();
      if (shownAt < 0 && hint.Visible()) shownAt = t;
    }
    return shownAt;
  };

  // As the window starts under a resting pointer: its enter, then its activation (after
  // which the moves it saw before count no more).
  QEnterEvent enter(QPointF(30, 20) - origin, QPointF(30, 20) - origin, corner + QPointF(30, 20));
  QCoreApplication::sendEvent(window, &enter);
  QEvent activation(QEvent::WindowActivate);
  QCoreApplication::sendEvent(&owner, &activation);
  ASSERT_TRUE(hint.Ticking());
  EXPECT_EQ(tickFor(2000), 800);
  EXPECT_EQ(hint.ShownText(), QStringLiteral("first"));
  EXPECT_EQ(asked, 1) << "the pointer is asked once, then the window's moves tell";
  EXPECT_FALSE(hint.Ticking()) << "a shown hint under a resting pointer";

  struct Step {
    const char* what;
    std::function<void()> event;
    bool visibleAfter;  // after the first tick
  };
  const Step steps[] = {
      {"a move", [&] { QTest::mouseMove(window, QPoint(310, 210) - origin); }, false},
      {"leaving the window",
       [&] {
         QEvent leave(QEvent::Leave);
         QCoreApplication::sendEvent(window, &leave);
       },
       false},
      {"the window no longer active",
       [&] {
         QWidget other;
         other.setGeometry(700, 100, 100, 100);
         other.show();
         ASSERT_TRUE(activate(other));
       },
       false},
  };
  int x = 31;  // each step's own place: a move to where the last one was is none
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    // A hint shown under a resting pointer, the tick stopped.
    ASSERT_TRUE(activate(owner));
    QTest::mouseMove(window, QPoint(x++, 20) - origin);
    ASSERT_EQ(tickFor(1000), 800);
    ASSERT_FALSE(hint.Ticking());
    s.event();
    ASSERT_TRUE(hint.Ticking());
    hint.OnTimer();
    EXPECT_EQ(hint.Visible(), s.visibleAfter);
  }

  // Resting where there is no hint: the tick stops after the wait, and the pointer that
  // comes back over an area shows its hint after a full wait.
  ASSERT_TRUE(activate(owner));
  QTest::mouseMove(window, QPoint(200, 300) - origin);
  EXPECT_EQ(tickFor(2000), -1);
  EXPECT_FALSE(hint.Ticking()) << "at rest where there is no hint";
  QTest::mouseMove(window, QPoint(310, 210) - origin);
  EXPECT_TRUE(hint.Ticking());
  EXPECT_EQ(tickFor(1500), 800);
  EXPECT_EQ(hint.ShownText(), QStringLiteral("second"));
}

}  // namespace
}  // namespace vts::ui
