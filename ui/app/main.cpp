// The recorder's entry point: QApplication, the application object, the main dialog, and
// SIGTERM/SIGINT turned into the dialog's close.
#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "core/log.h"
#include "core/product_name.h"
#include "platform/message_box_qt.h"
#include "platform/process.h"
#include "platform/qt_settings.h"
#include "platform/utf.h"
#include "voxtrailstudy_app.h"

int main(int argc, char** argv) {
  // Blocked before any thread starts, so every thread inherits the mask and the signals
  // arrive only through the descriptor the UI thread watches.
  vts::plat::UniqueFd stopSignals = vts::plat::BlockStopSignals();
  const int signalFd = stopSignals.get();

  QApplication qapp(argc, argv);
  vts::plat::KeepQtSettingsBelowRoot();
  // Every box is in the main log, on disk at once: what the user was told stays findable
  // even when the program is ended while the box is up.
  auto boxes = std::make_shared<vts::plat::QtMessageBoxService>(
      [](const std::string& line) { vts::WriteLog(vts::LOG_MAIN, line); },
      [](const std::string& line) {
        vts::WriteLog(vts::LOG_MAIN, "Message box " + line);
        vts::FlushLogs(std::chrono::seconds(1));
      });
  vts::plat::SetMessageBoxService(boxes);

  int status = 0;
  {
    CVoxtrailstudyApp app;
    if (!app.StartedOk()) {
      vts::plat::MessageBox(
          vts::plat::Utf8ToUtf16("The program cannot start: " + app.StartError() + "."),
          vts::GetProductName(), vts::plat::MB_OK | vts::plat::MB_ICONERROR);
      status = EXIT_FAILURE;
    } else {
      std::unique_ptr<QSocketNotifier> notifier;
      if (signalFd >= 0) {
        notifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [&app, signalFd] {
          vts::plat::DrainStopSignals(signalFd);
          app.RequestClose();
        });
      }
      app.InitInstance();
      status = app.ExitCode();
    }
    // The GUI loop has ended: boxes asked for from now on are logged and answered by default.
    boxes->BeginShutdown();
  }
  vts::plat::SetMessageBoxService(nullptr);
  return status;
}
