// A track and its waveform strip.
#include "tracks/track_waveform.h"

#include <mutex>

namespace vts {

CTrackWaveform::CTrackWaveform(CSoundTrack& track)
    : track_(track), strip_(track.viewState, track.BufferLock()) {
  track_.SetWaveformDrawer(this);
}

CTrackWaveform::~CTrackWaveform() {
  std::lock_guard lock(track_.BufferLock());
  if (track_.waveformDrawer == this) track_.SetWaveformDrawer(nullptr);
}

void CTrackWaveform::SetStripRect(int32_t x, int32_t y, uint32_t width, uint32_t height) {
  strip_.SetStripRect(x, y, width, height);
}

void CTrackWaveform::DrawWaveform(CSoundTrack& track, const WaveformView& view) {
  std::lock_guard lock(track.BufferLock());
  if (!view.hasChunk) {
    strip_.RedrawWaveform(view.firstFrame, view.framesPerPixel, nullptr);
    return;
  }
  WaveformChunk chunk;
  chunk.samples = view.samples;
  chunk.sampleCount = view.sampleCount;
  chunk.channels = view.channels;
  chunk.lengthFrames = view.lengthFrames;
  if (view.follows)
    strip_.FollowWaveform(view.firstFrame, view.framesPerPixel, &chunk);
  else
    strip_.RedrawWaveform(view.firstFrame, view.framesPerPixel, &chunk);
}

void CTrackWaveform::RepaintWaveform(CSoundTrack&) { strip_.PaintWaveform(); }

std::optional<uint32_t> CTrackWaveform::CurrentChunkFrames() {
  std::lock_guard lock(track_.BufferLock());
  if (CChunkInfo* chunk = track_.CurrentChunk()) return chunk->length;
  return std::nullopt;
}

void CTrackWaveform::RedrawWaveform(uint32_t firstFrame, uint32_t framesPerPixel) {
  track_.RedrawWaveform(firstFrame, framesPerPixel);
}

}  // namespace vts
