// Recording light.
#include "ui/recording_light.h"

#include <QPainter>

namespace vts::ui {

CRecordingLight::CRecordingLight(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CRecordingLight::LoadBitmap(const QString& name) {
  m_image = LoadSkin(name);
  if (m_image.IsNull()) return false;
  resize(m_image.image.size());
  return true;
}

void CRecordingLight::paintEvent(QPaintEvent*) {
  QPainter p(this);
  ISkinHost* host = SkinHostOf(this);
  ComposeOverBackground(p, host ? host->GetScrollBarCtrl(ISkinHost::kBackgroundKey) : nullptr,
                        pos(), m_image);
}

}  // namespace vts::ui
