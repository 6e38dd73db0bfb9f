// Unix stream sockets: listen, connect, accept, peer credentials, and whole-buffer reads and
// writes that wait at most until a deadline. Every socket is non-blocking and close-on-exec,
// and no write raises SIGPIPE: a peer that went away is an ordinary failure.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fd.h"

namespace vts::plat {

using Deadline = std::chrono::steady_clock::time_point;

// A deadline the given time from now.
Deadline DeadlineIn(std::chrono::milliseconds timeout);
// Milliseconds left until the deadline, 0 once it passed (capped for poll()).
int MsLeft(Deadline deadline);

// Who is at the other end of a connected socket, as the kernel saw it at connect time.
struct PeerCredentials {
  std::uint32_t pid = 0;
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
};

// True when the peer runs as this process's effective user.
bool IsSameUser(const PeerCredentials& peer);

// Binds and listens on the socket file at path, readable and writable by its owner only. A
// socket file left at path by an ended process is replaced. Paths longer than a socket
// address holds are reached through their folder. Invalid on failure, with the reason.
UniqueFd ListenUnixSocket(const std::string& path, int backlog, std::string* error);

// Connects to the socket file at path. A listener whose backlog is full is tried again until
// the deadline; a missing file or a refused connection fails at once.
UniqueFd ConnectUnixSocket(const std::string& path, Deadline deadline);

// Takes one pending connection from a listener, invalid when none is pending. peer (when
// given) receives the connecting process's credentials; a connection whose credentials cannot
// be read is closed and skipped.
UniqueFd AcceptUnixSocket(int listenFd, PeerCredentials* peer);

bool GetPeerCredentials(int fd, PeerCredentials* peer);

// Sends all n bytes, waiting for room until the deadline. False when the deadline passes or
// the peer went away (part of the data may have been sent).
bool SendAll(int fd, const void* data, std::size_t n, Deadline deadline);

// Receives exactly n bytes, waiting until the deadline. False on a timeout, an error or when
// the peer closes before n bytes.
bool ReceiveExactly(int fd, void* data, std::size_t n, Deadline deadline);

// One non-blocking receive.
enum class ReceiveStatus { kData, kWouldBlock, kClosed, kError };
ReceiveStatus ReceiveSome(int fd, void* data, std::size_t capacity, std::size_t* received);

// One non-blocking send of a small frame into an empty socket buffer; true when all of it went.
bool SendNow(int fd, const void* data, std::size_t n);

// Waits until fd has something to read (or its peer closed) or the deadline passes.
bool WaitReadable(int fd, Deadline deadline);

// Ends both directions of a connection, so that a thread blocked reading it wakes up.
void ShutdownSocket(int fd);

}  // namespace vts::plat
