// File-descriptor owner and whole-buffer reads and writes.
#include "platform/fd.h"

#include <unistd.h>

#include <cerrno>

namespace vts::plat {

void UniqueFd::reset(int fd) {
  // close() is not retried on EINTR: on Linux the descriptor is gone either way.
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

bool ReadExactly(int fd, void* data, std::size_t n) {
  auto* p = static_cast<unsigned char*>(data);
  while (n > 0) {
    ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

long long ReadAt(int fd, void* data, std::size_t n, std::uint64_t offset) {
  auto* p = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return static_cast<long long>(done);
}

bool WriteAll(int fd, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace vts::plat
