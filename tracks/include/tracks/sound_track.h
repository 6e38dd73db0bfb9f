// One track of the recorder (Master or Student): its chunk list with only the current chunk
// in memory (and chunks whose file could not be written), a private folder of temporary chunk
// files, its own sound engine, the recording path (capture, mixing, conversion to 16-bit mono,
// automatic gain) and the playback path (a chunk cut into one-period buffers, two kept queued).
//
// Threading:
// - The UI thread calls the transport (ToggleRecord, TogglePause, Play, StopPlayback,
//   StopAll), the chunk operations and the waveform operations, and sets the devices and
//   record sources (with the track stopped). The core thread also switches chunks for
//   received audio (SelectChunk, which stops the transport); a load or save thread runs its
//   own stops (the window is disabled meanwhile).
// - The core thread (the engine's owner thread) calls OnBufferPlayed and OnCapturedBlock,
//   one at a time.
// - What other threads read is atomic (the transport flags, IsModified, the record sources,
//   the counters, the play generation), fixed at construction (the identity), or copied
//   under bufferLock (the devices).
// - `bufferLock` (BufferLock()) guards the chunk array's memory and the loaded PCM while it
//   is read or changed across threads: cutting play buffers, appending recorded blocks,
//   drawing the waveform, deleting chunks; also the device ids, and the engine while a load
//   replaces it. Hooks (IWaveformDrawer) may be called with it held. Other code that reads a
//   chunk's length or data while a recording or playback runs holds it, and only around
//   state: the sound server is called after it is left. A stop of the playback ends the
//   run under it and stops the stream under `playbackLock`, so a buffer coming back
//   meanwhile neither ends the playback nor queues a successor into the stopped stream.
// - The waveform view state (zoom, view, cursor, selection, play position, position bar) is
//   one object, changed only under `bufferLock`, by the track and by the strip that shows it
//   (CTrackWaveform hands it the object). Other threads read it through ViewSnapshot; the
//   play position alone also through PlayFrame, without the lock.
// - A chunk switch, a save or a free after a recording first calls WaitForRecordingEnd, so
//   the recording's last blocks are in its chunk (SelectChunk and FreeChunks do).
// - The chunk list and the source file's state are private; where each is declared says
//   which threads write it.
// - Notifications are posted, never sent: a track never waits for the dialog. Their target
//   is set from any thread through SetNotifyTarget (its own lock, held while posting).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/buffer_descr.h"
#include "audio/endpoint.h"  // [endpoint volume]
#include "audio/sound_works_was.h"
#include "platform/fd.h"
#include "platform/file_io.h"
#include "platform/thread_queue.h"
#include "tracks/chunk_info.h"
#include "tracks/notify.h"
#include "tracks/record_math.h"
#include "tracks/waveform_view_state.h"

namespace vts {

class CSoundTrack;

// What a waveform redraw hands to the drawing: the current chunk's samples and the columns
// to draw. Valid only during the call.
struct WaveformView {
  bool hasChunk = false;                  // false: no current chunk (background and line only)
  std::uint32_t firstFrame = 0;           // as asked of RedrawWaveform
  std::uint32_t lengthFrames = 0;         // the chunk's length
  const std::int16_t* samples = nullptr;  // the current chunk's PCM (interleaved), or null
  std::uint32_t frames = 0;               // whole frames at `samples` (the loaded part)
  std::size_t sampleCount = 0;            // 16-bit values readable at `samples`
  std::uint32_t channels = 0;
  std::uint32_t firstColumn = 0;  // column of the chunk drawn at x = 0
  std::uint32_t columns = 0;      // columns to draw (0: background and centre line only)
  std::uint32_t framesPerPixel = 0;
  std::uint32_t bitmapWidth = 0;
  std::uint32_t bitmapHeight = 0;
  // Since the last draw the view only scrolled on or the chunk only grew at its end
  // (playing, recording): the drawing may keep the columns it measured.
  bool follows = false;
};

// The waveform window's drawing, built with the window. Called from the UI thread or the
// core thread; DrawWaveform runs with the track's bufferLock held and must only draw into
// the track's images (no waiting on the UI thread); the other calls only schedule work.
class IWaveformDrawer {
 public:
  virtual ~IWaveformDrawer() = default;
  // Fill the bitmap from the background, draw the centre line and `view.columns` columns.
  virtual void DrawWaveform(CSoundTrack& track, const WaveformView& view) = 0;
  // Compose the selection and play line over the bitmap and show it (PaintWaveform(none)).
  virtual void RepaintWaveform(CSoundTrack& track) = 0;
};

// The body of the WAVE "fmt " chunk.
struct PcmFormat {
  std::uint16_t formatTag = 0;
  std::uint16_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t avgBytesPerSec = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
};

class CSoundTrack {
 public:
  // Record sources (recordSources bits).
  static constexpr std::uint32_t kRecordInput = 1;     // the capture (microphone) device
  static constexpr std::uint32_t kRecordLoopback = 2;  // loopback of the output device
  static constexpr std::uint32_t kSourceTagInput = 1;
  static constexpr std::uint32_t kSourceTagOutput = 3;
  static constexpr std::uint32_t kEnginePeriodMs = 40;
  static constexpr std::uint32_t kPeriodFrames = 44100 * kEnginePeriodMs / 1000;
  // How long a chunk switch, a save or a free waits for a stopped recording's last blocks.
  static constexpr std::chrono::milliseconds kRecordingEndWait{3000};

