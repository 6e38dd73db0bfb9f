// Test double of the classroom's own programs (daemon window and framework): a window of the
// daemon's class that records what reaches it, and the framework's side of the link — its
// messages to a recorder window and its two shared memories. Used in-process by tests and
// by the classroom-double program for cross-process tests.
//
// Threading: a ClassroomWindowDouble handles its messages on a thread of its own; its
// accessors may be called from any thread. ClassroomFrameworkDouble is not thread-safe.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/shared_memory.h"
#include "platform/window_bus.h"

namespace vts::test {

// Message numbers of the classroom link.
constexpr std::uint32_t WM_SETSLIDERLEVEL = plat::WM_USER + 152;    // 0x498
constexpr std::uint32_t WM_FRAMEWORKREQUEST = plat::WM_USER + 302;  // 0x52E
constexpr std::uint32_t WM_DAEMONNOTIFY = plat::WM_USER + 400;      // 0x590
constexpr std::uint32_t WM_REMOTECONTROL = plat::WM_USER + 402;     // 0x592

constexpr plat::WPARAM kDaemonNotifyPosition = 9;  // WM_DAEMONNOTIFY's wParam
constexpr plat::WPARAM kFrameworkClose = 4;
constexpr plat::WPARAM kFrameworkTakeTargetPath = 11;
constexpr plat::ULONG_PTR kCopyDataDestinations = 1;

constexpr const char* kDaemonClassName = "QZ_Main_WKDaemon";
constexpr const char* kUsbSharedMemoryName = "PXN_USB_SHAREDMEM";
constexpr const char* kStudySharedMemoryName = "VOXTRAILSTUDY_SHAREDMEM";
constexpr const char* kRecordMutexName = "GP_MYRECORDMUTEX";

constexpr std::size_t kUsbSharedMemoryBytes = 2069;
constexpr std::size_t kUsbSlotBytes = 1001;
constexpr std::size_t kUsbSlotOffsetPos01 = 67;   // target path of positions 0 and 1
constexpr std::size_t kUsbSlotOffsetPos2 = 1068;  // target path of position 2

// "_%uVoxtrailstudyUser": the text of a recorder window at position 1 or 2.
std::u16string RecorderWindowText(unsigned position);

struct ReceivedMessage {
  std::uint32_t message = 0;
  plat::WPARAM wParam = 0;
  plat::LPARAM lParam = 0;  // for WM_COPYDATA: 0 (the pointer meant nothing outside)
  bool sent = false;
  bool hasCopyData = false;
  plat::ULONG_PTR dwData = 0;
  std::vector<std::uint8_t> payload;
  std::uint32_t senderProcessId = 0;
};

// One line describing a received message (the classroom-double program's log format):
// "post|send msg=0x590 wParam=9 lParam=1 [dwData=1 data=<hex>]".
std::string DescribeMessage(const ReceivedMessage& m);

// A reachable window that records every message. Sent messages get `reply` as result;
// WM_COPYDATA gets its byte count. By default it is the daemon window.
class ClassroomWindowDouble {
 public:
  ClassroomWindowDouble() = default;
  ~ClassroomWindowDouble();
  ClassroomWindowDouble(const ClassroomWindowDouble&) = delete;
  ClassroomWindowDouble& operator=(const ClassroomWindowDouble&) = delete;

  bool Start(const std::string& className = kDaemonClassName, const std::u16string& text = u"",
             std::string* error = nullptr);
  void Stop();

  plat::WindowId Id() const;
  void SetReply(plat::LRESULT reply);
  // While held, messages queue up unhandled (a hung receiver).
  void SetHung(bool hung);

  std::vector<ReceivedMessage> Received() const;
  // Waits until a message with that number has arrived (counting from the first one
  // received); true and a copy in *out when it did.
  bool WaitFor(std::uint32_t message, std::chrono::milliseconds timeout,
               ReceivedMessage* out = nullptr) const;
  // Waits until `count` messages have arrived in all.
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const;
  // Called (on the window's thread) after each message is recorded.
  void OnMessage(std::function<void(const ReceivedMessage&)> callback);

 private:
  plat::LRESULT Handle(const plat::WindowMessage& m);
  void Run();

  std::unique_ptr<plat::BusWindow> window_;
  std::thread thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<ReceivedMessage> received_;
  std::function<void(const ReceivedMessage&)> callback_;
  plat::LRESULT reply_ = 0;
  bool hung_ = false;
  bool stop_ = false;
};

struct Destination {
  std::uint32_t number = 0;
  std::array<std::uint8_t, 4> address{};
};

// "5|192.168.0.7|12|10.0.0.1|": the WM_COPYDATA text of a destination list.
std::string DestinationText(const std::vector<Destination>& list);

// The framework: finds recorder windows by their text and sends them its messages; creates
// and fills the shared memories. The mappings live while this object holds them.
class ClassroomFrameworkDouble {
 public:
  static plat::WindowId FindRecorder(unsigned position);

  static bool PostFrameworkRequest(plat::WindowId recorder, plat::WPARAM request);
  static bool PostRemoteControl(plat::WindowId recorder, std::intptr_t command,
                                plat::LPARAM argument);
  static bool PostSliderLevel(plat::WindowId recorder, plat::WPARAM slider, plat::LPARAM level);
  // WM_COPYDATA with dwData (1: destination list) and the text's bytes (no NUL added).
  static bool SendCopyText(plat::WindowId recorder, plat::ULONG_PTR dwData, const std::string& text,
                           plat::LRESULT* result,
                           std::chrono::milliseconds timeout = plat::kDefaultSendTimeout);
  static bool SendDestinations(plat::WindowId recorder, const std::vector<Destination>& list,
                               plat::LRESULT* result,
                               std::chrono::milliseconds timeout = plat::kDefaultSendTimeout);

  // "PXN_USB_SHAREDMEM", 2069 zero bytes.
  bool CreateUsbSharedMemory(std::string* error = nullptr);
  // Writes a target path (8-bit text, cut to 1000 bytes, NUL-terminated) into the slot of
  // the position (0 and 1 share a slot), under the mutex "GP_MYRECORDMUTEX".
  bool SetTargetPath(unsigned position, const std::string& path);
  // The slot's 1001 bytes as they stand (under the mutex).
  std::vector<std::uint8_t> ReadSlot(unsigned position) const;
  plat::SharedMemory* UsbSharedMemory() const { return usb_.get(); }

  // "VOXTRAILSTUDY_SHAREDMEM" of `size` zero bytes.
  bool CreateStudySharedMemory(std::size_t size = 4096, std::string* error = nullptr);
  // The UTF-16LE text the recorder left at offset 0 (up to its NUL).
  std::u16string ReadSentWorkPath() const;
  plat::SharedMemory* StudySharedMemory() const { return study_.get(); }

  void ReleaseSharedMemories();

 private:
  std::unique_ptr<plat::SharedMemory> usb_;
  std::unique_ptr<plat::SharedMemory> study_;
};

}  // namespace vts::test
