// The core thread: a window-less worker that receives what the tracks' sound engines and the
// two pipe channels report, so none of it runs on the UI thread.
//
// Threading: Start/Stop/SetTrackHandlers/SetStreamHandlers are called from the thread that owns
// the core (the UI thread). Handlers run on the core thread only, one at a time. A handler
// change is applied on the core thread and the call returns after it, so once handlers are
// cleared, none is running and none will be called again (the barrier before the tracks go).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "audio/buffer_descr.h"
#include "platform/thread_queue.h"

namespace vts {

constexpr std::uint32_t WM_CORE_IFACE_PIPE = plat::WM_USER + 0x8D;   // 0x48D
constexpr std::uint32_t WM_CORE_STREAM_PIPE = plat::WM_USER + 0x8E;  // 0x48E
// WM_SOUND_OUT (0x48F), WM_SOUND_IN (0x490), WM_SOUND_LOST (0x493) and WM_RECORDING_MOVES
// (0x494) come from the sound engine's header.

// Pipe events: lParam 0 connected, 0xFFFFFFFF disconnected, else a heap block made with
// AllocPipeBlock (u32 length, then that many bytes) that the receiver frees with FreePipeBlock.
constexpr plat::LPARAM kPipeConnected = 0;
constexpr plat::LPARAM kPipeDisconnected = static_cast<plat::LPARAM>(0xFFFFFFFFu);
plat::LPARAM AllocPipeBlock(const void* bytes, std::uint32_t length);
void FreePipeBlock(plat::LPARAM block);
bool IsPipeBlock(plat::LPARAM lParam);

// A track as the core thread sees it (the tracks implement it).
class ITrackSoundHandlers {
 public:
  // A finished playback buffer: a track that owns *descr handles and releases it and sets
  // *descr to 0; otherwise it leaves *descr alone.
  virtual void OnBufferPlayed(plat::WPARAM* descr) = 0;
  // A captured block (the receiver releases it), or 0 when capture stopped.
  virtual void OnCapturedBlock(plat::WPARAM descr) = 0;
  // The same with WM_SOUND_IN's lParam, the tag of the engine that posted it.
  virtual void OnCapturedBlockFrom(plat::WPARAM descr, plat::LPARAM engineTag) {
    OnCapturedBlock(descr);
  }
  // True for the end mark (wParam 0) of this track's own engine: the Master's stops end no
  // capture of the Student, so the Master takes its own end marks.
  virtual bool TakesEndMark(plat::LPARAM engineTag) { return false; }
  // WM_SOUND_LOST: a stream of the engine `engineTag` ended because its device went;
  // `flow` is its direction. Both tracks hear it; only the engine's own track acts.
  virtual void OnDeviceLost(plat::WPARAM flow, plat::LPARAM engineTag) {}
  // WM_RECORDING_MOVES of this track's engine `engineTag`: its running recording goes on in
  // chunk `chunkIndex` from the next block on.
  virtual void OnRecordingMoves(plat::WPARAM chunkIndex, plat::LPARAM engineTag) {}

 protected:
  ~ITrackSoundHandlers() = default;
};

// Releases a sound descriptor that no track took (queued while no tracks exist, or at stop).
// Installed by the sound side once; it must outlive the core thread.
using SoundPayloadReleaser = void (*)(plat::WPARAM descr);
void SetSoundPayloadReleaser(SoundPayloadReleaser releaser);

class CCoreThread {
 public:
  // The stream side (the stream-pipe protocol): both run on the core thread.
  struct StreamHandlers {
    // Sends the next stream block of the Student track; `final` at the end of capture.
    // False when the write failed.
    std::function<bool(bool final)> sendStreamBlock;
    // WM_CORE_STREAM_PIPE: frees a pipe block itself.
    std::function<void(plat::WPARAM pipe, plat::LPARAM lParam)> onStreamPipeData;
    // Reads the streaming flag (it lives in the core object) and turns it off.
    std::function<bool()> isStreaming;
    std::function<void()> stopStreaming;
  };

  CCoreThread() = default;
  ~CCoreThread();  // stops the thread if still running
  CCoreThread(const CCoreThread&) = delete;
  CCoreThread& operator=(const CCoreThread&) = delete;

  // Starts the thread and returns once its queue exists. False when no thread could start.
  bool Start();
  // Posts WM_QUIT behind everything queued, waits without time limit; payloads still queued
  // after the quit are released.
  void Stop();

  plat::ThreadId Id() const { return id_; }
  bool Running() const { return thread_.joinable(); }

  // Installs (or with nullptr, nullptr clears) the two tracks' handlers. Returns after the
  // core thread applied it.
  void SetTrackHandlers(ITrackSoundHandlers* master, ITrackSoundHandlers* student);
  void SetStreamHandlers(StreamHandlers handlers);
  // Runs `task` on the core thread after what is queued now, without waiting for it. False
  // (and `task` not run) when the thread has no queue.
  bool PostTask(std::function<void()> task);

  // The interface pipe's connected handle (0 when none); written by the core thread only.
  plat::WPARAM InterfacePipeHandle() const;

  // Runs `change` on the core thread between two messages and waits for it (at once when
  // called on the core thread or when it does not run): the way to change what the core
  // thread reads without a lock of its own.
  void Apply(std::function<void()> change);

 private:
  void Run(std::promise<void>* ready);
  void HandleSoundOut(plat::WPARAM descr);
  void HandleSoundIn(plat::WPARAM descr, plat::LPARAM engineTag);
  void HandleRecordingMoves(plat::WPARAM chunkIndex, plat::LPARAM engineTag);
  bool Streaming() const;
  // Sends the Student's next stream block; a failed write turns streaming off with its box.
  void SendStudentStream(bool final);

  std::thread thread_;
  plat::ThreadId id_ = 0;
  // Touched on the core thread only (changes arrive through Apply).
  ITrackSoundHandlers* master_ = nullptr;
  ITrackSoundHandlers* student_ = nullptr;
  StreamHandlers stream_;
  std::atomic<plat::WPARAM> interfacePipe_{0};
};

// Releases whatever a core-thread message carries (used for messages nobody handles).
void ReleaseCoreMessagePayload(const plat::Msg& msg);

}  // namespace vts
