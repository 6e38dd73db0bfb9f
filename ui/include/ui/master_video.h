// The Master side's video, as the recorder window drives it: the video manager and its
// window. The window works without one (video files are then refused with a message); the
// video subsystem implements it. GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vts::ui {

class IMasterVideo {
 public:
  virtual ~IMasterVideo() = default;
  // Opens the file: the window moves right by half its width, the video opens at its left.
  virtual bool Open(const std::string& path) = 0;
  virtual void Stop() = 0;
  // Playing on, paused off, sound stream started, seek to the slider, frames running.
  virtual void Start() = 0;
  // Paused toggled, the sound voice stopped, frames halted := paused.
  virtual void TogglePause() = 0;
  virtual bool FramesHalted() const = 0;
  virtual bool Playing() const = 0;
  virtual void NextChunk() = 0;
  virtual void PrevChunk() = 0;
  virtual int ChunkCount() const = 0;
  virtual int CurrentChunk() const = 0;
  virtual std::uint32_t CurrentChunkLengthMs() const = 0;
  virtual std::uint32_t PlayOffsetMs() const = 0;
  // Deletes the video window and empties the chunk list.
  virtual void CloseWindow() = 0;
  virtual bool ChunkDataModified() const = 0;
  virtual bool WriteChunkFile() = 0;
  virtual bool TextsLoaded() const = 0;
  virtual std::vector<std::uint8_t> BuildChunkTexts() = 0;
  virtual std::string MediaPath() const = 0;
  // The sender value of its notices (the lParam of WM_TRACKNOTIFY).
  virtual std::intptr_t SenderId() const = 0;

  // Splits the current chunk at the video's position; false when the position is not inside
  // the chunk. Posts notice 0.
  virtual bool InsertBookmark() = 0;
  // Joins the current chunk with the next (their texts: the current one's stays); nothing on
  // the last chunk. The chunk data is not marked modified.
  virtual void RemoveBookmark() = 0;
  // On: the chunk list is set aside and replaced by one chunk over the whole video; off: the
  // list set aside comes back. Posts notice 2.
  virtual void SetWholeFile(bool on) = 0;
  virtual std::u16string CurrentChunkText() const = 0;
  // Sets the current chunk's text; texts loaded and chunk data modified become true.
  virtual void SetCurrentChunkText(const std::u16string& text) = 0;
};

}  // namespace vts::ui
