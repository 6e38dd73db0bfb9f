// The launcher's dialog: the default folders for opening files and saving exercises, each
// with a folder picker. Qt Widgets; GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>

#include "launcher/launcher_settings.h"

class QLineEdit;

namespace vts::launcher {

// Picks a folder for `parent`, opened at `start`; an empty text when the user cancels.
using FolderPicker = std::function<QString(QWidget* parent, const QString& start)>;

// The system's folder dialog, folders only.
QString PickFolderWithDialog(QWidget* parent, const QString& start);

class LauncherDialog : public QDialog {
 public:
  // Control ids of the template.
  static constexpr int kIdOk = 1;
  static constexpr int kIdCancel = 2;
  static constexpr int kIdPathOpen = 1000;
  static constexpr int kIdPathSave = 1001;
  static constexpr int kIdSelectOpen = 1002;
  static constexpr int kIdSelectSave = 1003;
  // The edits hold at most this many characters.
  static constexpr int kMaxEditChars = 259;

  explicit LauncherDialog(const DefaultFolders& folders, FolderPicker picker = {},
                          QWidget* parent = nullptr);

  // The control of a template id (the two labels have none); null for an unknown id.
  QWidget* Control(int id) const;
  // The folders the edits hold now.
  DefaultFolders Folders() const;

 private:
  void Select(QLineEdit* edit);

  FolderPicker m_picker;
  QLineEdit* m_open = nullptr;
  QLineEdit* m_save = nullptr;
  std::map<int, QWidget*> m_controls;
};

}  // namespace vts::launcher
