// Routing of WM_SOUND_OUT and WM_SOUND_IN to the two tracks.
#include "tracks/sound_routing.h"

#include "audio/buffer_descr.h"
#include "core/log.h"
#include "tracks/sound_track.h"

namespace vts {

bool RouteSoundMessage(const plat::Msg& msg, CSoundTrack* master, CSoundTrack* student) {
  if (msg.message == WM_SOUND_OUT) {
    WriteLog(LOG_WAVE_MANAGER, "WM_SOUND_OUT message");
    auto* descr = reinterpret_cast<CBufferDescr*>(msg.wParam);
    if (master != nullptr) master->OnBufferPlayed(&descr);
    if (descr != nullptr && student != nullptr) student->OnBufferPlayed(&descr);
    // Neither track took it: it would leak otherwise.
    if (descr != nullptr) ReleaseBufferDescr(descr);
    return true;
  }
  if (msg.message == WM_SOUND_IN) {
    auto* block = reinterpret_cast<CBufferDescr*>(msg.wParam);
    // The Master's own end marks (its transport stops capture too) tell only the Master
    // that its stops are through; the Student would ignore them.
    if (block == nullptr && master != nullptr &&
        static_cast<std::uint32_t>(msg.lParam) == master->EngineTag()) {
      master->OnCapturedBlock(nullptr, static_cast<std::uint32_t>(msg.lParam));
      return true;
    }
    if (student != nullptr) {
      student->OnCapturedBlock(block, static_cast<std::uint32_t>(msg.lParam));
    } else {
      ReleaseBufferDescr(block);
    }
    return true;
  }
  return false;
}

}  // namespace vts
