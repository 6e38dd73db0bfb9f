// Fuzzes unpacking a package to disk: entry names, sizes and the bomb bound. Whatever the
// archive holds, only the title's three files appear in the folder, nothing outside it, and
// none larger than the bound.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_files.h"
#include "package/package_file.h"

namespace {

std::string g_base;

// Checks the folder and empties it: only the title's files, each within the bound. In the
// outer folder, the package and the unpacking folder stay.
void CheckAndEmpty(const std::string& folder, bool outer) {
  DIR* d = opendir(folder.c_str());
  if (!d) abort();
  while (dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    if (outer && (n == "in.vxb" || n == "out")) continue;
    if (outer || n.rfind("t.", 0) != 0) {
      std::fprintf(stderr, "unexpected file %s in %s\n", n.c_str(), folder.c_str());
      abort();
    }
    struct stat st {};
    if (lstat((folder + "/" + n).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) abort();
    if (static_cast<std::uint64_t>(st.st_size) > vts::kMaxPackageEntryBytes * 2) abort();
    unlink((folder + "/" + n).c_str());
  }
  closedir(d);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_base = vts::fuzz::MakeScratchFolder("unpack");
  mkdir((g_base + "/out").c_str(), 0700);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string package = g_base + "/in.vxb";
  vts::fuzz::WriteInput(package, data, size);
  std::string error;
  const std::string mp3 = vts::UnpackPackage(package, g_base + "/out", "t", &error);
  if (!mp3.empty() && mp3 != g_base + "/out/t.mp3") abort();
  if (mp3.empty() && error.empty()) abort();  // a failure always says why
  CheckAndEmpty(g_base + "/out", false);
  CheckAndEmpty(g_base, true);  // nothing written beside the folder
  return 0;
}
