// The minimal main dialog shell.
#include "main_dlg.h"

#include "core/product_name.h"

CMainDlg::CMainDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromStdU16String(vts::GetProductName()));
  setFixedSize(640, 400);
}

int CMainDlg::DoModal() { return exec(); }
