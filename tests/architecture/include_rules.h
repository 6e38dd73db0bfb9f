// Which sources may include Linux system headers: only the platform layer and the
// PulseAudio backend know that the program runs on Linux.
#pragma once

#include <string>
#include <vector>

namespace vts::test {

struct ForbiddenInclude {
  std::string file;  // relative to the scanned root
  int line = 0;
  std::string header;
};

// Scans the C++ sources below root (tests, the platform layer, the PulseAudio backend and
// build folders excepted) for includes of <unistd.h>, <fcntl.h>, <poll.h> or <sys/...>.
std::vector<ForbiddenInclude> FindForbiddenIncludes(const std::string& root);

}  // namespace vts::test
