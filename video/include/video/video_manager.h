// CVideoManager: takes the Master track's place while a video is open. Owns the video window,
// the video's chunk list and texts (the ".cif" and ".txt" beside it), a helper thread that
// follows the play position every 50 ms and moves the trackbar, and a sound engine whose
// render stream it opens and closes. Reports with the same notice message and codes as a
// track: 0 chunk list made or changed, 2 open finished, 4 position tick, 5 stopped, 8 position
// set from the trackbar; lParam the manager.
//
// Threading: public operations on the GUI thread; OnMediaOpened runs on the window's first
// executor; the helper thread ticks, stops at a chunk's end and follows the trackbar. The
// manager's recursive lock guards the chunk records, the current index and the window
// pointer (replaced only on the GUI thread), and is held only around them: seeks, decodes,
// side-file reads and calls into the sound server come after it is left. Playing, paused
// and the window's halted flag are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread_queue.h"
#include "tracks/notify.h"
#include "video/master_video.h"
#include "video/video_site_window.h"

namespace vts {

class CSoundWorksWAS;
struct EngineStateBlock;
namespace audio {
class EndpointBackend;
}

struct VideoChunk {
  std::uint32_t startMs = 0;
  std::uint32_t lengthMs = 0;
  std::uint32_t offsetMs = 0;
  std::u16string text;
};

class CVideoManager : public IMasterVideo {
 public:
  // Starts the helper thread and the sound engine (stereo, 44100 Hz, 16 bit, 100 ms,
  // reporting to the helper thread). `backend` null: the process's backend; `windows` null:
  // no windows are shown (a headless back buffer).
  CVideoManager(EngineStateBlock* state, std::shared_ptr<audio::EndpointBackend> backend = nullptr,
                std::shared_ptr<IVideoWindowSystem> windows = nullptr);
  ~CVideoManager() override;
  CVideoManager(const CVideoManager&) = delete;
  CVideoManager& operator=(const CVideoManager&) = delete;

  void SetWindowSystem(std::shared_ptr<IVideoWindowSystem> windows);
  // The output endpoint's id; an open video's sound moves to it.
  void SetOutputDevice(const std::u16string& id);
  std::u16string OutputDevice() const;

  // ---- IMasterVideo ----
  bool Open(const std::string& path, void* owner) override;
  void Stop() override;
  void Start() override;
  void TogglePause() override;
  bool FramesHalted() const override;
  bool Playing() const override { return playing.load() != 0; }
  void NextChunk() override;
  void PrevChunk() override;
  int ChunkCount() const override;
  int CurrentChunk() const override;
  std::uint32_t CurrentChunkLengthMs() const override;
  std::uint32_t PlayOffsetMs() const override;
  void CloseWindow() override;
  bool ChunkDataModified() const override { return chunkDataModified.load() != 0; }
  bool WriteChunkFile() override;
  bool TextsLoaded() const override { return textsLoaded.load() != 0; }
  std::vector<std::uint8_t> BuildChunkTexts() override;
  std::string MediaPath() const override;
  std::intptr_t SenderId() const override { return reinterpret_cast<std::intptr_t>(this); }
  std::uint32_t PlayGeneration() const override { return playGeneration_.load(); }
  bool MediaOpened() const override;
  std::string OpenError() const override;
  bool InsertBookmark() override;
  void RemoveBookmark() override;
  void SetWholeFile(bool on) override;
  std::u16string CurrentChunkText() const override;
  void SetCurrentChunkText(const std::u16string& text) override;

  // ---- the rest of the manager ----
  void OnMediaOpened();
  bool ReadChunkFile(const std::string& path);
  bool ReadChunkTexts(const std::string& path);
  void SeekToSliderPosition();
  plat::ThreadId HelperThreadId() const { return helperThreadId_.load(); }
  std::vector<VideoChunk> Chunks() const;
  std::uint32_t DurationMs() const { return durationMs_.load(); }
  // Runs `f` with the window under the manager's lock (null when there is none).
  template <typename F>
  auto WithWindow(F&& f) {
    std::lock_guard lock(lock_);
    return f(window_.get());
  }

  NotifyTarget notifyTarget;
  std::atomic<std::uint8_t> playing{0};
  std::atomic<std::uint8_t> paused{0};
  std::atomic<std::uint8_t> chunkDataModified{0};
  std::atomic<std::uint8_t> textsLoaded{0};

 private:
  void Notify(std::uint32_t code);
  void HelperThread();
  void HelperTick(bool trackbarHandled);
  void WakeHelper();
  bool HelperHasWork();  // a playback that is not paused: the 50 ms tick runs
  void SetTrackbar(int pos);
  int TrackbarPos();
  // The current chunk's start when the window can seek to it; with the lock held.
  std::optional<std::uint32_t> ChunkStartToSeek() const;
  // Seeks `w` to `ms` and, halted, shows the frame there (called without the lock).
  static void SeekShowing(CVideoSiteWindow* w, std::uint32_t ms);
  void StepChunk(int step);  // NextChunk (+1), PrevChunk (-1)
  // Takes the window out and empties the chunk lists, under the lock; the caller destroys
  // the window outside it (the window's jobs may be waiting for the lock).
  std::unique_ptr<CVideoSiteWindow> DetachWindow();

  mutable std::recursive_mutex lock_;
  // Held by the helper thread through each pass that calls into the window, and by the
  // window's replacement: taken before lock_, never while holding it.
  std::mutex windowUse_;
  std::unique_ptr<CVideoSiteWindow> window_;
  std::shared_ptr<audio::EndpointBackend> backend_;
  std::shared_ptr<IVideoWindowSystem> windows_;
  void* owner_ = nullptr;
  // Where this manager last moved the dialog: a repeated open does not move it again.
  bool ownerMoved_ = false;
  int ownerMovedLeft_ = 0;
  std::string mediaPath_;
  std::thread helper_;
  std::atomic<plat::ThreadId> helperThreadId_{0};
  std::vector<VideoChunk> chunks_;
  std::vector<VideoChunk> keptChunks_;
  bool wholeFile_ = false;
  std::atomic<std::uint32_t> durationMs_{0};
  EngineStateBlock* state_ = nullptr;
  std::unique_ptr<CSoundWorksWAS> engine_;
  std::u16string outputDevice_;  // under the lock
  std::uint32_t currentChunk_ = 0;
  // Moves on at every start, stop and end of a playback (the transport tells its own stops
  // from real ends by it).
  std::atomic<std::uint32_t> playGeneration_{0};
  std::uint8_t haltedAtThumbTrack_ = 0xFF;  // 0xFF: no thumb drag runs
};

}  // namespace vts
