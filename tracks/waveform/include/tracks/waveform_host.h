// What the waveform strip and its widget need from the track that owns them. CSoundTrack
// implements it; tests implement it with a small fake.
#pragma once

#include <cstdint>
#include <optional>

namespace vts {

class CWaveformStrip;

// All operations are called on the GUI thread without the strip's lock held, except
// WaveformStateChanged (see there).
class IWaveformHost {
 public:
  virtual ~IWaveformHost() = default;

  // The track's strip (state, pictures and the lock that guards them).
  virtual CWaveformStrip& WaveformStrip() = 0;
  // The current chunk's length in frames, or nothing when there is no current chunk.
  virtual std::optional<uint32_t> CurrentChunkFrames() = 0;
  // The track's RedrawWaveform: load the current chunk and hand its samples to
  // CWaveformStrip::RedrawWaveform (0 frames per pixel means 64).
  virtual void RedrawWaveform(uint32_t firstFrame, uint32_t framesPerPixel) = 0;
  virtual bool IsPlaying() = 0;
  // Restart playback from the cursor.
  virtual void Play() = 0;
  // Insert a bookmark at the cursor; false when nothing was split.
  virtual bool SplitCurrentChunk() = 0;
  // Post the position notification (code 8, lParam the track) to the notification target.
  virtual void NotifyPosition() = 0;
  // Called after every mouse or bar operation that changed the strip's view fields (cursor,
  // anchor, their columns, the bar's position, the position-set flag, the drag anchor). A
  // track that keeps its own copies of those fields takes them over here. Called with the
  // strip's lock held, in the same hold as the change, so that a redraw on another thread
  // (which shows the track's fields) cannot undo it; it must not block.
  virtual void WaveformStateChanged() {}
};

}  // namespace vts
