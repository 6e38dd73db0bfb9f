// Captured sound blocks as the engine makes them, for the track tests and benchmarks.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>

#include "audio/buffer_descr.h"

namespace vts::test {

// A captured block: header at the first 16-byte aligned address, `frames` float mono samples
// at 44100 Hz behind it, sample i being sample(i).
inline CBufferDescr* CapturedFloatBlock(std::uint32_t streamIndex, std::uint32_t frames,
                                        const std::function<float(std::uint32_t)>& sample) {
  CBufferDescr* b = MakeBufferDescr(frames * 4 + kCapturedBlockExtraBytes);
  b->kind = kSoundBlockKind;
  b->origin = 2;
  b->trackIndex = -1;
  SoundBlockHeader* h = CapturedHeader(*b);
  std::memset(h, 0, sizeof *h);
  h->channels = 1;
  h->samplesPerSec = 44100;
  h->streamIndex = streamIndex;
  h->encoding = kEncodingFloat;
  h->frames = frames;
  h->bitsPerSample = 32;
  auto* s = reinterpret_cast<float*>(SamplesBehind(h));
  for (std::uint32_t i = 0; i < frames; ++i) s[i] = sample(i);
  b->used = frames * 4;
  return b;
}

}  // namespace vts::test
