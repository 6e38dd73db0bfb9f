// The main dialog (a first, minimal shell: a fixed-size dialog titled with the variant name).
//
// Contract with the application object: it creates the dialog on the UI thread, runs it with
// DoModal() and deletes it afterwards; SIGTERM/SIGINT arrive as close() on the dialog, so the
// dialog's own close path is the one orderly exit.
#pragma once

#include <QDialog>

class CMainDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CMainDlg(QWidget* parent = nullptr);
  // Runs the dialog modally; returns its result.
  int DoModal();
};
