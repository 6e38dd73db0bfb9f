// The tick count shared by the real backends.
#pragma once

#include <cstdint>

namespace vts::audio {

std::uint64_t MonotonicMs();

}  // namespace vts::audio
