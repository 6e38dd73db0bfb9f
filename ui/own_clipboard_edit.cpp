// The chunk-text edit with the private clipboard.
#include "ui/own_clipboard_edit.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextCursor>
#include <mutex>

#include "core/app_core.h"

namespace vts::ui {

COwnClipboardEdit::COwnClipboardEdit(QWidget* parent) : QPlainTextEdit(parent) {}

void COwnClipboardEdit::StoreClipboardText(const std::u16string& text) {
  CAppCore* core = g_pAppCore;
  if (!core) return;
  std::lock_guard guard(core->clipboardLock);
  core->clipboard = text;
}

std::u16string COwnClipboardEdit::StoredClipboardText() {
  CAppCore* core = g_pAppCore;
  if (!core) return {};
  std::lock_guard guard(core->clipboardLock);
  return core->clipboard;
}

std::u16string COwnClipboardEdit::SelectedText() const {
  // The edit's own paragraph separators are line breaks of the text.
  QString text = textCursor().selectedText();
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  return text.toStdU16String();
}

void COwnClipboardEdit::keyPressEvent(QKeyEvent* event) {
  // A copy or cut stores the selection, an empty one as 0 bytes.
  if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut))
    StoreClipboardText(SelectedText());
  QPlainTextEdit::keyPressEvent(event);
}

QMimeData* COwnClipboardEdit::createMimeDataFromSelection() const {
  // Every copy and cut (keys, context menu) comes through here.
  StoreClipboardText(SelectedText());
  return QPlainTextEdit::createMimeDataFromSelection();
}

bool COwnClipboardEdit::canInsertFromMimeData(const QMimeData* source) const {
  if (m_privateClipboard) return true;  // the private buffer is always offered
  return source && QPlainTextEdit::canInsertFromMimeData(source);
}

void COwnClipboardEdit::insertFromMimeData(const QMimeData* source) {
  // Every paste (keys, middle button, menu) and every drop comes through here.
  if (!m_privateClipboard) {
    // A clipboard without an owner comes as data of no format at all (X11), which Qt's text
    // control crashes on (it reads the first format unchecked); and an owner may leave
    // between two reads. The control gets a copy of what a plain edit pastes, the text.
    const QString text = source ? source->text() : QString();
    if (text.isEmpty()) return;
    QMimeData copy;
    copy.setText(text);
    QPlainTextEdit::insertFromMimeData(&copy);
    return;
  }
  // Paste takes the private buffer only; the system clipboard is not read.
  const std::u16string text = StoredClipboardText();
  if (text.empty()) return;
  textCursor().insertText(QString::fromStdU16String(text));
  ensureCursorVisible();
}

void COwnClipboardEdit::mouseReleaseEvent(QMouseEvent* event) {
  // The middle button pastes the selection of other programs.
  if (m_privateClipboard && event->button() == Qt::MiddleButton) {
    event->accept();
    return;
  }
  QPlainTextEdit::mouseReleaseEvent(event);
}

void COwnClipboardEdit::dragEnterEvent(QDragEnterEvent* event) {
  if (m_privateClipboard) return event->ignore();
  QPlainTextEdit::dragEnterEvent(event);
}

void COwnClipboardEdit::dragMoveEvent(QDragMoveEvent* event) {
  if (m_privateClipboard) return event->ignore();
  QPlainTextEdit::dragMoveEvent(event);
}

void COwnClipboardEdit::dropEvent(QDropEvent* event) {
  if (m_privateClipboard) return event->ignore();
  QPlainTextEdit::dropEvent(event);
}

}  // namespace vts::ui
