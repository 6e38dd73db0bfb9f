// The launcher's run: keeps its default folders (asking for them with its dialog when asked
// to or when its settings file cannot be read) and starts two recorders, one per student
// position, with the same file. GUI thread of the process; creates the Qt application only
// when the dialog is shown.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "launcher/launcher_dialog.h"

namespace vts::launcher {

struct LauncherEnvironment {
  std::string programFolder;  // where the recorder lies; empty: the launcher's own folder
  std::string launcherPath;   // for the desktop entry; empty: the running program
  FolderPicker pickFolder;    // empty: the system's folder dialog
  // Called with the dialog just before it runs modally (tests drive it from here).
  std::function<void(LauncherDialog&)> dialogShown;
};

// Runs the launcher with the arguments after the program name. Returns 0 in every case.
int RunLauncher(const std::vector<std::string>& arguments,
                const LauncherEnvironment& environment = {});

}  // namespace vts::launcher
