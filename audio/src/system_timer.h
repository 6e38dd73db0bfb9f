// The real-time period timer and tick count shared by the real backends.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/endpoint.h"

namespace vts::audio {

std::unique_ptr<PeriodTimer> MakeSystemTimer();
std::uint64_t MonotonicMs();

}  // namespace vts::audio
