// Loading a track: a WAV, an MP3 (decoded into the temporary folder) or a ".vxb" package
// (unpacked into the temporary folder) becomes the track's open source WAV, with its chunk
// list and texts from the side files.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>

#include "core/log.h"
#include "core/paths.h"
#include "package/package_file.h"
#include "platform/fd.h"
#include "tracks/media/mp3.h"
#include "tracks/media/wav_file.h"
#include "tracks/side_files.h"
#include "tracks/sound_track.h"

namespace vts {
namespace {

void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

// The last three characters of the path, upper-cased.
std::string LastThreeUpper(const std::string& path) {
  std::string tail = path.substr(path.size() - 3);
  for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return tail;
}

void LoadFailed(const std::string& path, const std::string& why) {
  WriteLog(LOG_WAVE_MANAGER, "Could not load \"" + path + "\": " + why);
}

}  // namespace

void CSoundTrack::LoadThreadProc(LoadRequest* request) {
  CSoundTrack* track = request->track;
  try {
    track->LoadTrack(request->path);
  } catch (const std::exception& e) {
    track->loadError = e.what();
    LoadFailed(request->path, e.what());
  } catch (...) {
    track->loadError = "unexpected error";
    LoadFailed(request->path, "unexpected error");
  }
  delete request;
  track->Notify(TRACK_NOTIFY_LOADED);
}

void CSoundTrack::StartLoad(const std::string& path) {
  WaitForLoad();
  loadThread = std::thread(&CSoundTrack::LoadThreadProc, new LoadRequest{this, path, 1});
}

bool CSoundTrack::LoadTrack(const std::string& path) {
  // The old chunk list goes first: its chunks point into the source being closed and into
  // temporary files about to be deleted, so none of it may survive a failed load.
  FreeChunks();
  {
    std::lock_guard lock(bufferLock);
    keptChunks.clear();
    wholeFileMode = false;
  }
  Close();
  isMp3 = false;
  isPackage = false;
  audioModified = 0;
  modified = false;
  textsPresent = false;
  loadError.clear();

  if (path.size() < 4) {
    loadError = "the name is too short";
    LoadFailed(path, loadError);
    return false;
  }
  const std::string kind = LastThreeUpper(path);
  if (kind == "MP3") isMp3 = true;
  if (kind == "VXB") isMp3 = isPackage = true;

  std::string title = GetFileNameOfPath(path);
  if (std::size_t dot = title.rfind('.'); dot != std::string::npos) title.resize(dot);
  const std::size_t slash = path.rfind('/');
  std::string sideFolder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);

  ClearTempSoundFolder();
  // Whatever a failed load unpacked or decoded is not kept.
  auto fail = [&](const std::string& why) {
    if (sourceFile >= 0) Close();
    ClearTempSoundFolder();
    loadError = why;
    LoadFailed(path, why);
    return false;
  };

  std::string wavPath = path;
  if (isMp3 && tempFolder.empty()) return fail("the temporary folder is not usable");
  std::string mp3Path = path;
  if (isPackage) {
    sideFolder = tempFolder;
    std::string why;
    mp3Path = UnpackPackage(path, tempFolder.substr(0, tempFolder.size() - 1), title, &why);
    if (mp3Path.empty()) return fail(why);
  }
  if (isMp3) {
    std::string name = GetFileNameOfPath(mp3Path);
    if (name.size() < 3) return fail("the MP3 file name is too short");
    wavPath = tempFolder + name.substr(0, name.size() - 3) + "wav";
    if (!media::DecodeMp3ForLoading(mp3Path, wavPath)) return fail("the MP3 could not be decoded");
  }

  // Read and write: chunk editing cuts sound out of the source in place. A file that cannot
  // be written (a CD, a locked stick, a read-only share) still plays; its erase is refused.
  sourceFile = openSourceFile(wavPath, plat::kOpenReadWrite, 0644).release();
  sourceReadOnly = false;
  if (sourceFile < 0 && (errno == EROFS || errno == EACCES || errno == EPERM)) {
    sourceFile = openSourceFile(wavPath, plat::kOpenRead, 0644).release();
    sourceReadOnly = sourceFile >= 0;
  }
  if (sourceFile < 0) return fail(std::string("cannot open the WAV: ") + std::strerror(errno));

