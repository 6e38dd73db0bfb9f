// The track's private folder of temporary chunk files.
#include "tracks/temp_folder.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/fd.h"
#include "platform/files.h"
#include "platform/known_folders.h"

namespace vts {
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
  const plat::UniqueFd fd = plat::OpenPrivateFolder(folder);
  return fd ? plat::RemoveFilesIn(fd.get()) : 0;
}

std::string CreateUniqueTempFile(const std::string& folder, const std::string& prefix) {
  if (folder.empty()) {
    errno = ENOENT;
    return {};
  }
  const plat::UniqueFd fd = plat::OpenPrivateFolder(folder);
  if (!fd) return {};
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
    const plat::UniqueFd file = plat::OpenFileIn(
        fd.get(), fileName,
        plat::kOpenWrite | plat::kOpenCreate | plat::kOpenExclusive | plat::kOpenNoFollow, 0600);
    if (file) return fileName;
    lastError = errno;
    if (lastError != EEXIST) break;  // disk full, read-only, no permission: no name will do
  }
  errno = lastError;
  return {};
}

bool WriteWholeFile(const std::string& path, const void* data, std::uint64_t size) {
  plat::UniqueFd fd = plat::OpenFile(
      path, plat::kOpenWrite | plat::kOpenCreate | plat::kOpenTruncate | plat::kOpenNoFollow, 0600);
  if (!fd) return false;
  const bool ok = plat::WriteAll(fd.get(), data, static_cast<std::size_t>(size));
  return fd.Close() && ok;
}

}  // namespace vts
