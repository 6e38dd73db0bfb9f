// The recorder window's painting (background, logo, version, labels, time displays, all
// through the back buffer) and the dropping of files on it.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QMimeData>
#include <QPainter>

#include "core/paths.h"
#include "platform/message_box.h"
#include "ui/main_dialog.h"

namespace vts::ui {
namespace {

// Where the Parts' pixels put the texts.
constexpr QPoint kInLabel(463, 345);
constexpr QPoint kOutLabel(482, 345);
const QRect kSmallTimeShown(190, 53, 70, 20);
const QRect kLargeTimeShown(10, 195, 100, 25);

void DrawTextAt(QPainter& p, QPoint at, const QString& text) {
  p.drawText(QRect(at, QSize(4096, 4096)), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

}  // namespace

// Made while playing for every frame: plain digits, without the general formatting's cost.
QString CMainDlg::FormatTime(uint32_t ms) {
  char text[16];
  char* end = text + sizeof text;
  char* p = end;
  auto digit = [&](uint32_t v) { *--p = char('0' + v); };
  digit(ms / 100u % 10u);
  *--p = '.';
  const uint32_t seconds = ms / 1000u % 60u;
  digit(seconds % 10u);
  digit(seconds / 10u);
  *--p = ':';
  uint32_t minutes = ms / 60000u;
  for (int shown = 0; shown < 2 || minutes > 0; ++shown, minutes /= 10u) digit(minutes % 10u);
  return QString::fromLatin1(p, end - p);
}

void CMainDlg::SetTimeSources(std::function<uint32_t()> chunkLengthMs,
                              std::function<uint32_t()> playPositionMs) {
  m_chunkLengthMs = std::move(chunkLengthMs);
  m_playPositionMs = std::move(playPositionMs);
  DrawTime();
  DrawLargeTime();
}

// Each display is repainted only when its text changes: the tracks ask for it with every
// buffer, far more often than the tenths it shows move. The repaint comes with the window's
// next frame, together with the strips'.
void CMainDlg::DrawTime() {
  // The text is one of the tenths: it is made only when they move.
  const uint32_t tenths = (m_chunkLengthMs ? m_chunkLengthMs() : 0) / 100u;
  if (tenths == m_shownTimeTenths) return;
  m_shownTimeTenths = tenths;
  m_shownTime = FormatTime(tenths * 100u);
  m_timeDirty |= kSmallTimeShown;
  m_timeFrame->Request();
}

void CMainDlg::DrawLargeTime() {
  const uint32_t tenths = (m_playPositionMs ? m_playPositionMs() : 0) / 100u;
  if (tenths == m_shownLargeTimeTenths) return;
  m_shownLargeTimeTenths = tenths;
  m_shownLargeTime = FormatTime(tenths * 100u);
  m_timeDirty |= kLargeTimeShown;
  m_timeFrame->Request();
}

void CMainDlg::paintEvent(QPaintEvent* event) {
  QPainter target(this);
  target.setClipRegion(event->region());  // only what changed is composed again
  PaintBackground(target);
}

void CMainDlg::PaintBackground(QPainter& target) {
  if (m_backBuffer.size() != m_windowSize)
    m_backBuffer = QImage(m_windowSize, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&m_backBuffer);
  // Texts outside the repainted region are not laid out at all.
  const bool clipped = target.hasClipping();
  const QRegion clip = clipped ? target.clipRegion() : QRegion();
  auto needed = [&](const QRect& r) { return !clipped || clip.intersects(r); };
  if (clipped) p.setClipRegion(clip);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(m_backBuffer.rect(), Qt::black);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.setRenderHint(QPainter::TextAntialiasing);
  // 1. Background, 2. logo at (10, 10).
  p.drawImage(0, 0, m_background);
  if (!m_logo.isNull()) p.drawImage(10, 10, m_logo);

  // 3. Version: beside the logo, its bottom near the logo's; at (20, 10) without one.
  p.setFont(m_versionFont);
  const QFontMetrics vm(m_versionFont);
  const int textHeight = vm.height();
  const int logoWidth = m_logo.isNull() ? 0 : m_logo.width();
  const int logoHeight = m_logo.isNull() ? 0 : m_logo.height();
  const int vx = logoWidth + 20;
  const int vy = logoHeight > 0 ? logoHeight - textHeight + 12 : 10;
  p.setPen(QColor(0xd6, 0xde, 0xe6));
  if (needed(QRect(vx, vy, m_windowSize.width(), textHeight)))
    DrawTextAt(p, QPoint(vx, vy), m_versionText);

  // 4. Level labels in white.
  p.setFont(m_labelFont);
  p.setPen(Qt::white);
  if (needed(QRect(kInLabel, QPoint(kOutLabel.x() + 40, kOutLabel.y() + 30)))) {
    DrawTextAt(p, kInLabel, QStringLiteral("IN"));
    DrawTextAt(p, kOutLabel, QStringLiteral("OUT"));
  }

  // 5. Time displays: current Master chunk's length (black), play position (white).
  if (needed(kSmallTimeShown)) {
    p.setFont(m_timeFont);
    p.setPen(Qt::black);
    p.save();
    p.setClipRect(kSmallTimeShown);
    DrawTextAt(p, kSmallTimeShown.topLeft(), FormatTime(m_chunkLengthMs ? m_chunkLengthMs() : 0));
    p.restore();
  }
  if (needed(kLargeTimeShown)) {
    p.setFont(m_largeTimeFont);
    p.setPen(Qt::white);
    p.save();
    p.setClipRect(kLargeTimeShown);
    DrawTextAt(p, kLargeTimeShown.topLeft(),
               FormatTime(m_playPositionMs ? m_playPositionMs() / 100u * 100u : 0));
    p.restore();
  }
  p.end();

  // 6. One copy onto the window.
  target.setCompositionMode(QPainter::CompositionMode_Source);
  target.drawImage(0, 0, m_backBuffer);
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data && data->hasUrls()) {
    for (const QUrl& u : data->urls()) {
      if (u.isLocalFile()) {
        event->acceptProposedAction();
        return;
      }
    }
  }
  event->ignore();
}

void CMainDlg::dropEvent(QDropEvent* event) {
  const QMimeData* data = event->mimeData();
  if (!data || !data->hasUrls()) return event->ignore();
  event->acceptProposedAction();
  OnDropFiles(data->urls());
}

void CMainDlg::OnDropFiles(const QList<QUrl>& urls) {
  QString path;
  for (const QUrl& u : urls) {
    if (u.isLocalFile()) {
      path = u.toLocalFile();
      break;
    }
  }
  if (path.isEmpty()) return;
  const std::string utf8 = path.toStdString();
  if (!ExtensionEquals(utf8, "MP3") && !ExtensionEquals(utf8, "WAV") &&
      !ExtensionEquals(utf8, "VXB")) {
    plat::MessageBox(u"Unsupported file format.", u"Recorder", plat::MB_OK);
    return;
  }
  if (!ConfirmDiscard()) return;
  ReplaceMaster(path);
}

}  // namespace vts::ui
