// A table of positioned file operations, so that code which edits a file in place can be
// given failing ones by its tests. The system's table calls the Linux functions directly.
#pragma once

#include <sys/types.h>

#include <cstdint>

namespace vts::plat {

struct FileIo {
  ssize_t (*pread)(int fd, void* buffer, size_t bytes, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buffer, size_t bytes, off_t offset);
  int (*ftruncate)(int fd, off_t length);
  int (*fdatasync)(int fd);
  int (*fstatSize)(int fd, std::uint64_t* size);  // 0 and the size, or -1
};
const FileIo& SystemFileIo();

}  // namespace vts::plat
