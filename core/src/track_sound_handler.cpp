// The core thread's handing of sound messages to one track.
#include "core/track_sound_handler.h"

#include "audio/buffer_descr.h"
#include "tracks/sound_track.h"

namespace vts {

void CTrackSoundHandler::OnBufferPlayed(plat::WPARAM* descr) {
  auto* d = reinterpret_cast<CBufferDescr*>(*descr);
  track_->OnBufferPlayed(&d);
  *descr = reinterpret_cast<plat::WPARAM>(d);
}

void CTrackSoundHandler::OnCapturedBlockFrom(plat::WPARAM descr, plat::LPARAM engineTag) {
  track_->OnCapturedBlock(reinterpret_cast<CBufferDescr*>(descr),
                          static_cast<std::uint32_t>(engineTag));
}

bool CTrackSoundHandler::TakesEndMark(plat::LPARAM engineTag) {
  return static_cast<std::uint32_t>(engineTag) == track_->EngineTag();
}

void CTrackSoundHandler::OnDeviceLost(plat::WPARAM flow, plat::LPARAM engineTag) {
  track_->OnDeviceLost(static_cast<DataFlow>(flow), static_cast<std::uint32_t>(engineTag));
}

void CTrackSoundHandler::OnRecordingMoves(plat::WPARAM chunkIndex, plat::LPARAM engineTag) {
  track_->OnRecordingMoves(static_cast<int>(chunkIndex), static_cast<std::uint32_t>(engineTag));
}

}  // namespace vts
