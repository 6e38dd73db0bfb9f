// Mixing, conversion to 16-bit mono and the automatic gain of the recording path.
#include "tracks/record_math.h"

#include <cstdlib>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace vts {

void MixSamples(float* base, const float* add, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) base[i] += add[i];
}

std::atomic<int>& RecordGain() {
  static std::atomic<int> gain{kUnityGain};
  return gain;
}

int ApplyAutoGain(std::int16_t* samples, std::size_t count, int gain) {
  int peak = 0;
  for (std::size_t i = 0; i < count; ++i) {
    int magnitude = std::abs(static_cast<int>(samples[i]));
    if (magnitude > peak) peak = magnitude;
  }
  int target = peak > 0 ? kGainPeakTarget / peak : gain;
  if (target > gain) target = gain + (target - gain) / 2;  // rise half way, fall at once
  if (target > kMaxGain) target = kMaxGain;
  gain = target;
  for (std::size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<std::int16_t>((static_cast<int>(samples[i]) * gain) >> 8);
  }
  return gain;
}

int ApplyAutoGain(std::int16_t* samples, std::size_t count) {
  int gain = ApplyAutoGain(samples, count, RecordGain().load(std::memory_order_relaxed));
  RecordGain().store(gain, std::memory_order_relaxed);
  return gain;
}

MonoS16Converter::MonoS16Converter() {
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  SwrContext* ctx = nullptr;
  if (swr_alloc_set_opts2(&ctx, &mono, AV_SAMPLE_FMT_S16, 44100, &mono, AV_SAMPLE_FMT_FLT, 44100, 0,
                          nullptr) < 0 ||
      ctx == nullptr) {
    swr_free(&ctx);
    return;
  }
  if (swr_init(ctx) < 0) {
    swr_free(&ctx);
    return;
  }
  ctx_ = ctx;
}

MonoS16Converter::~MonoS16Converter() { swr_free(&ctx_); }

int MonoS16Converter::Convert(const float* in, int frames, std::int16_t* out, int outCapacity) {
  if (ctx_ == nullptr || frames < 0 || outCapacity < 0) return -1;
  const std::uint8_t* inPlanes[1] = {reinterpret_cast<const std::uint8_t*>(in)};
  std::uint8_t* outPlanes[1] = {reinterpret_cast<std::uint8_t*>(out)};
  return swr_convert(ctx_, outPlanes, outCapacity, inPlanes, frames);
}

}  // namespace vts
