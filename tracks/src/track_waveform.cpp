// A track and its waveform strip.
#include "tracks/track_waveform.h"

#include <mutex>

namespace vts {

CTrackWaveform::CTrackWaveform(CSoundTrack& track) : track_(track), strip_(track.BufferLock()) {
  std::lock_guard lock(track_.BufferLock());
  track_.SetWaveformDrawer(this);
}

CTrackWaveform::~CTrackWaveform() {
  std::lock_guard lock(track_.BufferLock());
  if (track_.waveformDrawer == this) track_.SetWaveformDrawer(nullptr);
}

void CTrackWaveform::SetStripRect(int32_t x, int32_t y, uint32_t width, uint32_t height) {
  std::lock_guard lock(track_.BufferLock());
  strip_.SetStripRect(x, y, width, height);
  track_.bitmapWidth = width;
  track_.bitmapHeight = height;
}

// The track's positions are the ones that count; the strip shows them.
void CTrackWaveform::PushTrackStateLocked() {
  WaveformViewState& v = strip_.View();
  v.cursorFrame = track_.cursorFrame;
  v.anchorFrame = track_.anchorFrame;
  v.playFrame = track_.playFrame;
}

void CTrackWaveform::DrawWaveform(CSoundTrack& track, const WaveformView& view) {
  std::lock_guard lock(track.BufferLock());
  PushTrackStateLocked();
  if (!view.hasChunk) {
    strip_.RedrawWaveform(view.firstFrame, view.framesPerPixel, nullptr);
    return;
  }
  WaveformChunk chunk;
  chunk.samples = view.samples;
  chunk.sampleCount = view.sampleCount;
  chunk.channels = view.channels;
  chunk.lengthFrames = view.lengthFrames;
  strip_.RedrawWaveform(view.firstFrame, view.framesPerPixel, &chunk);
}

void CTrackWaveform::RepaintWaveform(CSoundTrack& track) {
  std::lock_guard lock(track.BufferLock());
  PushTrackStateLocked();
  strip_.PaintWaveform();
}

void CTrackWaveform::ProgressChanged(CSoundTrack& track) {
  std::lock_guard lock(track.BufferLock());
  strip_.Bar().SetRange(0, track.progressRange);
  strip_.Bar().SetPos(track.progressPos);
}

std::optional<uint32_t> CTrackWaveform::CurrentChunkFrames() {
  std::lock_guard lock(track_.BufferLock());
  if (CChunkInfo* chunk = track_.CurrentChunk()) return chunk->length;
  return std::nullopt;
}

void CTrackWaveform::RedrawWaveform(uint32_t firstFrame, uint32_t framesPerPixel) {
  track_.RedrawWaveform(firstFrame, framesPerPixel);
}

void CTrackWaveform::WaveformStateChanged() {
  std::lock_guard lock(track_.BufferLock());
  const WaveformViewState& v = strip_.View();
  track_.cursorFrame = v.cursorFrame;
  track_.anchorFrame = v.anchorFrame;
  track_.cursorPixel = v.cursorPixel;
  track_.anchorPixel = v.anchorPixel;
  track_.progressPos = static_cast<std::uint32_t>(strip_.Bar().Pos());
}

}  // namespace vts
