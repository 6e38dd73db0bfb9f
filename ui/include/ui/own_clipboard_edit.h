// COwnClipboardEdit: the chunk-text edit. Every cut and copy also goes into the core's
// private clipboard; with the private-clipboard flag set (classroom positions 1 and 2) a
// paste takes only that buffer, and drops and middle-click pastes are refused, so that only
// text cut or copied inside the program reaches the texts. GUI thread only; the buffer is
// guarded by the core's clipboard lock.
#pragma once

#include <QPlainTextEdit>
#include <string>

namespace vts::ui {

class COwnClipboardEdit : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit COwnClipboardEdit(QWidget* parent = nullptr);

  void SetPrivateClipboard(bool on) { m_privateClipboard = on; }
  bool PrivateClipboard() const { return m_privateClipboard; }

  // Stores the text in the private clipboard (no core: nothing is kept).
  static void StoreClipboardText(const std::u16string& text);
  static std::u16string StoredClipboardText();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  QMimeData* createMimeDataFromSelection() const override;
  bool canInsertFromMimeData(const QMimeData* source) const override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  std::u16string SelectedText() const;
  bool m_privateClipboard = false;
};

}  // namespace vts::ui
