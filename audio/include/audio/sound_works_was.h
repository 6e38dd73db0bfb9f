// The sound engine over the endpoint layer (audio/endpoint.h): device lists, the engine
// format, capture (with loopback of output endpoints) and playback streams, a playback
// thread fed by the endpoints' events and a capture thread woken every half period.
//
// Threading: all operations may be called from any thread except the engine's own two.
// One recursive lock guards the render streams, another the capture streams; no operation
// holds both. Set the format and the notification fields before Start().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/sound_works.h"

namespace vts {

namespace audio {
class EndpointBackend;
}

class CSoundWorksWAS : public CSoundWorksBase {
 public:
  // Uses the process's endpoint backend (audio::DefaultBackend(): PulseAudio, or the
  // virtual one when VTS_AUDIO_BACKEND=virtual).
  explicit CSoundWorksWAS(EngineStateBlock* state);
  // Uses the given backend (tests).
  CSoundWorksWAS(EngineStateBlock* state, std::shared_ptr<audio::EndpointBackend> backend);
  ~CSoundWorksWAS() override;

  std::vector<SoundDeviceEntry> GetOutputDevices() override;
  std::vector<SoundDeviceEntry> GetInputDevices() override;
  void StartCapture(const std::u16string& id, std::uint32_t streamId,
                    std::uint32_t sourceTag) override;
  void StopCapture(const std::u16string& id) override;
  void StartPlayback(const std::u16string& id) override;
  void StopPlayback(const std::u16string& id) override;
  void Playback(CBufferDescr* buffer, bool flag) override;
  void Reserved8() override {}
  void SetFormat(std::uint32_t channels, std::uint32_t samplesPerSec, std::uint32_t bitsPerSample,
                 std::uint32_t periodMs) override;
  std::uint32_t GetCaptureStreamCount() override;
  std::uint32_t GetPlaybackStreamCount() override;
  void Start() override;
  bool Reserved15() override { return false; }
  std::uint32_t Reserved16() override { return 16; }
  virtual void Reserved17(std::uint32_t) {}
  // Logs "Send stream double delay: %u" when the block's stream delivered nothing for more
  // than two periods.
  virtual void CheckSendDelay(CBufferDescr* block);

  // The sound log's line of the first stream start that failed since the last call (a
  // StartCapture, or the first Playback of a render stream that could not open its client),
  // empty when none did; the call clears it. Whoever started the stream tells the user.
  std::string TakeStartFailure();

  // The default endpoint of a direction (communications role); two empty strings if none.
  SoundDeviceEntry GetDefaultDevice(DataFlow flow);

  // Format (set by SetFormat).
  std::uint32_t bitsPerSample = 0;
  double periodMs = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t channels = 0;
  std::uint32_t framesPerPeriod = 0;
  std::uint32_t bytesPerPeriod = 0;  // the tracks size their playback buffers by it
  std::uint32_t bytesPerFrame = 0;

  // Notification target, set by the creator after SetFormat and before Start.
  std::uint32_t ownerThreadId = 0;
  std::uint32_t soundOutMessage = 0;    // WM_SOUND_OUT
  std::uint32_t soundInMessage = 0;     // WM_SOUND_IN
  std::uint32_t deviceLostMessage = 0;  // WM_SOUND_LOST; 0: a lost device is only logged

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vts
