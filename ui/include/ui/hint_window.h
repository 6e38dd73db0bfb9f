// The recorder window's own hover hints: a borderless popup in the tooltip colours that
// appears under the cursor on the first 100 ms tick after it has rested more than 700 ms
// over one of the registered areas, and goes as soon as the cursor moves or the window is
// no longer active. Areas of controls hidden later show nothing. GUI thread only.
#pragma once

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vts::ui {

struct HintEntry {
  QRect rect;  // relative to the owner window's top-left corner
  QString text;
  QPointer<QWidget> control;  // the control the area belongs to (none: always shown)
};

class HintWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kTickMs = 100;
  static constexpr std::uint64_t kRestMs = 700;
  static constexpr int kMaxTextChars = 249;

  // What the hint reads of the machine; each part may be replaced (tests).
  struct Environment {
    std::function<std::uint64_t()> nowMs;           // monotonic milliseconds
    std::function<std::optional<QPoint>()> cursor;  // screen point; none: unreadable
    // The pointer asked of the display server (a round trip), while the window's own moves
    // do not tell where it is; used only without `cursor`.
    std::function<QPoint()> askCursor;
    std::function<bool()> ownerActive;              // the owner is the active window
    std::function<QRect(QPoint)> screenAt;          // the screen under a point
  };

  explicit HintWindow(QWidget* owner);

  void SetEnvironment(Environment environment);
  // Appends an area (the text cut to 249 characters).
  void AddEntry(const QRect& rect, const QString& text, QWidget* control = nullptr);
  const std::vector<HintEntry>& Entries() const { return m_entries; }
  bool Visible() const { return m_visible; }
  const QString& ShownText() const { return m_text; }

  // The 100 ms tick (its timer calls it; tests may call it directly). Its timer runs only
  // while a hint may come or go: the owner active and the pointer perhaps over it and not
  // at rest, or a hint shown; a pointer at rest whose moves the window tells stops it too.
  void OnTimer();
  bool Ticking() const { return m_timer.isActive(); }

  // Watches the mouse over the owner's window, so that a tick needs no query of the pointer.
  bool eventFilter(QObject* watched, QEvent* event) override;

  // Line `index` of `text` (lines end at "\n"; a final "\n" starts no empty line).
  static bool MeasureHintText(const QString& text, int index, QString* out);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::uint64_t Now() const;
  std::optional<QPoint> CursorPos();
  bool OwnerActiveWindow() const;
  void WatchAgain();
  void Show(const HintEntry& entry, QPoint cursor);
  void Hide();

  QWidget* m_owner;
  Environment m_env;
  QTimer m_timer;
  QFont m_font;
  std::vector<HintEntry> m_entries;
  QString m_text;
  int m_lineHeight = 0;
  QPoint m_lastPoint{-1, -1};
  std::uint64_t m_restStart = 0;
  std::uint64_t m_lastTick = 0;
  bool m_visible = false;
  // The tick stopped at a rest (not for the pointer away or the window inactive): it takes
  // up its beat and the wait it had when it starts again.
  bool m_settled = false;
  // The pointer as the owner's window last saw it (screen point); none: not known, ask.
  std::optional<QPoint> m_seenCursor;
};

}  // namespace vts::ui
