// The video's sound voice over the endpoint layer.
#include "video/video_voice.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>

#include "audio/endpoint.h"

namespace vts {

namespace {
constexpr std::uint64_t kEndpointBufferUs = 200'000;
// The endpoint's event is the main wake-up; this bounds a wait when one is missed.
constexpr auto kServicePeriod = std::chrono::milliseconds(10);
}  // namespace

std::unique_ptr<VideoVoice> VideoVoice::Create(std::shared_ptr<audio::EndpointBackend> backend,
                                               const std::string& deviceId,
                                               std::uint32_t sampleRate, BufferEnd onBufferEnd) {
  if (!backend || sampleRate == 0) return nullptr;
  std::shared_ptr<audio::Device> device;
  if (!deviceId.empty()) device = backend->GetDevice(deviceId);
  if (!device) {
    // An unset (or unknown) output id plays on the default output, as a voice on the default
    // device would.
    if (auto def = backend->GetDefaultEndpoint(DataFlow::Render))
      device = backend->GetDevice(def->id);
  }
  if (!device) return nullptr;
  std::unique_ptr<VideoVoice> v(new VideoVoice);
  v->client_ = device->Activate();
  if (!v->client_) return nullptr;
  audio::MixFormat mix;
  if (v->client_->GetMixFormat(&mix) != audio::Status::Ok || mix.channels == 0 ||
      mix.samplesPerSec == 0)
    return nullptr;
  if (v->client_->Initialize(audio::kStreamFlagEventCallback | audio::kStreamFlagPlaybackClock,
                             kEndpointBufferUs, mix) !=
      audio::Status::Ok)
    return nullptr;
  VideoVoice* raw = v.get();
  // The backend may still run a callback it took before the voice replaced it: the callback
  // holds the wake signal itself, never the voice.
  if (v->client_->SetEventCallback([wake = v->wake_] { wake->notify_one(); }) !=
          audio::Status::Ok ||
      v->client_->GetBufferSize(&v->bufferFrames_) != audio::Status::Ok ||
      v->client_->GetService() != audio::Status::Ok)
    return nullptr;
  v->rate_ = sampleRate;
  v->mixRate_ = mix.samplesPerSec;
  v->mixChannels_ = mix.channels;
  AVChannelLayout in = AV_CHANNEL_LAYOUT_STEREO, out;
  av_channel_layout_default(&out, int(mix.channels));
  int rc = swr_alloc_set_opts2(&v->resampler_, &out, AV_SAMPLE_FMT_FLT, int(mix.samplesPerSec), &in,
                               AV_SAMPLE_FMT_S16, int(sampleRate), 0, nullptr);
  av_channel_layout_uninit(&out);
  if (rc < 0 || swr_init(v->resampler_) < 0) return nullptr;
  v->onBufferEnd_ = std::move(onBufferEnd);
  v->backend_ = std::move(backend);
  v->thread_ = std::thread([raw] { raw->ThreadProc(); });
  return v;
}

VideoVoice::~VideoVoice() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_->notify_all();
  if (thread_.joinable()) thread_.join();
  if (client_) {
    client_->SetEventCallback([] {});
    client_->Stop();
  }
  client_.reset();
  swr_free(&resampler_);
}

void VideoVoice::SubmitSourceBuffer(std::unique_ptr<VoiceBuffer> buffer) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(buffer));
  }
  wake_->notify_one();
}

void VideoVoice::Retire() {
  FlushSourceBuffers();
  std::lock_guard lock(mutex_);
  started_.store(false);
  deviceLost_.store(true);
  if (client_) {
    client_->SetEventCallback([] {});
    client_->Stop();
  }
  client_.reset();
}

void VideoVoice::Start() {
  std::lock_guard lock(mutex_);
  if (started_.load() || deviceLost_.load()) return;
  started_.store(true);
  positionClock_.Reset();
  client_->Start();
  wake_->notify_one();
}

