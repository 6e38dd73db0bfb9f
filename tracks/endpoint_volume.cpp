// CSoundTrack's access to an endpoint's own volume and mute (the dialog's level sliders).
#include "platform/utf.h"
#include "tracks/sound_track.h"

namespace vts {

bool CSoundTrack::GetEndpointVolume(const std::u16string& deviceId,
                                    std::unique_ptr<audio::EndpointVolume>* out) {
  if (!out) return false;
  out->reset();
  if (deviceId.empty()) return false;
  std::shared_ptr<audio::EndpointBackend> backend = audio::DefaultBackend();
  if (!backend) return false;
  *out = audio::OpenEndpointVolume(*backend, plat::Utf16ToUtf8(deviceId));
  return *out != nullptr;
}

}  // namespace vts
