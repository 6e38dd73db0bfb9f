// The track's private state for tests that must arrange what the public operations cannot
// reach (a chunk list built by hand, a chunk made current without a switch). Same threading
// rules as the track's own code.
#pragma once

#include "tracks/sound_track.h"

namespace vts {

struct CSoundTrackTestAccess {
  static std::vector<std::unique_ptr<CChunkInfo>>& chunks(CSoundTrack& t) { return t.chunks; }
  static std::vector<std::unique_ptr<CChunkInfo>>& keptChunks(CSoundTrack& t) {
    return t.keptChunks;
  }
  static std::atomic<std::int32_t>& currentChunk(CSoundTrack& t) { return t.currentChunk; }
};

}  // namespace vts
