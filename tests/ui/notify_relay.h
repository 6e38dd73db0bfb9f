// Hands the tracks' notices to the window's queue, as the start-up does.
#pragma once

#include "tracks/notify.h"
#include "ui/main_dialog.h"

namespace vts::test {

class Relay : public INotifyWindow {
 public:
  explicit Relay(ui::CMainDlg* dlg) : dlg_(dlg) {}
  void PostNotify(std::uint32_t message, plat::WPARAM w, plat::LPARAM l) override {
    dlg_->PostMessage(message, w, l);
  }

 private:
  ui::CMainDlg* dlg_;
};

}  // namespace vts::test
