// The sound engine over the endpoint layer: stream lists, device lists, the format, the
// capture thread (half-period passes) and the playback thread (endpoint events).
#include "audio/sound_works_was.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "audio/endpoint.h"
#include "audio/sound_log.h"
#include "core/log.h"
#include "platform/process.h"
#include "platform/thread_queue.h"
#include "platform/utf.h"

namespace vts {

namespace {

// Posted by an endpoint's event to the playback thread; lParam: the client's token.
constexpr std::uint32_t kRenderEventMessage = plat::WM_USER + 0x71;

constexpr const char* kCaptureNoClient =
    "Could not activate capture AudioClient. Check that device is present.";
constexpr const char* kNoMixFormat = "Could not get mix format. Check that device is operational.";
constexpr const char* kPlaybackNoInit = "Could not initialize playback device";

void SoundLog(const std::string& text) { audio::WriteSoundLog(text); }

// MulDiv: a × b / c rounded to nearest, in 64 bits.
std::uint32_t MulDiv(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  if (c == 0) return 0;
  return std::uint32_t((std::uint64_t(a) * b + c / 2) / c);
}

struct SoundStream;

struct StreamClient {
  std::unique_ptr<audio::AudioClient> audioClient;
  bool hasRenderClient = false;
  bool hasCaptureClient = false;
  std::uint32_t bufferEvent = 0;  // token of the endpoint event; 0 without one
  SoundStream* stream = nullptr;
  std::uint8_t flag = 0;
  std::function<void(CBufferDescr*)> onBufferEnd;
  audio::MixFormat mixFormat;
  std::deque<CBufferDescr*> queue;
  SwrContext* resampler = nullptr;
  EngineStateBlock* state = nullptr;
  std::uint32_t keyReserved = 0;
  std::uint32_t keySender = 0;
  std::uint32_t streamIndex = 0;
  std::uint32_t engineChannels = 0;
  std::uint32_t engineRate = 0;
  CBufferDescr* convertedBlock = nullptr;
  CBufferDescr* rawBlock = nullptr;
  std::vector<float> converted;  // a captured block in the engine's format (capture thread)
  std::uint64_t lastDelivery = 0;
  std::uint32_t bufferFrames = 0;
  std::shared_ptr<std::atomic<bool>> eventPending = std::make_shared<std::atomic<bool>>(false);

  StreamClient() = default;
  StreamClient(const StreamClient&) = delete;
  StreamClient& operator=(const StreamClient&) = delete;
  // Releasing a client: the endpoint client, the blocks being built and every queued
  // buffer (no end-of-buffer call for them), the resampler.
  ~StreamClient() {
    audioClient.reset();
    ReleaseBufferDescr(convertedBlock);
    ReleaseBufferDescr(rawBlock);
    for (CBufferDescr* b : queue) ReleaseBufferDescr(b);
    queue.clear();
    swr_free(&resampler);
  }
};

struct SoundStream {
  std::u16string id;
  std::shared_ptr<audio::Device> device;
  std::list<std::unique_ptr<StreamClient>> clients;  // newest first
  std::uint32_t streamId = 0;
  std::uint32_t sourceTag = 0;

  StreamClient* Newest() { return clients.empty() ? nullptr : clients.front().get(); }
};

using StreamList = std::list<std::unique_ptr<SoundStream>>;

// A set-up step that failed after the client was initialised.
struct SetupError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class ReadResult { Empty, More, Lost };
enum class FeedResult { Done, Lost };

}  // namespace

struct CSoundWorksWAS::Impl {
  // What an endpoint's event reaches of the engine: nothing once the engine ends.
  struct RenderService {
    std::mutex lock;
    Impl* impl = nullptr;
  };

  CSoundWorksWAS* self = nullptr;
  std::shared_ptr<RenderService> renderService = std::make_shared<RenderService>();
  std::shared_ptr<audio::EndpointBackend> backend;
  EngineStateBlock* state = nullptr;

  std::recursive_mutex renderLock;
  // Buffers a feed took whole (under renderLock), given back once the lock is let go.
  std::vector<CBufferDescr*> finished;
  std::mutex returnOrder;  // returns of one feed are all posted before the next feed's
  std::recursive_mutex captureLock;
  StreamList renderStreams;
  StreamList captureStreams;
  std::atomic<std::uint32_t> renderCount{0};
  std::atomic<std::uint32_t> captureCount{0};

  std::unique_ptr<audio::PeriodTimer> timer;

