// Saving a track as a PCM WAV, as an MP3 (LAME) or as a ".vxb" package, and its chunk list
// alone. Nothing is written over an existing file until the new one is complete: every file
// is written under a temporary name beside its target, flushed, and renamed over it last.

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>

#include "core/log.h"
#include "core/paths.h"
#include "core/product_name.h"
#include "package/package_file.h"
#include "platform/fd.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/utf.h"
#include "tracks/media/mp3.h"
#include "tracks/media/wav_file.h"
#include "tracks/side_files.h"
#include "tracks/sound_track.h"

namespace vts {
namespace {

constexpr const char16_t* kCannotSaveText = u"Unable to save to requested destination";
constexpr const char16_t* kMp3Caption = u"MP3 encoding error";

void SaveFailed(const std::string& path, const std::string& why) {
  WriteLog(LOG_WAVE_MANAGER, "Could not save \"" + path + "\": " + why);
}

// A destination that refuses the file (read-only, missing, full): its path and the system's
// reason, so the user knows what to change.
std::u16string DestinationText(const std::string& path, int error) {
  return plat::Utf8ToUtf16(std::string("Unable to save to requested destination \"") + path +
                           "\": " + std::strerror(error) + ".");
}

// Not waited for: the save thread may hold the track's lock, and the window's thread may be
// waiting for the save to end (Open saves the old lesson on the way).
void Warn(const std::u16string& text, const std::u16string& caption) {
  plat::MessageBoxWithoutWaiting(text, caption, plat::MB_OK | plat::MB_ICONWARNING);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string WithExtension(std::string path, std::string_view ext) {
  ReplaceExtension(path, ext);
  return path;
}

// The file name's extension upper-cased when it has exactly three characters, else "".
std::string KindOf(const std::string& path) {
  std::string ext = GetExtensionOfPath(path);
  if (ext.size() != 3) return {};
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

using plat::WriteAll;

// A new file beside its target, open for writing; removed again unless committed.
using SiblingFile = plat::FileReplacement;

media::PcmFormat MediaFormat(const PcmFormat& f) {
  media::PcmFormat m;
  m.formatTag = 1;
  m.channels = f.channels;
  m.samplesPerSec = f.samplesPerSec;
  m.avgBytesPerSec = f.avgBytesPerSec;
  m.blockAlign = f.blockAlign;
  m.bitsPerSample = f.bitsPerSample;
  return m;
}

// Writes the WAV into `out`: a header, then the chunks' PCM in order. `lengths` gets the
// frames written of each chunk; `why` tells a failure, `systemError` the errno of a write
// that failed (else it stays 0).
bool WriteWav(CSoundTrack& track, SiblingFile& out, std::vector<std::uint32_t>& lengths,
              std::string& why, int& systemError) {
  // The sizes are those of the sound written: received audio may change a chunk between
  // this header and its copy, so the header is written again at the end.
  std::uint64_t totalFrames = 0;
  std::array<std::uint8_t, 44> header{};
  if (!WriteAll(out.Fd(), header.data(), header.size())) {
    systemError = errno;
    why = std::string("write failed: ") + std::strerror(systemError);
    return false;
  }
  std::vector<std::uint8_t> pcm;
  const std::uint32_t align = std::max<std::uint32_t>(track.Format().blockAlign, 1);
  for (int i = 0; i < track.ChunksToSave(); ++i) {
    if (!track.CopyChunkSound(i, pcm)) {
      why = "the sound of chunk " + std::to_string(i + 1) + " cannot be read";
      return false;
    }
    lengths.push_back(static_cast<std::uint32_t>(pcm.size() / align));
    totalFrames += pcm.size() / align;
    if (!WriteAll(out.Fd(), pcm.data(), pcm.size())) {
      systemError = errno;
      why = std::string("write failed: ") + std::strerror(systemError);
      return false;
    }
  }
  if (!media::BuildWavHeader(MediaFormat(track.Format()), totalFrames, header)) {
    why = "the sound is too long for a WAV file";
    return false;
  }
  if (!out.WriteAt(0, header.data(), header.size())) {
    systemError = errno;
    why = std::string("write failed: ") + std::strerror(systemError);
    return false;
  }
  return true;
}

// Encodes the chunks into `out`; `error` as EncodeMp3 reports it, `systemError` as WriteWav.
bool WriteMp3(CSoundTrack& track, SiblingFile& out, std::vector<std::uint32_t>& lengths, int& error,
              std::string& why, int& systemError) {
  const std::uint16_t channels = track.Format().channels;
  media::Mp3StreamEncoder encoder;
  const media::Mp3EncodeError init = encoder.Init(track.Format().samplesPerSec, channels);
  if (init != media::Mp3EncodeError::None) {
    error = static_cast<int>(init);
    why = media::Mp3EncodeErrorText(init);
    return false;
  }
  std::vector<std::uint8_t> mp3;
  mp3.reserve(encoder.OutputBufferSize());
  auto flush = [&]() {
    if (!WriteAll(out.Fd(), mp3.data(), mp3.size())) {
      systemError = errno;
      error = static_cast<int>(media::Mp3EncodeError::CannotCreate);
      why = std::string("write failed: ") + std::strerror(systemError);
      return false;
    }
    mp3.clear();
    return true;
  };
  const std::size_t framesPerCall = encoder.SamplesPerChunk() / channels;
  std::vector<std::uint8_t> pcm;
  for (int i = 0; i < track.ChunksToSave(); ++i) {
    if (!track.CopyChunkSound(i, pcm)) {
      error = static_cast<int>(media::Mp3EncodeError::CannotCreate);
      why = "the sound of chunk " + std::to_string(i + 1) + " cannot be read";
      return false;
    }
    const auto* samples = reinterpret_cast<const std::int16_t*>(pcm.data());
    const std::size_t frames = pcm.size() / (2u * channels);
    lengths.push_back(static_cast<std::uint32_t>(frames));
    bool ok = true;
    for (std::size_t done = 0; ok && done < frames;) {
      const std::size_t n = std::min(framesPerCall, frames - done);
      if (!encoder.Encode(samples + done * channels, n * channels, mp3)) {
        error = CSoundTrack::kMp3ErrorEncodeFailed;
        why = "the encoder failed in chunk " + std::to_string(i + 1);
        ok = false;
        break;
      }
      done += n;
      ok = flush();
    }
    if (!ok) return false;
  }
  if (!encoder.Finish(mp3)) {
    error = CSoundTrack::kMp3ErrorEncodeFailed;
    why = "the encoder could not finish the stream";
    return false;
  }
  if (!flush()) return false;
  // The delay and padding go where decoders look for them: the first frame, kept free.
  const std::vector<std::uint8_t> info = encoder.InfoFrame();
  if (!info.empty() && !out.WriteAt(0, info.data(), info.size())) {
    systemError = errno;
    error = static_cast<int>(media::Mp3EncodeError::CannotCreate);
    why = std::string("write failed: ") + std::strerror(systemError);
    return false;
  }
  encoder.Close();
  return true;
}

// EncodeMp3's checks before anything is written; false with `error` set when it must fail.
bool Mp3Possible(const CSoundTrack& track, int& error, std::string& why) {
  error = 0;
  if (track.ChunksToSave() == 0) {
    why = "there are no chunks";
    return false;
  }
  if (track.Format().channels > 2) {
    why = "more than two channels";
    return false;
  }
  if (track.Format().channels == 0) {
    error = static_cast<int>(media::Mp3EncodeError::BadChannelCount);
    why = media::Mp3EncodeErrorText(media::Mp3EncodeError::BadChannelCount);
    return false;
  }
  return true;
}

std::u16string Mp3ErrorText(int error) {
  if (error == CSoundTrack::kMp3ErrorEncodeFailed) return u"The sound could not be encoded";
  return plat::Utf8ToUtf16(media::Mp3EncodeErrorText(static_cast<media::Mp3EncodeError>(error)));
}

}  // namespace

bool CSoundTrack::CopyChunkSound(int index, std::vector<std::uint8_t>& pcm) {
  pcm.clear();
  // Under the lock throughout: the core thread may unload, reload or replace the chunk
  // (received audio) or write its file the moment the lock is let go.
  std::lock_guard lock(bufferLock);
  CChunkInfo* chunk = Chunk(index);
  if (chunk == nullptr) return false;
  if (chunk->length == 0) return true;
  const std::uint64_t align = BlockAlign();
  const std::uint64_t wanted = std::uint64_t(chunk->length) * align;
  if (wanted > UINT32_MAX) return false;
  if (chunk->IsLoaded()) {
    if (chunk->dataSize < wanted) return false;
    pcm.assign(chunk->data, chunk->data + wanted);
    return true;
  }
  pcm.resize(static_cast<std::size_t>(wanted));
  if (SoundFromSource(chunk)) {
    // Frames past the source's "data" chunk are not sound.
    if (std::uint64_t(chunk->start) + chunk->length > dataBytes / align) return false;
    return plat::ReadAt(sourceFile, pcm.data(), pcm.size(), dataOffset + align * chunk->start) ==
           static_cast<long long>(pcm.size());
  }
  plat::UniqueFd fd;
  if (!tempFolder.empty())
    fd = plat::OpenFile(tempFolder + chunk->fileName, plat::kOpenRead | plat::kOpenNoFollow);
  if (!fd) {
    plat::MessageBoxWithoutWaiting(u"Could not open file in LoadChunk", GetProductName(),
                                   plat::MB_OK | plat::MB_ICONWARNING);
    return false;
  }
  return plat::ReadAt(fd.get(), pcm.data(), pcm.size(), 0) == static_cast<long long>(pcm.size());
}

bool CSoundTrack::SaveAsync(const std::string& path, bool keepOldVersion) {
  if (windowDisabledWhileSaving) windowDisabledWhileSaving(false);
  WaitForSave();
  saveThread =
      std::thread(&CSoundTrack::SaveThreadProc, new SaveRequest{this, path, 1, keepOldVersion});
  return true;
}

void CSoundTrack::SaveThreadProc(SaveRequest* request) {
  CSoundTrack* track = request->track;
  bool ok = false;
  try {
    ok = track->SaveTrack(request->path, request->keepOldVersion);
  } catch (const std::exception& e) {
    SaveFailed(request->path, e.what());
  } catch (...) {
    SaveFailed(request->path, "unexpected error");
  }
  delete request;
  track->lastSaveOk = ok;
  track->Notify(TRACK_NOTIFY_SAVED);
}

bool CSoundTrack::SaveTrack(const std::string& path, bool keepOldVersion) {
  StopPlayback();
  // What a save that was killed half-way left here goes now.
  plat::RemoveStaleReplacements(FolderOf(path));
  const std::string kind = KindOf(path);
  const bool asPackage = kind == "VXB";
  const bool asMp3 = kind == "MP3" || asPackage;

  // A current chunk that its file does not take keeps its sound in memory, where the save
  // reads it: that copy is the one the save must not lose.
  if (currentChunk >= 0 && !SaveChunk(currentChunk)) {
    WriteLog(LOG_WAVE_MANAGER, "The current chunk could not be written to its temporary file; \"" +
                                   path + "\" is saved from memory");
    TellSoundKeptInMemory();
  }
  chunksToSave = ChunkCount();

  const std::string soundPath = WithExtension(path, asPackage ? "mpa" : asMp3 ? "mp3" : "wav");
  const std::string textsPath = WithExtension(path, "txt");
  const std::string packagePath = WithExtension(path, "vxb");
  std::vector<std::uint8_t> texts;
  if (textsPresent) texts = BuildChunkTexts();

  // The sound, complete under a temporary name; the frames of each chunk as it was written.
  SiblingFile sound;
  std::string why;
  std::vector<std::uint32_t> lengths;
  // What the user sees of the file: the package, not the sound inside it.
  const std::string shownPath = asPackage ? packagePath : soundPath;
  int systemError = 0;  // the destination's own refusal, told as such
  if (asMp3) {
    int error = 0;
    bool ok = Mp3Possible(*this, error, why);
    if (ok && !sound.Open(shownPath, 0644)) {
      systemError = errno;
      error = static_cast<int>(media::Mp3EncodeError::CannotCreate);
      why = std::string("cannot create a file beside it: ") + std::strerror(systemError);
      ok = false;
    }
    if (ok) ok = WriteMp3(*this, sound, lengths, error, why, systemError);
    if (!ok) {
      sound.Discard();
      if (systemError != 0)
        Warn(DestinationText(shownPath, systemError), GetProductName());
      else if (error != 0)
        Warn(Mp3ErrorText(error), kMp3Caption);
      SaveFailed(path, why);
      return false;
    }
  } else {
    bool ok = chunksToSave > 0;
    if (!ok) why = "there are no chunks";
    if (ok && !sound.Open(soundPath, 0644)) {
      systemError = errno;
      why = std::string("cannot create a file beside it: ") + std::strerror(systemError);
      ok = false;
    }
    if (ok) ok = WriteWav(*this, sound, lengths, why, systemError);
    if (!ok) {
      sound.Discard();
      if (chunksToSave > 0)
        Warn(systemError != 0 ? DestinationText(soundPath, systemError) : kCannotSaveText,
             GetProductName());
      SaveFailed(path, why);
      return false;
    }
  }

  if (asPackage) {
    if (!sound.Finish()) {
      const int error = errno;
      sound.Discard();
      Warn(DestinationText(packagePath, error), GetProductName());
      SaveFailed(path, "the MP3 could not be completed");
      return false;
    }
    // The list of the sound as written (the core thread may have changed chunks since).
    const std::vector<std::uint8_t> cif = BuildCifBody(lengths, format.samplesPerSec);
    std::string title = GetFileNameOfPath(packagePath);
    title.resize(title.rfind('.'));
    PackageParts parts;
    parts.title = title;
    parts.hasTexts = textsPresent;
    parts.texts = texts;
    parts.chunkList = cif;
    parts.mpaPath = sound.ReleaseTemp();  // WritePackage removes it in every case
    if (keepOldVersion) parts.oldVersionPath = OldVersionPath(packagePath);
    if (!WritePackage(packagePath, parts, &why)) {
      Warn(kCannotSaveText, GetProductName());
      SaveFailed(packagePath, why);
      return false;
    }
  } else {
    // The texts are made complete too before either file replaces its old version.
    SiblingFile textsFile;
    if (textsPresent) {
      if (!textsFile.Open(textsPath, 0644) ||
          !WriteAll(textsFile.Fd(), texts.data(), texts.size())) {
        const int error = errno;
        why = std::string("cannot write the texts: ") + std::strerror(error);
        textsFile.Discard();
        sound.Discard();
        Warn(DestinationText(textsPath, error), GetProductName());
        SaveFailed(textsPath, why);
        return false;
      }
    }
    if (keepOldVersion) sound.KeepOldVersionAs(OldVersionPath(soundPath));
    if (!sound.Commit()) {
      const int error = errno;
      Warn(DestinationText(soundPath, error), GetProductName());
      SaveFailed(soundPath, std::string("cannot replace the file: ") + std::strerror(error));
      return false;
    }
    if (textsPresent && !textsFile.Commit()) {
      const int error = errno;
      Warn(DestinationText(textsPath, error), GetProductName());
      SaveFailed(textsPath, std::string("cannot replace the file: ") + std::strerror(error));
      return false;
    }
  }

  audioModified = 0;
  modified = false;
  return true;
}

bool CSoundTrack::SaveWav(const std::string& path) {
  if (chunksToSave == 0) return false;
  SiblingFile out;
  std::string why;
  if (!out.Open(path, 0644)) {
    SaveFailed(path, std::string("cannot create a file beside it: ") + std::strerror(errno));
    return false;
  }
  std::vector<std::uint32_t> lengths;
  int systemError = 0;
  if (!WriteWav(*this, out, lengths, why, systemError)) {
    out.Discard();
    SaveFailed(path, why);
    return false;
  }
  if (!out.Commit()) {
    SaveFailed(path, std::string("cannot replace the file: ") + std::strerror(errno));
    return false;
  }
  return true;
}

bool CSoundTrack::EncodeMp3(const std::string& path, int* error) {
  int code = 0;
  std::string why;
  SiblingFile out;
  bool ok = Mp3Possible(*this, code, why);
  if (ok && !out.Open(path, 0644)) {
    code = static_cast<int>(media::Mp3EncodeError::CannotCreate);
    ok = false;
  }
  std::vector<std::uint32_t> lengths;
  int systemError = 0;
  if (ok) ok = WriteMp3(*this, out, lengths, code, why, systemError);
  if (ok && !out.Commit()) {
    code = static_cast<int>(media::Mp3EncodeError::CannotCreate);
    ok = false;
  }
  if (!ok) {
    out.Discard();
    SaveFailed(path, why.empty() ? "cannot write the file" : why);
  }
  if (error) *error = code;
  return ok;
}

std::vector<std::uint8_t> CSoundTrack::BuildChunkList() {
  if (chunksToSave == 0) chunksToSave = ChunkCount();
  std::vector<std::uint32_t> lengths;
  {
    std::lock_guard lock(bufferLock);
    const int count = std::min(chunksToSave, ChunkCount());
    lengths.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) lengths.push_back(Chunk(i)->length);
  }
  std::vector<std::uint8_t> body = BuildCifBody(lengths, format.samplesPerSec);
  if (body.empty()) chunksToSave = 0;
  return body;
}

bool CSoundTrack::WriteChunkList(const std::string& path) {
  // Every chunk counts: the count of an earlier save would drop bookmarks added since.
  chunksToSave = ChunkCount();
  const std::vector<std::uint8_t> body = BuildChunkList();
  if (!body.empty() && !ReplaceFileContents(path, body)) {
    SaveFailed(path, std::string("cannot write the chunk list: ") + std::strerror(errno));
    return false;
  }
  modified = false;
  return true;
}

std::vector<std::uint8_t> CSoundTrack::BuildChunkTexts() {
  std::vector<std::u16string> texts;
  {
    std::lock_guard lock(bufferLock);
    texts.reserve(chunks.size());
    for (const auto& chunk : chunks) texts.push_back(chunk->text);
  }
  return BuildTxtBody(texts);
}

bool CSoundTrack::BuildPackage(const std::string& path) {
  std::string why;
  if (tempFolder.empty() ||
      !BuildPackageFromFolder(tempFolder.substr(0, tempFolder.size() - 1), path, &why)) {
    SaveFailed(path, why.empty() ? "the temporary folder is not usable" : why);
    return false;
  }
  return true;
}

}  // namespace vts