  // `trackIndex`: 0 Master, 1 Student. The owner thread delivers the engine's messages.
  CSoundTrack(plat::ThreadId ownerThreadId, const std::string& name, EngineStateBlock* stateBlock,
              std::int32_t trackIndex = 0);
  ~CSoundTrack();
  CSoundTrack(const CSoundTrack&) = delete;
  CSoundTrack& operator=(const CSoundTrack&) = delete;

  // --- temporary folder and chunks ---
  // Makes "<temp>/Voxtrailstudy/TempSnd/<name>/" (private to the user) the track's folder.
  void GetTempSoundFolder(const std::string& name);
  void ClearTempSoundFolder();
  // A new empty chunk with a fresh temporary file, appended. When the folder takes no file
  // now (a full disk, read-only, deleted), the chunk gets a name no chunk uses, keeps its
  // sound in memory and is written when the folder takes files again (logged). Null (and
  // logged) only for a track without a usable folder.
  CChunkInfo* AddChunk();
  // Loads the chunk's sound (from the source file or its temporary file). A file that cannot
  // be read is told in a box nobody waits for (the caller may hold bufferLock); false then.
  bool LoadChunk(int index);
  // Writes the chunk's loaded PCM to its temporary file; a chunk read from the source file
  // needs none. False for a bad index, a file that cannot be created or a short write (the
  // chunk stays loaded then).
  bool SaveChunk(int index);
  void FreeChunks();
  void Close();
  // Makes `index` current: stops the transport, saves and unloads the old current chunk and
  // loads the new one. When the old chunk cannot be saved it stays loaded (its sound exists
  // nowhere else) and the user is told once; a save writes it from memory. The current
  // chunk selected again keeps its sound in memory (written to its file) and reads nothing.
  // Posts code 0.
  // Defined in chunk_editing.cpp.
  void SelectChunk(int index);
  // Reads the chunk's frames from the source file (tracks loaded from a file); frames past
  // the source's "data" chunk are not read. Defined in chunk_editing.cpp.
  void ReadSourceData(std::uint32_t startFrame, std::uint32_t frames, CChunkInfo* chunk);
  // Redraws the current chunk from `firstFrame` at `framesPerPixel` (0: 64).
  void RedrawWaveform(std::uint32_t firstFrame, std::uint32_t framesPerPixel);
  // The same for the play and record paths: the view only scrolled on or the chunk only grew
  // at its end since the last redraw.
  void FollowWaveform(std::uint32_t firstFrame, std::uint32_t framesPerPixel);
  // Empties the current chunk (it stays in the list, with no sound), puts the play position
  // and the bar back at 0 and posts the state code. A stopped recording's blocks still on
  // their way are dropped, not written into the emptied chunk. The caller stops the
  // transport first and redraws. UI thread.
  void ClearCurrentChunk();

