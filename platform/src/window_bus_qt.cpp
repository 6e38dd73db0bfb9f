// Qt adapter of the window bus: one coalesced posted event per burst of messages.
#include "platform/window_bus_qt.h"

#include <QCoreApplication>
#include <QEvent>
#include <atomic>

namespace vts::plat {
namespace {

const QEvent::Type kDispatchEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

QtBusWindow::QtBusWindow(const std::string& className, const std::u16string& text,
                         BusWindow::Handler handler, QObject* parent)
    : QObject(parent), posted_(std::make_shared<std::atomic<bool>>(false)) {
  auto posted = posted_;
  QObject* self = this;
  window_ = BusWindow::Create(
      className, text, std::move(handler),
      [posted, self] {
        if (!posted->exchange(true)) QCoreApplication::postEvent(self, new QEvent(kDispatchEvent));
      },
      &error_);
}

QtBusWindow::~QtBusWindow() {
  window_.reset();  // joins the bus thread: no wake can follow
}

bool QtBusWindow::event(QEvent* e) {
  if (e->type() != kDispatchEvent) return QObject::event(e);
  posted_->store(false);  // a message arriving from now on posts a new event
  if (window_) window_->DispatchPending();
  return true;
}

}  // namespace vts::plat
