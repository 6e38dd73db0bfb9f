// Fuzzes the files other programs can put in the recorder's folders: the registry store (one
// hive's JSON) and a window registration. Whatever they hold, reading never crashes, an
// unreadable one is moved aside, and the store takes and returns a value afterwards.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/known_folders.h"
#include "platform/notice.h"
#include "platform/registry.h"
#include "platform/window_bus.h"

namespace {

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

// Removes what the previous input left (the moved-aside copies) so the folder stays small.
void Empty(const std::string& folder) {
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') unlink((folder + "/" + e->d_name).c_str());
    }
    closedir(d);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/vts-fuzz-stores-XXXXXX";
  const char* root = mkdtemp(tmpl);
  if (!root) abort();
  setenv("VOXTRAILSTUDY_ROOT", root, 1);
  vts::plat::SetNoticeSink([](const std::string&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vts::plat;
  const std::string store = RegistryFile(Hive::HKEY_CURRENT_USER);
  if (!CreateFolderChain(store.substr(0, store.rfind('/')), 0700)) abort();
  Empty(store.substr(0, store.rfind('/')));
  Write(store, data, size);
  RegListKeys(Hive::HKEY_CURRENT_USER);
  RegListValues(Hive::HKEY_CURRENT_USER, "Software\\Classes");
  if (!RegSetString(Hive::HKEY_CURRENT_USER, "Software\\Fuzz", "v", "x")) abort();
  if (RegGetString(Hive::HKEY_CURRENT_USER, "Software\\Fuzz", "v") != "x") abort();

  const std::string windows = WindowBusFolder();
  if (!CreateFolderChain(windows, 0700)) abort();
  Empty(windows);
  Write(windows + "/0000000100000001.win", data, size);
  ListWindows();
  FindWindow("Any", u"");
  return 0;
}
