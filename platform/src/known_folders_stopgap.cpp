// Stop-gap known folders (runtime and program folder only) until the platform library lands.
#include <cerrno>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/known_folders.h"

namespace vts::plat {

bool CreateFolderChain(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  for (std::size_t pos = 1; pos != std::string::npos;) {
    pos = path.find('/', pos + 1);
    std::string cur = path.substr(0, pos);
    if (mkdir(cur.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EnsurePrivateFolder(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    std::string parent = path.substr(0, path.find_last_of('/'));
    if (!parent.empty() && !CreateFolderChain(parent)) return false;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (lstat(path.c_str(), &st) != 0) return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
  return (st.st_mode & 0777) == 0700 || chmod(path.c_str(), 0700) == 0;
}

std::string RuntimeFolder() {
  const char* root = std::getenv("VOXTRAILSTUDY_ROOT");
  std::string p = root && *root ? std::string(root) + "/run" : "/tmp/vts-run-" + std::to_string(geteuid());
  EnsurePrivateFolder(p);
  return p;
}

std::string ProgramPath() {
  std::string buf(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  buf.resize(static_cast<std::size_t>(n));
  return buf;
}

std::string ProgramFolder() {
  std::string p = ProgramPath();
  return p.substr(0, p.find_last_of('/'));
}

}  // namespace vts::plat