  std::thread playbackThread;
  std::shared_ptr<std::atomic<plat::ThreadId>> playbackThreadId =
      std::make_shared<std::atomic<plat::ThreadId>>(0);
  std::thread captureThread;
  std::atomic<bool> captureRun{false};
  bool started = false;
  std::uint32_t nextEventToken = 1;
  std::mutex startFailureLock;
  std::string startFailure;  // the first since it was last taken

  // A stream that could not start: the sound log's line, kept for its starter to tell.
  void StartFailed(const char* text) {
    SoundLog(text);
    std::lock_guard lock(startFailureLock);
    if (startFailure.empty()) startFailure = text;
  }

  // --- shared stream entries ---

  std::string FriendlyName(const SoundStream& s) const {
    return s.device ? s.device->FriendlyName() : std::string();
  }

  static SoundStream* Find(StreamList& list, const std::u16string& id) {
    for (auto& s : list)
      if (s->id == id) return s.get();
    return nullptr;
  }

  bool StartStream(StreamList& list, std::atomic<std::uint32_t>& count, const std::u16string& id,
                   std::uint32_t streamId) {
    if (id.empty() || Find(list, id)) return false;
    auto s = std::make_unique<SoundStream>();
    s->id = id;
    s->streamId = streamId;
    s->device = backend ? backend->GetDevice(plat::Utf16ToUtf8(id)) : nullptr;
    SoundStream* raw = s.get();
    list.push_back(std::move(s));
    count = std::uint32_t(list.size());
    SoundLog("Starting:");
    SoundLog(FriendlyName(*raw));
    return true;
  }

