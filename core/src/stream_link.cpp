// The core's side of the classroom pipes: the two channels, the stream peer's messages and
// the Student stream. Everything here runs on the core thread except starting and stopping
// the channels (the core's constructor and destructor) and SendMixerInputNotice.
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "core/app_core.h"
#include "core/log.h"
#include "core/pipe_channel.h"
#include "pipe_text_boxes.h"
#include "platform/message_box.h"
#include "platform/utf.h"
#include "tracks/sound_track.h"

namespace vts {

void CAppCore::StartPipeChannels() {
  pipeTexts_ = std::make_unique<PipeTextBoxes>();
  CCoreThread::StreamHandlers handlers;
  handlers.sendStreamBlock = [this](bool final) { return SendStreamBlock(final); };
  handlers.onStreamPipeData = [this](plat::WPARAM pipe, plat::LPARAM lParam) {
    OnStreamPipeData(pipe, lParam);
  };
  handlers.isStreaming = [this] { return streamingFlag.load() != 0; };
  handlers.stopStreaming = [this] { streamingFlag = 0; };
  coreThread.SetStreamHandlers(std::move(handlers));

  interfacePipe_ =
      std::make_unique<CPipeChannel>(kInterfacePipeName, coreThread.Id(), WM_CORE_IFACE_PIPE);
  streamPipe_ =
      std::make_unique<CPipeChannel>(kStreamPipeName, coreThread.Id(), WM_CORE_STREAM_PIPE);
  if (!interfacePipe_->Start()) interfacePipe_.reset();
  if (!streamPipe_->Start()) streamPipe_.reset();
}

void CAppCore::StopPipeChannels() {
  // Stop returns after every reader ended; their last events may still wait in the core
  // thread's queue, which the handlers below take until they are cleared.
  if (interfacePipe_) interfacePipe_->Stop();
  if (streamPipe_) streamPipe_->Stop();
  // From here on no stream handler runs (the barrier), so the channels may go.
  coreThread.SetStreamHandlers({});
  interfacePipe_.reset();
  streamPipe_.reset();
  pipeTexts_.reset();
}

bool CAppCore::WriteStream(std::span<const std::uint8_t> message) {
  return streamPipe_ && streamPipeHandle != 0 && streamPipe_->Write(streamPipeHandle, message);
}

void CAppCore::SendMixerInputNotice() {
  auto send = [this] {
    // Not connected yet: it follows the next connect's hello.
    if (!WriteStream(EncodeMixerInput())) mixerInputNoticeDue = true;
  };
  if (!coreThread.PostTask(send)) send();  // no core thread: nobody else writes
}

void CAppCore::OnStreamPipeData(plat::WPARAM pipe, plat::LPARAM lParam) {
  if (lParam == kPipeConnected) {
    streamPipeHandle = pipe;
    WriteStream(EncodeHello());
    WriteStream(EncodeClientIdRequest());
    if (mixerInputNoticeDue && WriteStream(EncodeMixerInput())) mixerInputNoticeDue = false;
    return;
  }
  if (lParam == kPipeDisconnected) {
    if (pipe == streamPipeHandle) streamPipeHandle = 0;
    return;
  }
  const auto* block = reinterpret_cast<const std::uint8_t*>(lParam);
  std::uint32_t length;
  std::memcpy(&length, block, 4);
  OnReceivedStreamMessage({block + 4, length});
  FreePipeBlock(lParam);
}

namespace {

// The start of a text for a log line: one line, at most 60 characters.
std::string Excerpt(const std::u16string& text) {
  constexpr std::size_t kMost = 60;
  std::u16string part = text.substr(0, kMost);
  // Never half a surrogate pair.
  if (part.size() == kMost && (part.back() & 0xFC00) == 0xD800) part.pop_back();
  for (char16_t& c : part)
    if (c < u' ') c = u' ';
  return plat::Utf16ToUtf8(part) + (part.size() < text.size() ? "..." : "");
}

}  // namespace

void CAppCore::ReportStreamFault(const std::string& what) {
  if (streamPipe_) streamPipe_->ReportFault(what);
}

void CAppCore::OnReceivedStreamMessage(std::span<const std::uint8_t> bytes) {
  const ReceivedStreamMessage m = DecodeStreamMessage(bytes);
  using K = ReceivedStreamMessage::Kind;
  const std::string size = std::to_string(bytes.size()) + " bytes";
  switch (m.kind) {
    case K::kText: {
      // Shown by the boxes' own thread, or dropped: never a box that holds up this thread.
      std::string why = "no thread shows the boxes";
      if (!pipeTexts_ || !pipeTexts_->Add(m.text, &why))
        ReportStreamFault("a text was not shown, " + why + ": " + Excerpt(m.text));
      break;
    }
    case K::kClientId:
      clientId = m.clientId;
      break;
    case K::kMixerValues:
      if (const std::uint32_t input = mixerInput; input == 1 || input == 2)
        mixerValue = m.mixerValues[input - 1];
      break;
    case K::kAudio: {
      if (!AudioIsFor(m, clientId) || !masterTrack || !studentTrack) break;
      const int index = static_cast<int>(m.chunkIndex);
      bool ready = true;
      for (CSoundTrack* track : {masterTrack, studentTrack}) {
        if (track->CurrentChunkIndex() == index) continue;
        while (track->ChunkCount() < index + 1)
          if (!track->AddChunk()) break;
        if (track->ChunkCount() < index + 1) {
          ready = false;
          break;
        }
        track->SelectChunk(index);
      }
      if (ready && masterTrack->CurrentChunkIndex() == index)
        masterTrack->WriteSamplesAt(m.position, static_cast<std::uint32_t>(m.pcm.size()),
                                    m.pcm.data());
      break;
    }
    case K::kMalformed:
      ReportStreamFault(bytes.size() < 4 ? "a message of " + size + " " + m.fault + "; dropped"
                                         : "a message of type " + std::to_string(m.type) + " (" +
                                               size + ") " + m.fault + "; dropped");
      break;
    case K::kOther:
      ReportStreamFault("a message of unknown type " + std::to_string(m.type) + " (" + size +
                        "); ignored");
      break;
  }
}

bool CAppCore::SendStreamBlock(bool final) {
  CSoundTrack* student = studentTrack;
  if (!student) return true;
  std::vector<std::int16_t> samples;
  StreamBlock block;
  std::int32_t chunkIndex = -1;
  {
    std::lock_guard trackLock(student->BufferLock());
    // The label and the samples are taken together: the window may switch chunks meanwhile.
    chunkIndex = student->CurrentChunkIndex();
    CChunkInfo* chunk = student->CurrentChunk();
    if (!chunk || student->Format().samplesPerSec == 0) return true;
    if (chunk->length == 0) return true;
    // The samples that are really in memory bound the block.
    const std::uint32_t loaded = chunk->data ? chunk->dataSize / 2 : 0;
    StreamCursor next = streamCursor;
    block = NextStreamBlock(next, chunkIndex, std::min(chunk->length, loaded), final);
    if (final && block.samples == 0) {  // nothing of this recording went out: nothing to end
      streamCursor = next;
      return true;
    }
    if (streamPipeHandle == 0) return false;
    streamCursor = next;
    if (block.samples == 0) return true;
    const auto* first = reinterpret_cast<const std::int16_t*>(chunk->data) + block.position;
    samples.assign(first, first + block.samples);
  }
  std::vector<std::uint8_t> message;
  {
    std::lock_guard lock(coreLock);  // the destination list as it stands now
    message = EncodeRelay(static_cast<std::uint32_t>(chunkIndex), block.position,
                          {streamDestinations.data(), destinationCount}, samples);
  }
  return WriteStream(message);
}

}  // namespace vts
