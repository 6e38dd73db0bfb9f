// Time of one full waveform redraw (background, centre line, every column, composition) of
// a 490-pixel strip at 32 ... 8192 frames per pixel, mono and stereo. Prints the median of
// several runs per zoom in microseconds. Then the work of one sound block of 40 ms while
// recording (the chunk grows, the view scrolls on at 128 frames per pixel) and while playing
// (the play line moves), each followed by the composition a shown frame makes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "tracks/waveform_strip.h"

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
  constexpr uint32_t kWidth = 490;
  constexpr uint32_t kFrames = kWidth * 8192;  // fills the strip at the coarsest zoom
  QImage background(516, 470, QImage::Format_ARGB32);
  background.fill(qRgba(40, 60, 80, 255));

  std::printf("%-7s %6s %12s %12s %12s\n", "chans", "fpp", "median_us", "min_us", "max_us");
  for (uint32_t channels : {1u, 2u}) {
    std::vector<int16_t> samples(size_t(kFrames) * channels);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = int16_t(30000.0 * std::sin(double(i) * 0.0123) * std::sin(double(i) * 1e-5));
    vts::WaveformChunk chunk{samples.data(), samples.size(), channels, kFrames};
    std::recursive_mutex lock;
    vts::WaveformViewState view;
    vts::CWaveformStrip strip(view, lock);
    strip.SetBackground(background);
    strip.SetStripRect(12, 125, kWidth);
    for (uint32_t fpp = 32; fpp <= 8192; fpp *= 2) {
      std::vector<double> us;
      strip.RedrawWaveform(0, fpp, &chunk);  // warm-up
      for (int r = 0; r < runs; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        strip.RedrawWaveform(0, fpp, &chunk);
        const auto t1 = std::chrono::steady_clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
      }
      std::sort(us.begin(), us.end());
      std::printf("%-7s %6u %12.1f %12.1f %12.1f\n", channels == 1 ? "mono" : "stereo", fpp,
                  us[us.size() / 2], us.front(), us.back());
    }
  }

  // One block after another, as the recording path and the playback path draw them.
  constexpr uint32_t kBlock = 1764;
  std::printf("\n%-10s %12s %12s %12s\n", "block", "median_us", "min_us", "max_us");
  for (bool recording : {true, false}) {
    const uint32_t frames = kBlock * 400;
    std::vector<int16_t> samples(frames);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = int16_t(20000.0 * std::sin(double(i) * 0.031) * std::sin(double(i) * 2e-4));
    std::recursive_mutex lock;
    vts::WaveformViewState view;
    vts::CWaveformStrip strip(view, lock);
    strip.SetBackground(background);
    strip.SetStripRect(12, 125, kWidth);
    const uint32_t fpp = recording ? 128 : 64;
    vts::WaveformChunk chunk{samples.data(), samples.size(), 1, recording ? kBlock : frames};
    strip.RedrawWaveform(0, fpp, &chunk);
    std::vector<double> us;
    for (uint32_t b = 1; b < 400; ++b) {
      const auto t0 = std::chrono::steady_clock::now();
      if (recording) {
        chunk.lengthFrames = (b + 1) * kBlock;
        const uint32_t shown = kWidth * 4 / 5 * 128;
        strip.FollowWaveform(chunk.lengthFrames > shown ? chunk.lengthFrames - shown : 0, fpp,
                             &chunk);
      } else {
        {
          std::lock_guard guard(lock);
          view.playFrame = b * kBlock % (kWidth * fpp);
        }
        strip.PaintWaveform();
      }
      {
        std::lock_guard guard(lock);
        if (b % 2 == 0) strip.Compose();  // a shown frame every other block
      }
      const auto t1 = std::chrono::steady_clock::now();
      us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    std::sort(us.begin(), us.end());
    std::printf("%-10s %12.1f %12.1f %12.1f\n", recording ? "recording" : "playing",
                us[us.size() / 2], us.front(), us.back());
  }
  return 0;
}
