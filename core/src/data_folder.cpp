// The data folder and its access rights.
#include "core/data_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/product_name.h"
#include "platform/known_folders.h"

namespace vts {
namespace {

std::string Canonical(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out = real;
  std::free(real);
  return out;
}

// A minimal POSIX default ACL (owner, group, others: rwx), in the kernel's xattr layout.
void SetDefaultAclAllAccess(const std::string& folder) {
  struct Entry {
    std::uint16_t tag, perm;
    std::uint32_t id;
  };
  constexpr std::uint32_t kVersion = 2;
  constexpr std::uint16_t kUserObj = 0x01, kGroupObj = 0x04, kOther = 0x20;
  constexpr std::uint32_t kUndefinedId = 0xFFFFFFFF;
  unsigned char buf[4 + 3 * sizeof(Entry)];
  std::memcpy(buf, &kVersion, 4);
  const Entry entries[3] = {{kUserObj, 7, kUndefinedId}, {kGroupObj, 7, kUndefinedId}, {kOther, 7, kUndefinedId}};
  std::memcpy(buf + 4, entries, sizeof entries);
  setxattr(folder.c_str(), "system.posix_acl_default", buf, sizeof buf, 0);
}

}  // namespace

bool IsInsideHome(const std::string& path) {
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) home = h;
  if (home.empty()) {
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  if (home.empty() || home == "/") return false;
  home = Canonical(home);
  std::string p = Canonical(path);
  return p == home || (p.size() > home.size() && p.compare(0, home.size(), home) == 0 && p[home.size()] == '/');
}

std::string GetDataFolder() {
  std::string folder = plat::CommonAppDataFolder() + "/" + GetProductNameUtf8();
  plat::CreateFolderChain(folder);
  return folder;
}

std::string GetDataFilePath(const std::string& fileName) { return GetDataFolder() + "/" + fileName; }

void GrantDataFolderAccess(const std::string& folder) {
  if (IsInsideHome(folder)) return;
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return;
  chmod(folder.c_str(), 0777);
  SetDefaultAclAllAccess(folder);
}

}  // namespace vts
