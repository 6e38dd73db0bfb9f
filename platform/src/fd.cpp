// File-descriptor owner and whole-buffer reads and writes.
#include "platform/fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vts::plat {

void UniqueFd::reset(int fd) {
  // close() is not retried on EINTR: on Linux the descriptor is gone either way.
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  const int fd = release();
  return ::close(fd) == 0;
}

namespace {

int OpenFlagsOf(unsigned flags) {
  int f = O_CLOEXEC;
  switch (flags & kOpenReadWrite) {
    case kOpenWrite:
      f |= O_WRONLY;
      break;
    case kOpenReadWrite:
      f |= O_RDWR;
      break;
    default:
      f |= O_RDONLY;
  }
  if (flags & kOpenCreate) f |= O_CREAT;
  if (flags & kOpenTruncate) f |= O_TRUNC;
  if (flags & kOpenExclusive) f |= O_EXCL;
  if (flags & kOpenNoFollow) f |= O_NOFOLLOW;
  if (flags & kOpenNonBlocking) f |= O_NONBLOCK;
  return f;
}

}  // namespace

UniqueFd OpenFile(const std::string& path, unsigned flags, unsigned mode) {
  return UniqueFd(::open(path.c_str(), OpenFlagsOf(flags), static_cast<mode_t>(mode)));
}

UniqueFd OpenFileIn(int folderFd, const std::string& name, unsigned flags, unsigned mode) {
  return UniqueFd(::openat(folderFd, name.c_str(), OpenFlagsOf(flags), static_cast<mode_t>(mode)));
}

bool IsOpenDescriptor(int fd) { return fd >= 0 && ::fcntl(fd, F_GETFD) >= 0; }

std::int64_t FileSizeOf(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size < 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool SeekTo(int fd, std::uint64_t offset) {
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::int64_t FilePosition(int fd) { return static_cast<std::int64_t>(::lseek(fd, 0, SEEK_CUR)); }

long long ReadSome(int fd, void* data, std::size_t n) {
  for (;;) {
    const ssize_t r = ::read(fd, data, n);
    if (r < 0 && errno == EINTR) continue;
    return static_cast<long long>(r);
  }
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

namespace vts::plat {

std::size_t WritePrefixAt(int fd, const void* data, std::size_t n, std::uint64_t offset) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::pwrite(fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(w);
  }
  return done;
}

bool WriteAllAt(int fd, const void* data, std::size_t n, std::uint64_t offset) {
  return WritePrefixAt(fd, data, n, offset) == n;
}

bool TruncateFile(int fd, std::uint64_t size) {
  for (;;) {
    if (::ftruncate(fd, static_cast<off_t>(size)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool SyncFile(int fd) { return ::fsync(fd) == 0; }
bool SyncFileData(int fd) { return ::fdatasync(fd) == 0; }

std::string PathOfOpenFile(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[4096];
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n <= 0) return {};
  std::string path(target, static_cast<std::size_t>(n));
  // The name is only the file's while it still leads to the same file.
  struct stat open {};
  struct stat named {};
  if (::fstat(fd, &open) != 0 || ::stat(path.c_str(), &named) != 0 || open.st_dev != named.st_dev ||
      open.st_ino != named.st_ino)
    return {};
  return path;
}

}  // namespace vts::plat
