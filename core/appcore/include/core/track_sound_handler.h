// One track as the core thread sees it: played buffers, captured blocks and end marks go to
// the track's own handlers. Core thread only (CCoreThread calls it).
#pragma once

#include "core/core_thread.h"

namespace vts {

class CSoundTrack;

class CTrackSoundHandler final : public ITrackSoundHandlers {
 public:
  explicit CTrackSoundHandler(CSoundTrack* track) : track_(track) {}
  void OnBufferPlayed(plat::WPARAM* descr) override;
  void OnCapturedBlock(plat::WPARAM descr) override { OnCapturedBlockFrom(descr, 0); }
  void OnCapturedBlockFrom(plat::WPARAM descr, plat::LPARAM engineTag) override;
  bool TakesEndMark(plat::LPARAM engineTag) override;
  void OnDeviceLost(plat::WPARAM flow, plat::LPARAM engineTag) override;
  void OnRecordingMoves(plat::WPARAM chunkIndex, plat::LPARAM engineTag) override;

 private:
  CSoundTrack* track_;
};

}  // namespace vts
