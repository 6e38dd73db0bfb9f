// Helpers for tests against the private PulseAudio server of the test run.
#include "pulse_util.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace vts::test {

std::string PulseTestServer() {
  const char* s = std::getenv("VTS_PULSE_TEST_SERVER");
  if (!s || !*s) s = std::getenv("PULSE_SERVER");
  return s ? s : "";
}

std::string RunShell(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  std::array<char, 256> buf;
  while (fgets(buf.data(), buf.size(), p)) out += buf.data();
  pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace vts::test
