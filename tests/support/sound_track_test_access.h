// Test-only access to CSoundTrack's private state, for arranging what the public operations
// cannot reach directly (its one friend in the tests).
#pragma once

#include <mutex>

#include "tracks/sound_track.h"

namespace vts {

struct CSoundTrackTestAccess {
  // Changes the waveform view state under bufferLock, as the track and its strip do:
  //   CSoundTrackTestAccess::EditView(track, [](WaveformViewState& v) { v.cursorFrame = 5; });
  template <typename Change>
  static void EditView(CSoundTrack& track, Change change) {
    std::lock_guard lock(track.bufferLock);
    change(track.viewState);
  }
};

}  // namespace vts