  void StopStream(StreamList& list, std::atomic<std::uint32_t>& count, const std::u16string& id) {
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& s) { return s->id == id; });
    if (it == list.end()) return;
    std::unique_ptr<SoundStream> s = std::move(*it);
    list.erase(it);
    for (auto& c : s->clients) {
      if (c->audioClient) {
        c->audioClient->Stop();
        c->audioClient->Reset();
      }
    }
    s->clients.clear();
    SoundLog("Stopping:");
    SoundLog(FriendlyName(*s));
    count = std::uint32_t(list.size());  // after the release: a zero count means all is let go
  }

  // Channel layouts: the engine's and the endpoint's real channel counts.
  bool SetupResampler(StreamClient& c, std::uint32_t channels, std::uint32_t rate, bool capture) {
    c.engineChannels = channels;
    c.engineRate = rate;
    swr_free(&c.resampler);
    AVChannelLayout engineLayout{}, endpointLayout{};
    av_channel_layout_default(&engineLayout, int(std::max<std::uint32_t>(channels, 1)));
    av_channel_layout_default(&endpointLayout,
                              int(std::max<std::uint32_t>(c.mixFormat.channels, 1)));
    const int endpointRate = int(c.mixFormat.samplesPerSec);
    int rc;
    if (capture) {
      rc = swr_alloc_set_opts2(&c.resampler, &engineLayout, AV_SAMPLE_FMT_FLT, int(rate),
                               &endpointLayout, AV_SAMPLE_FMT_FLT, endpointRate, 0, nullptr);
    } else {
      rc = swr_alloc_set_opts2(&c.resampler, &endpointLayout, AV_SAMPLE_FMT_FLT, endpointRate,
                               &engineLayout, AV_SAMPLE_FMT_S16, int(rate), 0, nullptr);
    }
    av_channel_layout_uninit(&engineLayout);
    av_channel_layout_uninit(&endpointLayout);
    if (rc < 0 || swr_init(c.resampler) < 0) {
      swr_free(&c.resampler);
      return false;
    }
    return true;
  }

  std::function<void()> MakeEventCallback(StreamClient& c) {
    c.bufferEvent = nextEventToken++;
    if (nextEventToken == 0) nextEventToken = 1;
    std::shared_ptr<RenderService> service;
    if (c.audioClient && c.audioClient->ServesFromEvent()) service = renderService;
    // The callback may run on a backend thread after the client (or the engine) is gone:
    // it holds only shared flags and what the engine withdraws when it ends, and posts a
    // message when it cannot serve the request where it is.
    return [threadId = playbackThreadId, pending = c.eventPending, token = c.bufferEvent,
            service] {
      if (pending->exchange(true)) return;
      if (service && ServeInPlace(*service, token)) return;
      if (!plat::PostThreadMessage(threadId->load(), kRenderEventMessage, 0, plat::LPARAM(token)))
        pending->store(false);
    };
  }

  // Serves a request on the thread of its event when the engine's render side is free at
  // once (never waiting there: that thread may hold what the others wait for). False: the
  // playback thread is to serve it.
  static bool ServeInPlace(RenderService& service, std::uint32_t token) {
    std::lock_guard hold(service.lock);
    if (!service.impl) return false;
    Impl& d = *service.impl;
    std::unique_lock lock(d.renderLock, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    for (auto& s : d.renderStreams)
      for (auto& c : s->clients)
        if (c->bufferEvent == token) {
          c->eventPending->store(false);
          // A lost stream ends on the playback thread, not inside its own event.
          const bool lost = d.FeedRenderStream(*c) == FeedResult::Lost;
          if (lost) c->eventPending->store(true);
          d.ReturnFinished(lock);
          return !lost;
        }
    return true;  // the client is gone: nothing to serve
  }

  std::uint64_t BufferDurationUs() const { return std::uint64_t(self->periodMs * 4.0 * 1000.0); }

  // --- capture ---

  void StartCapture(const std::u16string& id, std::uint32_t streamId, std::uint32_t sourceTag) {
    if (id.empty()) return;
    std::lock_guard lock(captureLock);
    if (!StartStream(captureStreams, captureCount, id, streamId)) return;
    if (captureCount.load() == 1) ArmCaptureTimer();
    SoundStream& stream = *captureStreams.back();
    std::uint32_t sameId = 0;
    for (auto& s : captureStreams) sameId += s->streamId == streamId ? 1 : 0;
    stream.sourceTag = sourceTag;

    auto client = std::make_unique<StreamClient>();
    client->stream = &stream;
    client->state = state;
    client->keyReserved = 0;
    client->keySender = streamId;
    client->streamIndex = sameId - 1;
    client->lastDelivery = backend->NowMs();

    auto fail = [&](const char* text) {
      StartFailed(text);
      client.reset();
      self->StopCapture(id);
    };
    if (!stream.device) return fail(kCaptureNoDeviceText);
    std::uint32_t flags = audio::kStreamFlagEventCallback;
    if (stream.device->Flow() == DataFlow::Render) flags |= audio::kStreamFlagLoopback;
    client->audioClient = stream.device->Activate();
    if (!client->audioClient) return fail(kCaptureNoClient);
    if (client->audioClient->GetMixFormat(&client->mixFormat) != audio::Status::Ok)
      return fail(kNoMixFormat);
    SetupResampler(*client, self->channels, self->samplesPerSec, true);
    bool listed = false;
    try {
      audio::AudioClient& ac = *client->audioClient;
      if (ac.Initialize(flags, BufferDurationUs(), client->mixFormat) != audio::Status::Ok)
        throw SetupError("Could not initialize capture device");
      // Capture is driven by the period timer; the endpoint's event only has to exist.
      if (ac.SetEventCallback([] {}) != audio::Status::Ok)
        throw SetupError("Could not SetEventHandle");
      if (ac.GetBufferSize(&client->bufferFrames) != audio::Status::Ok)
        throw SetupError("Could not GetBufferSize");
      if (ac.GetService() != audio::Status::Ok)
        throw SetupError("Could not GetService IAudioCaptureClient");
      client->hasCaptureClient = true;
      StreamClient* raw = client.get();
      stream.clients.push_front(std::move(client));
      listed = true;
      if (raw->audioClient->Start() != audio::Status::Ok)
        throw SetupError("Could not Start AudioClient");
    } catch (const SetupError& e) {
      StartFailed(e.what());
      if (listed) stream.clients.pop_front();
      client.reset();
      self->StopCapture(id);
    }
  }

  void StopCapture(const std::u16string& id) {
    {
      std::lock_guard lock(captureLock);
      StopStream(captureStreams, captureCount, id);
      // An engine that captures nothing does not wake every half period.
      if (captureCount.load() == 0 && timer) timer->Disarm();
    }
    PostEndMark();
  }

  // The capture passes run every half period while something is captured. Under captureLock.
  void ArmCaptureTimer() {
    if (timer) timer->Arm(std::max<std::uint32_t>(std::uint32_t(self->periodMs) / 2, 1));
  }

  // Once per stream that ended because its device went.
  void PostDeviceLost(DataFlow flow) {
    if (self->deviceLostMessage == 0) return;
    plat::PostThreadMessage(self->ownerThreadId, self->deviceLostMessage, plat::WPARAM(flow),
                            plat::LPARAM(self->EngineTag()));
  }

  void PostEndMark() {
    plat::PostThreadMessage(self->ownerThreadId, self->soundInMessage, 0,
                            plat::LPARAM(self->EngineTag()));
  }

  void PostCapturedBlock(const float* samples, std::uint32_t k, const SoundStream& stream,
                         const StreamClient& c) {
    const std::uint32_t bytes = 4 * self->channels * k;
    CBufferDescr* block = MakeBufferDescr(bytes + kCapturedBlockExtraBytes);
    block->kind = kSoundBlockKind;
    block->origin = 2;
    block->used = 0;
    block->trackIndex = -1;
    SoundBlockHeader* h = CapturedHeader(*block);
    std::memset(h, 0, sizeof *h);
    h->channels = self->channels;
    h->samplesPerSec = self->samplesPerSec;
    h->userValue = stream.streamId < 4 ? self->userValues_[stream.streamId] : 0;
    h->sender = stream.streamId;
    h->streamIndex = c.streamIndex;
    h->frames = k;
    h->encoding = kEncodingFloat;
    h->bitsPerSample = 32;
    if (bytes) std::memcpy(SamplesBehind(h), samples, bytes);
    block->used = bytes;
    block->size = bytes + kCapturedBlockExtraBytes;
    if (!plat::PostThreadMessage(self->ownerThreadId, self->soundInMessage, plat::WPARAM(block),
                                 plat::LPARAM(self->EngineTag())))
      ReleaseBufferDescr(block);
  }

  void ConvertCapturedBlock(CBufferDescr* raw, StreamClient& c, const SoundStream& stream) {
    raw->used = 0;
    SoundBlockHeader* rh = CapturedHeader(*raw);
    const std::uint32_t n = rh->frames;
    const auto* input = reinterpret_cast<const std::uint8_t*>(SamplesBehind(rh));
    const std::int64_t out = av_rescale_rnd(
        n, c.engineRate, std::max<std::uint32_t>(c.mixFormat.samplesPerSec, 1), AV_ROUND_UP);
    // The client's scratch: a block's conversion allocates nothing once the first is done.
    std::vector<float>& output = c.converted;
    output.resize(std::size_t(out) * std::max<std::uint32_t>(c.engineChannels, 1));
    auto* outPtr = reinterpret_cast<std::uint8_t*>(output.data());
    int k =
        c.resampler ? swr_convert(c.resampler, &outPtr, int(out), &input, int(n)) : AVERROR(EINVAL);
    if (k < 0) {
      char text[512];
      av_strerror(k, text, sizeof text);
      SoundLog(text);
    } else {
      PostCapturedBlock(output.data(), std::uint32_t(k), stream, c);
    }
    ReleaseBufferDescr(raw);
  }

  ReadResult ReadCapturePacket(SoundStream& stream) {
    StreamClient* c = stream.Newest();
    if (!c || !c->hasCaptureClient) return ReadResult::Empty;
    audio::AudioClient& ac = *c->audioClient;
    std::uint32_t padding = 0;
    if (ac.GetCurrentPadding(&padding) == audio::Status::DeviceLost) return ReadResult::Lost;
    const float* data = nullptr;
    std::uint32_t frames = 0;
    std::uint64_t position = 0;
    audio::Status st = ac.GetCaptureBuffer(&data, &frames, &position);
    if (st == audio::Status::DeviceLost) return ReadResult::Lost;
    // A failed read ends this pass for the stream: retrying at once would only spin.
    if (st != audio::Status::Ok) return ReadResult::Empty;
    if (frames == 0) return ReadResult::Empty;
    const std::uint32_t blockAlign = c->mixFormat.BlockAlign();
    const std::uint32_t d =
        MulDiv(self->framesPerPeriod, c->mixFormat.samplesPerSec, self->samplesPerSec);
    const std::uint32_t bytes = blockAlign * frames;
    if (!c->rawBlock) {
      c->rawBlock = MakeBufferDescr(blockAlign * (frames + d) + kCapturedBlockExtraBytes);
      SoundBlockHeader* h = CapturedHeader(*c->rawBlock);
      std::memset(h, 0, sizeof *h);
      h->SetTimestamp(position);
      h->streamIndex = c->streamIndex;
    }
    // Keep every copy inside the block: a packet larger than the first one grows it.
    {
      CBufferDescr* raw = c->rawBlock;
      SoundBlockHeader* h = CapturedHeader(*raw);
      const std::size_t room = raw->data->size - std::size_t(SamplesBehind(h) - raw->data->data);
      if (std::size_t(raw->used) + bytes > room) {
        CBufferDescr* bigger =
            MakeBufferDescr(raw->used + bytes + blockAlign * d + kCapturedBlockExtraBytes);
        SoundBlockHeader* nh = CapturedHeader(*bigger);
        std::memcpy(nh, h, sizeof *h);
        std::memcpy(SamplesBehind(nh), SamplesBehind(h), raw->used);
        bigger->used = raw->used;
        ReleaseBufferDescr(raw);
        c->rawBlock = bigger;
      }
    }
    SoundBlockHeader* h = CapturedHeader(*c->rawBlock);
    h->frames += frames;
    std::memcpy(SamplesBehind(h) + c->rawBlock->used, data, bytes);
    c->rawBlock->used += bytes;
    if (h->frames >= d) {
      CBufferDescr* raw = c->rawBlock;
      c->rawBlock = nullptr;
      ConvertCapturedBlock(raw, *c, stream);
    }
    if (ac.ReleaseCaptureBuffer(frames) == audio::Status::DeviceLost) return ReadResult::Lost;
    return ReadResult::More;
  }

  void CapturePass() {
    std::lock_guard lock(captureLock);
    std::vector<std::u16string> lost;
    for (auto& s : captureStreams) {
      // One run per stream and pass: the reads share one hold of the server.
      StreamClient* newest = s->Newest();
      audio::ClientRun run(newest && newest->audioClient ? newest->audioClient.get() : nullptr);
      // Bounded: an endpoint cannot hold more than its buffer, but never spin on a bad one.
      for (int i = 0; i < 10000; ++i) {
        ReadResult r = ReadCapturePacket(*s);
        if (r == ReadResult::More) continue;
        if (r == ReadResult::Lost) lost.push_back(s->id);
        break;
      }
    }
    for (const auto& id : lost) {
      // What was gathered before the device went is delivered, then the stream ends.
      if (SoundStream* s = Find(captureStreams, id)) {
        if (StreamClient* c = s->Newest();
            c && c->rawBlock && CapturedHeader(*c->rawBlock)->frames > 0) {
          CBufferDescr* raw = c->rawBlock;
          c->rawBlock = nullptr;
          ConvertCapturedBlock(raw, *c, *s);
        }
      }
      SoundLog(kCaptureDeviceLostText);
      self->StopCapture(id);
      PostDeviceLost(DataFlow::Capture);
    }
  }

  void CaptureThreadProc() {
    plat::SetCurrentThreadName("vts-capture");
    while (captureRun.load()) {
      timer->Wait();
      if (!captureRun.load()) break;
      if (captureCount.load() != 0) CapturePass();
    }
  }

  // --- playback ---

  void ReturnBuffer(CBufferDescr* b) {
    if (!plat::PostThreadMessage(self->ownerThreadId, self->soundOutMessage, plat::WPARAM(b), 0))
      ReleaseBufferDescr(b);
  }

  // Their owner answers each returned buffer with the next one at once: posted under
  // renderLock, it would wake only to wait for the lock.
  void ReturnFinished(std::unique_lock<std::recursive_mutex>& lock) {
    if (finished.empty()) return;
    std::vector<CBufferDescr*> out;
    out.swap(finished);
    std::lock_guard order(returnOrder);
    lock.unlock();
    for (CBufferDescr* b : out) ReturnBuffer(b);
  }

  // Fills the endpoint's free space from the queue in one write: every write is a message
  // to the sound server and a wake-up on both sides.
  FeedResult FeedRenderStream(StreamClient& c) {
    if (!c.audioClient || !c.hasRenderClient) {
      while (!c.queue.empty()) {
        CBufferDescr* b = c.queue.front();
        c.queue.pop_front();
        if (b) c.onBufferEnd(b);
      }
      return FeedResult::Done;
    }
    // Also with nothing to write: the padding read takes the event and notices a lost device.
    std::uint32_t padding = 0;
    audio::Status st = c.audioClient->GetCurrentPadding(&padding);
    if (st == audio::Status::DeviceLost) return FeedResult::Lost;
    if (st != audio::Status::Ok || c.queue.empty() || !c.queue.front()) return FeedResult::Done;
    const std::uint32_t freeFrames = c.bufferFrames - std::min(padding, c.bufferFrames);
    if (freeFrames == 0) return FeedResult::Done;
    float* out = nullptr;
    st = c.audioClient->GetRenderBuffer(freeFrames, &out);
    if (st == audio::Status::DeviceLost) return FeedResult::Lost;
    if (st != audio::Status::Ok) return FeedResult::Done;
    const std::uint32_t endpointRate = std::max<std::uint32_t>(c.mixFormat.samplesPerSec, 1);
    const std::uint32_t engineRate = std::max<std::uint32_t>(c.engineRate, 1);
    const std::uint32_t endpointChannels = std::max<std::uint32_t>(c.mixFormat.channels, 1);
    std::uint32_t filled = 0;
    while (!c.queue.empty() && filled < freeFrames) {
      CBufferDescr* b = c.queue.front();
      if (!b) break;
      SoundBlockHeader* h = PlaybackHeader(*b);
      const std::uint32_t room = freeFrames - filled;
      const std::uint32_t remaining = h->frames > b->used ? h->frames - b->used : 0;
      std::int64_t want = av_rescale_rnd(remaining, endpointRate, engineRate, AV_ROUND_UP);
      want = std::min<std::int64_t>(want, room);
      std::int64_t take = av_rescale_rnd(want, engineRate, endpointRate, AV_ROUND_UP);
      take = std::min<std::int64_t>(take, remaining);
      int written = 0;
      if (c.resampler) {
        const std::uint8_t* input = SamplesBehind(h) + std::size_t(b->used) * c.engineChannels * 2;
        auto* outPtr = reinterpret_cast<std::uint8_t*>(out + std::size_t(filled) * endpointChannels);
        written = swr_convert(c.resampler, &outPtr, int(room), &input, int(take));
        if (written < 0) written = 0;
      }
      filled += std::uint32_t(written);
      b->used += std::uint32_t(take);
      if (b->used >= h->frames) {
        c.queue.pop_front();
        c.onBufferEnd(b);
        continue;
      }
      if (written == 0 && take == 0) break;  // nothing moved: wait for the next event
    }
    st = c.audioClient->ReleaseRenderBuffer(filled);
    if (st == audio::Status::DeviceLost) return FeedResult::Lost;
    return FeedResult::Done;
  }

  void RenderLost(const std::u16string& id) {
    SoundLog(kPlaybackDeviceLostText);
    self->StopPlayback(id);
    PostDeviceLost(DataFlow::Render);
  }

  StreamClient* FindRenderClient(SoundStream& s, const SoundBlockHeader& h) {
    for (auto& c : s.clients)
      if (c->keyReserved == h.reserved && c->keySender == h.sender &&
          c->streamIndex == h.streamIndex && c->engineChannels == h.channels &&
          c->engineRate == h.samplesPerSec)
        return c.get();
    return nullptr;
  }

  // Opens a render client for the stream. On failure returns null and has disposed of the
  // buffer: released when the stream had to end, handed back when only the client failed.
  StreamClient* OpenRenderClient(SoundStream& stream, const SoundBlockHeader& h,
                                 CBufferDescr* buffer) {
    auto client = std::make_unique<StreamClient>();
    client->stream = &stream;
    client->state = state;
    client->streamIndex = h.streamIndex;
    client->keyReserved = h.reserved;
    client->keySender = h.sender;
    client->onBufferEnd = [this](CBufferDescr* b) { finished.push_back(b); };
    const std::u16string id = stream.id;
    auto end = [&](const char* text) -> StreamClient* {
      StartFailed(text);
      client.reset();
      self->StopPlayback(id);
      ReleaseBufferDescr(buffer);
      return nullptr;
    };
    if (stream.device) client->audioClient = stream.device->Activate();
    if (!client->audioClient) return end(kPlaybackNoDeviceText);
    if (client->audioClient->GetMixFormat(&client->mixFormat) != audio::Status::Ok)
      return end(kNoMixFormat);
    SetupResampler(*client, self->channels, self->samplesPerSec, false);
    if (client->audioClient->Initialize(audio::kStreamFlagEventCallback, BufferDurationUs(),
                                        client->mixFormat) != audio::Status::Ok)
      return end(kPlaybackNoInit);
    try {
      audio::AudioClient& ac = *client->audioClient;
      if (ac.SetEventCallback(MakeEventCallback(*client)) != audio::Status::Ok)
        throw SetupError("Could not SetEventHandle");
      if (ac.GetBufferSize(&client->bufferFrames) != audio::Status::Ok)
        throw SetupError("Could not GetBufferSize");
      if (ac.GetService() != audio::Status::Ok)
        throw SetupError("Could not GetService IAudioCaptureClient");
    } catch (const SetupError& e) {
      // Never into the caller's thread: log, drop the client, give the buffer back.
      StartFailed(e.what());
      client.reset();
      ReturnBuffer(buffer);
      return nullptr;
    }
    client->hasRenderClient = true;
    stream.clients.push_front(std::move(client));
    return stream.clients.front().get();
  }

  void Playback(CBufferDescr* buffer) {
    if (!buffer) return;
    std::unique_lock lock(renderLock);
    PlaybackLocked(buffer);
    ReturnFinished(lock);
  }

  void PlaybackLocked(CBufferDescr* buffer) {
    SoundBlockHeader* h = PlaybackHeader(*buffer);
    if (renderStreams.empty() || !h || buffer->data->size < kSoundHeaderBytes) {
      ReleaseBufferDescr(buffer);  // cannot be played: never leak it
      return;
    }
    SoundStream& stream = *renderStreams.front();
    const std::u16string id = stream.id;
    StreamClient* c = FindRenderClient(stream, *h);
    if (!c) {
      c = OpenRenderClient(stream, *h, buffer);
      if (!c) return;
    }
    if (h->encoding != kEncodingPcm16) {
      // The compressed path is not built; nothing else can be done with the buffer.
      ReleaseBufferDescr(buffer);
      return;
    }
    // Frames beyond the data block would read past it: clamp to what the block holds.
    const std::size_t frameBytes = std::size_t(std::max<std::uint32_t>(c->engineChannels, 1)) * 2;
    const std::size_t maxFrames = (buffer->data->size - kSoundHeaderBytes) / frameBytes;
    if (h->frames > maxFrames) h->frames = std::uint32_t(maxFrames);
    c->queue.push_back(buffer);
    if (FeedRenderStream(*c) == FeedResult::Lost) return RenderLost(id);
    c->audioClient->Start();
  }

  void ServiceRenderEvent(std::uint32_t token) {
    std::unique_lock lock(renderLock);
    ServiceRenderEventLocked(token);
    ReturnFinished(lock);
  }

  void ServiceRenderEventLocked(std::uint32_t token) {
    for (auto& s : renderStreams)
      for (auto& c : s->clients)
        if (c->bufferEvent == token) {
          c->eventPending->store(false);
          if (FeedRenderStream(*c) == FeedResult::Lost) RenderLost(s->id);
          return;
        }
  }

  void PlaybackThreadProc() {
    plat::SetCurrentThreadName("vts-playback");
    plat::CreateQueueByPostingToSelf();
    playbackThreadId->store(plat::CurrentThreadId());
    plat::RaiseCurrentThreadPriority(-15);  // only with the right to
    // Endpoint events arrive as posted messages, so there is nothing to look at between
    // them: the thread sleeps until one comes instead of waking every period.
    for (;;) {
      plat::Msg msg;
      if (!plat::GetMessage(&msg)) break;  // WM_QUIT
      if (msg.message == kRenderEventMessage) {
        ServiceRenderEvent(std::uint32_t(msg.lParam));
      } else if (msg.message == WM_ENGINE_COMMAND) {
        auto* b = reinterpret_cast<CBufferDescr*>(msg.lParam);
        if (msg.wParam == 6 || msg.wParam == 11 || msg.wParam == 12)
          self->Playback(b, msg.wParam == 12);
        else if (msg.wParam == 9)
          ReleaseBufferDescr(b);
      }
    }
    playbackThreadId->store(0);
    plat::EndQueue([](const plat::Msg& m) {
      if (m.message == WM_ENGINE_COMMAND &&
          (m.wParam == 6 || m.wParam == 9 || m.wParam == 11 || m.wParam == 12))
        ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(m.lParam));
    });
  }
};

