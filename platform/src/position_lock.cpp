// The program's position locks over flock().
#include "platform/position_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/known_folders.h"
#include "platform/named_mutex.h"

namespace vts::plat {
namespace {

UniqueFd OpenLockFile(const std::string& name) {
  const std::string path = NamedMutexPath(name);
  if (!EnsurePrivateFolder(path.substr(0, path.rfind('/')))) return UniqueFd();
  return UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
}

// 0, or the errno of the failed flock().
int Flock(const UniqueFd& fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd.get(), operation);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

}  // namespace

PositionLock::Result PositionLock::Take(const std::string& program, unsigned position, bool alone) {
  position_.reset();
  copies_.reset();
  UniqueFd mine = OpenLockFile(program + ".Position" + std::to_string(position));
  UniqueFd copies = OpenLockFile(program + ".Copies");
  if (!mine || !copies) return Result::kUnavailable;
  if (const int err = Flock(mine, LOCK_EX | LOCK_NB))
    return err == EWOULDBLOCK ? Result::kPositionHeld : Result::kUnavailable;
  if (alone) {
    // Every running copy holds the shared lock: the exclusive one is free only when none runs.
    if (const int err = Flock(copies, LOCK_EX | LOCK_NB))
      return err == EWOULDBLOCK ? Result::kAnotherCopyRuns : Result::kUnavailable;
  }
  // Waits only while a copy that must be alone looks (it then shares, or ends).
  if (Flock(copies, LOCK_SH) != 0) return Result::kUnavailable;
  position_ = std::move(mine);
  copies_ = std::move(copies);
  return Result::kTaken;
}

}  // namespace vts::plat
