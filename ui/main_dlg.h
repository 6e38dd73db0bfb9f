// The recorder window as the application object creates and runs it: created on the UI
// thread, run with DoModal() and deleted afterwards. A close() (the window manager, or a
// termination signal turned into one) runs the window's exit path.
#pragma once

#include "ui/main_dialog.h"

class CMainDlg : public vts::ui::CMainDlg {
 public:
  explicit CMainDlg(QWidget* parent = nullptr) : vts::ui::CMainDlg(parent) {}
  // Starts the window up and runs it modally; returns its result, or the quit code that the
  // start-up asked for (the modal run does not start then).
  int DoModal() {
    OnInitDialog();
    if (QuitRequested()) return QuitCode();
    return exec();
  }
};