  media::WavInfo info;
  const media::WavStatus status = media::ReadWavInfo(sourceFile, info);
  if (status != media::WavStatus::Ok) return fail(media::WavStatusText(status));
  if (info.dataOffset > UINT32_MAX) return fail("the sound starts past 4 GiB");
  if (info.dataClamped) {
    WriteLog(LOG_WAVE_MANAGER, "\"" + path +
                                   "\": the data size passes the end of the file; "
                                   "only the sound present is used");
  }
  format.formatTag = info.format.formatTag;
  format.channels = info.format.channels;
  format.samplesPerSec = info.format.samplesPerSec;
  format.avgBytesPerSec = info.format.avgBytesPerSec;
  format.blockAlign = info.format.blockAlign;
  format.bitsPerSample = info.format.bitsPerSample;
  // The header as a plain 16-byte "fmt " WAV has it, whatever chunks the file had first.
  std::uint8_t riffSize[4] = {};
  if (plat::ReadAt(sourceFile, riffSize, 4, 4) != 4) std::memset(riffSize, 0, 4);
  std::memcpy(wavHeader, "RIFF", 4);
  std::memcpy(wavHeader + 4, riffSize, 4);
  std::memcpy(wavHeader + 8, "WAVEfmt ", 8);
  PutU32(wavHeader + 16, 16);
  PutU16(wavHeader + 20, format.formatTag);
  PutU16(wavHeader + 22, format.channels);
  PutU32(wavHeader + 24, format.samplesPerSec);
  PutU32(wavHeader + 28, format.avgBytesPerSec);
  PutU16(wavHeader + 32, format.blockAlign);
  PutU16(wavHeader + 34, format.bitsPerSample);
  dataOffset = static_cast<std::uint32_t>(info.dataOffset);
  dataBytes = info.dataBytes;

  CreateEngine(format.channels, format.samplesPerSec);
  sourcePath = path;

  if (!ReadChunkList(sideFolder + title + ".cif") && !MakeSingleChunk()) {
    return fail("no chunk list could be made");
  }
  textsPresent = ReadChunkTexts(sideFolder + title + ".txt");

  SelectChunk(0);  // chunk 0 was read with the list
  Notify(TRACK_NOTIFY_IDLE);
  return true;
}

bool CSoundTrack::ReadChunkList(const std::string& path) {
  if (sourceFile < 0) return false;
  FreeChunks();
  std::vector<CifRecord> records;
  bool cut = false;
  if (ReadCifFile(path, records, &cut) != SideFileStatus::Ok) return false;
  if (cut) {
    WriteLog(LOG_WAVE_MANAGER, "\"" + path + "\": only its first " +
                                   std::to_string(kMaxSideFileChunks) + " chunks are used");
  }
  const std::uint64_t totalFrames = dataBytes / BlockAlign();
  {
    std::lock_guard lock(bufferLock);
    chunks.reserve(records.size());
    for (const CifRecord& r : records) {
      auto chunk = std::make_unique<CChunkInfo>();
      // Both ends of a chunk at the first frame of their millisecond: a list written from
      // these chunks again gives the same records (contiguous ones stay contiguous).
      chunk->start = MsToFrameAtOrAfter(r.startMs, format.samplesPerSec);
      const std::uint32_t end =
          MsToFrameAtOrAfter(std::uint64_t{r.startMs} + r.lengthMs, format.samplesPerSec);
      // Records are taken as they stand, but a chunk never reaches past the sound.
      chunk->length = media::ClampFrames(chunk->start, end - chunk->start, totalFrames);
      chunks.push_back(std::move(chunk));
    }
    currentChunk = 0;
  }
  LoadChunk(0);
  SelectChunk(0);
  Notify(recording ? TRACK_NOTIFY_RECORDING : TRACK_NOTIFY_IDLE);
  RedrawWaveform(0, FramesPerPixel());
  modified = false;
  return true;
}

bool CSoundTrack::MakeSingleChunk() {
  if (sourceFile < 0) return false;
  FreeChunks();
  {
    std::lock_guard lock(bufferLock);
    auto chunk = std::make_unique<CChunkInfo>();
    chunk->length = dataBytes / BlockAlign();
    chunks.push_back(std::move(chunk));
    currentChunk = 0;
  }
  LoadChunk(0);
  Notify(recording ? TRACK_NOTIFY_RECORDING : TRACK_NOTIFY_IDLE);
  RedrawWaveform(0, 0);
  modified = false;
  return true;
}

bool CSoundTrack::SetChunkText(const std::u16string& text) {
  CChunkInfo* chunk = CurrentChunk();
  if (chunk == nullptr) {
    chunk = AddChunk();
    if (chunk == nullptr) return false;
    currentChunk = ChunkCount() - 1;
  }
  {
    std::lock_guard lock(bufferLock);
    // The text ends at its first NUL, as a C string would.
    chunk->text = text.substr(0, text.find(u'\0'));
  }
  modified = true;
  return true;
}

bool CSoundTrack::ReadChunkTexts(const std::string& path) {
  std::vector<std::u16string> texts;
  bool cut = false;
  if (ReadTxtFile(path, texts, &cut) != SideFileStatus::Ok) return false;
  if (cut) {
    WriteLog(LOG_WAVE_MANAGER, "\"" + path + "\": only its first " +
                                   std::to_string(kMaxSideFileChunks) + " lines are used");
  }
  std::lock_guard lock(bufferLock);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i == chunks.size()) chunks.push_back(std::make_unique<CChunkInfo>());
    chunks[i]->text = std::move(texts[i]);
  }
  return true;
}

}  // namespace vts
