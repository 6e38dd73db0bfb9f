// The core object's two tracks and the core thread's routing to them, in one place: the
// Master and the Student track made with the core thread as their owner, their input
// source, the routing of WM_SOUND_OUT and WM_SOUND_IN, and a teardown after which no
// message of a track's engine can reach the deleted track.
//
// Threading: construct, SetAudioDeviceNames and destroy on the UI thread; Route on the core
// thread only. Route and the teardown's detaching share one lock.
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
  // StopAndDrain, then stops routing to the tracks and deletes
  // the Master track and then the Student track. The object stays usable for Route (which
  // then only releases), so the core thread may go on until it is stopped; destroy the
  // object after the core thread ended. Idempotent.
  void DeleteTracks();
  ~CCoreTracks();  // DeleteTracks()
  CCoreTracks(const CCoreTracks&) = delete;
  CCoreTracks& operator=(const CCoreTracks&) = delete;

  CSoundTrack* Master() const { return master_; }
  CSoundTrack* Student() const { return student_; }

  // The core thread's handling of WM_SOUND_OUT and WM_SOUND_IN (false for other messages).
  // A descriptor that no track takes, or that comes after the tracks are gone, is released.
  bool Route(const plat::Msg& msg);

  // Both tracks take the output name (when not empty) and the input name (when not empty).
  void SetAudioDeviceNames(const std::u16string& output, const std::u16string& input);

 private:
  std::mutex routeLock_;
  CSoundTrack* master_ = nullptr;
  CSoundTrack* student_ = nullptr;
  bool drained_ = false;
};

}  // namespace vts
