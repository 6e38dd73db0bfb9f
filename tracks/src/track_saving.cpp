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

// The chunk's PCM for a save: loaded, whole frames, no more than its length. Null (nothing
// written) when the sound of a chunk with frames cannot be had. `loadedHere` tells whether
// the save loaded it (and so unloads it again).
const std::uint8_t* ChunkSound(CSoundTrack& track, int index, std::uint32_t& bytes,
                               bool& loadedHere) {
  bytes = 0;
  CChunkInfo* chunk = track.Chunk(index);
  if (chunk == nullptr) return nullptr;
  loadedHere = !chunk->IsLoaded();
  if (!track.LoadChunk(index)) return nullptr;
  static const std::uint8_t kNothing = 0;
  if (chunk->length == 0) return chunk->data ? chunk->data : &kNothing;
  const std::uint32_t align = std::max<std::uint32_t>(track.Format().blockAlign, 1);
  const std::uint64_t wanted = std::uint64_t(chunk->length) * align;
  if (chunk->data == nullptr || chunk->dataSize < wanted) return nullptr;
  bytes = static_cast<std::uint32_t>(wanted);
  return chunk->data;
}

// Unloads a chunk the save loaded, except the current one. A chunk that was in memory
// before stays there: its sound may exist nowhere else (a temporary file that could not be
// written).
void DoneWithChunk(CSoundTrack& track, int index, bool loadedHere) {
  if (!loadedHere || index == track.CurrentChunkIndex()) return;
  std::lock_guard lock(track.BufferLock());
  if (CChunkInfo* chunk = track.Chunk(index)) chunk->Unload();
}

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

// Writes the WAV into `out`: a header, then the chunks' PCM in order. `why` tells a failure,
// `systemError` the errno of a write that failed (else it stays 0).
bool WriteWav(CSoundTrack& track, SiblingFile& out, std::string& why, int& systemError) {
  std::uint64_t totalFrames = 0;
  for (int i = 0; i < track.ChunksToSave(); ++i) {
    if (CChunkInfo* c = track.Chunk(i)) totalFrames += c->length;
  }
  std::array<std::uint8_t, 44> header{};
  if (!media::BuildWavHeader(MediaFormat(track.Format()), totalFrames, header)) {
    why = "the sound is too long for a WAV file";
    return false;
  }
  if (!WriteAll(out.Fd(), header.data(), header.size())) {
    systemError = errno;
    why = std::string("write failed: ") + std::strerror(systemError);
    return false;
  }
  for (int i = 0; i < track.ChunksToSave(); ++i) {
    std::uint32_t bytes = 0;
    bool loadedHere = false;
    const std::uint8_t* pcm = ChunkSound(track, i, bytes, loadedHere);
    if (pcm == nullptr) {
      DoneWithChunk(track, i, loadedHere);
      why = "the sound of chunk " + std::to_string(i + 1) + " cannot be read";
      return false;
    }
    const bool ok = WriteAll(out.Fd(), pcm, bytes);
    const int error = errno;
    DoneWithChunk(track, i, loadedHere);
    if (!ok) {
      systemError = error;
      why = std::string("write failed: ") + std::strerror(error);
      return false;
    }
  }
  return true;
}

// Encodes the chunks into `out`; `error` as EncodeMp3 reports it, `systemError` as WriteWav.
bool WriteMp3(CSoundTrack& track, SiblingFile& out, int& error, std::string& why,
              int& systemError) {
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
  for (int i = 0; i < track.ChunksToSave(); ++i) {
    std::uint32_t bytes = 0;
    bool loadedHere = false;
    const std::uint8_t* pcm = ChunkSound(track, i, bytes, loadedHere);
    if (pcm == nullptr) {
      DoneWithChunk(track, i, loadedHere);
      error = static_cast<int>(media::Mp3EncodeError::CannotCreate);
      why = "the sound of chunk " + std::to_string(i + 1) + " cannot be read";
      return false;
    }
    const auto* samples = reinterpret_cast<const std::int16_t*>(pcm);
    const std::size_t frames = bytes / (2u * channels);
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
    DoneWithChunk(track, i, loadedHere);
    if (!ok) return false;
  }
  if (!encoder.Finish(mp3)) {
    error = CSoundTrack::kMp3ErrorEncodeFailed;
    why = "the encoder could not finish the stream";
    return false;
  }
  if (!flush()) return false;
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

  if (currentChunk >= 0 && !SaveChunk(currentChunk)) {
    Warn(u"Could not save chunk", GetProductName());
    SaveFailed(path, "the current chunk could not be written to its temporary file");
    return false;
  }
  chunksToSave = ChunkCount();

  const std::string soundPath = WithExtension(path, asPackage ? "mpa" : asMp3 ? "mp3" : "wav");
  const std::string textsPath = WithExtension(path, "txt");
  const std::string packagePath = WithExtension(path, "vxb");
  std::vector<std::uint8_t> texts;
  if (textsPresent) texts = BuildChunkTexts();

  // The sound, complete under a temporary name.
  SiblingFile sound;
  std::string why;
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
    if (ok) ok = WriteMp3(*this, sound, error, why, systemError);
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
    if (ok) ok = WriteWav(*this, sound, why, systemError);
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
    const std::vector<std::uint8_t> cif = BuildChunkList();
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
  int systemError = 0;
  if (!WriteWav(*this, out, why, systemError)) {
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
  int systemError = 0;
  if (ok) ok = WriteMp3(*this, out, code, why, systemError);
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
