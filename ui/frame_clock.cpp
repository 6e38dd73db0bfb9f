// The frame clock shared by a window's changing pictures.
#include "ui/frame_clock.h"

#include <QMetaObject>
#include <algorithm>

namespace vts {

FrameClock::Client::Client(FrameClock& clock, std::function<void()> onFrame)
    : clock_(clock), onFrame_(std::move(onFrame)) {
  clock_.clients_.push_back(this);
}

FrameClock::Client::~Client() { std::erase(clock_.clients_, this); }

void FrameClock::Client::Request() {
  pending_.store(true);
  clock_.Kick();
}

FrameClock::FrameClock(QObject* parent) : QObject(parent) {
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

void FrameClock::Kick() {
  if (running_.load()) return;  // the next tick sees the request
  if (kickPosted_.exchange(true)) return;
  // The queued call is dropped with the clock if it goes first.
  QMetaObject::invokeMethod(
      this, [this] { Start(); }, Qt::QueuedConnection);
}

void FrameClock::Start() {
  kickPosted_.store(false);
  if (running_.load()) return;
  running_.store(true);
  timer_.start();
  if (!sinceFrame_.isValid() || sinceFrame_.elapsed() >= kIntervalMs) Tick();
}

void FrameClock::Tick() {
  bool shown = false;
  // A handler may make or destroy clients: walk a copy, and skip the ones gone since.
  const std::vector<Client*> clients = clients_;
  for (Client* c : clients) {
    if (std::find(clients_.begin(), clients_.end(), c) == clients_.end()) continue;
    if (!c->pending_.exchange(false)) continue;
    shown = true;
    c->onFrame_();
  }
  if (shown) {
    sinceFrame_.start();
    return;
  }
  // Nothing changed for a frame: the clock stops. A request made meanwhile either sees the
  // clock stopped (and posts a start) or is seen here.
  timer_.stop();
  running_.store(false);
  for (Client* c : clients_) {
    if (c->pending_.load()) {
      Start();
      return;
    }
  }
}

}  // namespace vts
