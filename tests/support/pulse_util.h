// Helpers for tests against the private PulseAudio server of the test run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vts::test {

// The server the test run started (VTS_PULSE_TEST_SERVER, else PULSE_SERVER); empty when none.
std::string PulseTestServer();

// The frequency of a 44100 Hz recording by its rising zero crossings; 0 with fewer than two.
double ZeroCrossingHz(const std::int16_t* samples, std::size_t count);

// Runs a shell command and returns its standard output without the trailing line end.
std::string RunShell(const std::string& cmd);

// Keeps the volume and mute of the server's sinks and sources named and puts them back when
// it goes, so that a test that moves levels leaves the shared devices as it found them.
class ServerLevelsKeeper {
 public:
  ServerLevelsKeeper(std::vector<std::string> sinks, std::vector<std::string> sources);
  ~ServerLevelsKeeper();
  ServerLevelsKeeper(const ServerLevelsKeeper&) = delete;
  ServerLevelsKeeper& operator=(const ServerLevelsKeeper&) = delete;

 private:
  struct Kept {
    std::string kind;  // "sink" or "source"
    std::string name;
    std::string volume;  // raw volume of the first channel
    std::string mute;    // "1" or "0"
  };
  std::vector<Kept> kept_;
};

}  // namespace vts::test