  // The chunk at `index`, or null; and the number of chunks. Any thread: they read the list
  // under bufferLock. A chunk stays valid while the list does not change, so a thread other
  // than the ones changing it (see the list's declaration) holds bufferLock while it uses one.
  CChunkInfo* Chunk(int index);
  CChunkInfo* CurrentChunk() { return Chunk(currentChunk); }
  int ChunkCount() const;
  // The current chunk's index, -1 when none. Any thread.
  int CurrentChunkIndex() const { return currentChunk; }
  // With no current chunk, makes chunk `index` current as it stands: nothing is saved,
  // loaded or drawn (a chunk just added). False, and nothing changes, when a chunk is
  // current already or `index` is not in the list. UI thread.
  bool AdoptAsCurrentChunk(int index);
  // The whole-file view shows the source as one chunk; the real list (KeptChunkCount
  // chunks) waits behind it. UI thread.
  bool WholeFileMode() const { return wholeFileMode; }
  int KeptChunkCount() const;
  // The chunks the last save or chunk list covered. Read after the save.
  int ChunksToSave() const { return chunksToSave; }
  // A recording replaces the current chunk's sound in place of appending to it (the
  // Student's, while the Master has chunks). UI thread.
  bool ReplaceOnRecord() const { return replaceOnRecord; }
  void SetReplaceOnRecord(bool on) { replaceOnRecord = on; }
  const std::string& TempFolderPath() const { return tempFolder; }

  // --- recording --- ToggleRecord and TogglePause: the UI thread (a load or save thread,
  // or the core thread's chunk switch, through the stops they run).
  void ToggleRecord();
  void TogglePause();
  // A recording that runs unpaused goes on in chunk `index` without its capture streams
  // stopping: what was captured before lands in the chunk left, what follows in `index`
  // (emptied first when replaceOnRecord is set), so nothing captured is lost at the step.
  // The owner thread makes the step in line with the engine's blocks (WM_RECORDING_MOVES);
  // this waits (bounded) until it is made. False, with nothing asked, when no recording
  // runs into the current chunk or `index` is no chunk: the caller then switches and starts
  // again as before. The UI thread.
  bool ContinueRecordingIn(int index);
  // The owner thread's WM_RECORDING_MOVES.
  void OnRecordingMoves(int index, std::uint32_t engineTag);
  // The core thread's WM_SOUND_IN: a captured block (owned from now on) or null, the end
  // mark of a stopped capture stream. `engineTag` is the message's lParam (the engine that
  // posted it; 0 when unknown): only this track's own end marks end its recording.
  void OnCapturedBlock(CBufferDescr* block, std::uint32_t engineTag = 0);
  // The core thread's WM_SOUND_LOST: a stream of the engine `engineTag` ended because its
  // device went. When that is this track's engine and the recording (capture) or playback
  // (render) it served still runs, the window is told with code 11 or 12; it stops the
  // transport as its Stop does, so the chunk keeps what was captured.
  void OnDeviceLost(DataFlow flow, std::uint32_t engineTag);
  // The sound log's words for the last start of a recording or playback whose stream the
  // engine could not open, or that had no device to ask for (none was there at start-up);
  // code 13 told of it. Empty before any. The transport stays as it was set: the window
  // stops it as for a lost device. A Record whose start failed (also when one of two
  // sources did start) keeps nothing: its chunk has the take it had before. Any thread.
  std::string StartFailure() const;
  // The core thread's steps of OnCapturedBlock.
  // Mixes what may go out now (everything at an end mark) into mixedBlock; its frames.
  std::uint32_t MixPendingBlocks(bool end = false);
  // Converts `frames` mixed float samples into the recording's chunk, with the gain.
  void AppendRecorded(const float* mixed, std::uint32_t frames);
  // Waits (bounded) until a stopped recording's last blocks have been appended. Returns
  // false on time-out. Does not wait on the owner thread (it delivers them). Any thread.
  bool WaitForRecordingEnd(std::chrono::milliseconds limit = kRecordingEndWait);

  // --- playback --- Play: the UI thread. StopPlayback and StopAll: the UI thread, and the
  // threads that stop a track as above; both take bufferLock.
  void Play();
  void StopPlayback();
  void StopAll();
  // The core thread's WM_SOUND_OUT: consumes *slot (sets it to null) when it is ours.
  void OnBufferPlayed(CBufferDescr** slot);
  // The next one-period buffer of `chunk`, under bufferLock; Play and OnBufferPlayed.
  CBufferDescr* MakePlayBuffer(CChunkInfo* chunk);

