// The endpoint layer under the sound engine: device enumeration with ids and friendly
// names, the default endpoint, shared-mode clients with a float mix format and a buffer of
// a given duration, event-driven render with padding, capture in packets, loopback capture
// of an output endpoint, and the period timer. Two backends: PulseAudio and a virtual one.
//
// Threading: a backend may be used from any thread. One AudioClient is used by one thread
// at a time (the engine's stream locks serialise it); its event callback may run on any
// thread and must only signal (post a message, set a flag).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/sound_works.h"

namespace vts::audio {

// Results of client operations. DeviceLost: the endpoint went away; the stream is over.
enum class Status { Ok, Failed, DeviceLost };

struct EndpointInfo {
  std::string id;    // UTF-8; what GetDevice accepts
  std::string name;  // friendly name, UTF-8; may be empty
  DataFlow flow = DataFlow::Render;
};

// An endpoint's shared-mode format: always interleaved 32-bit float.
struct MixFormat {
  std::uint32_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t bitsPerSample = 32;
  std::uint32_t BlockAlign() const { return channels * bitsPerSample / 8; }
};

constexpr std::uint32_t kStreamFlagLoopback = 0x20000;
constexpr std::uint32_t kStreamFlagEventCallback = 0x40000;
// Render: keep the playback clock known, so that GetPlaybackDelay counts what the device (a
// sound server's sink) took from the client's buffer and has not played yet; the stream
// plays from a full buffer (see PlayBuffered).
constexpr std::uint32_t kStreamFlagPlaybackClock = 0x1000000;

class AudioClient {
 public:
  virtual ~AudioClient() = default;
  virtual Status GetMixFormat(MixFormat* format) = 0;
  // Shared mode; `bufferDurationUs` of endpoint buffer; flags kStreamFlag*; loopback only
  // on an output endpoint.
  virtual Status Initialize(std::uint32_t flags, std::uint64_t bufferDurationUs,
                            const MixFormat& format) = 0;
  // Called (from any thread) whenever the endpoint wants service. A backend may still run a
  // callback it took just before it was replaced or its client went: a callback holds only
  // what outlives the caller (shared flags, a posted message), never the caller itself.
  virtual Status SetEventCallback(std::function<void()> callback) = 0;
  // Whether the event callback may make the render calls itself (GetCurrentPadding,
  // GetRenderBuffer, ReleaseRenderBuffer), where it runs, provided it never waits there for
  // another thread: a request is then served at once instead of by a thread it wakes.
  virtual bool ServesFromEvent() const { return false; }
  virtual Status GetBufferSize(std::uint32_t* frames) = 0;
  // Prepares the direction's service (render or capture) after Initialize.
  virtual Status GetService() = 0;
  virtual Status Start() = 0;
  virtual Status Stop() = 0;
  virtual Status Reset() = 0;
  // Render: frames queued and not yet played. Capture: frames waiting.
  virtual Status GetCurrentPadding(std::uint32_t* frames) = 0;
  // Render: frames written and not yet heard: the padding and what the device took from it
  // without playing it yet (a sink renders ahead). Exact with kStreamFlagPlaybackClock; by
  // default, the padding.
  virtual Status GetPlaybackDelay(std::uint32_t* frames) { return GetCurrentPadding(frames); }
  // Render: plays what was written even when the endpoint would wait for a full buffer
  // first (with kStreamFlagPlaybackClock, after a start or an underrun): the sound's rest.
  virtual Status PlayBuffered() { return Status::Ok; }

  // Render: a buffer for up to `frames` frames, valid until ReleaseRenderBuffer.
  virtual Status GetRenderBuffer(std::uint32_t frames, float** data) = 0;
  virtual Status ReleaseRenderBuffer(std::uint32_t framesWritten) = 0;

  // Capture: the next packet (frames 0 when nothing waits) and the position, in
  // microseconds of the endpoint's clock, of its first frame.
  virtual Status GetCaptureBuffer(const float** data, std::uint32_t* frames,
                                  std::uint64_t* positionUs) = 0;
  virtual Status ReleaseCaptureBuffer(std::uint32_t frames) = 0;

