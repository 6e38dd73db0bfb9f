// Whole-file reads and replacements over the Linux file calls.
#include "platform/files.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace vts::plat {
namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SetError(std::string* error, const std::string& what, const std::string& path) {
  if (error) *error = what + " " + path + ": " + std::strerror(errno);
}

template <typename Buffer>
ReadFileStatus ReadInto(const std::string& path, Buffer* out, const ReadFileOptions& options) {
  out->clear();
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  if (!options.followSymlink) flags |= O_NOFOLLOW;
  UniqueFd fd(::open(path.c_str(), flags));
  if (!fd) return ReadFileStatus::kOpenFailed;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return ReadFileStatus::kReadFailed;
  if (!S_ISREG(st.st_mode)) return ReadFileStatus::kNotRegular;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > options.maxBytes) return ReadFileStatus::kTooLarge;
  out->resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (done < out->size()) {
    const ssize_t r = ::read(fd.get(), out->data() + done, out->size() - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  // Fewer bytes, or one more, means the file changed while we read it: not one snapshot.
  char extra;
  ssize_t more;
  do {
    more = ::read(fd.get(), &extra, 1);
  } while (more < 0 && errno == EINTR);
  if (done != out->size() || more != 0) {
    out->clear();
    return ReadFileStatus::kReadFailed;
  }
  return ReadFileStatus::kOk;
}

}  // namespace

ReadFileStatus ReadWholeFile(const std::string& path, std::string* out,
                             const ReadFileOptions& options) {
  return ReadInto(path, out, options);
}

ReadFileStatus ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* out,
                             const ReadFileOptions& options) {
  return ReadInto(path, out, options);
}

bool FileReplacement::Open(const std::string& path, int mode, std::string* error) {
  Discard();
  failed_ = false;
  if (path.empty() || path.back() == '/') {
    errno = EINVAL;
    SetError(error, "cannot write", path);
    return false;
  }
  // A fresh name each try; exclusive creation never opens someone else's file.
  static std::atomic<unsigned> counter{0};
  static thread_local std::mt19937 random{std::random_device{}()};
  const mode_t createMode = mode == kModeUnderUmask ? 0666 : 0600;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 64 && fd < 0; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%u-%08x", static_cast<long>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(random()));
    temp = path + suffix;
    fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, createMode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    SetError(error, "cannot create a file beside", path);
    return false;
  }
  fd_.reset(fd);
  path_ = path;
  temp_ = temp;
  // An exact mode is set after creation, so the umask does not narrow it.
  if (mode != kModeUnderUmask) ::fchmod(fd, static_cast<mode_t>(mode));
  return true;
}

bool FileReplacement::Write(const void* data, std::size_t n) {
  if (!fd_) errno = EBADF;
  if (!fd_ || failed_) return false;
  if (!WriteAll(fd_.get(), data, n)) failed_ = true;
  return !failed_;
}

bool FileReplacement::WriteAt(std::uint64_t offset, const void* data, std::size_t n) {
  if (!fd_) errno = EBADF;
  if (!fd_ || failed_) return false;
  const auto* p = static_cast<const unsigned char*>(data);
  while (n > 0) {
    const ssize_t w = ::pwrite(fd_.get(), p, n, static_cast<off_t>(offset));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      failed_ = true;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
    offset += static_cast<std::uint64_t>(w);
  }
  return true;
}

bool FileReplacement::Finish() {
  if (fd_) {
    const bool synced = ::fsync(fd_.get()) == 0;
    // close() reports late write errors on some file systems.
    const bool closed = ::close(fd_.release()) == 0;
    if (!synced || !closed) failed_ = true;
  }
  return !temp_.empty() && !failed_;
}

bool FileReplacement::Commit(std::string* error) {
  if (temp_.empty()) {
    errno = EBADF;
    SetError(error, "cannot write", path_);
    return false;
  }
  if (!fd_ && !failed_) {
    // Filled by path (an archive writer): sync what it wrote.
    UniqueFd written(::open(temp_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!written || ::fsync(written.get()) != 0) failed_ = true;
  }
  if (!Finish()) {
    if (errno == 0) errno = EIO;
    SetError(error, "cannot write", path_);
    Discard();
    return false;
  }
  return RenameIntoPlace(error);
}

bool FileReplacement::CommitKeepingOpen(UniqueFd* fd) {
  if (temp_.empty() || !fd_ || failed_) return false;
  UniqueFd keep = std::move(fd_);
  if (!RenameIntoPlace(nullptr)) return false;
  *fd = std::move(keep);
  return true;
}

bool FileReplacement::RenameIntoPlace(std::string* error) {
  if (::rename(temp_.c_str(), path_.c_str()) != 0) {
    SetError(error, "cannot replace", path_);
    Discard();
    return false;
  }
  temp_.clear();
  // Make the rename itself durable; a failure here no longer affects the content.
  UniqueFd dir(::open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
  return true;
}

std::string FileReplacement::ReleaseTemp() {
  fd_.reset();
  std::string temp;
  temp.swap(temp_);
  return temp;
}

void FileReplacement::Discard() {
  fd_.reset();
  if (!temp_.empty()) {
    const int saved = errno;
    ::unlink(temp_.c_str());
    errno = saved;
    temp_.clear();
  }
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, int mode,
                         std::string* error) {
  FileReplacement file;
  if (!file.Open(path, mode, error)) return false;
  if (!file.Write(bytes.data(), bytes.size())) {
    SetError(error, "cannot write", path);
    return false;
  }
  return file.Commit(error);
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, int mode,
                         std::string* error) {
  return WriteFileAtomically(
      path, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), mode,
      error);
}

bool CreateFileIfMissing(const std::string& path) {
  // O_NONBLOCK: a pipe at path must not hold us up.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  return static_cast<bool>(fd);
}

bool CanOpenForReading(const std::string& path) {
  return static_cast<bool>(UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)));
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the flag: a hard link refuses an existing name too.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  return ::unlink(from.c_str()) == 0;
}

}  // namespace vts::plat
