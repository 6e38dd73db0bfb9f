// Test support for the sound engine: the virtual backend in a known state with a manual
// clock, the test thread as the engine's owner, message collection and the sound log.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/buffer_descr.h"
#include "audio/sound_works_was.h"
#include "audio/virtual_endpoints.h"

namespace vts::test {

// One message an engine posted to the test thread.
struct EngineMessage {
  std::uint32_t message = 0;
  CBufferDescr* descr = nullptr;  // owned by the collector until taken
  std::intptr_t lParam = 0;
  std::uintptr_t wParam = 0;  // as posted (the direction of WM_SOUND_LOST)
};

// Records every line written to the sound log while it lives.
class SoundLogRecorder {
 public:
  SoundLogRecorder();
  ~SoundLogRecorder();
  std::vector<std::string> Lines();
  bool Contains(const std::string& text);
  int Count(const std::string& text);
  void Clear();

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Base fixture: a fresh virtual backend with no devices and a manual clock; the test
// thread has a message queue. Collected descriptors are released at the end.
class VirtualAudioTest : public ::testing::Test {
 public:
  // Interleaved float samples of a captured block.
  static std::vector<float> Samples(const CBufferDescr& block);
  // A playback buffer as a track makes one: 16-bit PCM, header at the block's start.
  static CBufferDescr* MakePlaybackBuffer(std::uint32_t channels, std::uint32_t rate,
                                          const std::vector<std::int16_t>& samples,
                                          std::uint32_t sender = 1);
  static CBufferDescr* MakeSineBuffer(std::uint32_t channels, std::uint32_t rate,
                                      std::uint32_t frames, double hz, double amplitude,
                                      std::uint64_t firstFrame = 0);
  // Releases a collected message's descriptor.
  static void Release(EngineMessage& m);

 protected:
  void SetUp() override;
  void TearDown() override;

  audio::VirtualEndpoints& Virtual() { return *virtual_; }

  // An engine with the given format whose owner is the test thread, started; it posts
  // WM_SOUND_LOST too unless told not to.
  std::unique_ptr<CSoundWorksWAS> MakeEngine(std::uint32_t channels = 1, std::uint32_t rate = 44100,
                                             std::uint32_t periodMs = 40,
                                             bool reportsLostDevices = true);

  void AddOutput(const std::string& id, const std::string& name, std::uint32_t channels = 2,
                 std::uint32_t rate = 48000);
  void AddInput(const std::string& id, const std::string& name, const audio::VirtualSource& source,
                std::uint32_t channels = 1, std::uint32_t rate = 48000);

  // Takes every message waiting now.
  std::vector<EngineMessage> Drain();
  // Waits (bounded) until `count` messages of kind `message` arrived in all; returns them
  // (others are kept for later Drain calls).
  std::vector<EngineMessage> WaitFor(std::uint32_t message, std::size_t count,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Takes every message of kind `message` waiting now (others are kept).
  std::vector<EngineMessage> Take(std::uint32_t message);

  std::shared_ptr<audio::VirtualEndpoints> virtual_;
  std::unique_ptr<SoundLogRecorder> log_;
  std::vector<EngineMessage> pending_;
  EngineStateBlock state_;
};

// Signal measures used by the engine tests.
double Rms(const std::vector<float>& samples);
// Frequency from upward zero crossings of a mono signal.
double ZeroCrossingFrequency(const std::vector<float>& mono, double rate);

}  // namespace vts::test
