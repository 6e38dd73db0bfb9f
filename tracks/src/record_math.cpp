// Mixing, conversion to 16-bit mono and the automatic gain of the recording path.
#include "tracks/record_math.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

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

void CapturePairing::Add(std::uint32_t stream, std::uint32_t channels, const float* samples,
                         std::size_t frames) {
  if (queues_.empty()) channels_ = std::max(1u, channels);
  const bool fresh = queues_.count(stream) == 0;
  Queue& q = queues_[stream];
  if (fresh) q.owed = out_;  // all that went out so far went without it
  // What went out is dropped from the front once it is most of the queue.
  if (q.taken > 0 && q.taken >= q.samples.size() / 2) {
    q.samples.erase(q.samples.begin(), q.samples.begin() + std::ptrdiff_t(q.taken));
    q.taken = 0;
  }
  q.samples.insert(q.samples.end(), samples, samples + frames * channels_);
}

std::size_t CapturePairing::Take(std::uint32_t streams, bool end, std::vector<float>& out) {
  out.clear();
  if (queues_.empty()) return 0;
  if (!end) {
    // A backlog of time that went out without its stream: dropped.
    for (auto& [stream, q] : queues_) {
      std::size_t others = 0;
      for (const auto& [other, o] : queues_)
        if (other != stream) others = std::max(others, o.Frames(channels_));
      const std::size_t frames = q.Frames(channels_);
      if (queues_.size() < 2 || q.owed == 0 || frames <= others + maxLag_) continue;
      const std::size_t drop = std::size_t(std::min<std::uint64_t>(q.owed, frames - others));
      q.taken += drop * channels_;
      q.owed -= drop;
      dropped_ += drop;
    }
  }
  std::size_t most = 0, least = SIZE_MAX;
  for (const auto& [stream, q] : queues_) {
    most = std::max(most, q.Frames(channels_));
    least = std::min(least, q.Frames(channels_));
  }
  std::size_t n = most;
  // One stream has nothing to wait for: each block goes out as it came.
  if (!end && streams > 1) {
    // Before every stream has come, only what is beyond the wait goes out.
    if (queues_.size() < streams) least = 0;
    n = most - least > maxLag_ ? most - maxLag_ : least;
    if (n < min_) n = 0;
  }
  out.assign(n * channels_, 0.0f);
  for (auto& [stream, q] : queues_) {
    const std::size_t frames = std::min(n, q.Frames(channels_));
    MixSamples(out.data(), q.samples.data() + q.taken, frames * channels_);
    q.taken += frames * channels_;
    q.owed += n - frames;
  }
  out_ += n;
  if (end) Clear();
  return n;
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

void FloatToS16(const float* in, std::size_t count, std::int16_t* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Eight at a time, with the same clipping and rounding as the loop below.
  const __m128 scale = _mm_set1_ps(32768.0f), low = _mm_set1_ps(-32768.0f),
               high = _mm_set1_ps(32767.0f);
  for (; i + 8 <= count; i += 8) {
    const __m128 a = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(in + i), scale), low), high);
    const __m128 b = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(in + i + 4), scale), low), high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
  }
#endif
  for (; i < count; ++i) {
    // Clipped before the rounding, which then cannot overflow.
    const float v = std::min(std::max(in[i] * 32768.0f, -32768.0f), 32767.0f);
#if defined(__SSE2__)
    const long r = _mm_cvtss_si32(_mm_set_ss(v));  // lrintf's rounding, without the call
#else
    const long r = std::lrintf(v);
#endif
    out[i] = static_cast<std::int16_t>(std::clamp(r, -32768L, 32767L));
  }
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