CSoundWorksWAS::CSoundWorksWAS(EngineStateBlock* state)
    : CSoundWorksWAS(state, audio::DefaultBackend()) {}

CSoundWorksWAS::CSoundWorksWAS(EngineStateBlock* state,
                               std::shared_ptr<audio::EndpointBackend> backend)
    : impl_(std::make_unique<Impl>()) {
  impl_->self = this;
  impl_->renderService->impl = impl_.get();
  impl_->state = state;
  impl_->backend = std::move(backend);
  SoundLog("Using WAS on Windows Vista/7/8/10");
  if (impl_->backend) impl_->timer = impl_->backend->CreatePeriodTimer();
}

CSoundWorksWAS::~CSoundWorksWAS() {
  Impl& d = *impl_;
  {
    std::lock_guard hold(d.renderService->lock);
    d.renderService->impl = nullptr;  // events from now on are posted (and find no thread)
  }
  if (d.playbackThread.joinable()) {
    // The thread may still be creating its queue: post until it takes the quit.
    while (!(d.playbackThreadId->load() != 0 &&
             plat::PostThreadMessage(d.playbackThreadId->load(), plat::WM_QUIT, 0, 0)))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    d.playbackThread.join();
  }
  d.captureRun = false;
  if (d.timer) d.timer->Wake();
  if (d.captureThread.joinable()) d.captureThread.join();
  for (;;) {
    std::lock_guard lock(d.renderLock);
    if (d.renderStreams.empty()) break;
    d.StopStream(d.renderStreams, d.renderCount, d.renderStreams.front()->id);
  }
  for (;;) {
    {
      std::lock_guard lock(d.captureLock);
      if (d.captureStreams.empty()) break;
      d.StopStream(d.captureStreams, d.captureCount, d.captureStreams.front()->id);
    }
    d.PostEndMark();
  }
  d.timer.reset();
}

