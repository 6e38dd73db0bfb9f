// The recording path's sample arithmetic: mixing the capture streams, the conversion of mono
// float to mono 16-bit at 44100 Hz, and the automatic gain. Pure functions and one RAII
// resampler, so they can be tested and measured without an engine.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

struct SwrContext;

namespace vts {

// Adds `count` float samples of `add` onto `base` (no scaling, no clipping).
void MixSamples(float* base, const float* add, std::size_t count);

// The automatic gain, in 1/256 units: unity 256, never above 1024. One value for the whole
// process (all tracks share it); touched by the core thread only.
constexpr int kUnityGain = 256;
constexpr int kMaxGain = 1024;
constexpr int kGainPeakTarget = 7864080;  // 30719 * 256: the highest peak after gain
std::atomic<int>& RecordGain();

// Applies the automatic gain to one block: the gain follows the block's peak (rising half
// way per block, falling at once) and every sample is scaled by it. Returns the new gain.
int ApplyAutoGain(std::int16_t* samples, std::size_t count, int gain);
int ApplyAutoGain(std::int16_t* samples, std::size_t count);  // uses and updates RecordGain()

// Mono float 44100 Hz to mono signed 16-bit 44100 Hz (libswresample; clips to 16 bits).
class MonoS16Converter {
 public:
  MonoS16Converter();
  ~MonoS16Converter();
  MonoS16Converter(const MonoS16Converter&) = delete;
  MonoS16Converter& operator=(const MonoS16Converter&) = delete;

  bool Valid() const { return ctx_ != nullptr; }
  // Converts `frames` samples; returns the number of samples written to `out` (which has
  // room for `outCapacity`), or -1 on a conversion error.
  int Convert(const float* in, int frames, std::int16_t* out, int outCapacity);

 private:
  SwrContext* ctx_ = nullptr;
};

}  // namespace vts
