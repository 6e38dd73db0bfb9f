// The track object: chunk list, temporary chunk files, notifications, waveform state.
#include "tracks/sound_track.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "audio/sound_log.h"
#include "core/log.h"
#include "core/product_name.h"
#include "platform/fd.h"
#include "platform/message_box.h"
#include "tracks/temp_folder.h"

namespace vts {
namespace {

std::atomic<std::uint32_t> g_nextOwnerId{0};

void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

}  // namespace

CSoundTrack::CSoundTrack(plat::ThreadId ownerThreadIdIn, const std::string& name,
                         EngineStateBlock* stateBlockIn, std::int32_t trackIndexIn)
    : stateBlock(stateBlockIn),
      ownerThreadId(ownerThreadIdIn),
      ownerId(++g_nextOwnerId),
      trackIndex(trackIndexIn) {
  format.channels = 1;
  format.samplesPerSec = 44100;
  format.avgBytesPerSec = 88200;
  format.blockAlign = 2;
  format.bitsPerSample = 16;
  PutU16(wavHeader + 22, format.channels);
  PutU32(wavHeader + 24, format.samplesPerSec);
  PutU32(wavHeader + 28, format.avgBytesPerSec);
  PutU16(wavHeader + 32, format.blockAlign);
  PutU16(wavHeader + 34, format.bitsPerSample);

  CreateEngine(format.channels, format.samplesPerSec);

  GetTempSoundFolder(name);
  ClearTempSoundFolder();
}

CSoundTrack::~CSoundTrack() {
  WaitForLoad();
  WaitForSave();
  FreeChunks();
  if (wholeFileMode) {
    // The real list comes back so that it is freed too.
    chunks = std::move(keptChunks);
    keptChunks.clear();
    wholeFileMode = false;
    FreeChunks();
  }
  Close();
  pendingBlocks.Clear();
  ClearTempSoundFolder();
  engine.reset();  // posts a final end mark per capture stream to the owner thread
}

void CSoundTrack::CreateEngine(std::uint32_t channels, std::uint32_t samplesPerSec) {
  auto fresh = std::make_unique<CSoundWorksWAS>(stateBlock);
  fresh->SetFormat(channels, samplesPerSec, 16, kEnginePeriodMs);
  fresh->ownerThreadId = ownerThreadId;
  fresh->soundOutMessage = WM_SOUND_OUT;
  fresh->soundInMessage = WM_SOUND_IN;
  fresh->deviceLostMessage = WM_SOUND_LOST;
  fresh->Start();
  // The core thread uses the engine under the buffer lock (blocks that trail a stop may
  // still come in while a load replaces it); the old one goes outside the lock, and the
  // end marks it posts as it goes carry its own tag.
  std::unique_ptr<CSoundWorksWAS> old;
  {
    std::lock_guard lock(bufferLock);
    engineTag = fresh->EngineTag();
    old = std::exchange(engine, std::move(fresh));
  }
  old.reset();
  // End marks of the old engine no longer concern this track.
  std::lock_guard lock(endMarkMutex);
  expectedEndMarks = 0;
  endMarkCv.notify_all();
}

// ---------------------------------------------------------------- notifications, hooks

void CSoundTrack::Notify(std::uint32_t code) {
  std::lock_guard lock(notifyMutex);
  PostNotification(notifyTarget, code, reinterpret_cast<plat::LPARAM>(this));
}

void CSoundTrack::OnDeviceLost(DataFlow flow, std::uint32_t tag) {
  if (tag != engineTag) return;  // the other track's, or an engine since replaced
  if (flow == DataFlow::Capture) {
    // That stream delivers nothing more: the others' blocks no longer wait for it.
    if (std::uint32_t n = pairedStreams.load(); n > 1) pairedStreams = n - 1;
    if (recording && !paused) Notify(TRACK_NOTIFY_CAPTURE_LOST);
  } else if (playing && !paused) {
    Notify(TRACK_NOTIFY_PLAYBACK_LOST);
  }
}

void CSoundTrack::TellStartFailure(std::string text) {
  if (text.empty()) return;
  {
    std::lock_guard lock(notifyMutex);
    startFailure = std::move(text);
  }
  Notify(TRACK_NOTIFY_START_FAILED);
}

std::string CSoundTrack::NoDeviceChosen(const char* text) {
  audio::WriteSoundLog(text);
  return text;
}

std::string CSoundTrack::StartFailure() const {
  std::lock_guard lock(notifyMutex);
  return startFailure;
}

void CSoundTrack::WaitForLoad() {
  if (loadThread.joinable()) loadThread.join();
}

void CSoundTrack::WaitForSave() {
  if (saveThread.joinable()) saveThread.join();
}

void CSoundTrack::SetNotifyTarget(const NotifyTarget& target) {
  std::lock_guard lock(notifyMutex);
  notifyTarget = target;
}

NotifyTarget CSoundTrack::GetNotifyTarget() const {
  std::lock_guard lock(notifyMutex);
  return notifyTarget;
}

void CSoundTrack::SetWaveformDrawer(IWaveformDrawer* drawer) {
  std::lock_guard lock(bufferLock);
  waveformDrawer = drawer;
}

IWaveformDrawer* CSoundTrack::WaveformDrawer() const {
  std::lock_guard lock(bufferLock);
  return waveformDrawer;
}

WaveformViewState CSoundTrack::ViewSnapshot() const {
  std::lock_guard lock(bufferLock);
  return viewState;
}

std::uint32_t CSoundTrack::FramesPerPixel() const {
  std::lock_guard lock(bufferLock);
  return viewState.framesPerPixel;
}

std::uint32_t CSoundTrack::CursorFrame() const {
  std::lock_guard lock(bufferLock);
  return viewState.cursorFrame;
}

void CSoundTrack::SetProgressRange(std::uint32_t range) {
  std::lock_guard lock(bufferLock);
  viewState.progress.SetRange(0, range);
}

void CSoundTrack::SetProgressPos(std::uint32_t pos) {
  std::lock_guard lock(bufferLock);
  viewState.progress.SetPos(pos);
}

void CSoundTrack::PlaceCursor(std::uint32_t frame) {
  std::lock_guard lock(bufferLock);
  CChunkInfo* chunk = CurrentChunk();
  frame = std::min(frame, chunk ? chunk->length : 0u);
  viewState.cursorFrame = frame;
  viewState.progress.SetPos(frame);
  Repaint();
  // The column as it is, even off the strip: the peer's view may differ from ours.
  const std::uint32_t perPixel = std::max<std::uint32_t>(1, viewState.framesPerPixel);
  viewState.cursorPixel = static_cast<std::int32_t>(
      (static_cast<std::int64_t>(frame) - viewState.viewStartFrame) / perPixel);
}

void CSoundTrack::RewindPlayPosition() {
  std::lock_guard lock(bufferLock);
  viewState.playFrame = 0;
  viewState.progress.SetPos(0);
}

void CSoundTrack::Repaint() {
  // Held through the call: the drawer is taken away under this lock when its window goes.
  std::lock_guard lock(bufferLock);
  if (waveformDrawer) waveformDrawer->RepaintWaveform(*this);
}

// ---------------------------------------------------------------- temporary folder

void CSoundTrack::GetTempSoundFolder(const std::string& name) {
  std::string why;
  std::string folder = MakeTrackTempFolder(name, &why);
  if (folder.empty()) {
    WriteLog(LOG_WAVE_MANAGER, "Temporary folder not usable: " + why);
  }
  tempFolder = folder;
}

void CSoundTrack::ClearTempSoundFolder() { ClearPrivateFolder(tempFolder); }

// ---------------------------------------------------------------- chunks

// The list is read under the lock: the core thread may be growing it (received audio).
CChunkInfo* CSoundTrack::Chunk(int index) {
  std::lock_guard lock(bufferLock);
  if (index < 0 || index >= static_cast<int>(chunks.size())) return nullptr;
  return chunks[static_cast<std::size_t>(index)].get();
}

int CSoundTrack::ChunkCount() const {
  std::lock_guard lock(bufferLock);
  return static_cast<int>(chunks.size());
}

int CSoundTrack::KeptChunkCount() const {
  std::lock_guard lock(bufferLock);
  return static_cast<int>(keptChunks.size());
}

std::string CSoundTrack::NewChunkFileName() {
  if (tempFolder.empty()) return {};
  std::string name = CreateUniqueTempFile(tempFolder, "Wav");
  if (!name.empty()) return name;
  const int error = errno;
  WriteLog(LOG_WAVE_MANAGER, std::string("Could not create a temporary chunk file in \"") +
                                 tempFolder + "\": " + std::strerror(error) +
                                 "; the chunk keeps its sound in memory");
  // The file is made when the chunk is written. Numbers above 16 bits never meet the ones
  // CreateUniqueTempFile gives, and the counter never meets itself.
  static std::atomic<std::uint32_t> serial{0x10000};
  char reserved[32];
  std::snprintf(reserved, sizeof reserved, "Wav%X.tmp", serial.fetch_add(1));
  return reserved;
}

CChunkInfo* CSoundTrack::AddChunk() {
  std::string name = NewChunkFileName();
  if (name.empty()) {
    WriteLog(LOG_WAVE_MANAGER, "No chunk added: the track has no usable temporary folder");
    return nullptr;
  }
  auto chunk = std::make_unique<CChunkInfo>();
  chunk->fileName = std::move(name);
  CChunkInfo* added = chunk.get();
  std::lock_guard lock(bufferLock);
  chunks.push_back(std::move(chunk));
  return added;
}

void CSoundTrack::TellSoundKeptInMemory() {
  if (keptInMemoryTold.exchange(true)) return;
  plat::MessageBoxWithoutWaiting(
      u"The temporary folder takes no more sound (is the disk full?). The recording is kept "
      u"in memory; save the track to keep it.",
      GetProductName(), plat::MB_OK | plat::MB_ICONWARNING);
}

bool CSoundTrack::AdoptAsCurrentChunk(int index) {
  std::lock_guard lock(bufferLock);
  if (currentChunk != -1 || index < 0 || index >= ChunkCount()) return false;
  currentChunk = index;
  return true;
}

bool CSoundTrack::LoadChunk(int index) {
  CChunkInfo* chunk = Chunk(index);
  if (chunk == nullptr) return false;
  std::lock_guard lock(bufferLock);
  if (chunk->length == 0 || chunk->IsLoaded()) return true;
  if (sourceFile >= 0 && chunk->fileName.empty()) {
    ReadSourceData(chunk->start, chunk->length, chunk);
    return true;
  }
  std::string path = tempFolder + chunk->fileName;
  plat::UniqueFd fd;
  if (!tempFolder.empty()) fd = plat::OpenFile(path, plat::kOpenRead | plat::kOpenNoFollow);
  // The boxes are not waited for: this thread holds bufferLock, which the window's thread
  // takes on every time tick (the save and core threads get here too).
  if (!fd) {
    plat::MessageBoxWithoutWaiting(u"Could not open file in LoadChunk", GetProductName(),
                                   plat::MB_OK | plat::MB_ICONWARNING);
    return false;
  }
  const std::int64_t fileSize = plat::FileSizeOf(fd.get());
  std::uint64_t size = fileSize > 0 ? std::uint64_t(fileSize) : 0;
  void* buffer = size <= UINT32_MAX ? std::malloc(size ? size : 1) : nullptr;
  if (buffer == nullptr) {
    plat::MessageBoxWithoutWaiting(u"Memory allocation error in LoadChunk", GetProductName(),
                                   plat::MB_OK | plat::MB_ICONWARNING);
    return false;
  }
  const long long read = plat::ReadAt(fd.get(), buffer, size, 0);
  const std::uint64_t done = read > 0 ? std::uint64_t(read) : 0;
  fd.reset();
  chunk->data = static_cast<std::uint8_t*>(buffer);
  chunk->dataSize = chunk->dataCapacity = static_cast<std::uint32_t>(done);
  chunk->playOffset = 0;
  return true;
}

bool CSoundTrack::SaveChunk(int index) {
  CChunkInfo* chunk = Chunk(index);
  if (chunk == nullptr) return false;
  std::lock_guard lock(bufferLock);
  // A chunk read from the source file needs no file: the source holds its sound.
  if (!chunk->IsLoaded() || SoundFromSource(chunk)) return true;
  if (tempFolder.empty() || chunk->fileName.empty()) return false;
  if (!WriteWholeFile(tempFolder + chunk->fileName, chunk->data, chunk->dataSize)) {
    int error = errno;
    WriteLog(LOG_WAVE_MANAGER, std::string("Could not write chunk file ") + chunk->fileName + ": " +
                                   std::strerror(error));
    return false;
  }
  keptInMemoryTold = false;  // the folder takes files again: a new failure is told again
  return true;
}

void CSoundTrack::FreeChunks() {
  if (playing) StopPlayback();
  if (recording) ToggleRecord();
  // The stopped recording's last blocks must not land in freed memory.
  WaitForRecordingEnd();
  std::lock_guard lock(bufferLock);
  recordTarget = nullptr;
  chunks.clear();
  currentChunk = -1;
}

void CSoundTrack::Close() {
  if (sourceFile >= 0) {
    plat::UniqueFd{sourceFile}.reset();  // closes it
    sourceFile = -1;
  }
  sourceReadOnly = false;
  sourcePath.clear();
  std::memset(wavHeader, 0, sizeof wavHeader);
  format = PcmFormat{};
  {
    std::lock_guard lock(bufferLock);
    viewState.cursorFrame = 0;
    viewState.cursorPixel = 0;
    viewState.anchorFrame = 0;
    viewState.anchorPixel = 0;
    viewState.playFrame = 0;
    viewState.viewFrames = 0;
    viewState.progress.SetPos(0);  // the bar shows the cursor or the play position
  }
  Notify(TRACK_NOTIFY_REFRESH);
}

void CSoundTrack::ClearCurrentChunk() {
  {
    std::lock_guard lock(bufferLock);
    if (CChunkInfo* chunk = CurrentChunk()) {
      chunk->Unload();
      chunk->dataSize = 0;
      chunk->dataCapacity = 0;
      chunk->start = 0;
      chunk->length = 0;
      chunk->playOffset = 0;
      // The tail of a recording stopped just now must not fill the chunk again.
      if (!recording && recordTarget == chunk) recordTarget = nullptr;
    }
  }
  RewindPlayPosition();
  Notify(recording ? TRACK_NOTIFY_RECORDING : TRACK_NOTIFY_IDLE);
}

// SelectChunk and ReadSourceData: tracks/chunk_editing.cpp.

void CSoundTrack::RedrawWaveform(std::uint32_t firstFrame, std::uint32_t fpp) {
  DrawWaveformView(firstFrame, fpp, false);
}

void CSoundTrack::FollowWaveform(std::uint32_t firstFrame, std::uint32_t fpp) {
  DrawWaveformView(firstFrame, fpp, true);
}

void CSoundTrack::DrawWaveformView(std::uint32_t firstFrame, std::uint32_t fpp, bool follows) {
  if (fpp == 0) fpp = kWaveformDefaultFramesPerPixel;
  std::lock_guard lock(bufferLock);
  viewState.framesPerPixel = fpp;
  const std::uint32_t bitmapWidth = viewState.bitmapWidth;
  WaveformView view;
  view.framesPerPixel = fpp;
  view.bitmapWidth = bitmapWidth;
  view.bitmapHeight = viewState.bitmapHeight;
  view.channels = format.channels;
  view.firstFrame = firstFrame;
  view.follows = follows;
  CChunkInfo* chunk = CurrentChunk();
  view.hasChunk = chunk != nullptr;
  view.lengthFrames = chunk ? chunk->length : 0;
  if (chunk != nullptr && chunk->length > 0) {
    LoadChunk(currentChunk);
    std::uint32_t firstColumn = firstFrame / fpp;
    std::uint32_t endColumn = chunk->length / fpp;
    if (endColumn < firstColumn) endColumn = firstColumn;
    if (endColumn - firstColumn > bitmapWidth) endColumn = firstColumn + bitmapWidth;
    view.samples = reinterpret_cast<const std::int16_t*>(chunk->data);
    view.frames = chunk->data ? chunk->dataSize / BlockAlign() : 0;
    view.sampleCount = chunk->data ? chunk->dataSize / 2 : 0;
    view.firstColumn = firstColumn;
    // Columns past the loaded sound (a short temporary file) are not drawn.
    std::uint32_t loadedColumns = view.frames / fpp;
    std::uint32_t drawEnd = std::min(endColumn, std::max(loadedColumns, firstColumn));
    view.columns = drawEnd - firstColumn;
    viewState.viewFrames = (endColumn - firstColumn) * fpp;
    viewState.viewStartFrame = firstColumn * fpp;
    if (waveformDrawer) waveformDrawer->DrawWaveform(*this, view);
  } else if (waveformDrawer) {
    waveformDrawer->DrawWaveform(*this, view);
  }
  Repaint();
}

}  // namespace vts
