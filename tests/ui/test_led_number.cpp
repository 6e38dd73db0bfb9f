// LED chunk number: two digits cut from the strip, leading zero, last digits of wide numbers,
// nothing at all without the strip.
#include <gtest/gtest.h>

#include <QPainter>

#include "resources/art.h"
#include "skin_host.h"
#include "ui/led_number.h"
#include "ui/skin.h"

namespace vts::ui {
namespace {

using test::Near;
using test::SkinHost;

TEST(LedDigits, DigitsOfANumber) {
  struct Case {
    int number, count;
    QList<int> digits;
  };
  const Case cases[] = {{0, 2, {0, 0}},    {7, 2, {0, 7}},   {12, 2, {1, 2}},
                        {99, 2, {9, 9}},   {100, 2, {0, 0}}, {123, 2, {2, 3}},
                        {-4, 2, {0, 0}},   {5, 3, {0, 0, 5}}};
  for (const Case& c : cases)
    EXPECT_EQ(CStaticLedNumber::Digits(c.number, c.count), c.digits) << c.number;
}

class LedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    res::InitArt();
    strip = QImage(res::ArtPath("LEDIMAGES"));
    ASSERT_EQ(strip.size(), QSize(320, 40));
    led = new CStaticLedNumber(&host);
    led->move(20, 30);
    led->resize(64, 40);
    led->SetBackground(&host.Background());
  }
  // What the display must show: background under it, then the digit images.
  QImage Expected(QList<int> digits) {
    QImage premultiplied = strip;
    PremultiplyBitmapAlpha(premultiplied);
    QImage out = host.Background().copy(20, 30, 64, 40);
    QPainter p(&out);
    for (int k = 0; k < digits.size(); ++k)
      p.drawImage(QPoint(32 * k, 0), premultiplied, QRect(32 * digits[k], 0, 32, 40));
    return out;
  }
  bool Matches(const QImage& a, const QImage& b) {
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 64; ++x)
        if (!Near(a.pixelColor(x, y), b.pixelColor(x, y), 3)) return false;
    return true;
  }
  SkinHost host{QColor(30, 30, 60)};
  QImage strip;
  CStaticLedNumber* led = nullptr;
};

TEST_F(LedTest, ShowsSevenWithALeadingZeroAndTwelveAsOneTwo) {
  led->SetStrip(strip);
  EXPECT_EQ(led->DigitWidth(), 32);
  EXPECT_EQ(led->DigitHeight(), 40);
  led->SetNumber(7);
  EXPECT_TRUE(Matches(led->grab().toImage(), Expected({0, 7})));
  led->SetNumber(12);
  const QImage shot = led->grab().toImage();
  EXPECT_TRUE(Matches(shot, Expected({1, 2})));
  EXPECT_FALSE(Matches(shot, Expected({2, 1})));
  led->SetNumber(123);
  EXPECT_TRUE(Matches(led->grab().toImage(), Expected({2, 3})));
}

TEST_F(LedTest, WithoutTheStripNothingIsPaintedNotEvenTheBackground) {
  led->SetNumber(12);
  host.paintColour = QColor(200, 10, 10);
  const QImage shot = host.grab().toImage();
  EXPECT_TRUE(Near(shot.pixelColor(25, 35), QColor(200, 10, 10)));
  EXPECT_TRUE(Near(shot.pixelColor(80, 65), QColor(200, 10, 10)));
}

}  // namespace
}  // namespace vts::ui
