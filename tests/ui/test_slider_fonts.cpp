// Level sliders (travel, clicks, drags, release, right click) and the font substitutes.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QTest>

#include "skin_host.h"
#include "ui/dialog_messages.h"
#include "ui/gdi_font.h"
#include "ui/graphic_slider.h"

namespace vts::ui {
namespace {

using test::SkinHost;

class SliderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    slider = new CGraphicSlider(&host);
    slider->move(20, 10);
    ASSERT_TRUE(slider->LoadBitmaps());
    slider->SetBackground(&host.Background());
  }
  SkinHost host;
  CGraphicSlider* slider = nullptr;
};

TEST_F(SliderTest, ClicksSetTheOffsetAndReportThePercentage) {
  EXPECT_EQ(slider->size(), QSize(27, 91));
  EXPECT_EQ(slider->Travel(), 66);
  struct Case {
    int y, offset, percent;
  };
  for (const Case& c : {Case{0, 66, 100}, Case{91, 0, 0}, Case{39, 39, 59}}) {
    host.scrolls.clear();
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(13, c.y));
    QTest::qWait(5);
    EXPECT_EQ(slider->ThumbOffset(), c.offset) << c.y;
    const std::vector<std::pair<int, int>> expected = {{SB_THUMBTRACK, c.percent},
                                                       {SB_ENDSCROLL, c.percent}};
    EXPECT_EQ(host.scrolls, expected) << c.y;
  }
}

TEST_F(SliderTest, MovingWithoutTheButtonReportsNothingAndRightClickAsksForTheMenu) {
  QTest::mouseMove(slider, QPoint(13, 20));
  QTest::qWait(5);
  EXPECT_TRUE(host.scrolls.empty());
  slider->SetThumbOffset(10);
  QTest::mouseClick(slider, Qt::RightButton, {}, QPoint(13, 20));
  QTest::qWait(5);
  EXPECT_EQ(host.contextMenus, 1);
  EXPECT_EQ(slider->ThumbOffset(), 10) << "a right click does not move the tip";
  EXPECT_EQ(host.contextMenuEvents, 0);
}

TEST(Fonts, ArialIsLiberationSansAndTahomaACloseSans) {
  EXPECT_EQ(QFontInfo(MakeGdiFont("Arial", 18, 7)).family(), "Liberation Sans");
  EXPECT_TRUE(QFontInfo(MakeGdiFont("Tahoma", 13, 0)).family().startsWith("DejaVu Sans"));
  // A positive height is the character cell.
  const QFontMetrics m(MakeGdiFont("Arial", 20, 8));
  EXPECT_NEAR(m.ascent() + m.descent(), 20, 1);
  EXPECT_NEAR(m.averageCharWidth(), 8, 1);
}

}  // namespace
}  // namespace vts::ui
