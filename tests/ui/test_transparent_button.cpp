// Skinned buttons: up and down skins, keyed and alpha skins over the background, binding
// failures, and the right click that reaches the dialog as one NM_RCLICK.
#include <gtest/gtest.h>

#include <QEvent>
#include <QTest>

#include "skin_host.h"
#include "ui/dialog_messages.h"
#include "ui/transparent_button.h"

namespace vts::ui {
namespace {

using test::Near;
using test::SkinHost;

QImage Solid(QSize size, QColor colour, QImage::Format format = QImage::Format_ARGB32) {
  QImage img(size, format);
  img.fill(colour);
  return img;
}

class ButtonTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearSkinOverrides(); }
  CTransparentButton* MakeButton(const QString& skin, QPoint at = QPoint(10, 10)) {
    auto* b = new CTransparentButton(&host);
    b->setText(skin);
    b->move(at);
    return b;
  }
  SkinHost host;
};

TEST_F(ButtonTest, PressedShowsTheDownSkinAndSizesToTheBitmap) {
  OverrideSkin("T1U", Solid({30, 20}, Qt::red));
  OverrideSkin("T1D", Solid({30, 20}, Qt::blue));
  CTransparentButton* b = MakeButton("T1");
  ASSERT_TRUE(b->LoadBitmaps(1017, &host));
  EXPECT_EQ(b->size(), QSize(30, 20));
  EXPECT_EQ(b->ControlId(), 1017);
  EXPECT_TRUE(Near(b->grab().toImage().pixelColor(15, 10), Qt::red));
  b->setDown(true);
  EXPECT_TRUE(Near(b->grab().toImage().pixelColor(15, 10), Qt::blue));
}

TEST_F(ButtonTest, MissingDownSkinShowsTheUpSkinWhilePressed) {
  OverrideSkin("T2U", Solid({16, 16}, Qt::red));
  CTransparentButton* b = MakeButton("T2");
  ASSERT_TRUE(b->LoadBitmaps(1029, &host));
  b->setDown(true);
  EXPECT_TRUE(Near(b->grab().toImage().pixelColor(8, 8), Qt::red));
}

TEST_F(ButtonTest, SwappedExchangesUpAndDown) {
  OverrideSkin("T3U", Solid({16, 16}, Qt::red));
  OverrideSkin("T3D", Solid({16, 16}, Qt::blue));
  CTransparentButton* b = MakeButton("T3");
  ASSERT_TRUE(b->LoadBitmaps(1020, &host));
  b->SetSwapped(true);
  EXPECT_TRUE(Near(b->grab().toImage().pixelColor(8, 8), Qt::blue));
  ASSERT_TRUE(b->LoadBitmaps(1020, &host)) << "a rebind keeps the latched look";
  EXPECT_TRUE(Near(b->grab().toImage().pixelColor(8, 8), Qt::blue));
  b->setDown(true);
  EXPECT_TRUE(Near(b->grab().toImage().pixelColor(8, 8), Qt::red));
}

TEST_F(ButtonTest, LatchedButtonWithoutADownSkinKeepsItsUpSkin) {
  OverrideSkin("T10U", Solid({16, 16}, Qt::red));
  CTransparentButton* b = MakeButton("T10");
  b->SetSwapped(true);
  ASSERT_TRUE(b->LoadBitmaps(1020, &host));
  EXPECT_TRUE(Near(b->grab().toImage().pixelColor(8, 8), Qt::red));
}