  // Replaces the engine by a new one in the given format (construction, loading), under
  // bufferLock.
  void CreateEngine(std::uint32_t channels, std::uint32_t samplesPerSec);
  // The track's engine. The UI thread while no load runs (a load replaces it on the load
  // thread; the window is disabled meanwhile), other threads with BufferLock() held.
  CSoundWorksWAS* Engine() { return engine.get(); }
  // The tag of the current engine (the lParam of its WM_SOUND_IN); safe on any thread.
  std::uint32_t EngineTag() const { return engineTag; }
  // The playback generation: it moves on at every Play, every stop of a playing track and
  // every end of a playback, so buffers and notices of an earlier one can be told apart.
  // Any thread.
  std::uint32_t PlayGeneration() const { return playGeneration; }
  void BeginPlayGeneration() { ++playGeneration; }
  // The transport's state; any thread (a snapshot: the transport may move on at once).
  // Set by the transport calls and, at an end of playback, by the core thread.
  bool IsRecording() const { return recording; }
  bool IsPlaying() const { return playing; }
  bool IsPaused() const { return paused; }
  // Unsaved work: set by recording and editing, cleared by a load or a successful save
  // (on their threads). Any thread.
  bool IsModified() const { return modified; }

  // Identity, fixed at construction; any thread.
  std::int32_t TrackIndex() const { return trackIndex; }  // 0 Master, 1 Student
  // Stamped into every playback buffer; unique per track.
  std::uint32_t OwnerId() const { return ownerId; }
  plat::ThreadId OwnerThreadId() const { return ownerThreadId; }
  EngineStateBlock* StateBlock() const { return stateBlock; }
  // Recorded blocks that could not be kept (no chunk to take them, no memory). Any thread.
  std::uint64_t DroppedBlocks() const { return droppedBlocks; }

  // Sound devices. The window sets them on the UI thread with the track stopped: a stop
  // stops the captures on the devices set then.
  // What a recording takes its sound from (kRecordInput | kRecordLoopback); any thread
  // reads it, a change counts from the next start of a recording.
  std::uint32_t RecordSources() const { return recordSources; }
  void SetRecordSources(std::uint32_t sources) { recordSources = sources; }
  // The endpoint ids (empty: none); the output device is also the loopback source. Copies,
  // taken under bufferLock: a chunk switch on the core thread (received audio) stops
  // captures on them. Any thread.
  std::u16string OutputDevice() const;
  std::u16string InputDevice() const;
  // UI thread. The volume control opened on the old device is released.
  void SetOutputDevice(const std::u16string& id);
  void SetInputDevice(const std::u16string& id);

  // ---- [load/save] loading and saving (tracks/track_loading.cpp, tracks/track_saving.cpp).
  // LoadTrack and SaveTrack run on one-shot threads (or, SaveTrack, synchronously on the UI
  // thread); the dialog keeps the transport stopped meanwhile.
  struct LoadRequest {
    CSoundTrack* track = nullptr;
    std::string path;
    std::uint32_t word = 1;
    bool keepOldVersion = false;  // a save's: see SaveTrack
  };
  using SaveRequest = LoadRequest;
  // Runs LoadTrack, frees the request, posts TRACK_NOTIFY_LOADED whatever the outcome.
  static void LoadThreadProc(LoadRequest* request);
  // Waits for the previous load thread and starts LoadThreadProc on the track's load thread.
  void StartLoad(const std::string& path);
  // The track owns its load and save threads and joins them (at the latest when it goes).
  // UI thread. Waiting collects a thread that has ended; the notice of a load or save is
  // its thread's last act, so waiting on it there returns at once.
  void WaitForLoad();
  void WaitForSave();
  // A load or save thread was started and has not been waited for.
  bool LoadPending() const { return loadThread.joinable(); }
  bool SavePending() const { return saveThread.joinable(); }
  // Loads a WAV (16-bit PCM, 1 or 2 channels), an MP3 or a ".vxb" package as the track's
  // source, with its chunk list and texts. No message box; false leaves the track closed and
  // without chunks.
  bool LoadTrack(const std::string& path);
  // Side files: replace the chunk list by a ".cif" (false: the list is left empty), by one
  // chunk covering the source, or set the texts from a ".txt".
  bool ReadChunkList(const std::string& path);
  bool MakeSingleChunk();
  bool ReadChunkTexts(const std::string& path);
  // Sets the current chunk's text (the text edits call it on every change); without a current
  // chunk one is added and made current first. Marks the track modified. False only when no
  // chunk could be added.
  bool SetChunkText(const std::u16string& text);
  // The source file as the last load left it. The load thread sets these before it posts
  // TRACK_NOTIFY_LOADED: read them on the UI thread after that notice (or on the thread that
  // ran LoadTrack). Erasing changes DataBytes and AudioModified on the UI thread.
  const std::string& SourcePath() const { return sourcePath; }  // empty when none
  // Why the last load failed, in plain words; empty after a successful one.
  const std::string& LoadError() const { return loadError; }
  // The source WAV is open (for reading and writing: erasing cuts it in place).
  bool HasSourceFile() const { return sourceFile >= 0; }
  // The source's sound: DataBytes bytes from byte DataOffset of the source file.
  std::uint32_t DataBytes() const { return dataBytes; }
  std::uint32_t DataOffset() const { return dataOffset; }
  // Nonzero once sound was cut out of the source file; a load or a save clears it.
  std::uint32_t AudioModified() const { return audioModified; }
  bool IsMp3() const { return isMp3; }          // an MP3, or a package (which holds one)
  bool IsPackage() const { return isPackage; }  // a ".vxb" package
  // The sound's format: the source's after a load, 16-bit mono 44100 Hz for a new track,
  // all zero after Close. Changes only while the transport is stopped; any thread reads it.
  const PcmFormat& Format() const { return format; }
  // The chunks have texts worth saving beside the sound (a ".txt" was loaded or a text was
  // typed). UI thread, or the thread that loads or saves.
  bool TextsPresent() const { return textsPresent; }
  void SetTextsPresent(bool present) { textsPresent = present; }

