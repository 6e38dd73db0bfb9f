// The recorder's entry point: the position this copy takes, QApplication, the application
// object, the main dialog, and SIGTERM/SIGINT turned into the dialog's end.
#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/command_line.h"
#include "core/log.h"
#include "core/product_name.h"
#include "platform/message_box_qt.h"
#include "platform/position_lock.h"
#include "platform/process.h"
#include "platform/qt_settings.h"
#include "platform/utf.h"
#include "voxtrailstudy_app.h"

int main(int argc, char** argv) {
  // Blocked before any thread starts, so every thread inherits the mask and the signals
  // arrive only through the descriptor the UI thread watches.
  vts::plat::UniqueFd stopSignals = vts::plat::BlockStopSignals();
  const int signalFd = stopSignals.get();

  // One copy per position, held for the whole run: a copy whose position is held ends here,
  // before it touches a folder, a pipe or the window bus. Position 0 runs only alone.
  const vts::CommandLineSwitches switches =
      vts::ParseSwitches(vts::CommandLineArguments(argc, argv));
  vts::plat::PositionLock positionLock;
  const auto taken =
      positionLock.Take(vts::GetProductNameUtf8(), switches.position, switches.position == 0);
  if (taken == vts::plat::PositionLock::Result::kPositionHeld ||
      taken == vts::plat::PositionLock::Result::kAnotherCopyRuns) {
    std::fprintf(stderr, "%s: %s; this copy ends\n", vts::GetProductNameUtf8().c_str(),
                 taken == vts::plat::PositionLock::Result::kPositionHeld
                     ? ("position " + std::to_string(switches.position) + " runs already").c_str()
                     : "another copy runs");
    return 255;
  }

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
    // Without usable lock files the window's own look at the running copies decides.
    if (taken == vts::plat::PositionLock::Result::kTaken) app.SetPositionTaken();
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
