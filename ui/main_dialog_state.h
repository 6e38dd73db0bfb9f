// The recorder window's working state of its transport, file and exit handlers (private to
// those files).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ui/main_dialog.h"
#include "ui/track_ops.h"

namespace vts::ui {

// Makes the folder of `pathPrefix` (the part up to its last "/"); true when it is there.
bool EnsureFolderOf(const std::string& pathPrefix);

struct CMainDlg::TransportState {
  CSoundTrack* master = nullptr;  // null: the core's
  CSoundTrack* student = nullptr;
  std::shared_ptr<TrackOps> ops = std::make_shared<TrackOps>();
  IMasterVideo* video = nullptr;
  FileDialogFn fileDialog;
  std::function<LocalTime()> clock;
  // Saves started by the exit path that have not reported back yet; the window closes
  // when the last one has finished and every one of them succeeded.
  struct PendingSave {
    std::string path;         // empty: not known here (chosen in the Save-As dialog)
    bool workAtStake = true;  // the track held unsaved work when the save started
  };
  std::map<CSoundTrack*, PendingSave> pendingSaves;
  bool saveFailed = false;
  // Per sender: playback-ended notices still to come from stops the window made itself.
  std::map<std::intptr_t, int> ownStops;
};

}  // namespace vts::ui
