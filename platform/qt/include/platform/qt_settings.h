// Qt's own user settings (what its file dialogs remember) below VOXTRAILSTUDY_ROOT when that
// is set, like every other per-machine file of the programs.
#pragma once

namespace vts::plat {

// Points Qt's user-scope settings at LibrarySettingsFolder() (created) when it is not empty;
// otherwise Qt keeps its usual place. Call before the first file dialog.
void KeepQtSettingsBelowRoot();

}  // namespace vts::plat