void VideoVoice::Stop() {
  std::lock_guard lock(mutex_);
  if (!started_.load()) return;
  started_.store(false);
  positionClock_.Reset();
  client_->Stop();
}

void VideoVoice::FlushSourceBuffers() {
  // At once, on the caller's thread: sound submitted right after the flush (a seek's
  // decoding) must stay, and the old sound the endpoint still holds must not be heard.
  std::vector<std::unique_ptr<VoiceBuffer>> ended;
  {
    std::lock_guard lock(mutex_);
    for (auto& b : queue_) {
      framesFlushed_ += b->Frames();
      ended.push_back(std::move(b));
    }
    if (!ended.empty()) framesFlushed_ -= std::min<std::uint64_t>(usedInFront_, framesFlushed_);
    queue_.clear();
    usedInFront_ = 0;
    writtenEndMs_.reset();
    positionClock_.Reset();
    swr_convert(resampler_, nullptr, 0, nullptr, 0);  // nothing of the old sound stays
    swr_init(resampler_);
    if (!deviceLost_.load()) {
      client_->Stop();
      client_->Reset();
      if (started_.load()) client_->Start();
    }
  }
  for (auto& b : ended)
    if (onBufferEnd_) onBufferEnd_(std::move(b));
}

std::optional<std::int64_t> VideoVoice::PlayedPositionMs() {
  std::lock_guard lock(mutex_);
  if (!writtenEndMs_) return std::nullopt;
  // What was written less what is still to be heard: the endpoint's buffer and what its
  // device took ahead of playing it (a sink that renders ahead would otherwise put the
  // picture that far in front of the sound).
  std::uint32_t delay = 0;
  if (!client_ || client_->GetPlaybackDelay(&delay) != audio::Status::Ok) delay = 0;
  const std::int64_t read =
      *writtenEndMs_ - std::int64_t(delay) * 1000 / std::max<std::uint32_t>(mixRate_, 1);
  if (!started_.load()) return read;
  return positionClock_.Follow(read, std::int64_t(backend_->NowMs()),
                               std::int64_t(kEndpointBufferUs / 1000));
}

std::int64_t PlayedPositionClock::Follow(std::int64_t readMs, std::int64_t nowMs,
                                         std::int64_t maxLagMs) {
  Told t = told_.value_or(Told{readMs, nowMs, readMs, 0, 0, nowMs});
  if (nowMs - t.windowStartMs >= kRiseWindowMs) {
    t.lastWindowRiseMs = t.riseMs;
    t.riseMs = 0;
    t.windowStartMs = nowMs;
  }
  t.riseMs = std::max(t.riseMs, std::min(readMs - t.readMs, maxLagMs));
  const std::int64_t lag = std::max(t.riseMs, t.lastWindowRiseMs);
  const std::int64_t position =
      std::min(readMs, std::max(t.positionMs + (nowMs - t.atMs), readMs - lag));
  t.positionMs = position;
  t.atMs = nowMs;
  t.readMs = readMs;
  told_ = t;
  return position;
}

std::int64_t VideoVoice::BufferedMs() {
  std::lock_guard lock(mutex_);
  std::uint64_t frames = 0;
  for (const auto& b : queue_) frames += b->Frames();
  frames -= std::min<std::uint64_t>(usedInFront_, frames);
  std::uint32_t padding = 0;
  if (!client_ || client_->GetCurrentPadding(&padding) != audio::Status::Ok) padding = 0;
  return std::int64_t(frames * 1000 / std::max<std::uint32_t>(rate_, 1)) +
         std::int64_t(padding) * 1000 / std::max<std::uint32_t>(mixRate_, 1);
}

bool VideoVoice::Drained() {
  std::lock_guard lock(mutex_);
  std::uint32_t delay = 0, padding = 0;
  // Both counts: a stream that waits to fill up again after running dry tells no delay for
  // the rest it holds, which its padding still shows.
  return queue_.empty() &&
         (!client_ || (client_->GetPlaybackDelay(&delay) == audio::Status::Ok && delay == 0 &&
                       client_->GetCurrentPadding(&padding) == audio::Status::Ok && padding == 0));
}

