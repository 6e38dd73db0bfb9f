// Running the Qt event loop of a test until a condition holds, with a generous bound.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <functional>
#include <thread>

namespace vts::test {

// Processes events until done() or the time is up; done()'s last answer.
inline bool PumpEventsUntil(const std::function<bool()>& done,
                            std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeout.count()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // no busy loop when idle
  }
  return true;
}

}  // namespace vts::test
