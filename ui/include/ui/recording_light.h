// The recording light (bitmap "LEDLIGHT", 24-bit, keyed) drawn over the dialog's background.
#pragma once

#include <QWidget>

#include "ui/skin.h"

namespace vts::ui {

class CRecordingLight : public QWidget {
  Q_OBJECT

 public:
  explicit CRecordingLight(QWidget* parent = nullptr);
  bool LoadBitmap(const QString& name);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Skin m_image;
};

}  // namespace vts::ui
