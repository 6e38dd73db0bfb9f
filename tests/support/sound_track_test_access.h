// Test-only access to CSoundTrack's private state (its one friend in the tests), for the
// doubles that stand in for the transport and for tests that arrange what the public
// operations cannot reach (a chunk list built by hand, a source file opened without a load).
// Same threading rules as the track's own code.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
  // The chunk lists as they stand (hold bufferLock where another thread may use them).
  static std::vector<std::unique_ptr<CChunkInfo>>& Chunks(CSoundTrack& t) { return t.chunks; }
  static std::vector<std::unique_ptr<CChunkInfo>>& KeptChunks(CSoundTrack& t) {
    return t.keptChunks;
  }
  // A chunk made current without a switch (nothing saved, loaded or drawn).
  static void SetCurrentChunk(CSoundTrack& t, int index) { t.currentChunk = index; }
  // The source-file state as a load would leave it. A descriptor given to SetSourceFile is
  // the track's from then on (Close closes it).
  static void SetSourcePath(CSoundTrack& t, const std::string& path) { t.sourcePath = path; }
  static void SetLoadError(CSoundTrack& t, const std::string& why) { t.loadError = why; }
  static void SetSourceFile(CSoundTrack& t, int fd) { t.sourceFile = fd; }
  // How the next loads open the source WAV.
  static void SetSourceOpener(CSoundTrack& t,
                              plat::UniqueFd (*open)(const std::string&, unsigned, unsigned)) {
    t.openSourceFile = open;
  }
  static void SetDataBytes(CSoundTrack& t, std::uint32_t bytes) { t.dataBytes = bytes; }
  static void SetDataOffset(CSoundTrack& t, std::uint32_t offset) { t.dataOffset = offset; }
  static void SetAudioModified(CSoundTrack& t, std::uint32_t on) { t.audioModified = on; }
  static void SetIsPackage(CSoundTrack& t, bool on) { t.isPackage = on; }
  static void SetIsMp3(CSoundTrack& t, bool on) { t.isMp3 = on; }
  static void SetTempFolder(CSoundTrack& t, const std::string& folder) { t.tempFolder = folder; }
  static std::uint8_t* WavHeader(CSoundTrack& t) { return t.wavHeader; }
  static void SetFormat(CSoundTrack& t, const PcmFormat& format) { t.format = format; }
};

}  // namespace vts
