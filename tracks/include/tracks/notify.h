// Notification target of a track (and of the video manager): a thread, a window and a
// message number. A notification is posted, never sent, so the sender never waits.
#pragma once

#include <cstdint>

#include "platform/thread_queue.h"

namespace vts {

// The message the tracks post to their notification target; wParam the code, lParam the
// sender.
constexpr std::uint32_t WM_TRACKNOTIFY = plat::WM_USER + 1;  // 0x401

enum TrackNotifyCode : std::uint32_t {
  TRACK_NOTIFY_IDLE = 0,
  TRACK_NOTIFY_RECORDING = 1,
  TRACK_NOTIFY_LOADED = 2,
  TRACK_NOTIFY_SAVED = 3,
  TRACK_NOTIFY_REFRESH = 4,
  TRACK_NOTIFY_PLAY_ENDED = 5,
  TRACK_NOTIFY_PAUSED = 6,
  TRACK_NOTIFY_RUNNING = 7,
  TRACK_NOTIFY_POSITION = 8,
  TRACK_NOTIFY_DATA = 10,
  // A recording or a playback lost its sound device (its stream has ended already).
  TRACK_NOTIFY_CAPTURE_LOST = 11,
  TRACK_NOTIFY_PLAYBACK_LOST = 12,
  // A recording or a playback could not start its sound stream (the device is missing);
  // the track's StartFailure() says why.
  TRACK_NOTIFY_START_FAILED = 13,
};

// A window that takes posted messages (the main dialog implements it by posting an event to
// its Qt object). PostNotify is called from any thread and must not block.
class INotifyWindow {
 public:
  virtual ~INotifyWindow() = default;
  virtual void PostNotify(std::uint32_t message, plat::WPARAM wParam, plat::LPARAM lParam) = 0;
};

struct NotifyTarget {
  plat::ThreadId threadId = 0;      // 0: none
  INotifyWindow* window = nullptr;  // null: none
  std::uint32_t message = 0;
};

// Posts to the thread when it is set and to the window when it is set (both when both are).
void PostNotification(const NotifyTarget& target, plat::WPARAM code, plat::LPARAM sender);

}  // namespace vts
