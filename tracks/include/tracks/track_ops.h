// The track operations the recorder window's transport, file and exit handlers call, in one
// overridable place: the default forwards to CSoundTrack; tests wrap it to see the calls.
// UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vts {

class CSoundTrack;

class TrackOps {
 public:
  virtual ~TrackOps() = default;

  virtual void Play(CSoundTrack& track);
  virtual void StopPlayback(CSoundTrack& track);
  virtual void ToggleRecord(CSoundTrack& track);
  virtual void TogglePause(CSoundTrack& track);
  virtual void SelectChunk(CSoundTrack& track, int index);
  // A running recording goes on in chunk `index` (CSoundTrack::ContinueRecordingIn).
  virtual bool ContinueRecordingIn(CSoundTrack& track, int index);
  // Appends an empty chunk; its index, or -1 when none could be made.
  virtual int AddChunk(CSoundTrack& track);
  virtual void Close(CSoundTrack& track);
  virtual void FreeChunks(CSoundTrack& track);
  virtual void RedrawWaveform(CSoundTrack& track, std::uint32_t firstFrame,
                              std::uint32_t framesPerPixel);

  // Loading and saving on the track's own threads. False when nothing was started (the
  // caller then re-enables itself); the track's thread posts its notice otherwise.
  // `keepOldVersion`: see CSoundTrack::SaveTrack.
  virtual bool StartLoad(CSoundTrack& track, const std::string& path);
  virtual bool SaveAsync(CSoundTrack& track, const std::string& path, bool keepOldVersion);
  // Saves on the calling thread; true when the file was written.
  virtual bool SaveTrack(CSoundTrack& track, const std::string& path);
  // Waits until a save of the track that is running has ended.
  virtual void WaitForSave(CSoundTrack& track);
  // A save was started and its end has not been collected yet (its notice is still due).
  virtual bool SaveRunning(CSoundTrack& track);
  // The side files beside the media.
  virtual bool WriteChunkList(CSoundTrack& track, const std::string& path);
  virtual std::vector<std::uint8_t> BuildChunkTexts(CSoundTrack& track);
  virtual bool BuildPackage(CSoundTrack& track, const std::string& path);
  // Chunk editing (the editing commands).
  virtual bool SplitCurrentChunk(CSoundTrack& track);
  virtual bool MergeChunkWithNext(CSoundTrack& track, int index);
  virtual bool SetWholeFileMode(CSoundTrack& track, bool on);
  virtual bool DeleteSelection(CSoundTrack& track);
  virtual void ClearCurrentChunk(CSoundTrack& track);
  virtual void StopAll(CSoundTrack& track);
  virtual bool SetChunkText(CSoundTrack& track, const std::u16string& text);

  // Whether this build's tracks can load and save files at all.
  virtual bool CanLoadAndSave() const;
};

}  // namespace vts
