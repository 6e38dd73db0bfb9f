// The lines of a named log file as they stand on disk, for tests that look for what the
// program wrote (the caller started logging with InitLogging).
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/log.h"
#include "test_files.h"

namespace vts::test {

// Every line of the log file at `path` (e.g. "<folder>/WavManager.log") that contains `part`,
// without its time stamp and line end, after the log thread wrote what was posted so far.
inline std::vector<std::string> LogLinesWith(const std::string& path, const std::string& part) {
  EXPECT_TRUE(FlushLogs());
  std::istringstream in(ReadFile(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t text = line.find(" | ", line.find(" | ") + 3);
    if (text == std::string::npos) continue;
    line.erase(0, text + 3);
    if (line.find(part) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

}  // namespace vts::test
