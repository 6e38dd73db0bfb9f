// The window bus: window messages between processes of the same user, in place of
// FindWindow / PostMessage / SendMessage / WM_COPYDATA.
//
// A window that other processes may reach is a BusWindow. It registers its id, class name,
// window text and process under <runtime>/windows/ (private to the user) and listens on a
// Unix-domain socket there. Registrations left behind by dead processes are ignored and
// removed by whoever comes across them.
//
// Delivery: every message for a window is queued in arrival order (per sender, the order
// of sending) and handed to the window's handler by DispatchPending(), on the thread that
// calls it. The bus's own thread calls the window's wake hook whenever messages wait; a
// GUI toolkit's adapter turns that into a call of DispatchPending() on its GUI thread (see
// window_bus_qt.h). Without a wake hook, a thread of the owner's choice calls
// WaitAndDispatch().
//
// Threading: the free functions may be called from any thread. A BusWindow's methods may be
// called from any thread; its handler runs only inside DispatchPending()/WaitAndDispatch().
// A handler may destroy its own BusWindow (the messages still waiting are then dropped and
// their senders get a failure).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/thread_queue.h"

namespace vts::plat {

// Window ids are unique among live windows of the machine; 0 is never a window. The id fits
// in an LPARAM so it can travel as a message argument (a peer window handle).
using WindowId = std::uint64_t;
using LRESULT = std::intptr_t;
using ULONG_PTR = std::uintptr_t;

constexpr std::uint32_t WM_CLOSE = 0x0010;
constexpr std::uint32_t WM_COPYDATA = 0x004A;

// What WM_COPYDATA's lParam points to while its handler runs.
struct COPYDATASTRUCT {
  ULONG_PTR dwData = 0;
  std::uint32_t cbData = 0;
  const void* lpData = nullptr;
};

// Largest WM_COPYDATA payload the bus carries.
constexpr std::uint32_t kMaxCopyDataBytes = 1u << 20;
// Most messages that may wait for one window; posting beyond that fails, as a full queue does.
constexpr std::size_t kMaxQueuedMessages = 10000;

constexpr std::chrono::milliseconds kDefaultSendTimeout{5000};

// One delivered message. For WM_COPYDATA (sent with SendCopyData), lParam points to
// `copyData`, whose lpData points into `payload`; both live as long as the handler runs.
struct WindowMessage {
  std::uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  bool sent = false;  // true: the sender waits for the handler's result
  bool hasCopyData = false;
  COPYDATASTRUCT copyData;
  std::vector<std::uint8_t> payload;
  std::uint32_t senderProcessId = 0;
};

struct WindowInfo {
  WindowId id = 0;
  std::string className;
  std::u16string text;
  std::uint32_t processId = 0;
};

class BusWindow {
 public:
  using Handler = std::function<LRESULT(const WindowMessage&)>;
  // Called on the bus's thread when messages wait; must be quick and must not block.
  using Wake = std::function<void()>;

  // Registers a reachable window. Returns nullptr (and a reason in *error) when the runtime
  // folder is not usable or the socket cannot be made.
  static std::unique_ptr<BusWindow> Create(const std::string& className, const std::u16string& text,
                                           Handler handler, Wake wake = {},
                                           std::string* error = nullptr);
  ~BusWindow();  // unregisters; senders still waiting get a failure

  BusWindow(const BusWindow&) = delete;
  BusWindow& operator=(const BusWindow&) = delete;

  WindowId Id() const;
  std::string ClassName() const;
  std::u16string Text() const;
  // Changes the text that FindWindow matches (SetWindowText).
  bool SetText(const std::u16string& text);

  // Runs the handler for the messages waiting now, in order, on the calling thread (which
  // becomes the window's owner thread: sends from it to this window call the handler at
  // once). Returns how many were handled.
  std::size_t DispatchPending();
  // Waits up to `timeout` for a message, then dispatches what waits. Returns the count.
  std::size_t WaitAndDispatch(std::chrono::milliseconds timeout);
  // Messages waiting right now.
  std::size_t PendingCount() const;

  struct Impl;

 private:
  explicit BusWindow(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> impl_;
};

// The newest live window whose class and text match (ASCII case-insensitively, as FindWindow
// does); an empty class or text matches any. 0 when there is none.
WindowId FindWindow(const std::string& className, const std::u16string& text);
// Every live registered window (stale registrations are removed on the way).
std::vector<WindowInfo> ListWindows();
// True while the window is registered by a live process.
bool IsWindow(WindowId window);
// Registration of a live window; false when there is none.
bool GetWindowInfo(WindowId window, WindowInfo* info);

// Queues a message for the window and returns at once (the receiver's handler runs later).
// False when the window does not exist, its queue is full, or it did not take the message;
// then whatever wParam/lParam hand over stays the sender's. For a window of this process
// the arguments are passed as they are (pointers stay valid), so threads of the program may
// notify their window this way, in per-sender order.
bool PostMessage(WindowId window, std::uint32_t message, WPARAM wParam, LPARAM lParam);

// Delivers a message and waits up to `timeout` for the handler's result. False when the
// window does not exist, went away, or did not answer in time (the message may still be
// handled later, as with SendMessageTimeout). *result is 0 on failure.
bool SendMessage(WindowId window, std::uint32_t message, WPARAM wParam, LPARAM lParam,
                 LRESULT* result, std::chrono::milliseconds timeout = kDefaultSendTimeout);

// Sends WM_COPYDATA: wParam (by convention the sender's window), dwData and the bytes.
// Payloads over kMaxCopyDataBytes are refused. WM_COPYDATA travels only this way:
// PostMessage and SendMessage refuse it, and the bus drops a WM_COPYDATA from outside that
// has no payload, so a handler's lParam always points to a real COPYDATASTRUCT.
bool SendCopyData(WindowId window, WPARAM wParam, ULONG_PTR dwData, const void* data,
                  std::uint32_t cbData, LRESULT* result,
                  std::chrono::milliseconds timeout = kDefaultSendTimeout);

// The folder holding the registrations (<runtime>/windows), created private on first use.
std::string WindowBusFolder();

}  // namespace vts::plat
