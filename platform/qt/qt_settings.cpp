// Qt's user-scope settings path.
#include "platform/qt_settings.h"

#include <QSettings>
#include <QString>

#include "platform/known_folders.h"

namespace vts::plat {

void KeepQtSettingsBelowRoot() {
  const std::string folder = LibrarySettingsFolder();
  if (folder.empty()) return;
  CreateFolderChain(folder, 0700);
  const QString path = QString::fromStdString(folder);
  // Native and INI are one format here; both are set so that neither leads outside.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
}

}  // namespace vts::plat
