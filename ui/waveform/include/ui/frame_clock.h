// One clock for the repaints of a window whose pictures change frame after frame (the
// strips and the time displays while playing or recording): the changes of one frame are
// shown together, in one pass of painting, at most once a frame. The clock runs only while
// changes come.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <vector>

namespace vts {

// Lives on the GUI thread; clients are made and destroyed there. A client's Request may
// come from any thread: it marks the client changed and wakes the GUI thread only when the
// clock is stopped. On each tick every changed client's frame handler runs (on the GUI
// thread); a tick with nothing changed stops the clock. The first request after a stop is
// shown at once when the last frame is a frame ago.
class FrameClock : public QObject {
 public:
  static constexpr int kIntervalMs = 66;  // about 15 pictures a second

  class Client {
   public:
    Client(FrameClock& clock, std::function<void()> onFrame);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Request();  // thread-safe

   private:
    friend class FrameClock;
    FrameClock& clock_;
    std::function<void()> onFrame_;
    std::atomic<bool> pending_{false};
  };

  explicit FrameClock(QObject* parent = nullptr);

  // Whether the clock runs (GUI thread).
  bool Running() const { return timer_.isActive(); }

 private:
  void Kick();
  void Start();
  void Tick();

  QTimer timer_;
  QElapsedTimer sinceFrame_;  // since the last tick that showed something
  std::vector<Client*> clients_;
  std::atomic<bool> running_{false};
  std::atomic<bool> kickPosted_{false};
};

}  // namespace vts
