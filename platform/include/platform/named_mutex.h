// Machine-wide named locks in place of Windows named mutexes
// ("Global\VoxtrailstudyMP3DecodeMutex"): flock() on a file of that name under
// RuntimeFolder()/locks, so every process of the user's session shares it, and the kernel releases
// it when the holding process dies (like an abandoned mutex).
//
// Threading: one NamedMutex object may be used from several threads; like a Windows mutex it
// is owned by the thread that locked it and may be locked again by that thread (each Lock
// needs its Unlock). Two objects of the same name exclude each other even in one process.
#pragma once

#include <mutex>
#include <string>
#include <thread>

namespace vts::plat {

// The lock file of a mutex name; "\" and "/" in the name become "_".
std::string NamedMutexPath(const std::string& name);

class NamedMutex {
 public:
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();  // releases a lock still held
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // False when the lock file could not be opened; Lock/TryLock then fail.
  bool IsValid() const { return fd_ >= 0; }

  bool Lock();     // waits without limit
  bool TryLock();  // never waits
  void Unlock();   // by the owning thread

 private:
  bool Acquire(bool wait);

  int fd_ = -1;
  std::timed_mutex threads_;  // keeps this object's other threads out while one owns it
  std::mutex state_;
  std::thread::id owner_;
  unsigned depth_ = 0;
};

// Holds a NamedMutex for a scope (released on every way out).
class NamedMutexLock {
 public:
  explicit NamedMutexLock(NamedMutex& m) : m_(m), owns_(m.Lock()) {}
  ~NamedMutexLock() {
    if (owns_) m_.Unlock();
  }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;
  bool OwnsLock() const { return owns_; }

 private:
  NamedMutex& m_;
  bool owns_;
};

// The name of the lock around MP3 decoding, shared by every recorder process.
inline constexpr const char* kMp3DecodeMutexName = "Global\\VoxtrailstudyMP3DecodeMutex";

}  // namespace vts::plat
