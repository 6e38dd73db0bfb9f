// Chunk editing and bookmarks of a track: moving between chunks, splitting a chunk at the
// cursor, joining a chunk with the next, the whole-file view, cutting the selection out of the
// source WAV file, the cursor from the waveform, reading a chunk from the source file and
// writing received audio into the current chunk.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "core/log.h"
#include "core/product_name.h"
#include "platform/fd.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/utf.h"
#include "tracks/side_files.h"
#include "tracks/sound_track.h"
#include "tracks/wav_cut.h"

namespace vts {
namespace {

std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

std::int32_t ColumnOf(std::int64_t frame, std::int64_t viewStart, std::uint32_t fpp,
                      std::uint32_t width) {
  return std::int32_t(std::clamp<std::int64_t>((frame - viewStart) / fpp, 0, width));
}

}  // namespace

bool CSoundTrack::SoundFromSource(const CChunkInfo* chunk) const {
  return sourceFile >= 0 && chunk != nullptr && chunk->fileName.empty();
}

// ---------------------------------------------------------------- moving between chunks

void CSoundTrack::SelectChunk(int index) {
  StopAll();
  {
    std::lock_guard lock(bufferLock);
    viewState.cursorPixel = 0;
    viewState.cursorFrame = 0;
    viewState.anchorPixel = 0;
    viewState.anchorFrame = 0;  // the selection belongs to the chunk that is left
    viewState.playFrame = 0;
  }
  if (index < -1 || index >= ChunkCount()) return;  // -1 is "no chunk"; others do nothing
  WaitForRecordingEnd();
  {
    std::lock_guard lock(bufferLock);
    const int old = currentChunk;
    if (CChunkInfo* oldChunk = CurrentChunk()) {
      if (old == index && oldChunk->IsLoaded()) {
        // Staying on it reads nothing: its sound in memory is the source file's, or newer
        // than any file (a take not written yet, which it is now where it has a file).
        SaveChunk(old);
        oldChunk->playOffset = 0;
      } else if (SaveChunk(old)) {
        oldChunk->Unload();
      } else if (old != index) {
        // Its sound lives only in memory: it stays there, and is written when it is left
        // the next time, or by a save. Staying on it would part this track from the other
        // and let the next take replace it.
        WriteLog(LOG_WAVE_MANAGER,
                 "Chunk " + std::to_string(old) + " could not be saved; its sound stays in memory");
        TellSoundKeptInMemory();
      }
    }
    if (recordTarget != nullptr && recordTarget != Chunk(index)) recordTarget = nullptr;
    currentChunk = index;
  }
  if (index != -1) {
    LoadChunk(index);
    SetProgressRange(Chunk(index)->length);
    SetProgressPos(0);
  }
  RedrawWaveform(0, FramesPerPixel());
  Notify(recording ? TRACK_NOTIFY_RECORDING : TRACK_NOTIFY_IDLE);
}

void CSoundTrack::ReadSourceData(std::uint32_t startFrame, std::uint32_t frames,
                                 CChunkInfo* chunk) {
  if (sourceFile < 0 || chunk == nullptr) return;
  // A chunk list may reach past the sound; what follows the "data" chunk is not sound.
  const std::uint64_t align = BlockAlign();
  const std::uint64_t sourceFrames = dataBytes / align;
  const std::uint64_t readable =
      startFrame >= sourceFrames ? 0 : std::min<std::uint64_t>(frames, sourceFrames - startFrame);
  const std::uint64_t bytes = readable * align;
  if (bytes == 0 || bytes > UINT32_MAX) return;
  auto* buffer = static_cast<std::uint8_t*>(std::calloc(1, bytes));
  if (buffer == nullptr) return;
  const std::uint64_t offset = dataOffset + align * startFrame;
  std::uint64_t done = 0;
  while (done < bytes) {
    const ssize_t r = sourceIo->pread(sourceFile, buffer + done, bytes - done, off_t(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) done = 0;  // a failed read keeps nothing
    if (r <= 0) break;
    done += std::uint64_t(r);
  }
  done -= done % align;  // whole frames only
  if (done == 0) {
    std::free(buffer);
    return;
  }
  std::lock_guard lock(bufferLock);
  chunk->Unload();
  chunk->data = buffer;
  chunk->dataSize = chunk->dataCapacity = static_cast<std::uint32_t>(done);
}

// ---------------------------------------------------------------- bookmarks

bool CSoundTrack::SplitCurrentChunk() {
  const std::uint32_t cursor = CursorFrame();
  if (wholeFileMode || cursor == 0) return false;
  if (!SplitChunk(currentChunk, cursor)) return false;
  std::uint32_t fpp = 0;
  {
    std::lock_guard lock(bufferLock);
    viewState.progress.SetRange(0, CurrentChunk()->length);
    viewState.progress.SetPos(0);
    viewState.viewStartFrame = 0;
    viewState.cursorFrame = 0;
    viewState.anchorFrame = 0;
    fpp = viewState.framesPerPixel;
  }
  RedrawWaveform(0, fpp);
  Notify(recording ? TRACK_NOTIFY_RECORDING : TRACK_NOTIFY_IDLE);
  return true;
}

bool CSoundTrack::SplitChunk(int index, std::uint32_t frame) {
  CChunkInfo* chunk = Chunk(index);
  if (chunk == nullptr || frame >= chunk->length) return false;
  // The new chunk has no file of its own: its sound must come from the source file, or a
  // recording's second half would be lost.
  if (!SoundFromSource(chunk)) return false;
  if (std::uint64_t(chunk->start) + frame > UINT32_MAX) return false;
  StopAll();
  WaitForRecordingEnd();
  {
    std::lock_guard lock(bufferLock);
    chunk->Unload();
    auto second = std::make_unique<CChunkInfo>();
    second->start = chunk->start + frame;
    second->length = chunk->length - frame;
    chunks.insert(chunks.begin() + index + 1, std::move(second));
    chunk->length = frame;
    if (currentChunk > index) ++currentChunk;  // the current chunk keeps its place
  }
  if (index == currentChunk) LoadChunk(index);
  modified = true;
  return true;
}

bool CSoundTrack::MergeChunkWithNext(int index) {
  if (index < 0 || ChunkCount() < 2 || index >= ChunkCount() - 1) return false;
  CChunkInfo* chunk = Chunk(index);
  CChunkInfo* next = Chunk(index + 1);
  // Joined chunks are read back from the source file: without one, both chunks' own
  // recordings would be lost.
  if (!SoundFromSource(chunk) || !SoundFromSource(next)) return false;
  if (std::uint64_t(chunk->length) + next->length > UINT32_MAX) return false;
  StopAll();
  WaitForRecordingEnd();
  std::uint32_t join = 0;
  {
    std::lock_guard lock(bufferLock);
    chunk->text += next->text;
    chunk->Unload();
    join = chunk->length;
    chunk->length += next->length;
    if (recordTarget == next) recordTarget = nullptr;
    chunks.erase(chunks.begin() + index + 1);
    if (currentChunk > index) --currentChunk;
  }
  SelectChunk(index);
  Notify(recording ? TRACK_NOTIFY_RECORDING : TRACK_NOTIFY_IDLE);
  RedrawWaveform(0, FramesPerPixel());
  {
    std::lock_guard lock(bufferLock);
    viewState.cursorFrame = join;
    viewState.anchorFrame = join;
    viewState.progress.SetPos(join);
    Repaint();
    const std::uint32_t fpp =
        viewState.framesPerPixel ? viewState.framesPerPixel : kWaveformDefaultFramesPerPixel;
    const std::int32_t column =
        ColumnOf(join, viewState.viewStartFrame, fpp, viewState.bitmapWidth);
    viewState.cursorPixel = column;
    viewState.anchorPixel = column;
  }
  modified = true;
  return true;
}

// ---------------------------------------------------------------- whole-file view

bool CSoundTrack::MakeWholeFileChunk() {
  if (sourceFile < 0) return false;
  {
    std::lock_guard lock(bufferLock);
    chunks.clear();
    auto whole = std::make_unique<CChunkInfo>();
    whole->length = dataBytes / BlockAlign();
    chunks.push_back(std::move(whole));
    currentChunk = 0;
  }
  LoadChunk(0);
  Notify(recording ? TRACK_NOTIFY_RECORDING : TRACK_NOTIFY_IDLE);
  RedrawWaveform(0, 0);
  return true;
}

bool CSoundTrack::SetWholeFileMode(bool on) {
  // Switching on twice would drop the real list; off without on would drop the chunks.
  if (on == wholeFileMode) return false;
  if (on && sourceFile < 0) return false;  // nothing to show as one chunk
  StopAll();
  WaitForRecordingEnd();
  {
    std::lock_guard lock(bufferLock);
    // A sound of the chunk's own (received audio) is written to its file before it goes.
    if (!SaveChunk(currentChunk) && CurrentChunk() != nullptr) {
      WriteLog(LOG_WAVE_MANAGER, "Chunk " + std::to_string(currentChunk) +
                                     " could not be saved; the view stays as it is");
      return false;
    }
    wholeFileMode = on;
    if (CChunkInfo* chunk = CurrentChunk()) chunk->Unload();
  }
  if (on) {
    {
      std::lock_guard lock(bufferLock);
      keptChunks = std::move(chunks);
      chunks.clear();
      currentChunk = -1;
      recordTarget = nullptr;
    }
    MakeWholeFileChunk();
  } else {
    FreeChunks();  // the whole-file chunk
    std::lock_guard lock(bufferLock);
    chunks = std::move(keptChunks);
    keptChunks.clear();
    currentChunk = chunks.empty() ? -1 : 0;
  }
  SelectChunk(currentChunk);
  Notify(TRACK_NOTIFY_LOADED);
  return true;
}

// ---------------------------------------------------------------- erasing

void CSoundTrack::RemoveSourceFrames(std::uint64_t first, std::uint64_t end) {
  auto adjust = [&](std::vector<std::unique_ptr<CChunkInfo>>& list) {
    for (auto& chunk : list) {
      if (!SoundFromSource(chunk.get())) continue;  // its sound is not in the source file
      const std::uint64_t s = chunk->start;
      const std::uint64_t e = s + chunk->length;
      const std::uint64_t before = first < s ? std::min(end, s) - first : 0;
      const std::uint64_t lo = std::max(first, s), hi = std::min(end, e);
      const std::uint64_t inside = hi > lo ? hi - lo : 0;
      chunk->start = std::uint32_t(s - before);
      chunk->length = std::uint32_t(chunk->length - inside);
    }
  };
  adjust(chunks);
  adjust(keptChunks);  // the real list behind the whole-file view
}

bool CSoundTrack::DeleteSelection() {
  if (sourceFile < 0) return false;
  CChunkInfo* chunk = CurrentChunk();
  if (!SoundFromSource(chunk)) return false;
  if (sourceReadOnly) {
    WriteLog(LOG_WAVE_MANAGER, "Erasing in \"" + sourcePath + "\" refused: the file is read-only");
    plat::MessageBox(u"The sound file cannot be changed (it is read-only): nothing was erased.",
                     GetProductName(), plat::MB_OK | plat::MB_ICONWARNING);
    return false;
  }
  StopAll();
  WaitForRecordingEnd();
  std::uint32_t anchor = 0, cursor = 0;
  {
    std::lock_guard lock(bufferLock);
    WaveformViewState& v = viewState;
    if (v.anchorFrame >= chunk->length) {
      v.anchorFrame = v.cursorFrame;
      Repaint();
      return false;
    }
    if (v.cursorFrame >= chunk->length) v.cursorFrame = chunk->length - 1;
    anchor = v.anchorFrame;
    cursor = v.cursorFrame;
  }
  if (anchor >= cursor) return false;

  const std::uint64_t align = BlockAlign();
  const std::uint64_t first = std::uint64_t(chunk->start) + anchor;
  const std::uint64_t end =
      std::min<std::uint64_t>(std::uint64_t(chunk->start) + cursor, dataBytes / align);
  if (first >= end || dataOffset < 8) return false;
  const std::uint64_t removed = (end - first) * align;

  const FileIo& io = EditFileIo();
  WavCut cut;
  cut.cutStart = dataOffset + first * align;
  cut.cutEnd = dataOffset + end * align;
  cut.dataSizeOffset = dataOffset - 4;
  cut.newDataBytes = std::uint32_t(dataBytes - removed);
  const std::uint32_t riff = GetU32(wavHeader + 4);
  std::uint64_t fileSize = 0;
  if (riff >= removed) {
    cut.newRiffSize = std::uint32_t(riff - removed);
  } else if (io.fstatSize(sourceFile, &fileSize) == 0 && fileSize >= removed + 8) {
    cut.newRiffSize = std::uint32_t(std::min<std::uint64_t>(fileSize - removed - 8, UINT32_MAX));
  }

  // The cut file is written beside the open WAV (the lesson itself, or an MP3's decoded
  // copy) and takes its name in one step: a failure or a kill at any point leaves either
  // the old file or the cut one, never a half-shifted one, and the chunks follow only a
  // file that was put in place.
  std::string why;
  bool cutDone = false;
  {
    std::lock_guard lock(bufferLock);
    const std::string wavPath = plat::PathOfOpenFile(sourceFile);
    plat::FileStatus status;
    plat::FileReplacement out;
    // What an erase that was killed half-way left beside the file goes first.
    if (!wavPath.empty())
      plat::RemoveStaleReplacements(
          wavPath.substr(0, std::max<std::size_t>(wavPath.rfind('/'), 1)));
    if (wavPath.empty()) {
      why = "the sound file is no longer where it was opened";
    } else if (!plat::StatFd(sourceFile, &status) || !out.Open(wavPath, int(status.mode), &why)) {
      if (why.empty()) why = std::string("cannot read the sound file: ") + std::strerror(errno);
    } else {
      errno = 0;
      const WavCutResult result = WriteCutWav(sourceFile, cut, out.Fd(), io);
      const int error = errno != 0 ? errno : EIO;
      plat::UniqueFd cutFile;
      if (result != WavCutResult::Ok) {
        why = std::string(WavCutResultText(result)) + ": " + std::strerror(error);
      } else if (!out.CommitKeepingOpen(&cutFile)) {
        why = std::string("cannot put the cut file in place: ") + std::strerror(errno);
      } else {
        // The open descriptor follows the file now at the path.
        chunk->Unload();
        plat::UniqueFd{sourceFile}.reset();
        sourceFile = cutFile.release();
        RemoveSourceFrames(first, end);
        dataBytes = cut.newDataBytes;
        PutU32(wavHeader + 4, cut.newRiffSize);
        audioModified = 1;
        cutDone = true;
      }
    }
  }
  // The user's sound file was cut (an MP3's or a package's is a decoded copy): the chunk
  // list on disk beside it is cut with it, or its borders would stand off by the cut at the
  // next start. Bookmarks and texts not saved yet stay unsaved.
  if (!isMp3 && cutDone) {
    const std::uint32_t rate = format.samplesPerSec;
    if (!CutSideFiles(SideFileBeside(sourcePath, ".cif"), SideFileBeside(sourcePath, ".txt"),
                      FramesToMs(first, rate), FramesToMs(end, rate))) {
      WriteLog(LOG_WAVE_MANAGER, "The chunk list beside \"" + sourcePath +
                                     "\" could not be cut with the sound");
    }
  }
  std::uint32_t fpp = 0;
  {
    std::lock_guard lock(bufferLock);
    viewState.anchorFrame = std::min(viewState.cursorFrame, chunk->length);
    viewState.cursorFrame = std::min(viewState.cursorFrame, chunk->length);
    LoadChunk(currentChunk);
    viewState.progress.SetRange(0, chunk->length);
    fpp = viewState.framesPerPixel;
  }
  RedrawWaveform(0, fpp);
  Repaint();
  if (!cutDone) {
    WriteLog(LOG_WAVE_MANAGER, "Erasing in \"" + sourcePath + "\" failed: " + why);
    plat::MessageBox(
        u"Could not erase the selection in the sound file.\n\n" + plat::Utf8ToUtf16(why),
        GetProductName(), plat::MB_OK | plat::MB_ICONWARNING);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- waveform clicks

void CSoundTrack::OnWaveformMouse(bool down, int x) {
  {
    std::lock_guard lock(bufferLock);
    WaveformViewState& v = viewState;
    if (!down) {
      if (v.cursorFrame < v.anchorFrame) v.anchorFrame = v.cursorFrame;
      return;
    }
    const CChunkInfo* chunk = CurrentChunk();
    const std::uint32_t length = chunk ? chunk->length : 0;
    const std::uint32_t fpp = v.framesPerPixel ? v.framesPerPixel : kWaveformDefaultFramesPerPixel;
    const std::int64_t start = v.viewStartFrame;
    // A click right of a short waveform, or a drag left of the strip, stays in the chunk.
    const auto position =
        std::uint32_t(std::clamp<std::int64_t>(start + std::int64_t(x) * fpp, 0, length));
    v.anchorPixel = ColumnOf(position, start, fpp, v.bitmapWidth);
    v.cursorFrame = position;
    v.anchorFrame = position;
    v.progress.SetPos(position);
    Repaint();
  }
  Notify(TRACK_NOTIFY_POSITION);
}

// ---------------------------------------------------------------- received audio

bool CSoundTrack::WriteSamplesAt(std::uint32_t firstFrame, std::uint32_t byteCount,
                                 const std::uint8_t* samples) {
  // The block comes from another process: only whole frames, within a sane size.
  const std::uint64_t align = BlockAlign();
  if (byteCount % align != 0 || (byteCount > 0 && samples == nullptr)) return false;
  const std::uint64_t position = std::uint64_t(firstFrame) * align;
  const std::uint64_t end = position + byteCount;
  if (end > kMaxReceivedBytes) return false;
  {
    std::lock_guard lock(bufferLock);
    CChunkInfo* chunk = CurrentChunk();
    if (chunk == nullptr) return false;
    // The received sound is the chunk's own from now on, not the source file's under it: it
    // gets a file of its own, so that leaving the chunk (or the whole-file view) keeps it.
    if (SoundFromSource(chunk)) {
      std::string name = NewChunkFileName();
      if (name.empty()) {
        WriteLog(LOG_WAVE_MANAGER, "Received audio dropped: no chunk file could be made in \"" +
                                       tempFolder + "\"");
        return false;
      }
      chunk->fileName = std::move(name);
    }
    if (firstFrame == 0) {
      chunk->Unload();
      chunk->length = 0;
      chunk->start = 0;
    }
    if (end > 0) {
      const std::uint32_t oldSize = chunk->data ? chunk->dataSize : 0;
      if (!chunk->Reserve(end, kChunkGrowStep)) return false;  // dropped
      if (position > oldSize) std::memset(chunk->data + oldSize, 0, position - oldSize);
      if (byteCount > 0) std::memcpy(chunk->data + position, samples, byteCount);
    }
    chunk->dataSize = std::uint32_t(end);
    chunk->length = std::uint32_t(end / align);
  }
  RedrawWaveform(0, 128);
  return true;
}

}  // namespace vts
