// The please-wait window: a small bordered window with one centred line of text, shown
// while the recorder waits for the classroom. It lives on the GUI thread, so its text is
// never freed while it is painted; a 100 ms tick hides it after its duration (0: it stays
// until it is hidden). GUI thread only.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace vts::ui {

class WaitWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 300;
  static constexpr int kHeight = 100;
  static constexpr int kTickMs = 100;

  // Made hidden, 300 x 100, centred on `screen` (the primary screen when empty). The owner
  // keeps it above itself; `childMode` makes it a child of the owner instead of a popup.
  explicit WaitWindow(QWidget* owner, QRect screen = QRect(), bool childMode = false);

  // The clock of the duration (milliseconds, monotonic); tests drive their own.
  void SetClock(std::function<std::uint64_t()> nowMs) { m_nowMs = std::move(nowMs); }
  void SetTextFont(const QFont& font);
  // The line shown; repainted at once.
  void SetText(const QString& text);
  const QString& Text() const { return m_text; }
  // The place kept for the window (also when it is made again).
  void SetPlace(const QRect& place);
  QRect Place() const { return m_place; }
  // Shown and raised; its duration counts from now (0: stays).
  void ShowWait(std::uint32_t durationMs = 0);
  void HideWait();
  bool Visible() const { return m_visible; }
  // The 100 ms tick (its timer calls it; tests may call it directly). Its timer runs only
  // while the window is shown with a duration.
  void OnTimer();
  bool Ticking() const { return m_timer.isActive(); }

  // Centred on a screen: x = (screen width - w) / 2, y = (screen height - h) / 2.
  static QRect CentredOn(const QRect& area, int w, int h);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::uint64_t Now() const;

  QTimer m_timer;
  QFont m_font;
  QString m_text;
  QRect m_place;
  std::function<std::uint64_t()> m_nowMs;
  std::uint32_t m_durationMs = 0;
  std::uint64_t m_startTick = 0;
  bool m_visible = false;
};

}  // namespace vts::ui
