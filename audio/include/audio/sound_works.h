// The abstract sound engine that tracks and the video manager program against.
//
// Threading: callers (UI thread, core thread, video threads) call the operations directly;
// an implementation runs its own playback and capture threads and reports to one owner
// thread with WM_SOUND_OUT / WM_SOUND_IN (audio/buffer_descr.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/buffer_descr.h"

namespace vts {

// What the sound log says when a stream ends because its device went away, or cannot
// start because its device is not there; the window tells the user the same words.
inline constexpr const char* kCaptureDeviceLostText =
    "Capture device lost. Check that device is present.";
inline constexpr const char* kPlaybackDeviceLostText =
    "Playback device lost. Check that device is present.";
inline constexpr const char* kCaptureNoDeviceText =
    "Could not create capture Device. Check that device is present.";
inline constexpr const char* kPlaybackNoDeviceText =
    "Could not create playback AudioClient. Check that device is present.";

// Direction of an endpoint.
enum class DataFlow : std::uint32_t { Render = 0, Capture = 1 };

// One audio endpoint of a device list: the endpoint id (what tracks and settings store)
// and the friendly name (menus and logs; empty when the endpoint has none).
struct SoundDeviceEntry {
  std::u16string id;
  std::u16string name;

  bool operator==(const SoundDeviceEntry&) const = default;
};

class CSoundWorksBase {
 public:
  CSoundWorksBase();
  virtual ~CSoundWorksBase();
  CSoundWorksBase(const CSoundWorksBase&) = delete;
  CSoundWorksBase& operator=(const CSoundWorksBase&) = delete;

  virtual std::vector<SoundDeviceEntry> GetOutputDevices() = 0;
  virtual std::vector<SoundDeviceEntry> GetInputDevices() = 0;
  // Capture of an input endpoint, or loopback capture of an output endpoint.
  virtual void StartCapture(const std::u16string& id, std::uint32_t streamId,
                            std::uint32_t sourceTag) = 0;
  // Always posts WM_SOUND_IN with wParam 0 afterwards, also for an id that never started.
  virtual void StopCapture(const std::u16string& id) = 0;
  virtual void StartPlayback(const std::u16string& id) = 0;
  // Buffers still queued are released without WM_SOUND_OUT.
  virtual void StopPlayback(const std::u16string& id) = 0;
  // Takes ownership of `buffer`; it comes back with WM_SOUND_OUT once played, or is
  // released by the engine when it cannot be played.
  virtual void Playback(CBufferDescr* buffer, bool flag) = 0;
  virtual void Reserved8() = 0;
  virtual void SetFormat(std::uint32_t channels, std::uint32_t samplesPerSec,
                         std::uint32_t bitsPerSample, std::uint32_t periodMs) = 0;
  virtual std::uint32_t GetCaptureStreamCount() = 0;
  virtual std::uint32_t GetPlaybackStreamCount() = 0;
  virtual void SetUserPair1(std::uint32_t value0, std::int32_t value1);
  virtual void SetUserPair2(std::uint32_t value2, std::int32_t value3);
  virtual void Start() = 0;
  virtual bool Reserved15() = 0;
  virtual std::uint32_t Reserved16() = 0;

  // Nonzero and unique per engine in the process. Every WM_SOUND_IN of this engine (blocks
  // and end marks) carries it as lParam, so a receiver that serves several engines on one
  // thread can tell whose capture stream ended.
  std::uint32_t EngineTag() const { return engineTag_; }

 protected:
  std::uint32_t userValues_[4] = {0, 0, 0, 0};

 private:
  std::uint32_t engineTag_;
};

}  // namespace vts
