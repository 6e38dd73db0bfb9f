// The Master side's video, as the recorder window drives it: the video manager and its
// window. The transport drives it as the Master source; the window adds opening, closing and
// the side files. The window works without one (video files are then refused with a
// message); the video subsystem implements it. GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tracks/master_source.h"

namespace vts::ui {

// As a Master source: Start sets playing on and paused off, starts the sound stream, seeks to
// the slider and lets the frames run; TogglePause toggles paused, stops the sound voice and
// halts the frames while paused; Running is frames not halted.
class IMasterVideo : public IMasterSource {
 public:
  ~IMasterVideo() override = default;
  // Opens the file: the window moves right by half its width, the video opens at its left.
  virtual bool Open(const std::string& path) = 0;
  virtual bool FramesHalted() const = 0;
  bool Running() const override { return !FramesHalted(); }
  bool HasMedia() const override { return true; }
  virtual std::uint32_t CurrentChunkLengthMs() const = 0;
  virtual std::uint32_t PlayOffsetMs() const = 0;
  // Deletes the video window and empties the chunk list.
  virtual void CloseWindow() = 0;
  virtual bool ChunkDataModified() const = 0;
  virtual bool WriteChunkFile() = 0;
  virtual bool TextsLoaded() const = 0;
  virtual std::vector<std::uint8_t> BuildChunkTexts() = 0;
  virtual std::string MediaPath() const = 0;
};

}  // namespace vts::ui
