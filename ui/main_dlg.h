// The recorder window as the application object creates and runs it: created on the UI
// thread, run with DoModal() and deleted afterwards. A close() (the window manager, or a
// termination signal turned into one) runs the window's exit path.
#pragma once

#include "ui/main_dialog.h"

class CMainDlg : public vts::ui::CMainDlg {
 public:
  explicit CMainDlg(QWidget* parent = nullptr) : vts::ui::CMainDlg(parent) {}
  // Runs the window modally; returns its result.
  int DoModal() { return exec(); }
};
