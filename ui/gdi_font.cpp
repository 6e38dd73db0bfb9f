// Font resolution for the window's painted texts.
#include "ui/gdi_font.h"

#include <QFontMetricsF>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <mutex>

namespace vts::ui {

void InstallFontSubstitutes() {
  static std::once_flag once;
  std::call_once(once, [] {
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    const QStringList tahoma = {QStringLiteral("DejaVu Sans Condensed"),
                                QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")};
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), tahoma);
    QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg"), tahoma);
    QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg 2"), tahoma);
  });
}

QFont MakeGdiFont(const QString& face, int height, int width, int weight) {
  InstallFontSubstitutes();
  QFont font(face);
  font.setWeight(weight >= 600 ? QFont::Bold : QFont::Normal);
  font.setHintingPreference(QFont::PreferFullHinting);
  // A positive height is the character cell (ascent + descent), not the em size.
  QFont probe = font;
  probe.setPixelSize(100);
  const QFontMetricsF m(probe);
  const qreal cell = m.ascent() + m.descent();
  const int pixelSize = std::max(1, static_cast<int>(std::lround(height * 100.0 / cell)));
  font.setPixelSize(pixelSize);
  if (width > 0) {
    const qreal average = QFontMetricsF(font).averageCharWidth();
    if (average > 0) {
      const int stretch = static_cast<int>(std::lround(width * 100.0 / average));
      font.setStretch(std::clamp(stretch, 50, 200));
    }
  }
  return font;
}

}  // namespace vts::ui
