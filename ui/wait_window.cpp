// The please-wait window.
#include "ui/wait_window.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <chrono>

namespace vts::ui {

WaitWindow::WaitWindow(QWidget* owner, QRect screen, bool childMode)
    : QWidget(owner, childMode
                         ? Qt::Widget
                         : Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
  setObjectName(QStringLiteral("WaitWindowClass"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  if (screen.isEmpty()) {
    if (QScreen* primary = QGuiApplication::primaryScreen()) screen = primary->geometry();
  }
  SetPlace(CentredOn(screen, kWidth, kHeight));
  hide();
  m_timer.setInterval(kTickMs);
  connect(&m_timer, &QTimer::timeout, this, &WaitWindow::OnTimer);
}

QRect WaitWindow::CentredOn(const QRect& area, int w, int h) {
  return {area.left() + (area.width() - w) / 2, area.top() + (area.height() - h) / 2, w, h};
}

std::uint64_t WaitWindow::Now() const {
  if (m_nowMs) return m_nowMs();
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void WaitWindow::SetTextFont(const QFont& font) {
  m_font = font;
  update();
}

void WaitWindow::SetText(const QString& text) {
  m_text = text;
  setWindowTitle(text);
  repaint();
}

void WaitWindow::SetPlace(const QRect& place) {
  m_place = place;
  setGeometry(place);
  update();
}

void WaitWindow::ShowWait(std::uint32_t durationMs) {
  m_durationMs = durationMs;
  m_startTick = Now();
  m_visible = true;
  // Only a duration needs the tick: a hidden or lasting window wakes nobody.
  if (durationMs != 0)
    m_timer.start();
  else
    m_timer.stop();
  setGeometry(m_place);
  show();
  raise();
  repaint();
}

void WaitWindow::HideWait() {
  m_visible = false;
  m_timer.stop();
  hide();
}

void WaitWindow::OnTimer() {
  if (m_visible && m_durationMs != 0 && Now() > m_startTick + m_durationMs) HideWait();
}

void WaitWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect area = rect();
  p.fillRect(area, palette().color(QPalette::Button));
  // The window's one-pixel border.
  p.setPen(palette().color(QPalette::Shadow));
  p.drawRect(area.adjusted(0, 0, -1, -1));
  if (m_text.isEmpty()) return;
  p.setFont(m_font);
  p.setPen(palette().color(QPalette::ButtonText));
  const QFontMetrics m(m_font);
  const QRect text = m.boundingRect(m_text);
  p.drawText((area.width() - m.horizontalAdvance(m_text)) / 2,
             (area.height() - text.height()) / 2 - 5 + m.ascent(), m_text);
}

}  // namespace vts::ui
