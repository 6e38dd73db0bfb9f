// Fuzzes the files other programs can put in the recorder's folders: the registry store (one
// hive's JSON) and a window registration. Whatever they hold, reading never crashes, an
// unreadable one is moved aside, and the store takes and returns a value afterwards.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_files.h"
#include "platform/known_folders.h"
#include "platform/notice.h"
#include "platform/registry.h"
#include "platform/window_bus.h"

namespace {

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
  const std::string root = vts::fuzz::MakeScratchFolder("stores");
  setenv("VOXTRAILSTUDY_ROOT", root.c_str(), 1);
  vts::plat::SetNoticeSink([](const std::string&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vts::plat;
  const std::string store = RegistryFile(Hive::HKEY_CURRENT_USER);
  if (!CreateFolderChain(store.substr(0, store.rfind('/')), 0700)) abort();
  Empty(store.substr(0, store.rfind('/')));
  vts::fuzz::WriteInput(store, data, size);
  RegListKeys(Hive::HKEY_CURRENT_USER);
  RegListValues(Hive::HKEY_CURRENT_USER, "Software\\Classes");
  if (!RegSetString(Hive::HKEY_CURRENT_USER, "Software\\Fuzz", "v", "x")) abort();
  if (RegGetString(Hive::HKEY_CURRENT_USER, "Software\\Fuzz", "v") != "x") abort();

  const std::string windows = WindowBusFolder();
  if (!CreateFolderChain(windows, 0700)) abort();
  Empty(windows);
  vts::fuzz::WriteInput(windows + "/0000000100000001.win", data, size);
  ListWindows();
  FindWindow("Any", u"");
  return 0;
}
