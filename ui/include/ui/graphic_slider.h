// CGraphicSlider: a vertical level slider drawn from "SLIDERBODY" and "SLIDERTIP" over the
// dialog's background; reports the tip's height in percent as WM_VSCROLL to the dialog.
// GUI thread only.
#pragma once

#include <QWidget>

#include "ui/skin.h"

namespace vts::ui {

class CGraphicSlider : public QWidget {
  Q_OBJECT

 public:
  explicit CGraphicSlider(QWidget* parent = nullptr);

  // Loads the two bitmaps and sizes the control to the body, keeping its place.
  bool LoadBitmaps();
  void SetBackground(const QImage* background) { m_background = background; }

  int Travel() const;                  // body height - tip height - 13
  int ThumbOffset() const { return m_thumbOffset; }
  void SetThumbOffset(int offset);     // written by the dialog; repaints
  int Percentage() const;              // offset / travel * 100, truncated
  void SetThumbFromPoint(int y);       // moves the tip and reports SB_THUMBTRACK
  int ControlId() const { return m_controlId; }
  void SetControlId(int id) { m_controlId = id; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Post(int code, int percentage);

  Skin m_body;
  Skin m_tip;
  const QImage* m_background = nullptr;
  int m_thumbOffset = 0;
  int m_controlId = 0;
};

}  // namespace vts::ui
