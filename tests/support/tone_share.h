// Measures of recorded 16-bit sound: the power of one frequency in a stretch (Goertzel),
// and the quiet windows of a stretch that should hold a steady sound throughout.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vts::test {

// The power of `hz` relative to the stretch's power: near 1 for a pure tone of that
// frequency, near 0 for other sound or silence.
inline double ToneShare(const std::int16_t* s, std::size_t n, double hz, double rate = 44100) {
  double w = 2 * M_PI * hz / rate, coeff = 2 * std::cos(w), q1 = 0, q2 = 0, energy = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double q0 = coeff * q1 - q2 + s[i];
    q2 = q1;
    q1 = q0;
    energy += double(s[i]) * s[i];
  }
  double power = q1 * q1 + q2 * q2 - coeff * q1 * q2;
  return energy > 0 ? power / (energy * double(n) / 2) : 0;
}

// The number of whole windows of `window` samples whose RMS is below `floor`: in a steady
// tone, gaps that nobody heard.
inline std::size_t QuietWindows(const std::int16_t* s, std::size_t n, std::size_t window,
                                double floor) {
  std::size_t quiet = 0;
  for (std::size_t at = 0; window > 0 && at + window <= n; at += window) {
    double energy = 0;
    for (std::size_t i = at; i < at + window; ++i) energy += double(s[i]) * s[i];
    if (std::sqrt(energy / double(window)) < floor) ++quiet;
  }
  return quiet;
}

}  // namespace vts::test
