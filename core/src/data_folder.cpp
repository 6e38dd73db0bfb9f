// The data folder and its access rights.
#include "core/data_folder.h"

#include "core/product_name.h"
#include "platform/files.h"
#include "platform/known_folders.h"

namespace vts {

bool IsInsideHome(const std::string& path) {
  std::string home = plat::HomeFolder();
  if (home.empty() || home == "/") return false;
  home = plat::CanonicalPath(home);
  std::string p = plat::CanonicalPath(path);
  return p == home ||
         (p.size() > home.size() && p.compare(0, home.size(), home) == 0 && p[home.size()] == '/');
}

std::string GetDataFolder() {
  std::string folder = plat::CommonAppDataFolder() + "/" + GetProductNameUtf8();
  plat::CreateFolderChain(folder);
  return folder;
}

std::string GetDataFilePath(const std::string& fileName) {
  return GetDataFolder() + "/" + fileName;
}

void GrantDataFolderAccess(const std::string& folder) {
  if (IsInsideHome(folder)) return;
  plat::GrantEveryoneFullAccess(folder);
}

}  // namespace vts
