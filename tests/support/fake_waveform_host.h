// A stand-in for the track behind a waveform strip: its own view state and lock (handed to
// the strip, as a track hands its own), one current chunk of 16-bit samples, and counters
// for what the strip asked of it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "tracks/waveform_host.h"
#include "tracks/waveform_strip.h"

namespace vts::test {

class FakeWaveformHost : public IWaveformHost {
 public:
  FakeWaveformHost() : strip(view, lock) {}

  // A current chunk of `frames` frames; samples follow a simple deterministic pattern.
  void SetChunk(uint32_t frames, uint32_t chans = 1) {
    hasChunk = true;
    channels = chans;
    samples.resize(size_t(frames) * chans);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = int16_t((int64_t(i) * 7919 % 60001) - 30000);
    lengthFrames = frames;
  }
  void ClearChunk() {
    hasChunk = false;
    samples.clear();
    lengthFrames = 0;
  }

  CWaveformStrip& WaveformStrip() override { return strip; }
  std::optional<uint32_t> CurrentChunkFrames() override {
    if (!hasChunk) return std::nullopt;
    return lengthFrames;
  }
  void RedrawWaveform(uint32_t firstFrame, uint32_t framesPerPixel) override {
    ++redraws;
    lastRedrawFirst = firstFrame;
    lastRedrawFpp = framesPerPixel;
    std::lock_guard guard(lock);
    if (!hasChunk) {
      strip.RedrawWaveform(firstFrame, framesPerPixel, nullptr);
      return;
    }
    WaveformChunk chunk;
    chunk.samples = samples.data();
    chunk.sampleCount = samples.size();
    chunk.channels = channels;
    chunk.lengthFrames = lengthFrames;
    strip.RedrawWaveform(firstFrame, framesPerPixel, &chunk);
  }
  bool IsPlaying() override { return playing; }
  void Play() override { ++plays; }
  bool SplitCurrentChunk() override {
    std::lock_guard guard(lock);
    ++splits;
    splitAt = strip.View().cursorFrame;
    return true;
  }
  void NotifyPosition() override { ++positionNotices; }

  std::recursive_mutex lock;
  WaveformViewState view;  // guarded by lock
  CWaveformStrip strip;
  bool hasChunk = false;
  uint32_t channels = 1;
  uint32_t lengthFrames = 0;
  std::vector<int16_t> samples;
  bool playing = false;

  int redraws = 0;
  uint32_t lastRedrawFirst = 0;
  uint32_t lastRedrawFpp = 0;
  int plays = 0;
  int splits = 0;
  uint32_t splitAt = 0;
  int positionNotices = 0;
};

}  // namespace vts::test
