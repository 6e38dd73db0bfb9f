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
  static std::string& sourcePath(CSoundTrack& t) { return t.sourcePath; }
  static std::string& loadError(CSoundTrack& t) { return t.loadError; }
  // An open descriptor given here is closed by the track (Close, or when it goes).
  static int& sourceFile(CSoundTrack& t) { return t.sourceFile; }
  static std::uint32_t& dataBytes(CSoundTrack& t) { return t.dataBytes; }
  static std::uint32_t& dataOffset(CSoundTrack& t) { return t.dataOffset; }
  static std::uint32_t& audioModified(CSoundTrack& t) { return t.audioModified; }
  static bool& isPackage(CSoundTrack& t) { return t.isPackage; }
  static std::string& tempFolder(CSoundTrack& t) { return t.tempFolder; }
  static std::uint8_t* wavHeader(CSoundTrack& t) { return t.wavHeader; }
  static PcmFormat& format(CSoundTrack& t) { return t.format; }
};

}  // namespace vts