TEST_F(ButtonTest, ColourKeyedSkinShowsTheBackgroundThrough) {
  // 24-bit skin: magenta (its top-left colour) is transparent, yellow is drawn.
  QImage keyed = Solid({20, 20}, QColor(255, 0, 255), QImage::Format_RGB32);
  for (int y = 5; y < 15; ++y)
    for (int x = 5; x < 15; ++x) keyed.setPixelColor(x, y, Qt::yellow);
  OverrideSkin("T4U", keyed);
  CTransparentButton* b = MakeButton("T4", QPoint(40, 30));
  host.Background().setPixelColor(41, 31, QColor(1, 2, 250));  // under the button's (1, 1)
  ASSERT_TRUE(b->LoadBitmaps(1012, &host));
  EXPECT_FALSE(b->HasAlpha());
  const QImage shot = b->grab().toImage();
  EXPECT_TRUE(Near(shot.pixelColor(10, 10), Qt::yellow));
  EXPECT_TRUE(Near(shot.pixelColor(1, 1), QColor(1, 2, 250))) << "background cut at its place";
  EXPECT_TRUE(Near(shot.pixelColor(18, 2), QColor(0, 160, 0)));
}

TEST_F(ButtonTest, AllZeroAlphaSkinIsKeyedOnItsTopLeftPixel) {
  QImage img = Solid({10, 10}, QColor(0, 0, 0, 0));
  img.setPixel(5, 5, 0x00FFFF00u);  // yellow with alpha 0: differs from the key, so drawn
  OverrideSkin("T5U", img);
  CTransparentButton* b = MakeButton("T5");
  ASSERT_TRUE(b->LoadBitmaps(1000, &host));
  EXPECT_FALSE(b->HasAlpha());
  const QImage shot = b->grab().toImage();
  EXPECT_TRUE(Near(shot.pixelColor(0, 0), QColor(0, 160, 0)));
  EXPECT_TRUE(Near(shot.pixelColor(5, 5), Qt::yellow));
}

TEST_F(ButtonTest, AlphaSkinBlendsOverTheBackground) {
  OverrideSkin("T6U", Solid({10, 10}, QColor(255, 0, 0, 128)));
  CTransparentButton* b = MakeButton("T6");
  ASSERT_TRUE(b->LoadBitmaps(1000, &host));
  EXPECT_TRUE(b->HasAlpha());
  // (255 * 128 >> 8) + 0 * (1 - 128/255) ; green 160 * 127/255
  EXPECT_TRUE(Near(b->grab().toImage().pixelColor(5, 5), QColor(127, 80, 0), 4));
}

TEST_F(ButtonTest, MissingUpSkinOrNoControlFailsTheBinding) {
  OverrideSkin("T7D", Solid({10, 10}, Qt::blue));
  CTransparentButton* b = MakeButton("T7");
  EXPECT_FALSE(b->LoadBitmaps(1000, &host));
  OverrideSkin("T8U", Solid({10, 10}, Qt::red));
  CTransparentButton unattached;
  unattached.setText("T8");
  EXPECT_FALSE(unattached.LoadBitmaps(1033, &host));
}

TEST_F(ButtonTest, RightClickGivesExactlyOneNmRclickAndNoContextMenu) {
  OverrideSkin("T9U", Solid({30, 20}, Qt::red));
  CTransparentButton* b = MakeButton("T9", QPoint(50, 40));
  ASSERT_TRUE(b->LoadBitmaps(1038, &host));
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  // Through the window, as the platform delivers it (press and release).
  QTest::mouseClick(host.windowHandle(), Qt::RightButton, {}, QPoint(60, 50));
  QTest::qWait(20);
  ASSERT_EQ(host.notifies.size(), 1u);
  EXPECT_EQ(host.notifies[0], std::make_pair(1038, NM_RCLICK));
  EXPECT_EQ(host.contextMenuEvents, 0) << "no context-menu event reaches the dialog";
  EXPECT_EQ(host.contextMenus, 0);
  EXPECT_TRUE(host.commands.empty()) << "a right click is not a click";
  // A left click is one BN_CLICKED through the signal, no notify.
  QObject::connect(b, &QAbstractButton::clicked, [&] { host.OnCommand(1038, BN_CLICKED); });
  QTest::mouseClick(host.windowHandle(), Qt::LeftButton, {}, QPoint(60, 50));
  QTest::qWait(20);
  EXPECT_EQ(host.notifies.size(), 1u);
  ASSERT_EQ(host.commands.size(), 1u);
}

}  // namespace
}  // namespace vts::ui
