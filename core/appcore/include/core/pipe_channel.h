// CPipeChannel: a link to a classroom program over a named pipe, which here is the Unix
// stream socket <runtime>/pipes/NAME. What arrives is cut into framed messages (u32 length N,
// then N bytes) and posted to one target thread as pipe events: connected (lParam 0), a block
// (lParam = AllocPipeBlock, freed by the receiver), disconnected (lParam 0xFFFFFFFF). wParam
// is the connection's handle: a number never reused, so a write with a stale handle fails
// instead of reaching another connection.
//
// Client mode keeps one connection and tries to connect every 500 ms while it has none,
// silently. Server mode (used by the classroom doubles) accepts up to 16 connections.
//
// What the peer gets wrong (a length over the cap, a connection that ends mid-message or at
// all, a write it does not take) is written to the WaveManager log as "<pipe name>: ...",
// at most one line a second per channel; the owner adds its own findings through
// ReportFault under the same limit.
//
// Threading: Start, Stop and the destructor from the owner's thread; Write from any thread
// (each message goes out whole; writes to one connection do not interleave). One connect
// thread and one reader thread per connection.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "platform/thread_queue.h"

namespace vts {

class CPipeChannel {
 public:
  enum class Mode { kClient, kServer };
  static constexpr std::size_t kMaxConnections = 16;
  static constexpr std::chrono::milliseconds kRetryInterval{500};
  // A peer that takes nothing for this long fails the write (and loses the connection).
  static constexpr std::chrono::milliseconds kWriteWait{2000};

  // `pipeName` is the name after "\\.\pipe\", e.g. "QORInterfacePipe".
  CPipeChannel(std::string pipeName, plat::ThreadId targetThread, std::uint32_t message);
  ~CPipeChannel();  // Stop
  CPipeChannel(const CPipeChannel&) = delete;
  CPipeChannel& operator=(const CPipeChannel&) = delete;

  // Starts the connect thread. False (and the channel stays inert) when it cannot start.
  bool Start(Mode mode = Mode::kClient);
  // Ends every thread: returns when the connect thread and every reader have ended (each
  // reader posts its disconnected event first). Idempotent.
  void Stop();

  // Writes one whole message to the connection `handle`. False when there is no such
  // connection or the write failed; a failed or partial write ends the connection.
  bool Write(plat::WPARAM handle, std::span<const std::uint8_t> bytes);
  // Live connections now.
  std::size_t ConnectionCount() const;
  // Logs a fault of the peer's as "<pipe name>: <what>" (any thread; at most one line a
  // second per channel, see RateLimitedLog).
  void ReportFault(const std::string& what);
  static constexpr std::chrono::milliseconds kFaultLogInterval{1000};
  const std::string& Path() const { return path_; }

  // The socket of a pipe name: <runtime>/pipes/NAME.
  static std::string PipePath(const std::string& pipeName);

 private:
  struct Connection;
  void ConnectLoop();
  void ServeLoop();
  void ReadLoop(std::shared_ptr<Connection> c);
  bool AddConnection(int fd);  // takes the descriptor
  void Post(plat::WPARAM handle, plat::LPARAM lParam);
  bool Sleep(std::chrono::milliseconds d);  // false once stopping
  void ReapReaders();

  const std::string name_;
  const std::string path_;
  const plat::ThreadId target_;
  const std::uint32_t message_;
  Mode mode_ = Mode::kClient;

  std::atomic<bool> running_{false};
  std::thread connectThread_;
  mutable std::mutex lock_;  // guards connections_, readers_, nextHandle_
  std::condition_variable wake_;
  std::map<plat::WPARAM, std::shared_ptr<Connection>> connections_;
  std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> readers_;
  plat::WPARAM nextHandle_ = 1;
  RateLimitedLog faults_;
};

}  // namespace vts
