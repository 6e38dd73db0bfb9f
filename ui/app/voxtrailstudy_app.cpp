// The application object's start-up and shutdown orders.
#include "voxtrailstudy_app.h"

#include <QTimer>
#include <new>
#include <stdexcept>

#include "core/app_core.h"
#include "core/data_folder.h"
#include "core/file_associations.h"
#include "core/log.h"
#include "main_dlg.h"
#include "platform/process.h"
#include "ui/video_window.h"
#include "video/video_manager.h"

CVoxtrailstudyApp::CVoxtrailstudyApp() {
  // A debugged process runs on one processor, so timings stay reproducible.
  if (vts::plat::IsDebuggerAttached()) vts::plat::RestrictToFirstProcessor();
  // The data folder's rights are repaired before the logs open their files in it: a folder
  // closed to us would lose this run's logs.
  vts::GrantDataFolderAccess(vts::GetDataFolder());
  vts::InitLogging();
  try {
    vts::g_pAppCore = new vts::CAppCore();
    // The video opens in real windows.
    if (vts::g_pAppCore->videoManager)
      vts::g_pAppCore->videoManager->SetWindowSystem(vts::ui::QtVideoWindowSystem());
  } catch (const std::bad_alloc&) {
    startError_ = "out of memory";
  } catch (const std::exception& e) {
    startError_ = e.what();
  }
}

CVoxtrailstudyApp::~CVoxtrailstudyApp() {
  delete vts::g_pAppCore;
  vts::g_pAppCore = nullptr;
  vts::StopLogging();
}

bool CVoxtrailstudyApp::StartedOk() const { return vts::g_pAppCore != nullptr; }

bool CVoxtrailstudyApp::InitInstance() {
  mainDlg_ = new CMainDlg();
  if (positionTaken_) {
    CMainDlg::StartEnvironment environment;
    environment.anotherCopyRuns = [] { return false; };
    mainDlg_->SetStartEnvironment(std::move(environment));
  }
  vts::RegisterFileTypes();
  if (closeRequested_) QTimer::singleShot(0, mainDlg_, [dlg = mainDlg_] { dlg->RequestEnd(true); });
  mainDlg_->DoModal();
  if (mainDlg_->QuitRequested()) exitCode_ = mainDlg_->QuitCode() & 0xFF;
  delete mainDlg_;
  mainDlg_ = nullptr;
  return false;
}

void CVoxtrailstudyApp::RequestClose() {
  closeRequested_ = true;
  if (mainDlg_) mainDlg_->RequestEnd(true);
}
