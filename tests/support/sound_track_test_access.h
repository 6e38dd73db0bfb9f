// Test-only access to a track's private state, for the doubles that stand in for the
// transport and for tests that arrange a state the public operations cannot reach.
#pragma once

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
};

}  // namespace vts
