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

double ZeroCrossingHz(const std::int16_t* s, std::size_t n) {
  int ups = 0;
  std::size_t first = 0, last = 0;
  for (std::size_t i = 1; i < n; ++i)
    if (s[i - 1] < 0 && s[i] >= 0) {
      if (ups == 0) first = i;
      last = i;
      ++ups;
    }
  return ups > 1 ? (ups - 1) * 44100.0 / double(last - first) : 0;
}

ServerLevelsKeeper::ServerLevelsKeeper(std::vector<std::string> sinks,
                                       std::vector<std::string> sources) {
  auto keep = [this](const std::string& kind, const std::string& name) {
    // "Volume: front-left: 38666 /  59% / ..." and "Mute: no".
    const std::string volume = RunShell("pactl get-" + kind + "-volume " + name);
    const std::size_t colon = volume.find(": ", volume.find("front-left"));
    const std::string mute = RunShell("pactl get-" + kind + "-mute " + name);
    if (colon == std::string::npos || mute.empty()) return;
    const std::size_t end = volume.find(' ', colon + 2);
    kept_.push_back({kind, name, volume.substr(colon + 2, end - colon - 2),
                     mute.find("yes") != std::string::npos ? "1" : "0"});
  };
  for (const std::string& s : sinks) keep("sink", s);
  for (const std::string& s : sources) keep("source", s);
}

ServerLevelsKeeper::~ServerLevelsKeeper() {
  for (const Kept& k : kept_) {
    RunShell("pactl set-" + k.kind + "-volume " + k.name + " " + k.volume);
    RunShell("pactl set-" + k.kind + "-mute " + k.name + " " + k.mute);
  }
}

}  // namespace vts::test
