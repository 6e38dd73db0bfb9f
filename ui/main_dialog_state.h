// The recorder window's working state of its transport, file and exit handlers (private to
// those files).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "tracks/transport.h"
#include "ui/main_dialog.h"
#include "ui/track_ops.h"

namespace vts::ui {

// Makes the folder of `pathPrefix` (the part up to its last "/"); true when it is there.
bool EnsureFolderOf(const std::string& pathPrefix);

struct CMainDlg::TransportState {
  CSoundTrack* master = nullptr;  // null: the core's
  CSoundTrack* student = nullptr;
  // The modes, the own stops and the shared steps; holds the track operations.
  CTransport transport;
  IMasterVideo* video = nullptr;
  FileDialogFn fileDialog;
  std::function<LocalTime()> clock;
  std::function<bool(const QUrl&)> urlOpener;
  // Saves started by the exit path that have not reported back yet; the window closes
  // when the last one has finished and every one of them succeeded.
  struct PendingSave {
    std::string path;         // empty: not known here (chosen in the Save-As dialog)
    bool workAtStake = true;  // the track held unsaved work when the save started
  };
  std::map<CSoundTrack*, PendingSave> pendingSaves;
  bool saveFailed = false;
  bool ending = false;  // an end request is under way: nothing is asked, the window closes
  // A lesson to open once the Master's running save has reported back (empty: none).
  std::string openAfterSave;
};

}  // namespace vts::ui
