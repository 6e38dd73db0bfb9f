// Named locks over flock().
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/known_folders.h"

namespace vts::plat {

std::string NamedMutexPath(const std::string& name) {
  std::string file = name;
  for (char& c : file) {
    if (c == '\\' || c == '/') c = '_';
  }
  if (file.empty() || file == "." || file == "..") file = "_" + file;
  return RuntimeFolder() + "/locks/" + file;
}

NamedMutex::NamedMutex(const std::string& name) {
  const std::string path = NamedMutexPath(name);
  const std::string folder = path.substr(0, path.rfind('/'));
  if (!EnsurePrivateFolder(folder)) return;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) ::close(fd_);  // closing drops a lock still held
}

bool NamedMutex::Acquire(bool wait) {
  if (fd_ < 0) return false;
  {
    std::lock_guard<std::mutex> g(state_);
    if (depth_ > 0 && owner_ == std::this_thread::get_id()) {
      ++depth_;
      return true;
    }
  }
  if (wait) {
    threads_.lock();
  } else if (!threads_.try_lock()) {
    return false;
  }
  int rc;
  do {
    rc = ::flock(fd_, wait ? LOCK_EX : (LOCK_EX | LOCK_NB));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    threads_.unlock();
    return false;
  }
  std::lock_guard<std::mutex> g(state_);
  owner_ = std::this_thread::get_id();
  depth_ = 1;
  return true;
}

bool NamedMutex::Lock() { return Acquire(true); }
bool NamedMutex::TryLock() { return Acquire(false); }

void NamedMutex::Unlock() {
  {
    std::lock_guard<std::mutex> g(state_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
    if (--depth_ > 0) return;
    owner_ = std::thread::id();
  }
  ::flock(fd_, LOCK_UN);
  threads_.unlock();
}

}  // namespace vts::plat
