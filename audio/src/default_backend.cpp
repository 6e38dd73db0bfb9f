// Chooses the process's endpoint backend once: VTS_AUDIO_BACKEND=virtual or PulseAudio.
#include <cstdlib>
#include <cstring>

#include "audio/endpoint.h"
#include "audio/virtual_endpoints.h"
#include "pulse_endpoints.h"

namespace vts::audio {

std::shared_ptr<EndpointBackend> DefaultBackend() {
  static std::shared_ptr<EndpointBackend> backend = []() -> std::shared_ptr<EndpointBackend> {
    const char* choice = std::getenv("VTS_AUDIO_BACKEND");
    if (choice && std::strcmp(choice, "virtual") == 0) return VirtualEndpoints::Instance();
    return MakePulseBackend();
  }();
  return backend;
}

}  // namespace vts::audio
