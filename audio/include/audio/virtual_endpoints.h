// The deterministic in-process endpoint backend: scripted devices that can come and go,
// a clock the test drives (or one that follows real time), capture sources (sine, scripted
// samples, silence), output endpoints that record what they played, loopback that returns
// exactly what an output endpoint played, and failure injection per device and step.
//
// Threading: all control functions may be called from any thread; Advance() is meant for
// the test thread. Device frames are a pure function of the clock, so runs are repeatable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/endpoint.h"

namespace vts::audio {

// Steps at which a device can be told to fail.
enum class VirtualFailure {
  GetDevice,  // the device cannot be opened (engine: missing device)
  Activate,   // no audio client
  GetMixFormat,
  Initialize,
  SetEventHandle,
  GetBufferSize,
  GetService,
  Start,
  GetBuffer,       // capture: a packet cannot be read
  ActivateVolume,  // the endpoint's volume control cannot be opened
  VolumeCall,      // a get or set of the endpoint's volume or mute fails
  Stop,            // a client's stop (held only, never failed)
};

struct VirtualSource {
  enum class Kind { Silence, Sine, Samples } kind = Kind::Silence;
  double frequencyHz = 440.0;
  float amplitude = 0.5f;
  // Kind::Samples: interleaved frames played once from the device's frame 0, then silence
  // (or repeated when `loop`).
  std::vector<float> samples;
  bool loop = false;

  static VirtualSource Silence() { return {}; }
  static VirtualSource Sine(double hz, float amplitude) {
    VirtualSource s;
    s.kind = Kind::Sine;
    s.frequencyHz = hz;
    s.amplitude = amplitude;
    return s;
  }
  static VirtualSource Scripted(std::vector<float> samples, bool loop = false) {
    VirtualSource s;
    s.kind = Kind::Samples;
    s.samples = std::move(samples);
    s.loop = loop;
    return s;
  }
};

struct VirtualDeviceSpec {
  std::string id;
  std::string name;
  DataFlow flow = DataFlow::Render;
  std::uint32_t channels = 2;
  std::uint32_t samplesPerSec = 48000;
  VirtualSource source;  // capture devices only
  std::string card;      // the sound adapter it belongs to (empty: none)
  std::string port;      // capture devices: the active port's name (empty: none)
  // Render devices: how far ahead of playing it the device takes sound from a running client,
  // as a sound server's sink that renders ahead; a client's padding then no longer says what
  // is still to be heard, its playback delay does.
  std::uint32_t aheadMs = 0;
  // Render devices: takes a running client's sound a block of this length at a time, the
  // next when it has played the last, and tells no playback delay beyond the client's
  // padding, as a sink in blocks whose latency reading is not there yet: the padding then
  // falls a block at a time while the sound plays on evenly.
  std::uint32_t blockMs = 0;
};

class VirtualEndpoints : public EndpointBackend {
 public:
  // The process's virtual backend (also what DefaultBackend() returns in virtual mode).
  static std::shared_ptr<VirtualEndpoints> Instance();

  // Removes every device and restores the start state: the two stock devices
  // "virtual_speaker" (Virtual Speaker) and "virtual_mic" (Virtual Microphone, 440 Hz sine)
  // as defaults, no failures, clock at 0. `withStockDevices` false leaves no device.
  virtual void Reset(bool withStockDevices = true) = 0;

  virtual void AddDevice(const VirtualDeviceSpec& spec) = 0;
  // The device disappears: its clients report DeviceLost from then on.
  virtual void RemoveDevice(const std::string& id) = 0;
  virtual void SetDefault(DataFlow flow, const std::string& id) = 0;  // "" = no default
  virtual void SetSource(const std::string& id, const VirtualSource& source) = 0;

  // Manual clock: time moves only by Advance. Otherwise it follows real time.
  virtual void SetManualClock(bool manual) = 0;
  // Moves the clock forward, in steps no larger than the due timers, moving every device,
  // firing the timers and waiting (bounded, 1 s) until each woken timer's owner waits again
  // and each signalled running render client has taken its event (read its padding).
  virtual void Advance(std::uint32_t ms) = 0;
  virtual std::uint64_t NowUs() = 0;

  // Failure injection: `count` next occurrences of `step` on device `id` fail (-1: always).
  virtual void InjectFailure(const std::string& id, VirtualFailure step, int count = -1) = 0;
  virtual void ClearFailures() = 0;
  // Holding, as a sound server that does not answer: every call of `step` on device `id`
  // (GetDevice, Activate, the client steps and Stop) waits, without the backend's lock,
  // until ReleaseHeld. HeldCount: the calls waiting now.
  virtual void HoldStep(const std::string& id, VirtualFailure step) = 0;
  virtual int HeldCount() = 0;
  virtual void ReleaseHeld() = 0;

  // Everything an output endpoint played while a client of it was running, interleaved in
  // its channel count (at most the last 60 s).
  virtual std::vector<float> Played(const std::string& id) = 0;
  virtual void ClearPlayed(const std::string& id) = 0;
  // Clients currently open on a device (activated and not yet destroyed).
  virtual int OpenClientCount(const std::string& id) = 0;
  // Frames written by render clients of an output endpoint and not yet played (the sum of
  // their playback delays).
  virtual std::uint32_t QueuedFrames(const std::string& id) = 0;
  // Writes of sound its render clients made so far (each one a message to a real server).
  virtual int RenderWrites(const std::string& id) = 0;

  // The endpoint's master volume (0.0-1.0) and mute, as the system mixer would set them; a
  // new device starts at 1.0, not muted. What a device plays and what a capture device
  // delivers is scaled by its volume (silence when muted). False: no such device.
  virtual bool SetVolumeState(const std::string& id, float level, bool muted) = 0;
  virtual bool VolumeState(const std::string& id, float* level, bool* muted) = 0;
};

}  // namespace vts::audio
