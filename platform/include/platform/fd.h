// File-descriptor owner and whole-buffer reads and writes on descriptors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vts::plat {

// Owns one descriptor and closes it once; movable, not copyable.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the owned descriptor (if any) and takes fd.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Reads exactly n bytes from a blocking descriptor, retrying short reads and interruptions.
// False at end of file before n bytes or on an error.
bool ReadExactly(int fd, void* data, std::size_t n);

// Reads up to n bytes at offset, retrying short reads and interruptions; fewer only at end of
// file. The count read, or -1 on an error.
long long ReadAt(int fd, void* data, std::size_t n, std::uint64_t offset);

// Writes all n bytes to a blocking descriptor, retrying short writes and interruptions.
bool WriteAll(int fd, const void* data, std::size_t n);

}  // namespace vts::plat
