// A bus window whose messages are handled on the Qt GUI thread: the bus's thread posts an
// event into the Qt event loop, and that event dispatches the waiting messages in order.
//
// Threading: create and destroy on the thread whose event loop should run the handler
// (the GUI thread). Destruction closes the bus window before the QObject goes, so no event
// is posted to a dead object.
#pragma once

#include <QObject>
#include <atomic>
#include <memory>
#include <string>

#include "platform/window_bus.h"

namespace vts::plat {

class QtBusWindow : public QObject {
 public:
  QtBusWindow(const std::string& className, const std::u16string& text, BusWindow::Handler handler,
              QObject* parent = nullptr);
  ~QtBusWindow() override;

  bool IsOpen() const { return window_ != nullptr; }
  const std::string& Error() const { return error_; }
  // The bus window (nullptr when it could not be registered).
  BusWindow* Window() const { return window_.get(); }
  WindowId Id() const { return window_ ? window_->Id() : 0; }

 protected:
  bool event(QEvent* e) override;

 private:
  std::unique_ptr<BusWindow> window_;
  std::string error_;
  std::shared_ptr<std::atomic<bool>> posted_;
};

}  // namespace vts::plat
