// The URL-list dialog: edits the named web addresses behind the open button's URL menu
// (add, update, remove, clear, move up and down). It reads the list text when it opens and
// builds the edited text when it is closed through its close box; Enter and Escape do
// nothing. GUI thread only.
#pragma once

#include <QDialog>
#include <QStringList>
#include <string>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace vts::ui {

class CUrlListDlg : public QDialog {
  Q_OBJECT

 public:
  // An entry is name + " - " + URL, at most this many characters.
  static constexpr int kMaxEntryChars = 2047;

  explicit CUrlListDlg(const std::u16string& text, QWidget* parent = nullptr);

  // The list text: for each entry its name and its URL, each ended by CR LF; no NUL.
  const std::u16string& Text() const { return m_text; }

  // The entries of a list text, two lines each (a last URL without CR LF is kept; a name
  // without its URL line ends the list); each cut to kMaxEntryChars.
  static QStringList ParseEntries(const std::u16string& text);
  // The list text of entries, each split at its first " - ".
  static std::u16string BuildText(const QStringList& entries);

  // Controls by id (1031-1039), for tests.
  QWidget* Control(int id) const;
  QStringList Entries() const;
  int Selected() const;

 public slots:
  void accept() override {}
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QString EntryFromEdits() const;
  void SelectRow(int row);
  void OnAdd();
  void OnUpdate();
  void OnRemove();
  void OnClear();
  void OnMove(int by);
  void OnSelectionChanged(int row);

  QLineEdit* m_name = nullptr;
  QLineEdit* m_url = nullptr;
  QListWidget* m_list = nullptr;
  std::u16string m_text;
};

}  // namespace vts::ui
