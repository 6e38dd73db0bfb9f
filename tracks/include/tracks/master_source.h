// The Master side as the transport drives it: the Master track now (through
// CTrackMasterSource), the video next. UI thread only.
#pragma once

#include <cstdint>

namespace vts {

class IMasterSource {
 public:
  virtual ~IMasterSource() = default;

  // Plays from the current position (the video: playing on, frames running).
  virtual void Start() = 0;
  // Stops; a source that played posts its playback-ended notice for it.
  virtual void Stop() = 0;
  // The Master pause command: pauses a running source, resumes a paused one.
  virtual void TogglePause() = 0;
  // Playing, also while paused.
  virtual bool Playing() const = 0;
  // Sound (or frames) running: playing and not paused.
  virtual bool Running() const = 0;
  // Whether there is anything to start (the play button does nothing otherwise).
  virtual bool HasMedia() const = 0;

  virtual int ChunkCount() const = 0;
  virtual int CurrentChunk() const = 0;  // -1: none
  virtual void NextChunk() = 0;
  virtual void PrevChunk() = 0;

  // The sender value of its notices (the lParam of WM_TRACKNOTIFY).
  virtual std::intptr_t SenderId() const = 0;
  // Moves on at every start, every stop and every end of a playback, so that the notice of a
  // stop the transport made itself can be told from a real end: when the generation still
  // stands where the transport's own stop left it, nothing ended since.
  virtual std::uint32_t PlayGeneration() const = 0;
};

}  // namespace vts