std::vector<SoundDeviceEntry> EnumerateDevices(audio::EndpointBackend* backend, DataFlow flow) {
  std::vector<SoundDeviceEntry> out;
  if (!backend) return out;
  for (const auto& e : backend->EnumerateEndpoints(flow)) {
    if (e.id.empty()) continue;  // endpoints without an id are skipped
    out.push_back({plat::Utf8ToUtf16(e.id), plat::Utf8ToUtf16(e.name)});
  }
  return out;
}

std::vector<SoundDeviceEntry> CSoundWorksWAS::GetOutputDevices() {
  return EnumerateDevices(impl_->backend.get(), DataFlow::Render);
}

std::vector<SoundDeviceEntry> CSoundWorksWAS::GetInputDevices() {
  return EnumerateDevices(impl_->backend.get(), DataFlow::Capture);
}

SoundDeviceEntry CSoundWorksWAS::GetDefaultDevice(DataFlow flow) {
  if (!impl_->backend) return {};
  auto e = impl_->backend->GetDefaultEndpoint(flow);
  if (!e) return {};
  return {plat::Utf8ToUtf16(e->id), plat::Utf8ToUtf16(e->name)};
}

void CSoundWorksWAS::StartCapture(const std::u16string& id, std::uint32_t streamId,
                                  std::uint32_t sourceTag) {
  impl_->StartCapture(id, streamId, sourceTag);
}

