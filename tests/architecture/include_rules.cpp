// The include scan: one pass over the source tree, a line-by-line look at each #include.
#include "include_rules.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

namespace vts::test {
namespace {

namespace fs = std::filesystem;

// Paths (relative, "/" separated) that may use the system directly.
const char* const kAllowed[] = {
    "platform/",
    "tests/",
    "audio/src/pulse_endpoints.cpp",
    "audio/src/pulse_endpoints.h",
};

bool Allowed(const std::string& rel) {
  for (const char* prefix : kAllowed)
    if (rel.rfind(prefix, 0) == 0) return true;
  return false;
}

bool IsSource(const fs::path& p) {
  const std::string ext = p.extension().string();
  return ext == ".cpp" || ext == ".cc" || ext == ".h" || ext == ".hpp";
}

bool Skipped(const fs::path& dir) {
  const std::string name = dir.filename().string();
  return name.empty() || name[0] == '.' || name.rfind("build", 0) == 0;
}

}  // namespace

std::vector<ForbiddenInclude> FindForbiddenIncludes(const std::string& root) {
  static const std::regex include(
      R"(^\s*#\s*include\s*<\s*((unistd|fcntl|poll)\.h|sys/[^>\s]+)\s*>)");
  std::vector<ForbiddenInclude> found;
  const fs::path base(root);
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(base, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_directory() && Skipped(it->path())) {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file() || !IsSource(it->path())) continue;
    const std::string rel = fs::relative(it->path(), base).generic_string();
    if (Allowed(rel)) continue;
    std::ifstream in(it->path());
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
      ++line;
      std::smatch m;
      if (std::regex_search(text, m, include)) found.push_back({rel, line, m[1].str()});
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.file != b.file ? a.file < b.file : a.line < b.line;
  });
  return found;
}

}  // namespace vts::test
