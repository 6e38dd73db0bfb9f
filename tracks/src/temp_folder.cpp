// The track's private folder of temporary chunk files.
#include "tracks/temp_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/known_folders.h"

namespace vts {
namespace {

// Opens the folder without following a link and checks that it is ours and private.
int OpenPrivateFolder(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0) {
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

}  // namespace

std::string MakeTrackTempFolder(const std::string& name, std::string* why) {
  std::string base = plat::TempFolder();
  if (base.empty() || name.empty() || name.find('/') != std::string::npos || name == "." ||
      name == "..") {
    if (why) *why = "no temporary folder for \"" + name + "\"";
    return {};
  }
  if (!plat::CreateFolderChain(base, 0700)) {
    if (why) *why = "cannot create " + base;
    return {};
  }
  std::string path = base;
  for (const std::string& level : {std::string("Voxtrailstudy"), std::string("TempSnd"), name}) {
    path += "/" + level;
    if (!plat::EnsurePrivateFolder(path)) {
      if (why) *why = path + " cannot be made or is not private to this user";
      return {};
    }
  }
  return path + "/";
}

int ClearPrivateFolder(const std::string& folder) {
  if (folder.empty()) return 0;
  int fd = OpenPrivateFolder(folder);
  if (fd < 0) return 0;
  int dirFd = ::dup(fd);
  DIR* dir = dirFd >= 0 ? ::fdopendir(dirFd) : nullptr;
  if (dir == nullptr) {
    if (dirFd >= 0) ::close(dirFd);
    ::close(fd);
    return 0;
  }
  int deleted = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    struct stat st {};
    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) continue;  // subfolders stay
    if (::unlinkat(fd, entry->d_name, 0) == 0) ++deleted;
  }
  ::closedir(dir);
  ::close(fd);
  return deleted;
}

std::string CreateUniqueTempFile(const std::string& folder, const std::string& prefix) {
  if (folder.empty()) {
    errno = ENOENT;
    return {};
  }
  int fd = OpenPrivateFolder(folder);
  if (fd < 0) return {};
  // Like the system's unique temporary names: a 16-bit number in hex, tried from a start
  // that changes with time so that two tracks rarely probe the same names.
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  unsigned startNumber =
      static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  int lastError = EEXIST;
  for (unsigned tries = 0; tries < 0xFFFF; ++tries) {
    unsigned number = ((startNumber + tries) & 0xFFFF);
    if (number == 0) continue;
    char fileName[64];
    std::snprintf(fileName, sizeof fileName, "%s%X.tmp", prefix.c_str(), number);
    int file = ::openat(fd, fileName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file >= 0) {
      ::close(file);
      ::close(fd);
      return fileName;
    }
    lastError = errno;
    if (lastError != EEXIST) break;  // disk full, read-only, no permission: no name will do
  }
  ::close(fd);
  errno = lastError;
  return {};
}

bool WriteWholeFile(const std::string& path, const void* data, std::uint64_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint64_t done = 0;
  bool ok = true;
  while (done < size) {
    ssize_t n = ::write(fd, bytes + done, static_cast<std::size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::uint64_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace vts
