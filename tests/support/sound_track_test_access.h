// Test-only access to CSoundTrack's private state, for the doubles that stand in for the
// transport and for arranging what the public operations cannot reach directly (its one
// friend in the tests).
#pragma once

#include <mutex>

#include "tracks/sound_track.h"

namespace vts {

struct CSoundTrackTestAccess {
  // The transport flags as a double of the track operations moves them.
  static void SetRecording(CSoundTrack& t, bool on) { t.recording = on; }
  static void SetPlaying(CSoundTrack& t, bool on) { t.playing = on; }
  static void SetPaused(CSoundTrack& t, bool on) { t.paused = on; }
  // Unsaved work without making any.
  static void SetModified(CSoundTrack& t, bool on) { t.modified = on; }
  // The outcome of a save that a double stands for.
  static void SetLastSaveOk(CSoundTrack& t, bool ok) { t.lastSaveOk = ok; }
  // Changes the waveform view state under bufferLock, as the track and its strip do:
  //   CSoundTrackTestAccess::EditView(track, [](WaveformViewState& v) { v.cursorFrame = 5; });
  template <typename Change>
  static void EditView(CSoundTrack& track, Change change) {
    std::lock_guard lock(track.bufferLock);
    change(track.viewState);
  }
};

}  // namespace vts
