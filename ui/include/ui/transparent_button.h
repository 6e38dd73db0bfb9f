// CTransparentButton: a push button drawn from two skin bitmaps (up, down) named by its
// text, over the dialog's background; a right click reaches the dialog as NM_RCLICK.
// GUI thread only.
#pragma once

#include <QAbstractButton>

#include "ui/skin.h"

namespace vts::ui {

class CTransparentButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit CTransparentButton(QWidget* parent = nullptr);

  // Binds the button to control `controlId` of `parent` and loads the skins named by its
  // text + "U" / "D" (exchanged while swapped). False when the button is not a control of
  // `parent` or its "U" bitmap is missing. Called again after every change of the text.
  bool LoadBitmaps(int controlId, QWidget* parent);

  // The latched look: up and down images exchange their roles.
  void SetSwapped(bool swapped);
  bool Swapped() const { return m_swapped; }

  int ControlId() const { return m_controlId; }
  bool HasAlpha() const { return m_alpha; }
  // The image drawn now (down while pressed and a down image exists).
  const Skin& CurrentImage() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  bool m_swapped = false;
  bool m_alpha = false;
  int m_controlId = 0;
  Skin m_up;
  Skin m_down;
};

}  // namespace vts::ui