  // Calls windowDisabledWhileSaving(false), starts SaveThreadProc on the save thread.
  // UI thread.
  bool SaveAsync(const std::string& path, bool keepOldVersion = false);
  // Runs SaveTrack, frees the request, posts TRACK_NOTIFY_SAVED whatever the outcome.
  static void SaveThreadProc(SaveRequest* request);
  // The outcome of the last SaveThreadProc, set before its TRACK_NOTIFY_SAVED is posted.
  // Any thread.
  bool LastSaveOk() const { return lastSaveOk; }
  // Saves as WAV, MP3 (".mp3") or package (".vxb"). Every file is written beside its target
  // and renamed over it only when complete; on failure the old file stays, a message box
  // tells why and `modified` stays set. `keepOldVersion`: a file the sound replaces keeps
  // its content under its " - Old" name (OldVersionPath), given to it only once the new
  // file is complete, so a complete file stands under the target's name at every moment.
  // Temporary files that an ended save left in the target's folder are removed first.
  bool SaveTrack(const std::string& path, bool keepOldVersion = false);
  bool SaveWav(const std::string& path);
  // A copy of chunk `index`'s sound for a save (its whole frames, no more than its length),
  // taken under bufferLock from memory, the temporary file or the source file, as one
  // moment of the chunk: the core thread may switch, unload or replace it meanwhile. False
  // when the sound of a chunk with frames cannot be had. The saving thread.
  bool CopyChunkSound(int index, std::vector<std::uint8_t>& pcm);
  // `error`: 0 none, 1 bad channel count, 2 encoder initialisation, 3 destination cannot be
  // written, 4 the encoder failed on the sound.
  bool EncodeMp3(const std::string& path, int* error);
  static constexpr int kMp3ErrorEncodeFailed = 4;
  // The ".cif" body of the first chunksToSave chunks (all when 0); empty sets chunksToSave 0.
  std::vector<std::uint8_t> BuildChunkList();
  // Writes the chunk list (all chunks) to `path`; nothing to write still succeeds.
  bool WriteChunkList(const std::string& path);
  // The ".txt" body of every chunk's text.
  std::vector<std::uint8_t> BuildChunkTexts();
  // Packs the temporary folder into a package at `path` (bookmark save of a package).
  bool BuildPackage(const std::string& path);
  // Called with false when an asynchronous save starts; the dialog enables itself again on
  // TRACK_NOTIFY_SAVED. May stay empty. UI thread; SaveAsync calls it there.
  void SetWindowDisabledWhileSaving(std::function<void(bool enabled)> hook) {
    windowDisabledWhileSaving = std::move(hook);
  }
  // ---- [load/save] end

  // Where the track's notices go. Any thread. When SetNotifyTarget returns, no notice is
  // being posted to the old target any more, so its window may go.
  void SetNotifyTarget(const NotifyTarget& target);
  NotifyTarget GetNotifyTarget() const;

