// The recording path: capture streams on the chosen sources, mixing of their blocks,
// conversion to 16-bit mono 44100 Hz, automatic gain, appending to the recorded chunk.
#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "platform/thread_queue.h"
#include "tracks/sound_track.h"

namespace vts {

// ---------------------------------------------------------------- capture streams

bool CSoundTrack::StartCaptureOn(const std::u16string& device, std::uint32_t tag) {
  if (device.empty()) return false;  // the engine does nothing (and posts nothing) for it
  // A start that fails posts an end mark of its own; count it first, take it back when the
  // stream did open (then nothing is posted).
  {
    std::lock_guard lock(endMarkMutex);
    ++expectedEndMarks;
  }
  std::uint32_t before = engine->GetCaptureStreamCount();
  engine->StartCapture(device, 0, tag);
  if (engine->GetCaptureStreamCount() > before) {
    std::lock_guard lock(endMarkMutex);
    if (expectedEndMarks > 0) --expectedEndMarks;
  }
  return true;
}

void CSoundTrack::StopCaptureOn(const std::u16string& device) {
  {
    std::lock_guard lock(endMarkMutex);
    ++expectedEndMarks;  // every stop posts one end mark, also for a device not capturing
  }
  engine->StopCapture(device);
}

std::string CSoundTrack::StartChosenCaptures() {
  engine->TakeStartFailure();  // an earlier one is not this start's
  const std::uint32_t sources = recordSources;
  const std::u16string input = InputDevice(), output = OutputDevice();
  const bool wantInput = (sources & kRecordInput) && !input.empty();
  // The same endpoint twice would be one stream; don't ask for it.
  const bool wantOutput = (sources & kRecordLoopback) && !output.empty() &&
                          !((sources & kRecordInput) && output == input);
  // Before the starts: the first stream's first block waits for the second's.
  pairedStreams = std::max(1u, std::uint32_t(wantInput) + std::uint32_t(wantOutput));
  bool asked = false;
  if (wantInput) asked |= StartCaptureOn(input, kSourceTagInput);
  if (wantOutput) asked |= StartCaptureOn(output, kSourceTagOutput);
  if (!asked) return NoDeviceChosen(kCaptureNoDeviceText);
  pairedStreams = std::max(1u, engine->GetCaptureStreamCount());  // those that did start
  return engine->TakeStartFailure();
}

void CSoundTrack::StopChosenCaptures() {
  const std::uint32_t sources = recordSources;
  if (sources & kRecordInput) StopCaptureOn(InputDevice());
  if (sources & kRecordLoopback) StopCaptureOn(OutputDevice());
}

void CSoundTrack::EndMarkArrived(std::uint32_t engineTag) {
  if (engineTag != 0 && engineTag != this->engineTag) return;  // another engine's
  std::lock_guard lock(endMarkMutex);
  if (expectedEndMarks > 0) --expectedEndMarks;
  if (expectedEndMarks == 0 && !recording) {
    std::lock_guard dataLock(bufferLock);
    recordTarget = nullptr;
  }
  endMarkCv.notify_all();
}

bool CSoundTrack::WaitForRecordingEnd(std::chrono::milliseconds limit) {
  if (plat::CurrentThreadId() == ownerThreadId) return true;  // we deliver them ourselves
  std::unique_lock lock(endMarkMutex);
  bool done = endMarkCv.wait_for(lock, limit, [this] { return expectedEndMarks == 0; });
  if (!done) {
    WriteLog(LOG_WAVE_MANAGER, "Recording end marks missing after stop; going on without them");
    expectedEndMarks = 0;
  }
  if (!recording) {
    std::lock_guard dataLock(bufferLock);
    recordTarget = nullptr;
  }
  return done;
}

// ---------------------------------------------------------------- transport

bool CSoundTrack::PrepareRecordTarget(RecordStartUndo& undo) {
  if (chunks.empty()) {
    if (AddChunk() == nullptr) {
      WriteLog(LOG_WAVE_MANAGER, "Recording not started: no chunk could be added to record into");
      return false;
    }
    currentChunk = 0;
  }
  CChunkInfo* chunk = CurrentChunk();
  if (chunk == nullptr) {
    WriteLog(LOG_WAVE_MANAGER, "Recording not started: the track has no current chunk");
    return false;
  }
  {
    std::lock_guard lock(bufferLock);
    undo.chunk = chunk;
    undo.start = chunk->start;
    undo.length = chunk->length;
    undo.framesPerPixel = viewState.framesPerPixel;
    undo.viewStartFrame = viewState.viewStartFrame;
    undo.playFrame = viewState.playFrame;
    undo.progress = viewState.progress;
    if (replaceOnRecord) {
      // Set aside, not freed: a start that fails puts it back.
      undo.replaced = true;
      undo.replacedSound.SwapSound(*chunk);
      chunk->length = 0;
      chunk->start = 0;
      viewState.playFrame = 0;
    }
    // Appending to a chunk whose sound is not in memory would later overwrite its file with
    // the new part alone.
    if (chunk->length > 0 && !chunk->IsLoaded() &&
        (!LoadChunk(currentChunk) || !chunk->IsLoaded())) {
      WriteLog(LOG_WAVE_MANAGER,
               "Recording not started: the current chunk's sound cannot be loaded");
      return false;
    }
    undo.dataSize = chunk->dataSize;
    undo.playOffset = chunk->playOffset;
  }
  // The target and the flag are set together under the end-mark lock: an end mark of the
  // stop just before, arriving now, must not take the new recording's target away.
  std::lock_guard marks(endMarkMutex);
  std::lock_guard lock(bufferLock);
  recordTarget = chunk;
  recordStartUndone = false;
  recording = true;
  return true;
}

void CSoundTrack::UndoRecordStart(RecordStartUndo& undo) {
  std::lock_guard lock(bufferLock);
  CChunkInfo* chunk = undo.chunk;
  if (chunk == nullptr || recordTarget != chunk) {
    // Switched away from or freed meanwhile: the chunk is not ours to change any more.
    WriteLog(LOG_WAVE_MANAGER, "Recording not started; its chunk was left meanwhile");
    return;
  }
  recordTarget = nullptr;  // what a stream that did start still brings is not kept
  if (undo.replaced) {
    chunk->Unload();
    chunk->SwapSound(undo.replacedSound);
  } else {
    chunk->dataSize = undo.dataSize;
    chunk->playOffset = undo.playOffset;
  }
  chunk->start = undo.start;
  chunk->length = undo.length;
  viewState.playFrame = undo.playFrame;
  viewState.progress = undo.progress;
  recordStartUndone = true;
  RedrawWaveform(undo.viewStartFrame, undo.framesPerPixel);
}

void CSoundTrack::ToggleRecord() {
  {
    // As in StopPlayback: a buffer coming back right now can neither end the playback nor
    // queue a successor into the stopped stream; the server is waited for outside bufferLock.
    std::lock_guard order(playbackLock);
    bool wasPlaying = false;
    {
      std::lock_guard lock(bufferLock);
      wasPlaying = playing.exchange(false);
      if (wasPlaying) ++playGeneration;
    }
    if (wasPlaying) engine->StopPlayback(OutputDevice());
  }
  std::string failure;
  if (!recording) {
    WaitForRecordingEnd();  // an earlier recording's last blocks go to its own chunk
    StopAll();
    // Holds a replaced take until the captures are known to run.
    RecordStartUndo undo;
    if (PrepareRecordTarget(undo)) {  // sets `recording`
      failure = StartChosenCaptures();
      if (!failure.empty()) UndoRecordStart(undo);
      modified = true;
    }
  } else {
    if (paused) TogglePause();
    bool undone = false;
    {
      std::lock_guard lock(bufferLock);  // see AppendRecorded
      recording = false;
      undone = recordStartUndone;
    }
    StopChosenCaptures();
    if (!undone) RedrawWaveform(0, FramesPerPixel());  // else the view is as before the start
  }
  Notify(TRACK_NOTIFY_RUNNING);
  Notify(recording ? TRACK_NOTIFY_RECORDING : TRACK_NOTIFY_IDLE);
  TellStartFailure(std::move(failure));
}

bool CSoundTrack::ContinueRecordingIn(int index) {
  {
    std::lock_guard lock(bufferLock);
    if (!recording || paused || recordTarget == nullptr || recordTarget != CurrentChunk() ||
        Chunk(index) == nullptr)
      return false;
    if (index == currentChunk) return true;
  }
  if (plat::CurrentThreadId() == ownerThreadId) {
    MoveRecordingTo(index);
    return true;
  }
  std::unique_lock lock(endMarkMutex);
  const std::uint64_t mine = ++movesAsked;
  if (!plat::PostThreadMessage(ownerThreadId, WM_RECORDING_MOVES, plat::WPARAM(index),
                               plat::LPARAM(engineTag.load()))) {
    movesMade = movesAsked;  // nobody takes the engine's blocks any more: step at once
    lock.unlock();
    MoveRecordingTo(index);
    return true;
  }
  if (!endMarkCv.wait_for(lock, kRecordingEndWait, [&] { return movesMade >= mine; }))
    WriteLog(LOG_WAVE_MANAGER, "A recording's step to chunk " + std::to_string(index) +
                                   " is late; going on without waiting for it");
  return true;
}

void CSoundTrack::OnRecordingMoves(int index, std::uint32_t tag) {
  if (tag == engineTag) MoveRecordingTo(index);  // an engine replaced since has no recording
  std::lock_guard lock(endMarkMutex);
  ++movesMade;
  endMarkCv.notify_all();
}

void CSoundTrack::MoveRecordingTo(int index) {
  {
    std::lock_guard lock(bufferLock);
    CChunkInfo* left = CurrentChunk();
    CChunkInfo* next = Chunk(index);
    // Stopped, or switched by another way, meanwhile: nothing runs on to step.
    if (!recording || next == nullptr || left == nullptr || recordTarget != left ||
        index == currentChunk)
      return;
    const int leftIndex = currentChunk;
    if (replaceOnRecord) {
      next->Unload();
      next->length = 0;
      next->start = 0;
    } else if (next->length > 0 && !next->IsLoaded() &&
               (!LoadChunk(index) || !next->IsLoaded())) {
      // Appending to a chunk whose sound is not in memory would later overwrite its file.
      WriteLog(LOG_WAVE_MANAGER, "Chunk " + std::to_string(index) +
                                     " cannot be loaded; the recording goes on in chunk " +
                                     std::to_string(leftIndex));
      return;
    }
    if (!SaveChunk(leftIndex)) {
      // Its sound lives only in memory: it stays current, and the recording in it.
      WriteLog(LOG_WAVE_MANAGER, "Chunk " + std::to_string(leftIndex) +
                                     " could not be saved; the recording goes on in it");
      return;
    }
    left->Unload();
    currentChunk = index;
    recordTarget = next;
    viewState.cursorPixel = 0;
    viewState.cursorFrame = 0;
    viewState.anchorPixel = 0;
    viewState.anchorFrame = 0;
    viewState.playFrame = 0;
    viewState.progress.SetRange(0, next->length);
    viewState.progress.SetPos(0);
  }
  modified = true;
  RedrawWaveform(0, FramesPerPixel());
  Notify(TRACK_NOTIFY_RECORDING);
}

// ---------------------------------------------------------------- captured blocks (core thread)

void CSoundTrack::OnCapturedBlock(CBufferDescr* block, std::uint32_t engineTag) {
  if (block != nullptr) {
    SoundBlockHeader* h = CapturedHeader(*block);
    const std::uint32_t channels = std::max(1u, h->channels);
    // Never past what the block holds.
    const std::size_t frames = std::min<std::size_t>(h->frames, block->used / 4 / channels);
    pendingBlocks.Add(h->streamIndex, channels,
                      reinterpret_cast<const float*>(SamplesBehind(h)), frames);
    ReleaseBufferDescr(block);
  }
  // Mixed into a buffer kept from block to block, converted straight into the chunk: the
  // streams are at 44100 Hz already, so no block is made and nothing is resampled.
  if (const std::uint32_t frames = MixPendingBlocks(block == nullptr); frames > 0)
    AppendRecorded(mixedBlock.data(), frames);

  if (block == nullptr) EndMarkArrived(engineTag);
}

std::uint32_t CSoundTrack::MixPendingBlocks(bool end) {
  try {
    return static_cast<std::uint32_t>(pendingBlocks.Take(pairedStreams.load(), end, mixedBlock));
  } catch (const std::bad_alloc&) {
    ++droppedBlocks;
    return 0;
  }
}

void CSoundTrack::AppendRecorded(const float* mixed, std::uint32_t frames) {
  const std::uint32_t used = frames * 2;
  {
    // Held through the redraw: a stop (which clears `recording` under this lock and then
    // shows the recording from its start) is either wholly before or wholly after it.
    std::lock_guard lock(bufferLock);
    CChunkInfo* chunk = recordTarget;
    if (chunk == nullptr) {
      // The recording's chunk is gone (freed) or was given up after a time-out; or its start
      // failed, and then what a stream that did start brings is not wanted.
      if (!recordStartUndone) ++droppedBlocks;
      return;
    }
    if (!chunk->Reserve(std::uint64_t(chunk->dataSize) + used, kChunkGrowStep)) {
      ++droppedBlocks;
      return;
    }
    auto* samples = reinterpret_cast<std::int16_t*>(chunk->data + chunk->dataSize);
    FloatToS16(mixed, frames, samples);
    ApplyAutoGain(samples, frames);
    chunk->dataSize += used;
    viewState.playFrame += used / BlockAlign();
    chunk->length += frames;
    viewState.progress.SetRange(0, viewState.playFrame);
    viewState.progress.SetPos(viewState.playFrame);
    if (chunk == CurrentChunk()) {
      if (recording) {
        // The newest sound stays at four fifths of the strip.
        const std::uint32_t width =
            static_cast<std::uint32_t>(std::uint64_t(viewState.bitmapWidth) * 4 / 5);
        std::uint32_t first = 0;
        if (viewState.playFrame / 128 > width)
          first = chunk->length > 128 * width ? chunk->length - 128 * width : 0;
        // A take's first block is drawn whole: the strip's columns may be of other sound
        // (an emptied or replaced chunk's) that lay at the same place.
        if (chunk->length > frames)
          FollowWaveform(first, 128);
        else
          RedrawWaveform(first, 128);
      } else {
        // A last block after the stop: the stop's view (the recording from its start) stays.
        RedrawWaveform(viewState.viewStartFrame, viewState.framesPerPixel);
      }
    }
  }
  if (recording) Notify(TRACK_NOTIFY_DATA);
}

}  // namespace vts