void VideoVoice::Feed(std::vector<std::unique_ptr<VoiceBuffer>>& ended) {
  while (!queue_.empty() && started_.load()) {
    VoiceBuffer& b = *queue_.front();
    std::uint32_t padding = 0;
    audio::Status st = client_->GetCurrentPadding(&padding);
    if (st != audio::Status::Ok) {
      if (st == audio::Status::DeviceLost) deviceLost_.store(true);
      return;
    }
    const std::uint32_t freeFrames = bufferFrames_ - std::min(padding, bufferFrames_);
    const std::uint32_t remaining = b.Frames() - std::min(usedInFront_, b.Frames());
    if (remaining > 0 && freeFrames == 0) return;
    std::int64_t take = 0;
    int written = 0;
    if (remaining > 0) {
      // Ask for no more source frames than fit once converted to the endpoint's rate.
      const std::int64_t fit = av_rescale_rnd(freeFrames, rate_, mixRate_, AV_ROUND_DOWN);
      take = std::min<std::int64_t>(remaining, std::max<std::int64_t>(fit - 2, 0));
      if (take == 0) return;
      float* out = nullptr;
      st = client_->GetRenderBuffer(freeFrames, &out);
      if (st != audio::Status::Ok) {
        if (st == audio::Status::DeviceLost) deviceLost_.store(true);
        return;
      }
      const std::uint8_t* in =
          reinterpret_cast<const std::uint8_t*>(b.samples.data() + std::size_t(usedInFront_) * 2);
      auto* outPtr = reinterpret_cast<std::uint8_t*>(out);
      written = swr_convert(resampler_, &outPtr, int(freeFrames), &in, int(take));
      if (written < 0) written = 0;
      client_->ReleaseRenderBuffer(std::uint32_t(written));
      usedInFront_ += std::uint32_t(take);
      framesConsumed_ += std::uint64_t(take);
      writtenEndMs_ = b.startMs + std::int64_t(usedInFront_) * 1000 / rate_;
    }
    if (usedInFront_ >= b.Frames()) {
      ended.push_back(std::move(queue_.front()));
      queue_.pop_front();
      usedInFront_ = 0;
    }
  }
}

void VideoVoice::PlayRestWhenStuck() {
  // A rest shorter than what the endpoint starts with would wait there for sound that is not
  // coming (the end of the file or of its sound): once nothing is queued here and the
  // endpoint stands still for a few passes, it plays what it has.
  std::uint32_t padding = 0;
  if (!started_.load() || !queue_.empty() || !writtenEndMs_ ||
      client_->GetCurrentPadding(&padding) != audio::Status::Ok || padding == 0 ||
      padding != stuckPadding_) {
    stuckPadding_ = padding;
    stuckPasses_ = 0;
    return;
  }
  if (++stuckPasses_ == 3) client_->PlayBuffered();
}

void VideoVoice::ThreadProc() {
  for (;;) {
    std::vector<std::unique_ptr<VoiceBuffer>> ended;
    {
      std::unique_lock lock(mutex_);
      // Playing, the endpoint's events drive it (the period bounds a missed one); stopped,
      // nothing is due until the voice is started or ended.
      if (started_.load())
        wake_->wait_for(lock, kServicePeriod);
      else
        wake_->wait(lock, [this] { return quit_ || started_.load(); });
      if (quit_) break;
      if (!deviceLost_.load()) {
        Feed(ended);
        PlayRestWhenStuck();
      }
      if (deviceLost_.load()) {
        // The endpoint went: every buffer comes back so that nothing waits on it.
        for (auto& b : queue_) ended.push_back(std::move(b));
        queue_.clear();
        usedInFront_ = 0;
      }
    }
    for (auto& b : ended)
      if (onBufferEnd_) onBufferEnd_(std::move(b));
  }
  // Buffers still queued at the end are dropped with the voice, as with a destroyed voice.
}

}  // namespace vts
