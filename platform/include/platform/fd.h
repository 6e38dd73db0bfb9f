// File-descriptor owner, opening files, and whole-buffer reads and writes on descriptors.
// Every descriptor made here is close-on-exec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
  // Closes now; false when the close reports an error (a late write error on some file
  // systems).
  bool Close();

 private:
  int fd_ = -1;
};

// How OpenFile opens: an access mode plus any of the others.
enum OpenFlags : unsigned {
  kOpenRead = 0x1,
  kOpenWrite = 0x2,
  kOpenReadWrite = 0x3,
  kOpenCreate = 0x4,       // create when missing, with the given mode under the umask
  kOpenTruncate = 0x8,     // empty it
  kOpenExclusive = 0x10,   // with kOpenCreate: fail when it exists
  kOpenNoFollow = 0x20,    // fail on a symbolic link at the path
  kOpenNonBlocking = 0x40  // never wait on a pipe or device at the path
};
UniqueFd OpenFile(const std::string& path, unsigned flags, unsigned mode = 0644);
// The same for a name in an open folder (see OpenPrivateFolder).
UniqueFd OpenFileIn(int folderFd, const std::string& name, unsigned flags, unsigned mode = 0644);

// The path at which the file open as fd stands now; empty when it has none (removed, or
// another file took its name).
std::string PathOfOpenFile(int fd);

// True when fd is an open descriptor of this process.
bool IsOpenDescriptor(int fd);

// Size of the open file, -1 on an error.
std::int64_t FileSizeOf(int fd);

// Moves the file position; false on an error (a pipe).
bool SeekTo(int fd, std::uint64_t offset);
// The file position, -1 when the descriptor has none.
std::int64_t FilePosition(int fd);

// One read (interruptions retried): the count, 0 at the end, -1 on an error.
long long ReadSome(int fd, void* data, std::size_t n);

// Reads exactly n bytes from a blocking descriptor, retrying short reads and interruptions.
// False at end of file before n bytes or on an error.
bool ReadExactly(int fd, void* data, std::size_t n);

// Reads up to n bytes at offset, retrying short reads and interruptions; fewer only at end of
// file. The count read, or -1 on an error.
long long ReadAt(int fd, void* data, std::size_t n, std::uint64_t offset);

// Writes all n bytes to a blocking descriptor, retrying short writes and interruptions.
bool WriteAll(int fd, const void* data, std::size_t n);

// Writes as much of the n bytes at offset as the file takes: the count written, n unless an
// error (a full disk) stopped it. The file position stays.
std::size_t WritePrefixAt(int fd, const void* data, std::size_t n, std::uint64_t offset);
bool WriteAllAt(int fd, const void* data, std::size_t n, std::uint64_t offset);

bool TruncateFile(int fd, std::uint64_t size);
// Waits until the file's data (and with SyncFile its metadata) is on the disk.
bool SyncFile(int fd);
bool SyncFileData(int fd);

}  // namespace vts::plat
