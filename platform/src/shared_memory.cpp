// Named shared memory as mmap of <runtime>/shm/NAME, kept alive by the holders' shared locks.
#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/files.h"
#include "platform/known_folders.h"

namespace vts::plat {
namespace {

constexpr std::size_t kMaxSize = std::size_t(1) << 30;

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
  for (char c : name)
    if (c == '/' || c == '\0') return false;
  return true;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// True when someone else holds the file: an exclusive lock cannot be had.
bool HeldByOthers(int fd) {
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK;
  }
  return false;
}

bool TakeShared(int fd) {
  while (flock(fd, LOCK_SH) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

enum class Hold { kTaken, kNobody, kExclusive, kFailed };

// Joins the holders of a file that others hold, waiting at most `wait` while one of them
// holds it exclusively (the caller may be a window's thread).
Hold JoinHolders(int fd, std::chrono::milliseconds wait) {
  constexpr std::chrono::milliseconds kRetry{10};
  const auto giveUp = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (!HeldByOthers(fd)) return Hold::kNobody;
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) return Hold::kTaken;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return Hold::kFailed;
    if (std::chrono::steady_clock::now() >= giveUp) return Hold::kExclusive;
    std::this_thread::sleep_for(kRetry);
  }
}

}  // namespace

std::string SharedMemory::Folder() {
  std::string runtime = RuntimeFolder();
  if (runtime.empty()) return std::string();
  std::string folder = runtime + "/shm";
  if (!EnsurePrivateFolder(folder)) return std::string();
  return folder;
}

SharedMemory::SharedMemory(std::string name, int fd, std::uint8_t* data, std::size_t size)
    : name_(std::move(name)), fd_(fd), data_(data), size_(size) {}

SharedMemory::~SharedMemory() {
  if (data_) munmap(data_, size_);
  if (fd_ >= 0) close(fd_);  // releases our shared lock
}

std::unique_ptr<SharedMemory> SharedMemory::OpenExisting(const std::string& name,
                                                         std::string* error,
                                                         std::chrono::milliseconds wait) {
  if (!ValidName(name)) {
    SetError(error, "invalid shared memory name");
    return nullptr;
  }
  std::string folder = Folder();
  if (folder.empty()) {
    SetError(error, "the runtime folder is not private to this user");
    return nullptr;
  }
  std::string path = folder + "/" + name;
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    SetError(error, name + " does not exist");
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    SetError(error, name + " is not a shared memory of this user");
    return nullptr;
  }
  switch (JoinHolders(fd, wait)) {
    case Hold::kTaken:
      break;
    case Hold::kNobody:
      // Left behind by holders that ended (or made by one that never held it): the mapping
      // no longer exists.
      close(fd);
      SetError(error, name + " does not exist: the file is there, but no process holds a "
                             "shared lock on it");
      return nullptr;
    case Hold::kExclusive:
      close(fd);
      SetError(error, name + " stayed locked exclusively by another process for " +
                          std::to_string(wait.count()) + " ms");
      return nullptr;
    case Hold::kFailed:
      SetError(error, Errno("flock"));
      close(fd);
      return nullptr;
  }
  if (fstat(fd, &st) != 0) {
    SetError(error, Errno("fstat"));
    close(fd);
    return nullptr;
  }
  std::size_t size = static_cast<std::size_t>(st.st_size);
  if (size == 0 || size > kMaxSize) {
    close(fd);
    SetError(error, name + " has no usable size");
    return nullptr;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    SetError(error, Errno("mmap"));
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<SharedMemory>(
      new SharedMemory(name, fd, static_cast<std::uint8_t*>(p), size));
}

std::unique_ptr<SharedMemory> SharedMemory::Create(const std::string& name, std::size_t size,
                                                   bool* alreadyExisted, std::string* error) {
  if (alreadyExisted) *alreadyExisted = false;
  if (!ValidName(name) || size == 0 || size > kMaxSize) {
    SetError(error, "invalid shared memory name or size");
    return nullptr;
  }
  std::string folder = Folder();
  if (folder.empty()) {
    SetError(error, "the runtime folder is not private to this user");
    return nullptr;
  }
  // Creators take turns, so two of them never both replace a stale file.
  int turn =
      open((folder + "/.create.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (turn < 0) {
    SetError(error, Errno("open"));
    return nullptr;
  }
  struct TurnGuard {
    int fd;
    ~TurnGuard() { close(fd); }
  } guard{turn};
  while (flock(turn, LOCK_EX) != 0 && errno == EINTR) {
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (auto existing = OpenExisting(name, nullptr)) {
      if (alreadyExisted) *alreadyExisted = true;
      return existing;
    }
    // Made complete under a temporary name, locked, then renamed into place, so nobody
    // ever opens a half-made mapping or one without a holder.
    std::string path = folder + "/" + name;
    FileReplacement file;
    if (!file.Open(path, 0600)) {
      SetError(error, Errno("open"));
      return nullptr;
    }
    const int fd = file.Fd();
    if (!TakeShared(fd) || ftruncate(fd, static_cast<off_t>(size)) != 0) {
      SetError(error, Errno("ftruncate"));
      return nullptr;
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
      SetError(error, Errno("mmap"));
      return nullptr;
    }
    // Replace only a file nobody holds; if a live one appeared meanwhile, use that instead.
    UniqueFd old(open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    const bool liveAppeared = old && HeldByOthers(old.get());
    old.reset();
    UniqueFd kept;
    if (liveAppeared || !file.CommitKeepingOpen(&kept)) {
      munmap(p, size);
      continue;
    }
    return std::unique_ptr<SharedMemory>(
        new SharedMemory(name, kept.release(), static_cast<std::uint8_t*>(p), size));
  }
  SetError(error, "cannot create " + name);
  return nullptr;
}

}  // namespace vts::plat
