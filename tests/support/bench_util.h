// Small pieces every benchmark program uses: timing a call, the median of runs, a shell step.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace vts::bench {

// The median (the mean of the middle two for an even count); 0 for no runs.
inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Wall-clock seconds one call of f takes.
template <typename F>
double Seconds(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// CPU seconds this process has used so far, all threads.
inline double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Runs a shell command; its status, with a line on stderr when it failed.
inline int Sh(const std::string& cmd) {
  const int rc = std::system(cmd.c_str());
  if (rc != 0) std::fprintf(stderr, "command failed (%d): %s\n", rc, cmd.c_str());
  return rc;
}

}  // namespace vts::bench
