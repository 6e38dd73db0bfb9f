// The recording path's sample arithmetic: mixing the capture streams, the conversion of mono
// float to mono 16-bit at 44100 Hz, and the automatic gain. Pure functions and one RAII
// resampler (the conversion's reference), so they can be tested and measured without an
// engine.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

struct SwrContext;

namespace vts {

// Adds `count` float samples of `add` onto `base` (no scaling, no clipping).
void MixSamples(float* base, const float* add, std::size_t count);

// The capture streams' sound that waits to be mixed, each stream's in the order captured.
// Sound goes out as far as every stream of the recording has brought it, so streams whose
// blocks differ in length, or that come late by a few blocks, are mixed frame for frame:
// nothing is added, nothing doubled. A stream more than `maxLagFrames` behind the others
// (late to start, stalled, gone) is not waited for longer: their sound beyond that goes out
// without it. A stream that then brings that time late, all at once (a backlog more than
// `maxLagFrames` ahead of the others), has the part that went out without it dropped, so
// the take does not grow by it. Mixed sound goes out in pieces of at least `minFrames` (the
// automatic gain follows each piece); a single stream's goes out as it comes. The end takes
// everything and lets the streams start afresh.
class CapturePairing {
 public:
  CapturePairing(std::size_t maxLagFrames, std::size_t minFrames)
      : maxLag_(maxLagFrames), min_(minFrames) {}
  // A captured block of stream `stream`: `frames` frames of `channels` interleaved floats.
  void Add(std::uint32_t stream, std::uint32_t channels, const float* samples, std::size_t frames);
  // The mix of what goes out now, `streams` being the recording's number of streams, into
  // `out` (interleaved, `Channels()` per frame); all of it when `end`. Returns the frames.
  std::size_t Take(std::uint32_t streams, bool end, std::vector<float>& out);
  std::uint32_t Channels() const { return channels_; }
  bool Empty() const { return queues_.empty(); }
  void Clear() {
    queues_.clear();
    out_ = 0;
  }
  // Frames of late backlogs dropped so far.
  std::uint64_t DroppedFrames() const { return dropped_; }

 private:
  struct Queue {
    std::vector<float> samples;
    std::size_t taken = 0;  // samples at the front already gone out
    std::uint64_t owed = 0;  // frames that went out without this stream
    std::size_t Frames(std::uint32_t channels) const {
      return (samples.size() - taken) / channels;
    }
  };
  std::map<std::uint32_t, Queue> queues_;  // by the capture-stream word of the blocks
  std::uint32_t channels_ = 1;
  std::size_t maxLag_, min_;
  std::uint64_t out_ = 0;  // frames gone out since the start
  std::uint64_t dropped_ = 0;
};

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

// Float samples to signed 16 bits: scaled by 32768, rounded to nearest (halves to even),
// clipped. The same samples as MonoS16Converter's, without its context.
void FloatToS16(const float* in, std::size_t count, std::int16_t* out);

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