  // Posts TRACK_NOTIFY_POSITION (the waveform window's clicks and seeks).
  void NotifyPosition() { Notify(TRACK_NOTIFY_POSITION); }
  // Waveform drawing (set by the window before use; may stay null). Under bufferLock or
  // while no other thread draws (construction of the window).
  void SetWaveformDrawer(IWaveformDrawer* drawer);
  IWaveformDrawer* WaveformDrawer() const;

  // --- the waveform view state (see the Threading block) ---
  // A copy of the whole state, taken under bufferLock. Any thread.
  WaveformViewState ViewSnapshot() const;
  // The play or record position in frames within the current chunk. Any thread, without
  // the lock: the core thread moves it every period and the dialog's counters poll it.
  std::uint32_t PlayFrame() const { return viewState.playFrame.load(); }
  // Single fields, each read under bufferLock. Any thread.
  std::uint32_t FramesPerPixel() const;
  std::uint32_t CursorFrame() const;
  // Puts the cursor at `frame` (kept inside the current chunk) with the position bar, and
  // repaints; a remote control's seek. UI thread.
  void PlaceCursor(std::uint32_t frame);
  // Play position and position bar back to the start (the current chunk was emptied).
  void RewindPlayPosition();

  // The documented lock over the chunks' memory and the loaded sound (see Threading above).
  // Any thread; recursive.
  std::recursive_mutex& BufferLock() const { return bufferLock; }

  // --- public state read and written by the dialog, the core and the other track parts ---

  // ---- [chunk editing] bookmarks, merging, whole-file mode, erase, received audio
  // (tracks/chunk_editing.cpp). UI thread, except WriteSamplesAt (core thread).
  // Inserts a bookmark at the cursor. False (nothing changes) in whole-file mode, with the
  // cursor at 0, or when the chunk's sound does not come from the source file.
  bool SplitCurrentChunk();
  // Splits chunk `index` at `frame`; false when nothing was split (see SplitCurrentChunk).
  bool SplitChunk(int index, std::uint32_t frame);
  // Removes the bookmark after chunk `index`; false when nothing was merged (bad index, the
  // last chunk, or chunks whose sound does not come from the source file).
  bool MergeChunkWithNext(int index);
  // Shows the whole source as one chunk (on) or brings the real list back (off). False when
  // the mode is already so, (on) when the track has no source file, or when the current
  // chunk's own sound cannot be written to its file.
  bool SetWholeFileMode(bool on);
  // Cuts the selection out of the source WAV file in place. False when nothing was cut.
  bool DeleteSelection();
  // Received audio into the current chunk at `firstFrame` (0 starts it afresh). The chunk's
  // sound is its own from then on (a chunk read from the source file gets a temporary file).
  // False (the block dropped) for no current chunk, a block of no whole frames, one that
  // would pass kMaxReceivedBytes, one that does not fit in memory, or no file to keep it in.
  bool WriteSamplesAt(std::uint32_t firstFrame, std::uint32_t byteCount,
                      const std::uint8_t* samples);
  static constexpr std::uint64_t kMaxReceivedBytes = 1ull << 30;  // about 3 h of mono 44.1 kHz
  // Left button down (click) or up in the waveform at column x; the cursor stays in the chunk.
  void OnWaveformMouse(bool down, int x);

  // Composes selection and play line over the drawn strip and asks the window to repaint.
  void PaintWaveform() { Repaint(); }
  // ---- [chunk editing] end

  // ---- [endpoint volume] the endpoints' own volume and mute (tracks/endpoint_volume.cpp)
  // Opens the volume control of the endpoint `deviceId` (an output or capture endpoint id)
  // on the process's backend into *out, which is set to null first and stays null for an
  // empty or unknown id or an endpoint without one. Returns whether *out was opened.
  static bool GetEndpointVolume(const std::u16string& deviceId,
                                std::unique_ptr<audio::EndpointVolume>* out);
  // The volume control of the output or the input device, opened with GetEndpointVolume on
  // first use and kept until the device changes; null for a device without one. UI thread.
  audio::EndpointVolume* OutputVolume();
  audio::EndpointVolume* InputVolume();
  // ---- [endpoint volume] end

 private:
  friend class CTrackWaveform;  // hands viewState to the strip that shows it
  friend struct CSoundTrackTestAccess;

