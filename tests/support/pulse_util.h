// Helpers for tests against the private PulseAudio server of the test run.
#pragma once

#include <string>

namespace vts::test {

// The server the test run started (VTS_PULSE_TEST_SERVER, else PULSE_SERVER); empty when none.
std::string PulseTestServer();

// Runs a shell command and returns its standard output without the trailing line end.
std::string RunShell(const std::string& cmd);

}  // namespace vts::test