  // A run of calls made together (a capture pass): from BeginRun to EndRun the client may
  // hold what its calls share (the sound server's lock) instead of taking it per call. Only
  // calls that never wait for the server belong in a run; runs do not nest.
  virtual void BeginRun() {}
  virtual void EndRun() {}
};

// Holds a client's run for a scope; a null client holds nothing.
class ClientRun {
 public:
  explicit ClientRun(AudioClient* client) : client_(client) {
    if (client_) client_->BeginRun();
  }
  ~ClientRun() {
    if (client_) client_->EndRun();
  }
  ClientRun(const ClientRun&) = delete;
  ClientRun& operator=(const ClientRun&) = delete;

 private:
  AudioClient* client_;
};

// An endpoint's own master volume and mute, as the system mixer shows them (not a stream's).
// Levels are scalars from 0.0 to 1.0; a level outside that range (or NaN) is refused with
// Failed and changes nothing. DeviceLost: the endpoint went away. Used by one thread at a
// time; every call is bounded.
class EndpointVolume {
 public:
  virtual ~EndpointVolume() = default;
  virtual const std::string& Id() const = 0;
  virtual DataFlow Flow() const = 0;
  virtual Status GetMasterVolumeLevelScalar(float* level) = 0;
  virtual Status SetMasterVolumeLevelScalar(float level) = 0;
  virtual Status GetMute(bool* muted) = 0;
  virtual Status SetMute(bool muted) = 0;
};

class Device {
 public:
  virtual ~Device() = default;
  virtual const std::string& Id() const = 0;
  virtual std::string FriendlyName() const = 0;
  virtual DataFlow Flow() const = 0;
  // A new client on this endpoint; null when the endpoint is gone or cannot serve one.
  virtual std::unique_ptr<AudioClient> Activate() = 0;
  // The endpoint's volume control; null when the endpoint is gone or has none.
  virtual std::unique_ptr<EndpointVolume> ActivateEndpointVolume() { return nullptr; }
};

// Auto-reset periodic timer (the capture thread's half-period wake-up).
class PeriodTimer {
 public:
  virtual ~PeriodTimer() = default;
  // Fires at once, then every `intervalMs`.
  virtual void Arm(std::uint32_t intervalMs) = 0;
  // No more ticks until the next Arm (a Wait meanwhile returns only on Wake).
  virtual void Disarm() = 0;
  // Blocks until the timer fired (or Wake was called).
  virtual void Wait() = 0;
  // Lets a current or the next Wait return without a tick (used when the owner stops).
  virtual void Wake() = 0;
};

class EndpointBackend {
 public:
  virtual ~EndpointBackend() = default;
  virtual const char* Name() const = 0;
  // Active endpoints of a direction, in the backend's order; empty when none or unreachable.
  virtual std::vector<EndpointInfo> EnumerateEndpoints(DataFlow flow) = 0;
  virtual std::optional<EndpointInfo> GetDefaultEndpoint(DataFlow flow) = 0;
  // Null when no endpoint has that id.
  virtual std::shared_ptr<Device> GetDevice(const std::string& id) = 0;
  // The sound adapter behind an output endpoint: the capture endpoints of the same card, in
  // the backend's order, each named by its active port (its own name without one). Empty
  // for an unknown output or one without a card.
  virtual std::vector<EndpointInfo> AdapterLines(const std::string& outputId) = 0;
  virtual std::unique_ptr<PeriodTimer> CreatePeriodTimer() = 0;
  // Millisecond tick count of the backend's clock (monotonic; the virtual clock in tests).
  virtual std::uint64_t NowMs() = 0;
};

// The process's backend, chosen once: VTS_AUDIO_BACKEND=virtual gives the virtual backend,
// anything else (or unset) PulseAudio.
std::shared_ptr<EndpointBackend> DefaultBackend();

// GetDevice(id) and its volume control: null for an empty or unknown id, or an endpoint
// without one.
std::unique_ptr<EndpointVolume> OpenEndpointVolume(EndpointBackend& backend, const std::string& id);

}  // namespace vts::audio
