// The core object's two tracks: the Master and the Student track made with the core thread
// as their owner, their input source, and a teardown that lets their last blocks arrive.
// The core thread (CCoreThread) routes WM_SOUND_OUT and WM_SOUND_IN to them through a
// CTrackSoundHandler each (core/track_sound_handler.h); its handler swap is the barrier
// after which none reaches a deleted track.
//
// Threading: construct, SetAudioDeviceNames and destroy on the UI thread.
#pragma once

#include <mutex>
#include <string>

#include "platform/thread_queue.h"

namespace vts {

class CSoundTrack;
struct EngineStateBlock;

class CCoreTracks {
 public:
  // Makes the Master track ("Master", index 0), then the Student track ("Student", index 1),
  // both owned by `coreThreadId`; both record from the microphone and the PC output (3).
  CCoreTracks(plat::ThreadId coreThreadId, EngineStateBlock* stateBlock);
  // Stops both tracks and waits (bounded) until their last blocks and end marks have been
  // delivered; the core thread must still deliver to them meanwhile. Idempotent.
  void StopAndDrain();
  // StopAndDrain, then deletes the Master track and then the Student track. The core
  // thread's handlers of the tracks must be gone before (CCoreThread::SetTrackHandlers).
  // Idempotent.
  void DeleteTracks();
  ~CCoreTracks();  // DeleteTracks()
  CCoreTracks(const CCoreTracks&) = delete;
  CCoreTracks& operator=(const CCoreTracks&) = delete;

  CSoundTrack* Master() const { return master_; }
  CSoundTrack* Student() const { return student_; }

  // Both tracks take the output name (when not empty) and the input name (when not empty).
  void SetAudioDeviceNames(const std::u16string& output, const std::u16string& input);

 private:
  CSoundTrack* master_ = nullptr;
  CSoundTrack* student_ = nullptr;
  bool drained_ = false;
};

}  // namespace vts