void CSoundWorksWAS::StopCapture(const std::u16string& id) { impl_->StopCapture(id); }

std::string CSoundWorksWAS::TakeStartFailure() {
  std::lock_guard lock(impl_->startFailureLock);
  return std::exchange(impl_->startFailure, std::string());
}

void CSoundWorksWAS::StartPlayback(const std::u16string& id) {
  std::lock_guard lock(impl_->renderLock);
  impl_->StartStream(impl_->renderStreams, impl_->renderCount, id, 0);
}

void CSoundWorksWAS::StopPlayback(const std::u16string& id) {
  std::lock_guard lock(impl_->renderLock);
  impl_->StopStream(impl_->renderStreams, impl_->renderCount, id);
}

void CSoundWorksWAS::Playback(CBufferDescr* buffer, bool) { impl_->Playback(buffer); }

void CSoundWorksWAS::SetFormat(std::uint32_t channelCount, std::uint32_t rate, std::uint32_t bits,
                               std::uint32_t period) {
  {
    std::lock_guard lock(impl_->captureLock);
    channels = channelCount;
    samplesPerSec = rate;
    bitsPerSample = bits;
    bytesPerFrame = channelCount * bits / 8;
    periodMs = double(period);
    framesPerPeriod = std::uint32_t(double(rate) * double(period) / 1000.0);
    bytesPerPeriod = framesPerPeriod * bytesPerFrame;
    if (impl_->captureCount.load() != 0) impl_->ArmCaptureTimer();
  }
  char text[256];
  std::snprintf(text, sizeof text, "Settings sound format: channels: %u, sampling rate: %u",
                channelCount, rate);
  SoundLog(text);
}

