// LED chunk-number display.
#include "ui/led_number.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/dialog_messages.h"
#include "ui/skin.h"

namespace vts::ui {

CStaticLedNumber::CStaticLedNumber(QWidget* parent) : QWidget(parent) {}

void CStaticLedNumber::SetStrip(const QImage& strip) {
  m_strip = strip;
  if (m_strip.isNull()) {
    m_digitWidth = m_digitHeight = 0;
    return;
  }
  if (m_strip.hasAlphaChannel()) PremultiplyBitmapAlpha(m_strip);
  m_digitWidth = m_strip.width() / 10;
  m_digitHeight = m_strip.height();
}

void CStaticLedNumber::SetNumber(int number) {
  m_number = number;
  update();
}

QList<int> CStaticLedNumber::Digits(int number, int count) {
  // A number wider than the places shows its last digits (chunk 123 reads "23"), never a
  // place without an image; a negative number shows zeros.
  long long value = number < 0 ? 0 : number;
  QList<int> digits;
  long long p = 1;
  for (int k = 1; k < count; ++k) p *= 10;
  value %= p * 10;
  for (int k = 0; k < count; ++k) {
    digits.append(static_cast<int>(value / p));
    value %= p;
    p /= 10;
  }
  return digits;
}

void CStaticLedNumber::paintEvent(QPaintEvent*) {
  m_place = geometry();
  if (m_strip.isNull()) return;
  QPainter p(this);
  if (m_background) {
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, *m_background, m_place.x(), m_place.y(), m_place.width(), m_place.height());
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
  const QList<int> digits = Digits(m_number, m_digitCount);
  for (int k = 0; k < digits.size(); ++k)
    p.drawImage(QPoint(k * m_digitWidth, 0), m_strip,
                QRect(m_digitWidth * digits[k], 0, m_digitWidth, m_digitHeight));
}

void CStaticLedNumber::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (ISkinHost* host = SkinHostOf(this)) host->OnCommand(m_controlId, STN_DBLCLK);
  }
}

}  // namespace vts::ui
