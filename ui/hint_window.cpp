// The hover hints of the recorder window.
#include "ui/hint_window.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <chrono>

#include "ui/gdi_font.h"

namespace vts::ui {

HintWindow::HintWindow(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      m_owner(owner) {
  setObjectName(QStringLiteral("HINTERWINDOWCLASS"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  m_font = MakeGdiFont(QStringLiteral("Tahoma"), 16, 6);
  setGeometry(0, 0, 1, 1);
  hide();
  m_timer.setInterval(kTickMs);
  connect(&m_timer, &QTimer::timeout, this, &HintWindow::OnTimer);
  WatchAgain();
  qApp->installEventFilter(this);
}

namespace {
// Far from every area: where the pointer counts while it is outside the owner's window.
constexpr QPoint kOutside(-100000, -100000);
}  // namespace

bool HintWindow::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (!m_owner) return false;
  if (watched == m_owner) {
    if (type == QEvent::WindowActivate) {
      m_seenCursor.reset();  // the moves while it was not active were not all seen
      m_settled = false;
      WatchAgain();
    } else if (type == QEvent::WindowDeactivate || type == QEvent::WindowBlocked ||
               type == QEvent::WindowUnblocked || type == QEvent::Move ||
               type == QEvent::Resize) {
      WatchAgain();  // a shown hint may have to go, the pointer's place in it changed
    }
  }
  // A popup, a dialog or a control that comes or goes may change what is under the pointer.
  if ((type == QEvent::Show || type == QEvent::Hide) && watched != this &&
      watched->isWidgetType())
    WatchAgain();
  if (type != QEvent::MouseMove && type != QEvent::Enter && type != QEvent::Leave) return false;
  if (watched != m_owner->windowHandle()) return false;
  if (type == QEvent::Leave)
    m_seenCursor = kOutside;
  else if (event->isSinglePointEvent())
    m_seenCursor = static_cast<QSinglePointEvent*>(event)->globalPosition().toPoint();
  else
    m_seenCursor.reset();
  WatchAgain();
  return false;
}

bool HintWindow::OwnerActiveWindow() const {
  if (m_env.ownerActive) return m_env.ownerActive();
  return m_owner && m_owner->isActiveWindow();
}

// The tick runs only while a hint may come or go: with the window active and the pointer
// perhaps over it and not yet at rest, or a hint shown while the pointer's moves are not
// known. The window's enter, moves and activation start it again; after a rest it takes up
// the beat it had, so a hint comes and goes on the tick it would have had.
void HintWindow::WatchAgain() {
  if (m_timer.isActive() || !m_owner || (!m_visible && !OwnerActiveWindow())) return;
  const std::uint64_t now = Now();
  if (m_settled) {
    m_settled = false;
    const std::uint64_t since = now - m_lastTick;
    m_timer.start(kTickMs - int(since % kTickMs));
    return;
  }
  // The wait counts from here, as from the last tick without the foreground.
  m_restStart = now;
  m_timer.start(kTickMs);
}

// Asking the display server for the pointer is a round trip each tick; the owner's window
// sees every move over it and its enter and leave, so the pointer is asked for only while
// that is not known (at start, and after the window was not active: a modal box or another
// window then took the moves).
std::optional<QPoint> HintWindow::CursorPos() {
  if (m_env.cursor) return m_env.cursor();
  if (m_seenCursor)
    return *m_seenCursor == kOutside ? m_owner->frameGeometry().topLeft() + kOutside
                                     : *m_seenCursor;
  const QPoint asked = m_env.askCursor ? m_env.askCursor() : QCursor::pos();
  const QWindow* window = m_owner ? m_owner->windowHandle() : nullptr;
  if (window && window->isExposed()) {
    // Outside the window: its enter will be seen. Over it (as its own enter told), each of
    // its moves will be.
    if (!window->geometry().contains(asked))
      m_seenCursor = kOutside;
    else if (m_owner->underMouse())
      m_seenCursor = asked;
  }
  return asked;
}

void HintWindow::SetEnvironment(Environment environment) {
  m_env = std::move(environment);
  m_timer.stop();  // whether there is anything to watch is the new environment's to say
  m_settled = false;
  WatchAgain();
}

void HintWindow::AddEntry(const QRect& rect, const QString& text, QWidget* control) {
  m_entries.push_back({rect, text.left(kMaxTextChars), control});
  WatchAgain();  // the pointer may rest over it
}

std::uint64_t HintWindow::Now() const {
  if (m_env.nowMs) return m_env.nowMs();
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool HintWindow::MeasureHintText(const QString& text, int index, QString* out) {
  QStringList lines = text.split(QLatin1Char('\n'));
  if (text.endsWith(QLatin1Char('\n'))) lines.removeLast();
  if (index < 0 || index >= lines.size()) return false;
  if (out) *out = lines[index];
  return true;
}

void HintWindow::OnTimer() {
  if (!m_owner) return;
  // Back on the beat after a first tick that took up the one of before a rest.
  if (m_timer.isActive() && m_timer.interval() != kTickMs) m_timer.start(kTickMs);
  const std::optional<QPoint> cursor = CursorPos();
  if (!cursor) return;
  const QPoint p = *cursor - m_owner->frameGeometry().topLeft();
  // A popup menu or a modal dialog of the window counts as another window in front.
  QWidget* modal = QApplication::activeModalWidget();
  const bool active = m_env.ownerActive
                          ? m_env.ownerActive()
                          : m_owner->isActiveWindow() && !QApplication::activePopupWidget() &&
                                (!modal || modal == m_owner);
  const std::uint64_t now = Now();
  m_lastTick = now;
  if (!active) m_seenCursor.reset();  // the window may miss moves now: ask again
  bool resting = false;
  if (p != m_lastPoint || !active) {
    m_restStart = now;
    if (m_visible) Hide();
  } else if (now - m_restStart > kRestMs) {
    resting = true;
    if (!m_entries.empty() && !m_visible) {
      for (const HintEntry& e : m_entries) {
        // A control hidden after it was registered has no hint any more.
        if (e.control && e.control->isHidden()) continue;
        if (!e.rect.contains(p)) continue;
        Show(e, *cursor);
        break;
      }
    }
  }
  m_lastPoint = p;
  // Nothing to watch until the window is active again or the pointer comes back over it.
  const bool pointerAway = !m_env.cursor && m_seenCursor && *m_seenCursor == kOutside;
  if (!m_visible && (pointerAway || !OwnerActiveWindow())) {
    m_timer.stop();
    return;
  }
  // At rest, with a hint shown or none to show, over a window whose moves and activity
  // come as its events: nothing changes before one of them.
  const bool told = !m_env.cursor && !m_env.ownerActive && m_seenCursor.has_value();
  if (told && (resting || m_visible) && active) {
    m_timer.stop();
    m_settled = true;
  }
}

void HintWindow::Show(const HintEntry& entry, QPoint cursor) {
  m_text = entry.text;
  const QFontMetrics metrics(m_font);
  int widest = 0, height = 0, tallest = 0;
  QString line;
  for (int i = 0; MeasureHintText(m_text, i, &line); ++i) {
    const QRect r = metrics.boundingRect(QRect(0, 0, 10000, 1000), Qt::AlignLeft | Qt::AlignTop,
                                         line.isEmpty() ? QStringLiteral(" ") : line);
    widest = std::max(widest, line.isEmpty() ? 0 : metrics.horizontalAdvance(line));
    const int lineHeight = std::max(r.height(), metrics.height());
    height += lineHeight;
    tallest = std::max(tallest, lineHeight);
  }
  const int width = widest + 6;
  height += 4;
  m_lineHeight = tallest;

  // Under the cursor, kept on the screen the cursor is on.
  QRect screen;
  if (m_env.screenAt) {
    screen = m_env.screenAt(cursor);
  } else if (QScreen* s = QGuiApplication::screenAt(cursor)) {
    screen = s->geometry();
  } else if (QScreen* primary = QGuiApplication::primaryScreen()) {
    screen = primary->geometry();
  }
  int x = cursor.x();
  int y = cursor.y() + 20;
  if (!screen.isEmpty()) {
    const int right = screen.left() + screen.width();
    const int bottom = screen.top() + screen.height();
    if (x + width > right - 2) x = right - width - 2;
    if (y + height > bottom) y = bottom - height;
  }
  setGeometry(x, y, width, height);
  m_visible = true;
  show();
  raise();
  update();
}

void HintWindow::Hide() {
  m_visible = false;
  hide();
}

void HintWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect area = rect();
  p.fillRect(area, QApplication::palette().color(QPalette::ToolTipBase));
  p.setPen(QApplication::palette().color(QPalette::ToolTipText));
  p.drawRect(area.adjusted(0, 0, -1, -1));
  p.setFont(m_font);
  const QFontMetrics metrics(m_font);
  QString line;
  for (int i = 0; MeasureHintText(m_text, i, &line); ++i)
    p.drawText(2, m_lineHeight * i + 2 + metrics.ascent(), line);
}

}  // namespace vts::ui
