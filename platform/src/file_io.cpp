// The system's positioned file operations.
#include "platform/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vts::plat {
namespace {

int SystemFstatSize(int fd, std::uint64_t* size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < 0) return -1;
  *size = std::uint64_t(st.st_size);
  return 0;
}

}  // namespace

const FileIo& SystemFileIo() {
  static const FileIo io{
      [](int fd, void* b, size_t n, off_t o) { return ::pread(fd, b, n, o); },
      [](int fd, const void* b, size_t n, off_t o) { return ::pwrite(fd, b, n, o); },
      [](int fd, off_t length) { return ::ftruncate(fd, length); },
      [](int fd) { return ::fdatasync(fd); },
      SystemFstatSize,
  };
  return io;
}

}  // namespace vts::plat
