// Thread message queues with numeric thread ids, in place of the Windows thread messages.
//
// Threading: every function may be called from any thread. A queue belongs to the thread
// that created it (EnsureQueue, or the first GetMessage/PeekMessage on that thread) and
// ends when that thread calls EndQueue or exits. Posting to a thread without a live queue
// fails and the sender keeps ownership of whatever wParam/lParam point to.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace vts::plat {

using ThreadId = std::uint32_t;  // 0 is never a valid id
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

constexpr std::uint32_t WM_QUIT = 0x0012;
constexpr std::uint32_t WM_TIMER = 0x0113;
constexpr std::uint32_t WM_USER = 0x0400;

struct Msg {
  std::uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// The calling thread's numeric id (assigned on first use, unique for the process's life).
ThreadId CurrentThreadId();

// Creates the calling thread's queue if it has none. Idempotent.
void EnsureQueue();

// Ends the calling thread's queue: later posts fail; messages still queued are returned
// to `drop` (if given) so their payloads can be released.
void EndQueue(const std::function<void(const Msg&)>& drop = {});

// Queues a message for the thread. False when the thread has no live queue.
bool PostThreadMessage(ThreadId thread, std::uint32_t message, WPARAM wParam, LPARAM lParam);

// Blocks until a message (or a due timer's WM_TIMER) arrives. Returns false for WM_QUIT
// (the message is still stored in *msg), true otherwise.
bool GetMessage(Msg* msg);

// Like GetMessage but gives up after `timeout`; returns false and leaves *msg with
// message 0 when nothing arrived.
bool GetMessageTimeout(Msg* msg, std::chrono::milliseconds timeout);

// Non-blocking: true and the oldest message when one is waiting; `remove` takes it off.
bool PeekMessage(Msg* msg, bool remove);

// Thread timers (SetTimer with no window): the calling thread gets WM_TIMER with
// wParam = the returned id every interval, generated when it waits in GetMessage.
// Timers never pile up: at most one WM_TIMER per timer is pending.
std::uintptr_t SetThreadTimer(std::uintptr_t id, std::chrono::milliseconds interval);
bool KillThreadTimer(std::uintptr_t id);

// Posts WM_USER to the calling thread until the post succeeds, sleeping 50 ms between
// tries, as the Parts' worker threads do before their loops.
void CreateQueueByPostingToSelf();

}  // namespace vts::plat
