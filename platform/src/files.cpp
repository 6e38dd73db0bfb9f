// Whole-file reads and replacements over the Linux file calls.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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
  if (!WriteAllAt(fd_.get(), data, n, offset)) failed_ = true;
  return !failed_;
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
  // The old version is kept once the new one is complete; a failure to keep it does not
  // stop the replacement (as a rename aside that failed never did).
  if (!keepOldAs_.empty()) KeepOldVersion(path_, keepOldAs_);
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

namespace {

// `oldPath` with "[i]" before the extension of its file name (at the end without one).
std::string NumberedOldPath(const std::string& oldPath, unsigned i) {
  const std::size_t slash = oldPath.rfind('/');
  std::size_t dot = oldPath.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = oldPath.size();
  return oldPath.substr(0, dot) + "[" + std::to_string(i) + "]" + oldPath.substr(dot);
}

bool KeepOldVersionUnder(const std::string& path, const std::string& oldPath) {
  if (::link(path.c_str(), oldPath.c_str()) == 0) return true;
  if (errno == ENOENT || errno == EEXIST) return false;
  // A file system without hard links (EPERM on FAT, say).
  return RenameNoReplace(path, oldPath);
}

}  // namespace

bool KeepOldVersion(const std::string& path, const std::string& oldPath) {
  // A name already kept stays; the version now replaced takes the first free number.
  std::string name = oldPath;
  for (unsigned i = 1; i <= 100000; ++i) {
    if (KeepOldVersionUnder(path, name)) return true;
    if (errno != EEXIST) return false;
    name = NumberedOldPath(oldPath, i);
  }
  return false;
}

namespace {

// The process id in a name that Open gave a temporary file: "<name>.tmp-<pid>-<n>-<8 hex>".
long ReplacementOwner(const std::string& name) {
  const std::size_t at = name.rfind(".tmp-");
  if (at == std::string::npos || at == 0) return -1;
  const char* p = name.c_str() + at + 5;
  char* end = nullptr;
  errno = 0;
  const long pid = std::strtol(p, &end, 10);
  if (errno != 0 || end == p || pid <= 0 || *end != '-') return -1;
  p = end + 1;
  std::strtoul(p, &end, 10);
  if (end == p || *end != '-') return -1;
  p = end + 1;
  for (int i = 0; i < 8; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(p[i])) ||
        std::isupper(static_cast<unsigned char>(p[i])))
      return -1;
  return p[8] == '\0' ? pid : -1;
}

}  // namespace

int RemoveStaleReplacements(const std::string& folder) {
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<std::string> names;
  if (!dir || !ListFolder(folder, &names)) return 0;
  int removed = 0;
  for (const std::string& name : names) {
    const long pid = ReplacementOwner(name);
    if (pid < 0 || pid == static_cast<long>(::getpid())) continue;
    // A process of that id still runs (ours or, after the id came round again, another's):
    // the file may be in use.
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid())
      continue;
    if (::unlinkat(dir.get(), name.c_str(), 0) == 0) ++removed;
  }
  return removed;
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

// ---- facts about paths

namespace {

void FillStatus(const struct stat& st, FileStatus* status) {
  status->kind = S_ISREG(st.st_mode)   ? FileKind::kRegular
                 : S_ISDIR(st.st_mode) ? FileKind::kFolder
                 : S_ISLNK(st.st_mode) ? FileKind::kSymlink
                                       : FileKind::kOther;
  status->size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  status->mode = st.st_mode & 07777;
  status->ownedByThisUser = st.st_uid == ::geteuid();
  status->accessTime = static_cast<std::int64_t>(st.st_atime);
  status->modificationTime = static_cast<std::int64_t>(st.st_mtime);
  status->changeTime = static_cast<std::int64_t>(st.st_ctime);
}

}  // namespace

bool StatPath(const std::string& path, FileStatus* status, bool followSymlink) {
  struct stat st {};
  if ((followSymlink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return false;
  FillStatus(st, status);
  return true;
}

bool StatFd(int fd, FileStatus* status) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  FillStatus(st, status);
  return true;
}

bool StatIn(int folderFd, const std::string& name, FileStatus* status) {
  struct stat st {};
  if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  FillStatus(st, status);
  return true;
}

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  while (dirent* e = ::readdir(dir)) {
    const std::string_view n = e->d_name;
    if (n != "." && n != "..") names->emplace_back(n);
  }
  ::closedir(dir);
  return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool SetFileMode(const std::string& path, unsigned mode) {
  return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool SetFileTimes(int fd, std::int64_t accessTime, std::int64_t modificationTime) {
  struct timespec times[2]{};
  times[0].tv_sec = static_cast<time_t>(accessTime);
  times[1].tv_sec = static_cast<time_t>(modificationTime);
  return ::futimens(fd, times) == 0;
}

bool CreateFolder(const std::string& path, unsigned mode) {
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0) return true;
  struct stat st {};
  return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentFolder() {
  std::vector<char> buf(PATH_MAX + 1);
  if (!::getcwd(buf.data(), buf.size())) return ".";
  return buf.data();
}

std::string CanonicalPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out = real;
  std::free(real);
  return out;
}

std::string HomeFolder() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

UniqueFd OpenPrivateFolder(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return fd;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0) {
    errno = EPERM;
    return UniqueFd();
  }
  return fd;
}

int RemoveFilesIn(int folderFd) {
  // The listing gets a descriptor of its own: closedir() closes it.
  const int listFd = ::dup(folderFd);
  DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (!dir) {
    if (listFd >= 0) ::close(listFd);
    return 0;
  }
  int deleted = 0;
  while (dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) continue;  // subfolders stay
    if (::unlinkat(folderFd, entry->d_name, 0) == 0) ++deleted;
  }
  ::closedir(dir);
  return deleted;
}

void GrantEveryoneFullAccess(const std::string& folder) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return;
  ::chmod(folder.c_str(), 0777);
  // A minimal POSIX default ACL (owner, group, others: rwx), in the kernel's xattr layout.
  struct Entry {
    std::uint16_t tag, perm;
    std::uint32_t id;
  };
  constexpr std::uint32_t kVersion = 2;
  constexpr std::uint16_t kUserObj = 0x01, kGroupObj = 0x04, kOther = 0x20;
  constexpr std::uint32_t kUndefinedId = 0xFFFFFFFF;
  unsigned char buf[4 + 3 * sizeof(Entry)];
  std::memcpy(buf, &kVersion, 4);
  const Entry entries[3] = {
      {kUserObj, 7, kUndefinedId}, {kGroupObj, 7, kUndefinedId}, {kOther, 7, kUndefinedId}};
  std::memcpy(buf + 4, entries, sizeof entries);
  ::setxattr(folder.c_str(), "system.posix_acl_default", buf, sizeof buf, 0);
}

}  // namespace vts::plat
