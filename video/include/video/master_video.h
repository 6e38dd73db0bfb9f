// The Master side's video, as the recorder window drives it: the video manager and its
// window. The transport drives it as the Master source; the window adds opening, closing,
// the side files and the editing commands. The recorder window works without one (video
// files are then refused with a message); the video library implements it. GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tracks/master_source.h"

namespace vts {

// As a Master source: Start sets playing on and paused off, starts the sound stream, seeks to
// the slider and lets the frames run; TogglePause toggles paused, stops the sound voice and
// halts the frames while paused; Running is frames not halted.
class IMasterVideo : public IMasterSource {
 public:
  ~IMasterVideo() override = default;
  // Opens the file: `owner` (the recorder window) moves right by half its width, the video
  // opens at its left. The open completes later with notices 0 and 2.
  virtual bool Open(const std::string& path, void* owner) = 0;
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

  // After notice 2: whether the media opened (false: the open failed, OpenError says why).
  virtual bool MediaOpened() const = 0;
  virtual std::string OpenError() const = 0;
  // Splits the current chunk at the video's position; false when the position is not inside
  // the chunk. Posts notice 0.
  virtual bool InsertBookmark() = 0;
  // Joins the current chunk with the next (their texts: the current one's stays).
  virtual void RemoveBookmark() = 0;
  // On: the chunk list is set aside and replaced by one chunk over the whole video; off: the
  // list set aside comes back. Posts notice 2.
  virtual void SetWholeFile(bool on) = 0;
  virtual std::u16string CurrentChunkText() const = 0;
  // Sets the current chunk's text; texts loaded and chunk data modified become true.
  virtual void SetCurrentChunkText(const std::u16string& text) = 0;
};

}  // namespace vts
