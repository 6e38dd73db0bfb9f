// Only the platform layer and the PulseAudio backend include Linux system headers: the rule
// holds for the tree, and the scan catches a file that breaks it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "include_rules.h"
#include "test_env.h"

namespace test = vts::test;
namespace fs = std::filesystem;

namespace {

void Put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

std::string Describe(const std::vector<test::ForbiddenInclude>& found) {
  std::ostringstream s;
  for (const auto& f : found) s << f.file << ":" << f.line << " includes <" << f.header << ">\n";
  return s.str();
}

TEST(IncludeRules, NoSourceOutsideThePlatformLayerIncludesSystemHeaders) {
  const auto found = test::FindForbiddenIncludes(VTS_SOURCE_DIR);
  EXPECT_TRUE(found.empty()) << "call platform/ instead:\n" << Describe(found);
}

TEST(IncludeRules, TheScanFindsEachForbiddenFormAndSparesTheAllowedPlaces) {
  const fs::path root = test::MakeTempDir("tree");
  // Sources that break the rule, in the spellings a developer might use.
  Put(root / "core/src/bad.cpp", "// io\n#include <unistd.h>\n");
  Put(root / "tracks/include/tracks/bad.h", "#pragma once\n  #  include <sys/stat.h>\n");
  Put(root / "ui/bad.cc", "#include <fcntl.h>\n#include <poll.h>\n#include<sys/socket.h>\n");
  // Places that may, headers that are fine, and files that are no sources.
  Put(root / "core/src/good.cpp",
      "#include <unistd_helpers.h>\n#include <cstdio>\n"
      "// #include <unistd.h> is for the platform layer\n");
  Put(root / "platform/src/io.cpp", "#include <unistd.h>\n");
  Put(root / "audio/src/pulse_endpoints.cpp", "#include <sys/time.h>\n");
  Put(root / "tests/core/test_io.cpp", "#include <unistd.h>\n");
  Put(root / "build-address/gen/x.cpp", "#include <unistd.h>\n");
  Put(root / "scripts/notes.txt", "#include <unistd.h>\n");

  const auto found = test::FindForbiddenIncludes(root.string());
  EXPECT_EQ(Describe(found),
            "core/src/bad.cpp:2 includes <unistd.h>\n"
            "tracks/include/tracks/bad.h:2 includes <sys/stat.h>\n"
            "ui/bad.cc:1 includes <fcntl.h>\n"
            "ui/bad.cc:2 includes <poll.h>\n"
            "ui/bad.cc:3 includes <sys/socket.h>\n");
}

}  // namespace
