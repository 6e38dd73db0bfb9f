// What the waveform strip and its widget need from the track that owns them. CSoundTrack
// implements it; tests implement it with a small fake.
#pragma once

#include <cstdint>
#include <optional>

namespace vts {

class CWaveformStrip;

// All operations are called on the GUI thread without the strip's lock held. The strip
// changes the host's view state itself (it holds a reference to it); there is nothing to
// take over afterwards.
class IWaveformHost {
 public:
  virtual ~IWaveformHost() = default;

  // The track's strip (its pictures, the track's view state and the lock that guards them).
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
};

}  // namespace vts
