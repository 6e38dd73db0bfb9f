// Small file helpers shared by the fuzz targets that hand their input to code as a file.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace vts::fuzz {

inline void WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

// A fresh folder under /tmp for one target's files (named "vts-fuzz-<name>-XXXXXX"), removed
// with everything in it when the process exits normally.
inline std::string MakeScratchFolder(const char* name) {
  static std::vector<std::string> folders;
  std::string tmpl = std::string("/tmp/vts-fuzz-") + name + "-XXXXXX";
  if (!mkdtemp(tmpl.data())) abort();
  if (folders.empty()) {
    std::atexit([] {
      std::error_code ec;
      for (const std::string& f : folders) std::filesystem::remove_all(f, ec);
    });
  }
  folders.push_back(tmpl);
  return tmpl;
}

}  // namespace vts::fuzz
