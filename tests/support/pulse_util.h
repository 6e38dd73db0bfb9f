// Helpers for tests against the private PulseAudio server of the test run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vts::test {

// The server the test run started (VTS_PULSE_TEST_SERVER, else PULSE_SERVER); empty when none.
std::string PulseTestServer();

// The frequency of a 44100 Hz recording by its rising zero crossings; 0 with fewer than two.
double ZeroCrossingHz(const std::int16_t* samples, std::size_t count);

// Runs a shell command and returns its standard output without the trailing line end.
std::string RunShell(const std::string& cmd);

}  // namespace vts::test
