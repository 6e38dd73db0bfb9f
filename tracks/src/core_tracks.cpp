// The core object's two tracks and their routing.
#include "tracks/core_tracks.h"

#include "audio/buffer_descr.h"
#include "tracks/sound_track.h"

namespace vts {

CCoreTracks::CCoreTracks(plat::ThreadId coreThreadId, EngineStateBlock* stateBlock) {
  auto* master = new CSoundTrack(coreThreadId, "Master", stateBlock, 0);
  auto* student = new CSoundTrack(coreThreadId, "Student", stateBlock, 1);
  for (CSoundTrack* t : {master, student})
    t->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
  master_ = master;
  student_ = student;
}

CCoreTracks::~CCoreTracks() { DeleteTracks(); }

void CCoreTracks::StopAndDrain() {
  if (drained_) return;
  drained_ = true;
  for (CSoundTrack* t : {master_, student_}) {
    if (t == nullptr) continue;
    t->StopAll();
    t->WaitForRecordingEnd();  // the last blocks still land in their chunk
  }
}

void CCoreTracks::DeleteTracks() {
  StopAndDrain();
  CSoundTrack* master = master_;
  CSoundTrack* student = student_;
  master_ = student_ = nullptr;
  // Their engines' final end marks now find no handler: the core thread releases them.
  delete master;
  delete student;
}

void CCoreTracks::SetAudioDeviceNames(const std::u16string& output, const std::u16string& input) {
  for (CSoundTrack* t : {master_, student_}) {
    if (t == nullptr) continue;
    if (!output.empty()) t->SetOutputDevice(output);
    if (!input.empty()) t->SetInputDevice(input);
  }
}

}  // namespace vts