  void Notify(std::uint32_t code);
  void SetProgressRange(std::uint32_t range);
  void SetProgressPos(std::uint32_t pos);
  void Repaint();
  void DrawWaveformView(std::uint32_t firstFrame, std::uint32_t fpp, bool follows);
  // False when nothing was asked of the engine (no device).
  bool StartCaptureOn(const std::u16string& device, std::uint32_t tag);
  void StopCaptureOn(const std::u16string& device);
  // Starts a capture on each chosen source; the sound log's words of the first that could
  // not start (or of a missing device when no source has one), empty when all did.
  std::string StartChosenCaptures();
  // Keeps the words of a start that failed and posts code 13; nothing for empty words.
  void TellStartFailure(std::string text);
  // A start with no device to ask for: the sound log gets `text`, as the engine logs a
  // missing device, and the words are returned.
  static std::string NoDeviceChosen(const char* text);
  void StopChosenCaptures();
  void EndMarkArrived(std::uint32_t engineTag);
  // The step of ContinueRecordingIn, on the owner thread.
  void MoveRecordingTo(int index);
  // What a starting recording changes in its chunk and view, kept until its capture streams
  // are known to have started. A replaced take's sound is moved here, not copied; it is
  // freed with this when the recording did start.
  struct RecordStartUndo {
    CChunkInfo* chunk = nullptr;
    CChunkInfo replacedSound;  // the replaced take's PCM (none when appending)
    bool replaced = false;
    std::uint32_t start = 0, length = 0, dataSize = 0, playOffset = 0;
    std::uint32_t framesPerPixel = 0, viewStartFrame = 0, playFrame = 0;
    ProgressRange progress;
  };
  bool PrepareRecordTarget(RecordStartUndo& undo);
  // A start that failed: the recording keeps nothing of the streams that did start, and the
  // chunk and the view are put back as they were before it.
  void UndoRecordStart(RecordStartUndo& undo);
  std::uint32_t BlockAlign() const { return format.blockAlign ? format.blockAlign : 1; }

  std::thread loadThread, saveThread;  // UI thread only; joined, never detached

  // The waveform's view state and its drawing; guarded by bufferLock (see the Threading
  // block; playFrame may also be read without it).
  WaveformViewState viewState;
  IWaveformDrawer* waveformDrawer = nullptr;

  mutable std::mutex notifyMutex;  // held while a notice is posted (posting never blocks)
  NotifyTarget notifyTarget;       // guarded by notifyMutex
  std::string startFailure;        // guarded by notifyMutex

  // The captured sound waiting to be mixed, by capture stream; core thread only. A stream
  // is waited for at most four periods; what goes out is at least one period.
  CapturePairing pendingBlocks{4 * kPeriodFrames, kPeriodFrames};
  std::vector<float> mixedBlock;  // the last mix taken from it, kept for its capacity

  // The chunk a recording writes into: fixed when it starts, kept until its end marks are
  // in, so late blocks never land in a chunk made current later. Guarded by bufferLock.
  CChunkInfo* recordTarget = nullptr;
  // The last recording's start failed and was undone: its stop leaves the view as it is,
  // and its blocks are let go without counting as dropped. Guarded by bufferLock.
  bool recordStartUndone = false;
  std::mutex endMarkMutex;
  std::condition_variable endMarkCv;
  int expectedEndMarks = 0;  // capture stops whose end mark has not arrived yet
  // Steps of a running recording to another chunk asked for and made (endMarkMutex).
  std::uint64_t movesAsked = 0, movesMade = 0;

  // Playback generation: buffers of an earlier Play (or of a stopped one) that come back
  // late are released without moving the position. Stored in the descriptor's reserved1.
  std::atomic<std::uint32_t> playGeneration{1};
  std::atomic<std::uint32_t> engineTag{0};

  // ---- transport state: atomics, read on any thread.
  std::atomic<bool> recording{false};
  std::atomic<bool> playing{false};
  std::atomic<bool> paused{false};
  std::atomic<bool> modified{false};

  // ---- identity: set by the constructor, never changed.
  EngineStateBlock* const stateBlock;
  const plat::ThreadId ownerThreadId;
  const std::uint32_t ownerId;
  const std::int32_t trackIndex;
  std::atomic<std::uint64_t> droppedBlocks{0};  // core thread counts, any thread reads

