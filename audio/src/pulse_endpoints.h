// The PulseAudio endpoint backend: sinks are output endpoints, sources that are not
// monitors are capture endpoints, ids are server names, friendly names descriptions;
// loopback of an output endpoint records its sink's monitor. Streams never move.
#pragma once

#include <memory>

#include "audio/endpoint.h"

namespace vts::audio {

// Connects lazily (bounded wait) to the server libpulse finds (PULSE_SERVER, or the
// session's); no autospawn. Unreachable server: empty lists, null devices.
std::shared_ptr<EndpointBackend> MakePulseBackend();

}  // namespace vts::audio
