// Level slider.
#include "ui/graphic_slider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <algorithm>

#include "ui/dialog_messages.h"

namespace vts::ui {

CGraphicSlider::CGraphicSlider(QWidget* parent) : QWidget(parent) {
  setContextMenuPolicy(Qt::PreventContextMenu);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CGraphicSlider::LoadBitmaps() {
  m_body = LoadSkin(QStringLiteral("SLIDERBODY"));
  m_tip = LoadSkin(QStringLiteral("SLIDERTIP"));
  if (m_body.IsNull() || m_tip.IsNull()) return false;
  resize(m_body.image.size());
  return true;
}

int CGraphicSlider::Travel() const {
  if (m_body.IsNull() || m_tip.IsNull()) return 0;
  return m_body.image.height() - m_tip.image.height() - 13;
}

void CGraphicSlider::SetThumbOffset(int offset) {
  m_thumbOffset = offset;
  update();
}

int CGraphicSlider::Percentage() const {
  const int travel = Travel();
  if (travel <= 0) return 0;
  return static_cast<int>(static_cast<float>(m_thumbOffset) / static_cast<float>(travel) * 100.0f);
}

void CGraphicSlider::SetThumbFromPoint(int y) {
  if (m_body.IsNull() || m_tip.IsNull()) return;
  const int h = m_body.image.height();
  const int half = m_tip.image.height() / 2;
  const int clamped = std::min(std::max(y, half + 6), h - half - 7);
  // With an odd tip height the top place is one above the travel; keep it at 100 %.
  m_thumbOffset = std::min(h - half - clamped - 7, Travel());
  Post(SB_THUMBTRACK, Percentage());
}

void CGraphicSlider::Post(int code, int percentage) {
  QWidget* parent = parentWidget();
  if (!SkinHostOf(this)) return;
  QPointer<CGraphicSlider> self(this);
  QMetaObject::invokeMethod(
      parent,
      [self, parent, code, percentage] {
        if (ISkinHost* host = dynamic_cast<ISkinHost*>(parent))
          host->OnVScroll(code, percentage, self.data());
      },
      Qt::QueuedConnection);
}

void CGraphicSlider::paintEvent(QPaintEvent*) {
  if (m_body.IsNull()) return;
  QPainter p(this);
  const int w = m_body.image.width(), h = m_body.image.height();
  QImage comp(w, h, QImage::Format_ARGB32_Premultiplied);
  if (m_background) {
    comp = m_background->copy(x(), y(), w, h).convertToFormat(QImage::Format_ARGB32_Premultiplied);
  } else {
    comp.fill(Qt::black);
  }
  {
    QPainter c(&comp);
    c.drawImage(0, 0, m_body.image);
    if (!m_tip.IsNull()) {
      const int tw = m_tip.image.width(), t = m_tip.image.height();
      c.drawImage((w - tw) / 2, h - m_thumbOffset - t - 7, m_tip.image);
    }
  }
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(0, 0, comp);
}

void CGraphicSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    SetThumbFromPoint(event->position().toPoint().y());
    update();
  } else if (event->button() == Qt::RightButton) {
    if (SkinHostOf(this)) {
      QPointer<CGraphicSlider> self(this);
      const QPoint point = event->position().toPoint();
      QWidget* parent = parentWidget();
      QMetaObject::invokeMethod(
          parent,
          [self, parent, point] {
            if (ISkinHost* h = dynamic_cast<ISkinHost*>(parent)) h->OnContextMenu(self.data(), point);
          },
          Qt::QueuedConnection);
    }
  }
  event->accept();
}

void CGraphicSlider::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) SetThumbFromPoint(event->position().toPoint().y());
  update();
}

void CGraphicSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Post(SB_ENDSCROLL, Percentage());
}

}  // namespace vts::ui
