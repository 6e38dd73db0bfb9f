// Skinned push button.
#include "ui/transparent_button.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/dialog_messages.h"

namespace vts::ui {

CTransparentButton::CTransparentButton(QWidget* parent) : QAbstractButton(parent) {
  // A right click is ours (NM_RCLICK); it must never turn into a context-menu event.
  setContextMenuPolicy(Qt::PreventContextMenu);
  setFocusPolicy(Qt::TabFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CTransparentButton::LoadBitmaps(int controlId, QWidget* parent) {
  if (!parent || parentWidget() != parent) return false;
  m_controlId = controlId;
  const QString name = text();
  const Skin& normal = LoadSkin(name + 'U');
  const Skin& pressed = LoadSkin(name + 'D');
  m_up = m_swapped ? pressed : normal;
  m_down = m_swapped ? normal : pressed;
  if (normal.IsNull()) return false;
  m_alpha = normal.alpha || pressed.alpha;
  resize(normal.image.size());
  update();
  return true;
}

void CTransparentButton::SetSwapped(bool swapped) {
  if (swapped == m_swapped) return;
  m_swapped = swapped;
  std::swap(m_up, m_down);
  update();
}

const Skin& CTransparentButton::CurrentImage() const {
  // A latched button without a "D" skin keeps showing its "U" skin rather than nothing.
  if (m_up.IsNull()) return m_down;
  return (isDown() && !m_down.IsNull()) ? m_down : m_up;
}

QSize CTransparentButton::sizeHint() const {
  return m_up.IsNull() ? QSize(16, 16) : m_up.image.size();
}

void CTransparentButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const Skin& image = CurrentImage();
  if (image.IsNull()) {
    p.fillRect(rect(), Qt::black);
    return;
  }
  ISkinHost* host = SkinHostOf(this);
  const QImage* background = host ? host->GetScrollBarCtrl(ISkinHost::kBackgroundKey) : nullptr;
  ComposeOverBackground(p, background, pos(), image);
}

void CTransparentButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    if (ISkinHost* host = SkinHostOf(this)) host->OnNotify(m_controlId, NM_RCLICK);
    event->accept();
    return;
  }
  QAbstractButton::mousePressEvent(event);
}

}  // namespace vts::ui
