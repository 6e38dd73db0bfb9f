// Power of one frequency in a stretch of 16-bit sound (Goertzel), relative to the stretch's
// power: near 1 for a pure tone of that frequency, near 0 for other sound or silence.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vts::test {

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

}  // namespace vts::test