std::uint32_t CSoundWorksWAS::GetCaptureStreamCount() { return impl_->captureCount.load(); }
std::uint32_t CSoundWorksWAS::GetPlaybackStreamCount() { return impl_->renderCount.load(); }

void CSoundWorksWAS::Start() {
  Impl& d = *impl_;
  if (d.started) return;
  d.started = true;
  d.playbackThread = std::thread([&d] { d.PlaybackThreadProc(); });
  // Endpoint events are posted to the playback thread: it must have its queue before any
  // stream can signal one, or the first event would be lost.
  while (d.playbackThreadId->load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (d.timer) {
    d.captureRun = true;
    d.captureThread = std::thread([&d] { d.CaptureThreadProc(); });
  }
}

void CSoundWorksWAS::CheckSendDelay(CBufferDescr* block) {
  if (!block) return;
  SoundBlockHeader* h = CapturedHeader(*block);
  if (!h) return;
  std::lock_guard lock(impl_->captureLock);
  for (auto& s : impl_->captureStreams) {
    StreamClient* c = s->Newest();
    if (!c || c->streamIndex != h->streamIndex) continue;
    const std::uint64_t now = impl_->backend->NowMs();
    const std::uint32_t gap = std::uint32_t(now - c->lastDelivery);
    if (gap > 2 * periodMs) {
      char text[64];
      std::snprintf(text, sizeof text, "Send stream double delay: %u", gap);
      SoundLog(text);
    }
    c->lastDelivery = now;
    return;
  }
}

}  // namespace vts
