// Unix stream sockets over the Linux socket calls.
#include "platform/socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <thread>

namespace vts::plat {
namespace {

struct Address {
  sockaddr_un addr{};
  socklen_t len = 0;
  UniqueFd folderFd;  // keeps a long path's folder open while the address is in use
};

// A socket address for path; a path too long for sun_path goes through /proc/self/fd of its
// folder.
bool MakeAddress(const std::string& path, Address* a) {
  a->addr.sun_family = AF_UNIX;
  std::string usable = path;
  if (usable.size() >= sizeof a->addr.sun_path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    a->folderFd.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!a->folderFd) return false;
    usable = "/proc/self/fd/" + std::to_string(a->folderFd.get()) + path.substr(slash);
    if (usable.size() >= sizeof a->addr.sun_path) return false;
  }
  std::memcpy(a->addr.sun_path, usable.c_str(), usable.size() + 1);
  a->len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + usable.size() + 1);
  return true;
}

UniqueFd NewSocket() {
  return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

bool WaitFor(int fd, short events, Deadline deadline) {
  for (;;) {
    int ms = MsLeft(deadline);
    if (ms == 0) return false;
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, ms);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

std::string Reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

Deadline DeadlineIn(std::chrono::milliseconds timeout) {
  return std::chrono::steady_clock::now() + timeout;
}

int MsLeft(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                  deadline - std::chrono::steady_clock::now())
                  .count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left);
}

bool IsSameUser(const PeerCredentials& peer) {
  return peer.uid == static_cast<std::uint32_t>(::geteuid());
}

UniqueFd ListenUnixSocket(const std::string& path, int backlog, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return UniqueFd();
  };
  Address a;
  if (!MakeAddress(path, &a)) return fail("socket path unusable");
  UniqueFd s = NewSocket();
  if (!s) return fail(Reason("socket"));
  // Only a socket file may be replaced: another kind of file at path is someone's data.
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
  // The socket file is created with no access for others; the mask applies process-wide,
  // so the mode is set again right after bind.
  if (::bind(s.get(), reinterpret_cast<sockaddr*>(&a.addr), a.len) != 0)
    return fail(Reason("bind"));
  ::chmod(path.c_str(), 0600);
  if (::listen(s.get(), backlog) != 0) {
    std::string why = Reason("listen");
    ::unlink(path.c_str());
    return fail(why);
  }
  return s;
}

UniqueFd ConnectUnixSocket(const std::string& path, Deadline deadline) {
  Address a;
  if (!MakeAddress(path, &a)) return UniqueFd();
  UniqueFd s = NewSocket();
  if (!s) return UniqueFd();
  for (;;) {
    if (::connect(s.get(), reinterpret_cast<sockaddr*>(&a.addr), a.len) == 0) return s;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      // The listener's backlog is full: try again shortly, within the time allowed.
      if (MsLeft(deadline) == 0) return UniqueFd();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    if (errno == EINPROGRESS) {
      if (!WaitFor(s.get(), POLLOUT, deadline)) return UniqueFd();
      int err = 0;
      socklen_t el = sizeof err;
      if (::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &err, &el) != 0 || err != 0)
        return UniqueFd();
      return s;
    }
    return UniqueFd();
  }
}

bool GetPeerCredentials(int fd, PeerCredentials* peer) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  peer->pid = static_cast<std::uint32_t>(cred.pid);
  peer->uid = static_cast<std::uint32_t>(cred.uid);
  peer->gid = static_cast<std::uint32_t>(cred.gid);
  return true;
}

UniqueFd AcceptUnixSocket(int listenFd, PeerCredentials* peer) {
  for (;;) {
    int c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return UniqueFd();
    }
    UniqueFd conn(c);
    if (peer && !GetPeerCredentials(c, peer)) continue;
    return conn;
  }
}

bool SendAll(int fd, const void* data, std::size_t n, Deadline deadline) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w > 0) {
      p += w;
      n -= static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(fd, POLLOUT, deadline)) return false;
      continue;
    }
    return false;
  }
  return true;
}

bool ReceiveExactly(int fd, void* data, std::size_t n, Deadline deadline) {
  auto* p = static_cast<unsigned char*>(data);
  while (n > 0) {
    std::size_t got = 0;
    switch (ReceiveSome(fd, p, n, &got)) {
      case ReceiveStatus::kData:
        p += got;
        n -= got;
        break;
      case ReceiveStatus::kWouldBlock:
        if (!WaitFor(fd, POLLIN, deadline)) return false;
        break;
      case ReceiveStatus::kClosed:
      case ReceiveStatus::kError:
        return false;
    }
  }
  return true;
}

ReceiveStatus ReceiveSome(int fd, void* data, std::size_t capacity, std::size_t* received) {
  *received = 0;
  for (;;) {
    ssize_t r = ::recv(fd, data, capacity, MSG_DONTWAIT);
    if (r > 0) {
      *received = static_cast<std::size_t>(r);
      return ReceiveStatus::kData;
    }
    if (r == 0) return ReceiveStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReceiveStatus::kWouldBlock;
    return ReceiveStatus::kError;
  }
}

bool SendNow(int fd, const void* data, std::size_t n) {
  for (;;) {
    ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w < 0 && errno == EINTR) continue;
    return w == static_cast<ssize_t>(n);
  }
}

bool WaitReadable(int fd, Deadline deadline) { return WaitFor(fd, POLLIN, deadline); }

void ShutdownSocket(int fd) { ::shutdown(fd, SHUT_RDWR); }

}  // namespace vts::plat
