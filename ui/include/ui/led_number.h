// CStaticLedNumber: the chunk number as LED digits cut from the strip "LEDIMAGES" (ten
// digit images side by side), drawn over the dialog's background. GUI thread only.
#pragma once

#include <QImage>
#include <QWidget>

namespace vts::ui {

class CStaticLedNumber : public QWidget {
  Q_OBJECT

 public:
  explicit CStaticLedNumber(QWidget* parent = nullptr);

  // The digit strip (premultiplied here); a null image means nothing is drawn.
  void SetStrip(const QImage& strip);
  void SetBackground(const QImage* background) { m_background = background; }
  void SetNumber(int number);
  int Number() const { return m_number; }
  void SetDigitCount(int count) { m_digitCount = count; }
  int DigitCount() const { return m_digitCount; }
  int DigitWidth() const { return m_digitWidth; }
  int DigitHeight() const { return m_digitHeight; }
  int ControlId() const { return m_controlId; }
  void SetControlId(int id) { m_controlId = id; }

  // The digits shown for a number: the last `count` decimal places, leading zeros kept.
  static QList<int> Digits(int number, int count);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QRect m_place;
  QImage m_strip;
  const QImage* m_background = nullptr;
  int m_digitWidth = 0;
  int m_digitHeight = 0;
  int m_number = 0;
  int m_digitCount = 2;
  int m_controlId = 0;
};

}  // namespace vts::ui
