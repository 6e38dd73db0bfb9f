// The default track operations: straight calls on CSoundTrack. The loading and saving
// members are reached only when the track has them (they are built apart from the track's
// transport); without them nothing is started and the caller reports it.
#include "tracks/track_ops.h"

#include "tracks/sound_track.h"

namespace vts {
namespace {

template <typename T>
bool StartLoadOn(T& track, const std::string& path) {
  if constexpr (requires(T & t) { t.StartLoad(path); }) {
    track.StartLoad(path);
    return true;
  } else {
    return false;
  }
}

template <typename T>
bool SaveAsyncOn(T& track, const std::string& path, bool keepOldVersion) {
  if constexpr (requires(T & t) { t.SaveAsync(path, keepOldVersion); }) {
    return track.SaveAsync(path, keepOldVersion);
  } else {
    return false;
  }
}

template <typename T>
bool WriteChunkListOn(T& track, const std::string& path) {
  if constexpr (requires(T & t) { t.WriteChunkList(path); }) {
    return track.WriteChunkList(path);
  } else {
    return false;
  }
}

template <typename T>
std::vector<std::uint8_t> BuildChunkTextsOn(T& track) {
  if constexpr (requires(T & t) { t.BuildChunkTexts(); }) {
    return track.BuildChunkTexts();
  } else {
    return {};
  }
}

template <typename T>
bool BuildPackageOn(T& track, const std::string& path) {
  if constexpr (requires(T & t) { t.BuildPackage(path); }) {
    return track.BuildPackage(path);
  } else {
    return false;
  }
}

template <typename T>
constexpr bool HasLoadSave() {
  return requires(T & t, const std::string& p) {
    t.StartLoad(p);
    t.SaveAsync(p);
  };
}

}  // namespace

void TrackOps::Play(CSoundTrack& track) { track.Play(); }
void TrackOps::StopPlayback(CSoundTrack& track) { track.StopPlayback(); }
void TrackOps::ToggleRecord(CSoundTrack& track) { track.ToggleRecord(); }
void TrackOps::TogglePause(CSoundTrack& track) { track.TogglePause(); }
void TrackOps::SelectChunk(CSoundTrack& track, int index) { track.SelectChunk(index); }
bool TrackOps::ContinueRecordingIn(CSoundTrack& track, int index) {
  return track.ContinueRecordingIn(index);
}

int TrackOps::AddChunk(CSoundTrack& track) {
  return track.AddChunk() ? track.ChunkCount() - 1 : -1;
}

void TrackOps::Close(CSoundTrack& track) { track.Close(); }
void TrackOps::FreeChunks(CSoundTrack& track) { track.FreeChunks(); }
void TrackOps::RedrawWaveform(CSoundTrack& track, std::uint32_t firstFrame,
                              std::uint32_t framesPerPixel) {
  track.RedrawWaveform(firstFrame, framesPerPixel);
}

bool TrackOps::StartLoad(CSoundTrack& track, const std::string& path) {
  return StartLoadOn(track, path);
}
bool TrackOps::SaveAsync(CSoundTrack& track, const std::string& path, bool keepOldVersion) {
  return SaveAsyncOn(track, path, keepOldVersion);
}
bool TrackOps::SaveTrack(CSoundTrack& track, const std::string& path) {
  return track.SaveTrack(path);
}
void TrackOps::WaitForSave(CSoundTrack& track) { track.WaitForSave(); }
bool TrackOps::SaveRunning(CSoundTrack& track) { return track.SavePending(); }
bool TrackOps::WriteChunkList(CSoundTrack& track, const std::string& path) {
  return WriteChunkListOn(track, path);
}
std::vector<std::uint8_t> TrackOps::BuildChunkTexts(CSoundTrack& track) {
  return BuildChunkTextsOn(track);
}
bool TrackOps::BuildPackage(CSoundTrack& track, const std::string& path) {
  return BuildPackageOn(track, path);
}
bool TrackOps::SplitCurrentChunk(CSoundTrack& track) { return track.SplitCurrentChunk(); }
bool TrackOps::MergeChunkWithNext(CSoundTrack& track, int index) {
  return track.MergeChunkWithNext(index);
}
bool TrackOps::SetWholeFileMode(CSoundTrack& track, bool on) { return track.SetWholeFileMode(on); }
bool TrackOps::DeleteSelection(CSoundTrack& track) { return track.DeleteSelection(); }
void TrackOps::ClearCurrentChunk(CSoundTrack& track) { track.ClearCurrentChunk(); }
void TrackOps::StopAll(CSoundTrack& track) { track.StopAll(); }
bool TrackOps::SetChunkText(CSoundTrack& track, const std::u16string& text) {
  return track.SetChunkText(text);
}
bool TrackOps::CanLoadAndSave() const { return HasLoadSave<CSoundTrack>(); }

}  // namespace vts
