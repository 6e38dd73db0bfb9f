// The launcher's run, in order: desktop entry, settings, the dialog when due, two recorders.
#include "launcher/launcher.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/file_associations.h"
#include "platform/known_folders.h"
#include "platform/qt_settings.h"

namespace vts::launcher {
namespace {

// Whether a Qt application could show a window: Qt ends the process when it cannot reach a
// display, and the launcher ends with status 0 whatever happens.
bool CanShowWindows() {
  if (QCoreApplication::instance()) return true;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

// The dialog needs a Qt application; a start without the dialog needs no display at all.
std::unique_ptr<QApplication> EnsureApplication() {
  if (QCoreApplication::instance()) return nullptr;
  static int argc = 1;
  static char name[] = "VoxtrailStart";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QApplication>(argc, argv);
}

// Both starts follow each other at once; neither is waited for.
void StartRecorders(const std::string& recorder, const LauncherArguments& arguments) {
  const QFileInfo info(QString::fromStdString(recorder));
  if (!info.isFile() || !info.isExecutable()) {
    std::fprintf(stderr, "VoxtrailStart: the recorder %s is missing\n", recorder.c_str());
    return;
  }
  for (const std::vector<std::string>& list : RecorderArgumentLists(arguments)) {
    QStringList qlist;
    for (const std::string& a : list) qlist << QString::fromStdString(a);
    QProcess::startDetached(info.filePath(), qlist);
  }
}

}  // namespace

int RunLauncher(const std::vector<std::string>& arguments, const LauncherEnvironment& environment) {
  const std::string programFolder =
      environment.programFolder.empty() ? plat::ProgramFolder() : environment.programFolder;
  const std::string launcherPath =
      environment.launcherPath.empty() ? plat::ProgramPath() : environment.launcherPath;
  const LauncherArguments parsed = ParseLauncherArguments(arguments);

  WriteDesktopEntry(LauncherDesktopEntryFileName(), LauncherDesktopEntryText(launcherPath));

  const std::string iniPath = PathIniPath();
  DefaultFolders folders;
  const bool read = ReadPathIni(iniPath, folders);
  if (parsed.setup || !read) {
    const std::string documents = DocumentsDefaultFolder();
    if (folders.save.empty()) folders.save = documents;
    if (folders.open.empty()) folders.open = documents;

    if (!CanShowWindows()) {
      std::fprintf(stderr, "VoxtrailStart: no display to show the default-folders dialog on\n");
      return 0;
    }
    const std::unique_ptr<QApplication> app = EnsureApplication();
    plat::KeepQtSettingsBelowRoot();
    LauncherDialog dialog(folders, environment.pickFolder);
    if (environment.dialogShown) environment.dialogShown(dialog);
    if (dialog.exec() != QDialog::Accepted) return 0;
    folders = dialog.Folders();
    // A settings file that cannot be written does not keep the recorders from starting.
    WritePathIni(iniPath, folders);
  }

  StartRecorders(RecorderPath(programFolder), parsed);
  return 0;
}

}  // namespace vts::launcher
