// The generated art: every bitmap the window can ask for exists at its size and depth;
// the alpha test and premultiplication.
#include <gtest/gtest.h>

#include <QImage>

#include "resources/art.h"
#include "ui/dialog_template.h"
#include "ui/main_dialog.h"
#include "ui/skin.h"

namespace vts::ui {
namespace {

struct ArtCase {
  const char* name;
  int width;
  int height;
  bool alpha;  // false: 24-bit, drawn keyed
};

// The bitmap list of the window (U and D of each skin unless noted).
const ArtCase kArt[] = {
    {"BACKGROUND", 516, 470, true},   {"BUTOPENWAVU", 100, 30, true},
    {"BUTOPENWAVD", 100, 30, true},   {"BUTSAVEWAVU", 68, 30, true},
    {"BUTSAVEWAVD", 68, 30, true},    {"BUTSENDWAVU", 92, 30, true},
    {"BUTSENDWAVD", 92, 30, true},    {"BUTEXITU", 25, 25, true},
    {"BUTEXITD", 25, 25, true},       {"BUTMINIMIZEU", 25, 25, true},
    {"BUTMINIMIZED", 25, 25, true},   {"BUTCLOSEWAVU", 50, 50, true},
    {"BUTCLOSEWAVD", 50, 50, true},   {"BUTCUTU", 24, 24, true},
    {"BUTCUTD", 24, 24, true},        {"BUTMINUSU", 24, 24, true},
    {"BUTMINUSD", 24, 24, true},      {"BUTPLUSU", 24, 24, true},
    {"BUTPLUSD", 24, 24, true},       {"BUTPREVCHUNKU", 26, 26, true},
    {"BUTPREVCHUNKD", 26, 26, true},  {"BUTNEXTCHUNKU", 26, 26, true},
    {"BUTNEXTCHUNKD", 26, 26, true},  {"MBUTPLAYU", 40, 28, false},
    {"MBUTPLAYD", 40, 28, false},     {"BUTMIXERU", 42, 48, true},
    {"LEDIMAGES", 320, 40, true},     {"LEDLIGHT", 20, 20, false},
    {"SLIDERBODY", 27, 91, true},     {"SLIDERTIP", 12, 12, true},
};

QSize ExpectedSkinSize(const QString& name) {
  static const QHash<QString, QSize> sizes = {
      {"BUTOPENWAV", {100, 30}},  {"BUTSAVEWAV", {68, 30}},   {"BUTSENDWAV", {92, 30}},
      {"BUTEXIT", {25, 25}},      {"BUTMINIMIZE", {25, 25}},  {"BUTCLOSEWAV", {50, 50}},
      {"BUTCUT", {24, 24}},       {"BUTMINUS", {24, 24}},     {"BUTPLUS", {24, 24}},
      {"BUTPREVCHUNK", {26, 26}}, {"BUTNEXTCHUNK", {26, 26}}, {"BUTPREV", {60, 28}},
      {"BUTNEXT", {60, 28}},      {"BUTNEXTB", {60, 28}},     {"MBUTPREV", {60, 28}},
      {"MBUTNEXT", {60, 28}},     {"HBUTPLAYPLAY", {60, 28}}, {"HBUTPLAYREC", {60, 28}},
      {"HBUTPLAYRECSTOP", {60, 28}}, {"VBUTPLAYPLAY", {28, 60}}, {"VBUTPLAYREC", {28, 60}},
      {"VBUTPLAYRECSTOP", {28, 60}}, {"BUTINSERTBM", {70, 28}}, {"BUTPLAY", {50, 28}},
      {"BUTREC", {50, 28}},       {"BUTRECORDSTOP", {50, 28}}, {"BUTREPEAT", {50, 28}},
      {"BUTCLEAR", {50, 28}},     {"BUTREMOVEBM", {50, 28}},  {"BUTSAVEBM", {50, 28}},
      {"MBUTERASE", {50, 28}},    {"BUTPAUSE", {40, 28}},     {"BUTPAUSEREC", {40, 28}},
      {"BUTSTOP", {40, 28}},      {"MBUTPAUSE", {40, 28}},    {"MBUTSTOP", {40, 28}},
      {"MBUTPLAY", {40, 28}},     {"BUTMIXER", {42, 48}},
  };
  return sizes.value(name);
}

TEST(Art, EveryBitmapOfTheListExistsAtItsSizeAndDepth) {
  res::InitArt();
  for (const ArtCase& c : kArt) {
    SCOPED_TRACE(c.name);
    QImage image(res::ArtPath(QString::fromLatin1(c.name)));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(c.width, c.height));
    EXPECT_EQ(BitmapHasAlpha(image), c.alpha);
  }
  EXPECT_TRUE(QImage(res::ArtPath("BUTMIXERD")).isNull()) << "the mixer button has no D skin";
  for (int size : {16, 32, 48, 256}) EXPECT_EQ(QImage(res::IconPath(size)).size(), QSize(size, size));
}

TEST(Art, EverySkinTheWindowCanAskForExistsUpAndDownAtItsSize) {
  const QStringList names = CMainDlg::SkinNames();
  for (const ControlTemplate& t : DialogTemplate())
    if (t.kind == ControlKind::Button)
      EXPECT_TRUE(names.contains(QString::fromLatin1(t.text))) << t.text;
  for (const QString& name : CMainDlg::SkinNames()) {
    SCOPED_TRACE(name.toStdString());
    const QSize expected = ExpectedSkinSize(name);
    ASSERT_TRUE(expected.isValid()) << "no size known for this skin";
    const Skin& up = LoadSkin(name + 'U');
    ASSERT_FALSE(up.IsNull());
    EXPECT_EQ(up.image.size(), expected);
    if (name != "BUTMIXER") {
      const Skin& down = LoadSkin(name + 'D');
      ASSERT_FALSE(down.IsNull());
      EXPECT_EQ(down.image.size(), expected);
      EXPECT_NE(up.image, down.image) << "the pressed look must differ";
    }
  }
}

TEST(Art, MasterStudentAndRecordSkinsAreToldApartByColour) {
  auto hue = [](const char* name) {
    const QImage& img = LoadSkin(name).image;
    return img.pixelColor(img.width() / 2, 4).hslHue();
  };
  const int master = hue("MBUTSTOPU"), student = hue("BUTSTOPU"), record = hue("BUTRECU");
  EXPECT_GT(std::abs(master - student), 60);
  EXPECT_GT(std::abs(master - record), 15);
  EXPECT_GT(std::abs(student - record), 60);
}

TEST(BitmapAlpha, AlphaTestTableOfCases) {
  QImage rgb(4, 4, QImage::Format_RGB32);
  rgb.fill(Qt::red);
  EXPECT_FALSE(BitmapHasAlpha(rgb)) << "24-bit counts as no alpha";
  QImage zero(4, 4, QImage::Format_ARGB32);
  zero.fill(0x00FF8000u);
  EXPECT_FALSE(BitmapHasAlpha(zero)) << "all alpha bytes 0 counts as no alpha";
  QImage one = zero;
  one.setPixel(3, 3, 0x01000000u);
  EXPECT_TRUE(BitmapHasAlpha(one));
  EXPECT_FALSE(BitmapHasAlpha(QImage()));
}

TEST(BitmapAlpha, PremultiplyShiftsInsteadOfDividing) {
  QImage img(2, 1, QImage::Format_ARGB32);
  img.setPixel(0, 0, qRgba(0, 128, 255, 128));  // (B, G, R, A) = (255, 128, 0, 128)
  img.setPixel(1, 0, qRgba(255, 255, 255, 255));
  ASSERT_TRUE(PremultiplyBitmapAlpha(img));
  EXPECT_EQ(img.format(), QImage::Format_ARGB32_Premultiplied);
  const auto* px = reinterpret_cast<const uint32_t*>(img.constScanLine(0));
  EXPECT_EQ(px[0], 0x8000407Fu);  // (127, 64, 0, 128)
  EXPECT_EQ(px[1], 0xFFFEFEFEu);  // 255 * 255 >> 8 = 254
  QImage rgb(1, 1, QImage::Format_RGB32);
  EXPECT_FALSE(PremultiplyBitmapAlpha(rgb));
}

TEST(SkinCache, LoadsOncePerNameAndOverridesReplace) {
  const Skin* first = &LoadSkin("BUTRECU");
  EXPECT_EQ(first, &LoadSkin("BUTRECU")) << "cached by name";
  QImage red(8, 8, QImage::Format_ARGB32);
  red.fill(Qt::red);
  OverrideSkin("TESTSKINU", red);
  EXPECT_EQ(LoadSkin("TESTSKINU").image.size(), QSize(8, 8));
  OverrideSkin("TESTSKINU", QImage());
  EXPECT_TRUE(LoadSkin("TESTSKINU").IsNull());
  ClearSkinOverrides();
  EXPECT_TRUE(LoadSkin("NOSUCHSKINU").IsNull());
}

}  // namespace
}  // namespace vts::ui

namespace vts::ui {
namespace {

TEST(Art, BackgroundIsLightUnderTheStripsAndSuitsTheTextColours) {
  res::InitArt();
  const QImage bg = QImage(res::ArtPath("BACKGROUND")).convertToFormat(QImage::Format_RGB32);
  auto lightness = [&](int x, int y) { return bg.pixelColor(x, y).lightness(); };
  // Under the Master strip (12, 125) 490 x 52 and the Student strip (88, 279) 342 x 52.
  for (QPoint p : {QPoint(13, 126), QPoint(250, 150), QPoint(500, 175), QPoint(90, 281),
                   QPoint(429, 329)})
    EXPECT_GT(lightness(p.x(), p.y()), 200) << p.x() << "," << p.y();
  EXPECT_GT(lightness(225, 63), 180) << "small time: black text on a light field";
  EXPECT_LT(lightness(60, 207), 60) << "large time: white text on a dark field";
  EXPECT_LT(lightness(470, 350), 80) << "IN / OUT: white on dark";
  EXPECT_LT(lightness(240, 210), 40) << "LED bezel";
}

}  // namespace
}  // namespace vts::ui
