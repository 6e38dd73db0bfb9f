// The link between a track and its waveform strip.
#include "tracks/track_waveform.h"

#include <mutex>

namespace vts {

CTrackWaveform::CTrackWaveform(CSoundTrack& track, std::int32_t x, std::int32_t y,
                               std::uint32_t width, std::uint32_t height)
    : track_(track), strip_(track.waveformStrip) {
  std::lock_guard lock(track_.bufferLock);
  strip_.SetStripRect(x, y, width, height);
  track_.bitmapWidth = width;
  track_.bitmapHeight = height;
  seenCursor_ = track_.cursorFrame;
  seenAnchor_ = track_.anchorFrame;
  seenBarPos_ = track_.progressPos;
  WaveformViewState& v = strip_.View();
  v.cursorFrame = seenCursor_;
  v.anchorFrame = seenAnchor_;
  PullFromTrackLocked();
  track_.SetWaveformDrawer(this);
}

CTrackWaveform::~CTrackWaveform() {
  std::lock_guard lock(track_.bufferLock);
  if (track_.waveformDrawer == this) track_.SetWaveformDrawer(nullptr);
}

void CTrackWaveform::PullFromTrackLocked() {
  WaveformViewState& v = strip_.View();
  v.framesPerPixel = track_.framesPerPixel;
  v.viewStartFrame = track_.viewStartFrame;
  v.viewFrames = track_.viewFrames;
  v.playFrame = track_.playFrame;
  if (const std::uint32_t cursor = track_.cursorFrame; cursor != seenCursor_) {
    v.cursorFrame = seenCursor_ = cursor;
  }
  if (const std::uint32_t anchor = track_.anchorFrame; anchor != seenAnchor_) {
    v.anchorFrame = seenAnchor_ = anchor;
  }
  strip_.Bar().SetRange(0, track_.progressRange);
  if (const std::uint32_t pos = track_.progressPos; pos != seenBarPos_) {
    strip_.Bar().SetPos(pos);
    seenBarPos_ = pos;
  }
}

void CTrackWaveform::PushToTrackLocked() {
  const WaveformViewState& v = strip_.View();
  track_.cursorFrame = seenCursor_ = v.cursorFrame;
  track_.anchorFrame = seenAnchor_ = v.anchorFrame;
  track_.cursorPixel = v.cursorPixel;
  track_.anchorPixel = v.anchorPixel;
  track_.progressPos = seenBarPos_ = std::uint32_t(strip_.Bar().Pos());
}

void CTrackWaveform::DrawWaveform(CSoundTrack& track, const WaveformView& view) {
  std::lock_guard lock(track.bufferLock);
  PullFromTrackLocked();
  if (!view.hasChunk) {
    strip_.RedrawWaveform(view.firstFrame, view.framesPerPixel, nullptr);
    return;
  }
  const WaveformChunk chunk =
      MakeWaveformChunk(view.samples, view.sampleCount * sizeof(std::int16_t), view.channels,
                        track.format.bitsPerSample, view.lengthFrames);
  strip_.RedrawWaveform(view.firstFrame, view.framesPerPixel, &chunk);
}

void CTrackWaveform::RepaintWaveform(CSoundTrack& track) {
  std::lock_guard lock(track.bufferLock);
  PullFromTrackLocked();
  strip_.PaintWaveform();
  track_.cursorPixel = strip_.View().cursorPixel;
  track_.anchorPixel = strip_.View().anchorPixel;
}

void CTrackWaveform::ProgressChanged(CSoundTrack& track) {
  // The widget reads the bar's range and position when it repaints.
  RepaintWaveform(track);
}

CWaveformStrip& CTrackWaveform::WaveformStrip() { return strip_; }

std::optional<std::uint32_t> CTrackWaveform::CurrentChunkFrames() {
  std::lock_guard lock(track_.bufferLock);
  if (CChunkInfo* chunk = track_.CurrentChunk()) return chunk->length;
  return std::nullopt;
}

void CTrackWaveform::RedrawWaveform(std::uint32_t firstFrame, std::uint32_t framesPerPixel) {
  track_.RedrawWaveform(firstFrame, framesPerPixel);
}

bool CTrackWaveform::IsPlaying() { return track_.playing; }

void CTrackWaveform::Play() { track_.Play(); }

bool CTrackWaveform::SplitCurrentChunk() { return track_.SplitCurrentChunk(); }

void CTrackWaveform::NotifyPosition() { track_.NotifyPosition(); }

void CTrackWaveform::WaveformStateChanged() {
  std::lock_guard lock(track_.bufferLock);
  PushToTrackLocked();
}

}  // namespace vts
