// The playback path: the current chunk cut into one-period buffers, two kept queued in the
// engine, the next one queued whenever one comes back, the end of the chunk reported.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/log.h"
#include "tracks/sound_track.h"

namespace vts {
namespace {

std::uint64_t TickMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CBufferDescr* CSoundTrack::MakePlayBuffer(CChunkInfo* chunk) {
  std::lock_guard lock(bufferLock);
  if (chunk == nullptr || chunk->data == nullptr || chunk->playOffset >= chunk->dataSize)
    return nullptr;
  std::uint32_t n = std::min(engine->bytesPerPeriod, chunk->dataSize - chunk->playOffset);
  n -= n % BlockAlign();  // whole frames only
  if (n < 1) return nullptr;
  CBufferDescr* descr = MakeBufferDescr(n + kSoundHeaderBytes);
  descr->kind = kSoundBlockKind;
  descr->used = 0;
  descr->ownerId = ownerId;
  descr->trackIndex = trackIndex;
  descr->reserved1 = playGeneration;
  SoundBlockHeader* header = PlaybackHeader(*descr);
  std::memset(header, 0, sizeof *header);
  header->channels = format.channels;
  header->samplesPerSec = format.samplesPerSec;
  // Identifies the sender; the word holds the low half of the address.
  header->sender = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(this));
  header->encoding = kEncodingPcm16;
  header->frames = n / BlockAlign();
  header->bitsPerSample = format.bitsPerSample;
  header->SetTimestamp(TickMs());
  std::memcpy(SamplesBehind(header), chunk->data + chunk->playOffset, n);
  chunk->playOffset += n;
  return descr;
}

void CSoundTrack::Play() {
  if (recording) {
    if (paused) TogglePause();
    ToggleRecord();
  }
  std::lock_guard order(playbackLock);
  {
    std::lock_guard lock(bufferLock);
    if (!paused) viewState.playFrame = viewState.cursorFrame;
    ++playGeneration;  // buffers of an earlier run that still come back are stale
  }
  // The sound server is waited for outside bufferLock (a connect may take seconds).
  engine->StopPlayback(OutputDevice());
  if (CurrentChunk() == nullptr) return;
  LoadChunk(currentChunk);
  engine->TakeStartFailure();  // an earlier one is not this start's
  engine->StartPlayback(OutputDevice());

  CBufferDescr* precache[2] = {nullptr, nullptr};
  int queued = 0;
  CChunkInfo* chunk = nullptr;
  {
    std::lock_guard lock(bufferLock);
    chunk = CurrentChunk();
    if (chunk != nullptr) {
      // A cursor right of a short waveform lies past the chunk's end: play from the end.
      if (viewState.playFrame > chunk->length) viewState.playFrame = chunk->length;
      chunk->playOffset = std::min<std::uint64_t>(std::uint64_t(viewState.playFrame) * BlockAlign(),
                                                  chunk->dataSize);
      for (int i = 0; i < 2; ++i) {
        CBufferDescr* descr = MakePlayBuffer(chunk);
        if (descr == nullptr) {
          WriteLog(LOG_WAVE_MANAGER, "Next buffer is zero in precache");
          continue;
        }
        descr->trackIndex = trackIndex;
        WriteLog(LOG_WAVE_MANAGER, "Precaching sound buffer");
        precache[queued++] = descr;
      }
    }
    // Before the buffers go out: one that comes back at once finds its run playing.
    playing = true;
    paused = false;
  }
  for (int i = 0; i < queued; ++i) engine->Playback(precache[i], false);
  // A stream whose client could not open has ended, and one without a device never
  // began: none of their buffers comes back. (A client that only failed a later set-up step
  // gives its buffer back, and the next buffer tries again.)
  std::string failure = engine->TakeStartFailure();
  const bool streamRuns = engine->GetPlaybackStreamCount() != 0;
  Notify(TRACK_NOTIFY_RUNNING);
  if (queued == 0) {
    // Nothing to play: no buffer will come back to end the playback, so end it here.
    {
      std::lock_guard lock(bufferLock);
      if (chunk != nullptr) chunk->playOffset = 0;
      playing = false;
    }
    engine->StopPlayback(OutputDevice());
    Notify(TRACK_NOTIFY_PLAY_ENDED);
    return;
  }
  if (streamRuns) return;
  TellStartFailure(failure.empty() ? NoDeviceChosen(kPlaybackNoDeviceText) : std::move(failure));
}

void CSoundTrack::OnBufferPlayed(CBufferDescr** slot) {
  if (slot == nullptr || *slot == nullptr) return;
  CBufferDescr* descr = *slot;
  if (descr->ownerId != ownerId) return;  // the other track's
  std::unique_lock order(playbackLock);
  std::unique_lock lock(bufferLock);
  CChunkInfo* chunk = CurrentChunk();
  if (chunk == nullptr) return;
  *slot = nullptr;
  if (descr->reserved1 != playGeneration) {
    lock.unlock();
    order.unlock();
    ReleaseBufferDescr(descr);  // from a playback that was stopped or restarted since
    return;
  }
  viewState.playFrame += (descr->size - kSoundHeaderBytes) / BlockAlign();
  viewState.progress.SetPos(viewState.playFrame);

  CBufferDescr* next = nullptr;
  if (playing && !paused) next = MakePlayBuffer(chunk);
  bool ended = false;
  if (next == nullptr && viewState.playFrame >= chunk->length && playing) {
    chunk->playOffset = 0;
    playing = false;
    ++playGeneration;  // the other buffer still out (if any) ends nothing more
    ended = true;
  }

  // Keep the play position in view.
  const std::uint32_t start = viewState.viewStartFrame, width = viewState.viewFrames,
                      half = width / 2, pos = viewState.playFrame;
  const std::uint32_t fpp = viewState.framesPerPixel;
  std::uint32_t length = chunk->length;
  std::uint32_t first = start;
  if (start + half < pos && start + width < length) {
    first = pos - half;
    if (length >= width && first > length - width) first = length - width;
  } else if (pos < start) {
    first = pos;
  }
  // The drawing changes only when the view moves; otherwise the play line alone moves.
  const bool viewMoves = first != start;
  lock.unlock();
  if (next != nullptr) engine->Playback(next, false);
  order.unlock();
  ReleaseBufferDescr(descr);
  if (ended) Notify(TRACK_NOTIFY_PLAY_ENDED);
  if (ended) {
    RedrawWaveform(first, fpp);
  } else if (viewMoves) {
    FollowWaveform(first, fpp);
  } else {
    Repaint();
  }
  Notify(TRACK_NOTIFY_REFRESH);
}

void CSoundTrack::TogglePause() {
  if (playing) {
    if (!paused) {
      StopPlayback();
      playing = true;
      paused = true;
    } else {
      Play();
      paused = false;
    }
  }
  if (recording) {
    if (paused) {
      Notify(TRACK_NOTIFY_RUNNING);
      std::string failure = StartChosenCaptures();
      paused = false;
      TellStartFailure(std::move(failure));
    } else {
      Notify(TRACK_NOTIFY_PAUSED);
      StopChosenCaptures();
      paused = true;
    }
  }
}

void CSoundTrack::StopPlayback() {
  if (recording) {
    if (paused) TogglePause();
    ToggleRecord();
  }
  // The run ends under bufferLock, so that a buffer coming back right now cannot also end
  // the playback (a second code 5); the playback order keeps one from queueing a successor
  // into the stopped stream.
  std::lock_guard order(playbackLock);
  bool wasPlaying = false;
  {
    std::lock_guard lock(bufferLock);
    wasPlaying = playing.exchange(false);
    if (wasPlaying) ++playGeneration;
  }
  if (wasPlaying) {
    engine->StopPlayback(OutputDevice());
    Notify(TRACK_NOTIFY_PLAY_ENDED);
  }
  paused = false;
}

void CSoundTrack::StopAll() {
  StopChosenCaptures();
  std::lock_guard order(playbackLock);
  {
    std::lock_guard lock(bufferLock);
    ++playGeneration;
    recording = false;
    playing = false;
    paused = false;
  }
  engine->StopPlayback(OutputDevice());
}

}  // namespace vts