  mutable std::recursive_mutex bufferLock;
  // Orders this track's calls into the engine's playback (stop, start, queueing) while
  // bufferLock is held only around state: a buffer coming back meanwhile queues its
  // successor after the ones being queued, never into a stream being stopped. Taken before
  // bufferLock; a wait on the sound server happens under it, never under bufferLock.
  std::recursive_mutex playbackLock;
  std::unique_ptr<CSoundWorksWAS> engine;  // replaced under bufferLock
  // The capture streams whose blocks are mixed together: those the recording started, also
  // while their blocks are still handled after the stop (the engine then has none). Set
  // where the captures start, lowered when a device of the recording goes.
  std::atomic<std::uint32_t> pairedStreams{1};

  // ---- sound devices
  std::atomic<std::uint32_t> recordSources{kRecordInput};
  std::u16string outputDevice;  // guarded by bufferLock
  std::u16string inputDevice;
  std::unique_ptr<audio::EndpointVolume> outputVolume;  // UI thread only
  std::unique_ptr<audio::EndpointVolume> inputVolume;

  // ---- saving
  std::atomic<bool> lastSaveOk{false};  // written by the save thread before its notice
  std::function<void(bool enabled)> windowDisabledWhileSaving;  // UI thread only

  // ---- [chunk editing] helpers (tracks/chunk_editing.cpp)
  bool SoundFromSource(const CChunkInfo* chunk) const;
  bool MakeWholeFileChunk();
  // A name for a new chunk's temporary file (see AddChunk); empty without a usable folder.
  std::string NewChunkFileName();
  // Tells the user, once until a chunk file is written again, that a chunk's sound is kept
  // in memory only. Any thread; the box is not waited for.
  void TellSoundKeptInMemory();
  std::atomic<bool> keptInMemoryTold{false};
  // Takes the source frames [first, end) out of every chunk of both lists.
  void RemoveSourceFrames(std::uint64_t first, std::uint64_t end);
  // ---- [chunk editing] end

  // ---- the chunk list. The lists change under bufferLock: on the UI thread (chunk, editing
  // and recording operations), on the load thread (LoadTrack, while the dialog keeps the
  // transport stopped) and on the core thread (received classroom audio). A thread that
  // uses a chunk while another may change the list holds bufferLock.
  std::vector<std::unique_ptr<CChunkInfo>> chunks;
  std::vector<std::unique_ptr<CChunkInfo>> keptChunks;  // the real list while wholeFileMode
  bool wholeFileMode = false;                           // as the lists
  std::atomic<std::int32_t> currentChunk{-1};           // set by the lists' writers; read anywhere
  std::int32_t chunksToSave = 0;  // the saving thread's (the save thread or the UI thread)
  bool replaceOnRecord = false;   // UI thread

  // ---- the source file. LoadTrack writes these on the load thread while the dialog keeps
  // the transport stopped; Close also runs on the UI thread. Erasing (UI thread) changes
  // dataBytes and audioModified under bufferLock; a save clears audioModified on the thread
  // that saves. Other threads (the core thread loading a chunk) read them while no load
  // runs.
  std::string sourcePath;  // file the track was loaded from; empty when none
  std::string loadError;   // why the last load failed; empty after a successful one
  int sourceFile = -1;     // open source WAV (read/write), -1 when none
  // Opened for reading only, as it cannot be written: its erase is refused.
  bool sourceReadOnly = false;
  // How the source WAV is opened (a test puts in one that refuses writing).
  plat::UniqueFd (*openSourceFile)(const std::string& path, unsigned flags,
                                   unsigned mode) = &plat::OpenFile;
  // How the chunks' sound is read from the source WAV (a test counts the reads).
  const plat::FileIo* sourceIo = &plat::SystemFileIo();
  std::uint32_t dataBytes = 0;
  std::uint32_t dataOffset = 0;
  std::uint32_t audioModified = 0;
  bool isMp3 = false;
  bool isPackage = false;
  // With a trailing "/"; empty when the folder is not usable. Set by the constructor and by
  // GetTempSoundFolder on the UI thread before the track is used.
  std::string tempFolder;
  // The source's header as a plain 16-byte "fmt " WAV has it, and its format. Written with
  // the other source-file state; erasing rewrites the RIFF size under bufferLock.
  std::uint8_t wavHeader[36] = {};
  PcmFormat format;           // mirrors the last 16 bytes of wavHeader
  bool textsPresent = false;  // UI thread, or the thread that loads or saves
};

}  // namespace vts
