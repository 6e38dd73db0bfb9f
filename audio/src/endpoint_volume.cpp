// Opening an endpoint's volume control by id, on any backend.
#include "audio/endpoint.h"

namespace vts::audio {

std::unique_ptr<EndpointVolume> OpenEndpointVolume(EndpointBackend& backend,
                                                   const std::string& id) {
  if (id.empty()) return nullptr;
  std::shared_ptr<Device> device = backend.GetDevice(id);
  if (!device) return nullptr;
  return device->ActivateEndpointVolume();
}

}  // namespace vts::audio
