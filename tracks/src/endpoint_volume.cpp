// CSoundTrack's sound devices and their endpoints' own volume and mute (the dialog's level
// sliders).
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

audio::EndpointVolume* CSoundTrack::OutputVolume() {
  if (!outputVolume) GetEndpointVolume(OutputDevice(), &outputVolume);
  return outputVolume.get();
}

audio::EndpointVolume* CSoundTrack::InputVolume() {
  if (!inputVolume) GetEndpointVolume(InputDevice(), &inputVolume);
  return inputVolume.get();
}

// ---------------------------------------------------------------- the devices

std::u16string CSoundTrack::OutputDevice() const {
  std::lock_guard lock(bufferLock);
  return outputDevice;
}

std::u16string CSoundTrack::InputDevice() const {
  std::lock_guard lock(bufferLock);
  return inputDevice;
}

void CSoundTrack::SetOutputDevice(const std::u16string& id) {
  outputVolume.reset();
  const std::u16string old = OutputDevice();
  if (id == old) return;
  // A playback that ran to its end leaves its stream open, and the engine plays into its
  // first stream: one left on the old device would take the next play's sound. Whatever
  // still runs stops on the device it runs on.
  std::lock_guard order(playbackLock);
  if (playing || recording) StopPlayback();
  if (engine) engine->StopPlayback(old);
  std::lock_guard lock(bufferLock);
  outputDevice = id;
}

void CSoundTrack::SetInputDevice(const std::u16string& id) {
  inputVolume.reset();
  std::lock_guard lock(bufferLock);
  inputDevice = id;
}

}  // namespace vts
