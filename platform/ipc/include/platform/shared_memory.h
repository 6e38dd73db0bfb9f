// Named shared memory, in place of named file mappings ("PXN_USB_SHAREDMEM", ...): an mmap
// of <runtime>/shm/NAME, whose size is the file's.
//
// Like a named mapping, it exists while someone holds it: every holder keeps a shared lock
// (flock LOCK_SH) on the file, and a file that nobody holds any more (its creator ended or
// died) counts as absent, so OpenExisting fails cleanly and the next Create makes a fresh one.
// A holder that locks the file exclusively keeps others out only for a while: OpenExisting
// waits for it at most `wait` and then fails, so no caller waits on another process unbounded.
//
// Threading: an object may be used from any thread; the bytes themselves are shared with
// other processes and need the callers' own lock (a named mutex) where they must not tear.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vts::plat {

class SharedMemory {
 public:
  // Opens a mapping that another holder keeps (OpenFileMapping + MapViewOfFile of all of
  // it). nullptr and a reason in *error when there is none, it cannot be mapped, or another
  // process kept it locked exclusively for longer than `wait`.
  static std::unique_ptr<SharedMemory> OpenExisting(
      const std::string& name, std::string* error = nullptr,
      std::chrono::milliseconds wait = kExclusiveLockWait);
  static constexpr std::chrono::milliseconds kExclusiveLockWait{2000};

  // Creates the mapping with `size` zero bytes, or opens the live one of that name
  // (CreateFileMapping; *alreadyExisted tells which; an existing one keeps its own size).
  static std::unique_ptr<SharedMemory> Create(const std::string& name, std::size_t size,
                                              bool* alreadyExisted = nullptr,
                                              std::string* error = nullptr);

  ~SharedMemory();  // unmaps and lets go of the mapping
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  const std::string& Name() const { return name_; }

  // The folder of the mapping files (<runtime>/shm), created private on first use.
  static std::string Folder();

 private:
  SharedMemory(std::string name, int fd, std::uint8_t* data, std::size_t size);
  std::string name_;
  int fd_ = -1;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace vts::plat
