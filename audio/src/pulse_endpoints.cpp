// The PulseAudio endpoint backend over a threaded main loop. Every wait on the server is
// bounded, so a missing or stuck server gives failures, never a hang.
#include "pulse_endpoints.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "system_timer.h"

namespace vts::audio {
namespace {

constexpr auto kConnectTimeout = std::chrono::milliseconds(2000);
constexpr auto kOperationTimeout = std::chrono::milliseconds(2000);
constexpr auto kRetryInterval = std::chrono::milliseconds(1000);

struct DeviceInfo {
  std::string name;
  std::string description;
  std::string monitorSource;  // sinks
  bool isMonitor = false;     // sources
  std::uint32_t card = PA_INVALID_INDEX;
  std::string activePort;  // sources: the active port's description
  pa_sample_spec spec{};
  pa_channel_map map{};
};

class ArrivalTimer;

// Sound (or a lost stream) arrived for one of a backend's capture streams. Its period
// timers skip the ticks that would find nothing new: a capture pass then runs when there is
// something to read rather than on every tick.
class CaptureArrivals {
 public:
  void Notify();

 private:
  friend class ArrivalTimer;
  std::mutex mutex_;
  std::uint64_t count_ = 0;
  std::vector<ArrivalTimer*> timers_;
};

// A pass at most once a period (twice the interval the engine arms, half a period): with
// fragments of a period, a pass every half period would find a stream's next fragment
// only every other time, and two streams would wake the thread apart.
class ArrivalTimer final : public PeriodTimer {
 public:
  explicit ArrivalTimer(std::shared_ptr<CaptureArrivals> arrivals)
      : arrivals_(std::move(arrivals)) {
    std::lock_guard lock(arrivals_->mutex_);
    arrivals_->timers_.push_back(this);
  }
  ~ArrivalTimer() override {
    std::lock_guard lock(arrivals_->mutex_);
    std::erase(arrivals_->timers_, this);
  }

  void Arm(std::uint32_t intervalMs) override {
    std::lock_guard lock(arrivals_->mutex_);
    armed_ = true;
    spacing_ = std::chrono::milliseconds(2 * std::uint64_t(intervalMs));
    due_ = std::chrono::steady_clock::now();
    changed_.notify_one();
  }
  void Disarm() override {
    std::lock_guard lock(arrivals_->mutex_);
    armed_ = false;
  }
  void Wake() override {
    std::lock_guard lock(arrivals_->mutex_);
    woken_ = true;
    changed_.notify_one();
  }
  // Sleeps until the tick, then (when nothing came by then) until sound comes: one wake-up
  // a pass while sound comes as often as the ticks.
  void Wait() override {
    std::unique_lock lock(arrivals_->mutex_);
    bool late = false;  // sound came only after the tick
    for (;;) {
      waitingForSound_ = false;
      if (woken_) {
        woken_ = false;
        return;
      }
      const auto now = std::chrono::steady_clock::now();
      if (!armed_) {
        changed_.wait(lock);
      } else if (now < due_) {
        changed_.wait_until(lock, due_);
      } else if (arrivals_->count_ == seen_) {
        waitingForSound_ = late = true;
        changed_.wait(lock);
      } else {
        seen_ = arrivals_->count_;
        // The ticks keep their grid while sound is there at each; sound that came after its
        // tick moves the grid to it, so that the next tick finds the next fragment there.
        due_ = late ? now + spacing_ : due_ + spacing_;
        if (due_ < now) due_ = now;
        return;
      }
    }
  }

 private:
  friend class CaptureArrivals;
  std::shared_ptr<CaptureArrivals> arrivals_;
  // Under the arrivals' mutex.
  std::condition_variable changed_;
  bool armed_ = false;
  bool woken_ = false;
  bool waitingForSound_ = false;  // past the tick with nothing to read: an arrival wakes it
  std::chrono::milliseconds spacing_{0};
  std::chrono::steady_clock::time_point due_;
  std::uint64_t seen_ = 0;
};

void CaptureArrivals::Notify() {
  std::lock_guard lock(mutex_);
  ++count_;
  for (ArrivalTimer* t : timers_)
    if (t->armed_ && t->waitingForSound_) t->changed_.notify_one();
}

// The shared connection: one threaded main loop and one context per backend.
class Connection {
 public:
  Connection() : loop_(pa_threaded_mainloop_new()) {
    if (loop_ && pa_threaded_mainloop_start(loop_) < 0) {
      pa_threaded_mainloop_free(loop_);
      loop_ = nullptr;
    }
  }
  ~Connection() {
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    DropContextLocked();
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }

  pa_threaded_mainloop* Loop() const { return loop_; }
  const std::shared_ptr<CaptureArrivals>& Arrivals() const { return arrivals_; }

  // With the loop locked: a ready context, connecting (bounded) when needed; null when the
  // server cannot be reached.
  pa_context* ReadyContextLocked() {
    if (!loop_) return nullptr;
    if (ctx_ && pa_context_get_state(ctx_) == PA_CONTEXT_READY) return ctx_;
    DropContextLocked();
    auto now = std::chrono::steady_clock::now();
    if (lastFailure_ && now - *lastFailure_ < kRetryInterval) return nullptr;
    ctx_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Voxtrailstudy");
    if (!ctx_) return nullptr;
    pa_context_set_state_callback(
        ctx_,
        [](pa_context*, void* loop) {
          pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        },
        loop_);
    if (pa_context_connect(ctx_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      DropContextLocked();
      lastFailure_ = now;
      return nullptr;
    }
    const auto deadline = now + kConnectTimeout;
    for (;;) {
      pa_context_state_t st = pa_context_get_state(ctx_);
      if (st == PA_CONTEXT_READY) {
        lastFailure_.reset();
        return ctx_;
      }
      if (!PA_CONTEXT_IS_GOOD(st) || std::chrono::steady_clock::now() > deadline) break;
      UnlockedSleep();
    }
    DropContextLocked();
    lastFailure_ = std::chrono::steady_clock::now();
    return nullptr;
  }

  // With the loop locked: waits (bounded) for an operation; unrefs it. False on time-out.
  bool WaitLocked(pa_operation* op) {
    if (!op) return false;
    const auto deadline = std::chrono::steady_clock::now() + kOperationTimeout;
    bool done = true;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
      if (std::chrono::steady_clock::now() > deadline) {
        pa_operation_cancel(op);
        done = false;
        break;
      }
      UnlockedSleep();
    }
    pa_operation_unref(op);
    return done;
  }

  // Lets the main loop run for a moment while the caller waits.
  void UnlockedSleep() {
    pa_threaded_mainloop_unlock(loop_);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    pa_threaded_mainloop_lock(loop_);
  }

 private:
  void DropContextLocked() {
    if (!ctx_) return;
    pa_context_set_state_callback(ctx_, nullptr, nullptr);
    pa_context_disconnect(ctx_);
    pa_context_unref(ctx_);
    ctx_ = nullptr;
  }

  pa_threaded_mainloop* loop_;
  pa_context* ctx_ = nullptr;
  std::optional<std::chrono::steady_clock::time_point> lastFailure_;
  std::shared_ptr<CaptureArrivals> arrivals_ = std::make_shared<CaptureArrivals>();
};

// On the loop's own thread (in one of its callbacks) the loop is held already.
bool HeldHere(pa_threaded_mainloop* loop) { return loop && pa_threaded_mainloop_in_thread(loop); }

class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop) : loop_(HeldHere(loop) ? nullptr : loop) {
    if (loop_) pa_threaded_mainloop_lock(loop_);
  }
  ~LoopLock() {
    if (loop_) pa_threaded_mainloop_unlock(loop_);
  }

 private:
  pa_threaded_mainloop* loop_;
};

DeviceInfo FromSink(const pa_sink_info* i) {
  DeviceInfo d;
  d.name = i->name ? i->name : "";
  d.description = i->description ? i->description : "";
  d.monitorSource = i->monitor_source_name ? i->monitor_source_name : "";
  d.card = i->card;
  d.spec = i->sample_spec;
  d.map = i->channel_map;
  return d;
}

DeviceInfo FromSource(const pa_source_info* i) {
  DeviceInfo d;
  d.name = i->name ? i->name : "";
  d.description = i->description ? i->description : "";
  d.isMonitor = i->monitor_of_sink != PA_INVALID_INDEX;
  d.card = i->card;
  if (i->active_port && i->active_port->description) d.activePort = i->active_port->description;
  d.spec = i->sample_spec;
  d.map = i->channel_map;
  return d;
}

// With the loop locked.
std::vector<DeviceInfo> ListLocked(Connection& conn, DataFlow flow) {
  std::vector<DeviceInfo> out;
  pa_context* ctx = conn.ReadyContextLocked();
  if (!ctx) return out;
  pa_operation* op;
  if (flow == DataFlow::Render) {
    op = pa_context_get_sink_info_list(
        ctx,
        [](pa_context*, const pa_sink_info* i, int eol, void* ud) {
          if (eol == 0 && i) static_cast<std::vector<DeviceInfo>*>(ud)->push_back(FromSink(i));
        },
        &out);
  } else {
    op = pa_context_get_source_info_list(
        ctx,
        [](pa_context*, const pa_source_info* i, int eol, void* ud) {
          if (eol == 0 && i) static_cast<std::vector<DeviceInfo>*>(ud)->push_back(FromSource(i));
        },
        &out);
  }
  if (!conn.WaitLocked(op)) return {};
  if (flow == DataFlow::Capture)
    std::erase_if(out, [](const DeviceInfo& d) { return d.isMonitor; });
  return out;
}

class PulseClient final : public AudioClient {
 public:
  PulseClient(std::shared_ptr<Connection> conn, DeviceInfo info, DataFlow flow)
      : conn_(std::move(conn)), info_(std::move(info)), flow_(flow) {}

  ~PulseClient() override {
    LoopLock lock(conn_->Loop());
    DropStreamLocked();
  }

  Status GetMixFormat(MixFormat* format) override {
    format->channels = info_.spec.channels;
    format->samplesPerSec = info_.spec.rate;
    format->bitsPerSample = 32;
    return format->channels && format->samplesPerSec ? Status::Ok : Status::Failed;
  }

  Status Initialize(std::uint32_t flags, std::uint64_t bufferDurationUs,
                    const MixFormat& format) override {
    LoopLock lock(conn_->Loop());
    if (stream_) return Status::Failed;
    pa_context* ctx = conn_->ReadyContextLocked();
    if (!ctx) return Status::DeviceLost;
    loopback_ = (flags & kStreamFlagLoopback) != 0;
    if (loopback_ && flow_ != DataFlow::Render) return Status::Failed;
    pa_sample_spec ss{PA_SAMPLE_FLOAT32LE, format.samplesPerSec, std::uint8_t(format.channels)};
    if (!pa_sample_spec_valid(&ss)) return Status::Failed;
    frameBytes_ = format.BlockAlign();
    rate_ = format.samplesPerSec;
    pa_channel_map map = info_.map;
    if (map.channels != ss.channels)
      pa_channel_map_init_extend(&map, ss.channels, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(ctx, loopback_ ? "Voxtrailstudy loopback" : "Voxtrailstudy", &ss, &map);
    if (!stream_) return Status::Failed;
    corked_ = true;
    pa_stream_set_state_callback(stream_, &PulseClient::OnState, this);
    const std::uint32_t bufferFrames =
        std::uint32_t((bufferDurationUs * format.samplesPerSec + 999999) / 1000000);
    // Service granularity: an eighth of the buffer (half a period: the buffer holds four).
    const std::uint32_t serviceBytes = std::max<std::uint32_t>(bufferFrames / 8, 1) * frameBytes_;
    packetBytes_ = serviceBytes;
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(-1);
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(-1);
    attr.fragsize = std::uint32_t(-1);
    auto streamFlags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE);
    int rc;
    if (flow_ == DataFlow::Render && !loopback_) {
      // The server's timing (the sink's own latency), kept fresh by the library and run on
      // between updates; without it a sink that renders ahead hides what it has not played.
      playbackClock_ = (flags & kStreamFlagPlaybackClock) != 0;
      if (playbackClock_)
        streamFlags = pa_stream_flags_t(streamFlags | PA_STREAM_INTERPOLATE_TIMING |
                                        PA_STREAM_AUTO_TIMING_UPDATE);
      attr.tlength = bufferFrames * frameBytes_;
      attr.minreq = serviceBytes;
      attr.prebuf = frameBytes_;  // play as soon as anything is there, also after an underrun
      // A stream that keeps its clock starts (and restarts after an underrun) only with a
      // full buffer: a sink that renders in long blocks would otherwise take its sound at
      // many times real speed while it fills; PlayBuffered plays a shorter rest.
      if (playbackClock_) attr.prebuf = attr.tlength;
      pa_stream_set_write_callback(stream_, &PulseClient::OnRequest, this);
      rc = pa_stream_connect_playback(stream_, info_.name.c_str(), &attr, streamFlags, nullptr,
                                      nullptr);
    } else {
      // The server's own bound rather than the buffer: a pass that comes late never makes
      // the server drop sound.
      attr.maxlength = std::uint32_t(-1);
      // A source's fragments are a period: it wakes half as often as at half a period,
      // which is most of what a record stream costs the server, and a block still comes
      // every period. A sink's monitor keeps half a period: the sink then renders that much
      // ahead, and the monitor loses more of the start of a sound that joins the sink the
      // further ahead it renders. The packets read stay half a period (see
      // GetCaptureBuffer).
      attr.fragsize = loopback_ ? serviceBytes : serviceBytes * 2;
      pa_stream_set_read_callback(stream_, &PulseClient::OnCaptured, this);
      const std::string& source = loopback_ ? info_.monitorSource : info_.name;
      // Ask the source for fragments of that size; otherwise an idle source (a null sink's
      // monitor) hands out its data in bursts of its own, much larger latency.
      rc = pa_stream_connect_record(stream_, source.c_str(), &attr,
                                    pa_stream_flags_t(streamFlags | PA_STREAM_ADJUST_LATENCY));
    }
    if (rc < 0) {
      DropStreamLocked();
      return Status::Failed;
    }
    const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
    for (;;) {
      pa_stream_state_t st = pa_stream_get_state(stream_);
      if (st == PA_STREAM_READY) break;
      if (!PA_STREAM_IS_GOOD(st) || std::chrono::steady_clock::now() > deadline) {
        DropStreamLocked();
        return Status::Failed;
      }
      conn_->UnlockedSleep();
    }
    bufferFrames_ = bufferFrames;
    if (const pa_buffer_attr* a = pa_stream_get_buffer_attr(stream_)) {
      if (flow_ == DataFlow::Render && !loopback_ && a->tlength >= frameBytes_)
        bufferFrames_ = a->tlength / frameBytes_;
    }
    return Status::Ok;
  }

  Status SetEventCallback(std::function<void()> callback) override {
    LoopLock lock(conn_->Loop());
    if (!stream_) return Status::Failed;
    callback_ = std::move(callback);
    return Status::Ok;
  }

  // A request is served on the loop's thread, in the request's own callback: the write then
  // goes out in the same pass of the loop, without waking it again.
  bool ServesFromEvent() const override { return flow_ == DataFlow::Render && !loopback_; }

  Status GetBufferSize(std::uint32_t* frames) override {
    if (!bufferFrames_) return Status::Failed;
    *frames = bufferFrames_;
    return Status::Ok;
  }

  Status GetService() override { return stream_ ? Status::Ok : Status::Failed; }

  Status Start() override { return Cork(false); }
  Status Stop() override { return Cork(true); }

  Status Reset() override {
    LoopLock lock(conn_->Loop());
    if (Status s = StateLocked(); s != Status::Ok) return s;
    if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr)) pa_operation_unref(op);
    {
      std::lock_guard held(capturedLock_);
      captured_.clear();
      capturedTaken_ = 0;
    }
    peeked_ = 0;
    framesWritten_ = framesHeard_ = 0;
    heardAt_.reset();
    tailTaken_.reset();
    return Status::Ok;
  }

  Status GetCurrentPadding(std::uint32_t* frames) override {
    LoopLock lock(conn_->Loop());
    if (Status s = StateLocked(); s != Status::Ok) return s;
    if (flow_ == DataFlow::Render && !loopback_) {
      std::size_t writable = pa_stream_writable_size(stream_);
      if (writable == std::size_t(-1)) return Status::DeviceLost;
      std::uint32_t freeFrames =
          std::uint32_t(std::min<std::size_t>(writable / frameBytes_, bufferFrames_));
      *frames = bufferFrames_ - freeFrames;
    } else {
      std::size_t readable = pa_stream_readable_size(stream_);
      if (readable == std::size_t(-1)) return Status::DeviceLost;
      std::lock_guard held(capturedLock_);
      *frames = std::uint32_t((readable + captured_.size() - capturedTaken_) / frameBytes_);
    }
    return Status::Ok;
  }

  Status PlayBuffered() override {
    LoopLock lock(conn_->Loop());
    if (Status s = StateLocked(); s != Status::Ok || !playbackClock_) return s;
    if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr)) pa_operation_unref(op);
    return Status::Ok;
  }

  Status GetPlaybackDelay(std::uint32_t* frames) override {
    LoopLock lock(conn_->Loop());
    if (Status s = GetCurrentPadding(frames); s != Status::Ok || !playbackClock_) return s;
    pa_usec_t usec = 0;
    // The server's latency is what was written and not yet heard, the sink's part included.
    // The padding from the writable size counts sound the server took since its last request
    // as still waiting, so it is used only while no timing is known (just connected).
    if (pa_stream_get_latency(stream_, &usec, nullptr) == 0) {
      std::uint64_t delay = usec * rate_ / 1000000;
      // The library's clock runs on while the stream waits for its buffer to fill (after a
      // start or an underrun), and keeps what it ran ahead: its latency then falls short of
      // what is still to be heard, for seconds. Still to be heard: what the server had not
      // taken at the last timing update (the write index counts the writes since), less
      // what it can have taken since if it was playing, and what its sink holds. (Once the
      // server took it all, the sink's latency is mostly others' sound or silence: a sink
      // that renders ahead always holds some, and the stream would never drain.)
      const pa_timing_info* ti = pa_stream_get_timing_info(stream_);
      if (ti && !ti->write_index_corrupt && !ti->read_index_corrupt) {
        const std::int64_t queued = (ti->write_index - ti->read_index) / frameBytes_;
        const std::int64_t taken =
            ti->playing ? std::int64_t(pa_timeval_age(&ti->timestamp) * rate_ / 1000000) : 0;
        const std::uint64_t sink = ti->sink_usec * rate_ / 1000000;
        if (queued > taken) delay = std::max(delay, std::uint64_t(queued - taken) + sink);
        // Once the server took the last of it, the library's clock stops with the stream
        // (an underrun) and its latency would stay: the sink plays that last of it within
        // its latency of then.
        if (queued > 0) {
          tailTaken_.reset();
        } else {
          const auto now = std::chrono::steady_clock::now();
          if (!tailTaken_)
            tailTaken_ = {now - std::chrono::microseconds(pa_timeval_age(&ti->timestamp)), sink};
          const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
              now - tailTaken_->first);
          const std::uint64_t gone = std::uint64_t(us.count()) * rate_ / 1000000;
          delay = std::min(delay, tailTaken_->second - std::min(gone, tailTaken_->second));
        }
      }
      *frames = std::uint32_t(std::min<std::uint64_t>(delay, 0xffffffffu));
    }
    // What was heard never goes back, nor runs ahead of what was written or of the wall
    // clock (a hundredth more for a sink whose clock runs fast).
    const auto now = std::chrono::steady_clock::now();
    std::uint64_t unheard = std::min<std::uint64_t>(*frames, framesWritten_ - framesHeard_);
    if (heardAt_) {
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now - *heardAt_);
      const std::uint64_t mostHeard =
          framesHeard_ + std::uint64_t(us.count()) * rate_ / 1000000 * 101 / 100;
      if (mostHeard < framesWritten_) unheard = std::max(unheard, framesWritten_ - mostHeard);
    }
    *frames = std::uint32_t(unheard);
    framesHeard_ = framesWritten_ - unheard;
    heardAt_ = now;
    return Status::Ok;
  }

  Status GetRenderBuffer(std::uint32_t frames, float** data) override {
    LoopLock lock(conn_->Loop());
    if (Status s = StateLocked(); s != Status::Ok) return s;
    if (flow_ != DataFlow::Render || loopback_) return Status::Failed;
    scratch_.assign(std::size_t(frames) * frameBytes_ / sizeof(float), 0.0f);
    outstanding_ = frames;
    *data = scratch_.data();
    return Status::Ok;
  }

  Status ReleaseRenderBuffer(std::uint32_t framesWritten) override {
    LoopLock lock(conn_->Loop());
    if (framesWritten > outstanding_) return Status::Failed;
    outstanding_ = 0;
    if (Status s = StateLocked(); s != Status::Ok) return s;
    if (framesWritten == 0) return Status::Ok;
    if (pa_stream_write(stream_, scratch_.data(), std::size_t(framesWritten) * frameBytes_, nullptr,
                        0, PA_SEEK_RELATIVE) < 0)
      return StateLocked() == Status::Ok ? Status::Failed : Status::DeviceLost;
    framesWritten_ += framesWritten;
    return Status::Ok;
  }

  // Packets come from what the read callback took from the server, half a period each
  // (a shorter rest waits for more): a block is a period whatever the fragments' sizes.
  Status GetCaptureBuffer(const float** data, std::uint32_t* frames,
                          std::uint64_t* positionUs) override {
    LoopLock lock(conn_->Loop());
    *frames = 0;
    if (Status s = StateLocked(); s != Status::Ok) return s;
    std::lock_guard held(capturedLock_);
    const std::size_t waiting = captured_.size() - capturedTaken_;
    const std::uint32_t n = waiting >= packetBytes_ ? packetBytes_ / frameBytes_ : 0;
    if (n == 0) return Status::Ok;
    peeked_ = n;
    // A copy: the read callback may add to what is held before the packet is released.
    scratch_.resize(std::size_t(n) * frameBytes_ / sizeof(float));
    std::memcpy(scratch_.data(), captured_.data() + capturedTaken_, std::size_t(n) * frameBytes_);
    *data = scratch_.data();
    *frames = n;
    if (positionUs) *positionUs = framesRead_ * 1000000 / rate_;
    return Status::Ok;
  }

  // The loop's lock is recursive: the calls inside a run lock it again without waiting.
  void BeginRun() override {
    if (conn_->Loop() && !HeldHere(conn_->Loop())) pa_threaded_mainloop_lock(conn_->Loop());
  }
  void EndRun() override {
    if (conn_->Loop() && !HeldHere(conn_->Loop())) pa_threaded_mainloop_unlock(conn_->Loop());
  }

  Status ReleaseCaptureBuffer(std::uint32_t frames) override {
    LoopLock lock(conn_->Loop());
    if (frames > peeked_) return Status::Failed;
    peeked_ = 0;
    framesRead_ += frames;
    {
      std::lock_guard held(capturedLock_);
      capturedTaken_ += std::size_t(frames) * frameBytes_;
    }
    return StateLocked();
  }

 private:
  static void OnState(pa_stream* s, void* self) {
    auto* c = static_cast<PulseClient*>(self);
    pa_stream_state_t st = pa_stream_get_state(s);
    if (st != PA_STREAM_FAILED && st != PA_STREAM_TERMINATED) return;
    if (c->Captures()) c->conn_->Arrivals()->Notify();  // the next pass tells the loss
    if (c->callback_) c->callback_();
  }
  bool Captures() const { return flow_ == DataFlow::Capture || loopback_; }
  static void OnRequest(pa_stream*, std::size_t, void* self) {
    auto* c = static_cast<PulseClient*>(self);
    if (c->callback_) c->callback_();
  }
  // On the loop's thread, locked: every fragment is taken from the server as it comes, so
  // that its memory goes back to the server in the same turn of the loop rather than
  // waking the loop again from the capture thread.
  static void OnCaptured(pa_stream* s, std::size_t, void* self) {
    auto* c = static_cast<PulseClient*>(self);
    c->TakeCapturedLocked(s);
    c->conn_->Arrivals()->Notify();
    if (c->callback_) c->callback_();
  }
  void TakeCapturedLocked(pa_stream* s) {
    std::lock_guard held(capturedLock_);
    // What was read goes from the front once it is most of what is held.
    if (capturedTaken_ > 0 && capturedTaken_ >= captured_.size() / 2) {
      captured_.erase(captured_.begin(), captured_.begin() + std::ptrdiff_t(capturedTaken_));
      capturedTaken_ = 0;
    }
    const void* p = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_peek(s, &p, &bytes) == 0 && bytes > 0) {
      // A hole is silence.
      const auto* b = static_cast<const std::uint8_t*>(p);
      if (b)
        captured_.insert(captured_.end(), b, b + bytes);
      else
        captured_.resize(captured_.size() + bytes, 0);
      pa_stream_drop(s);
    }
  }

  Status StateLocked() {
    if (!stream_) return Status::Failed;
    pa_stream_state_t st = pa_stream_get_state(stream_);
    if (st == PA_STREAM_READY) return Status::Ok;
    return PA_STREAM_IS_GOOD(st) ? Status::Failed : Status::DeviceLost;
  }

  // The engine starts its client with every buffer it queues; only a change of state is
  // sent to the server (each request is a round trip's work on both sides).
  Status Cork(bool cork) {
    LoopLock lock(conn_->Loop());
    if (Status s = StateLocked(); s != Status::Ok) return s;
    if (corked_ == cork) return Status::Ok;
    if (pa_operation* op = pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr)) {
      pa_operation_unref(op);
      corked_ = cork;
      return Status::Ok;
    }
    return Status::Failed;
  }

  void DropStreamLocked() {
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  std::shared_ptr<Connection> conn_;
  DeviceInfo info_;
  DataFlow flow_;
  pa_stream* stream_ = nullptr;
  bool loopback_ = false;
  bool corked_ = true;  // streams are connected corked
  bool playbackClock_ = false;
  std::uint32_t frameBytes_ = 0;
  std::uint32_t rate_ = 0;
  std::uint32_t bufferFrames_ = 0;
  std::function<void()> callback_;
  std::vector<float> scratch_;
  std::uint32_t outstanding_ = 0;
  // Capture: what the server sent and the engine has not read yet, from capturedTaken_.
  // The loop's lock guards them too; this one is for the sanitizer, which cannot see the
  // library's locking.
  std::mutex capturedLock_;
  std::vector<std::uint8_t> captured_;
  std::size_t capturedTaken_ = 0;
  std::uint32_t packetBytes_ = 0;
  std::uint32_t peeked_ = 0;  // frames handed out by the last GetCaptureBuffer
  std::uint64_t framesRead_ = 0;
  std::uint64_t framesWritten_ = 0;  // render: since the last flush
  std::uint64_t framesHeard_ = 0;
  std::optional<std::chrono::steady_clock::time_point> heardAt_;
  // When the server took the last written frame, and the sink's latency then.
  std::optional<std::pair<std::chrono::steady_clock::time_point, std::uint64_t>> tailTaken_;
};

// An endpoint's volume on the server: a sink's or a source's own volume and mute. The scalar
// is the volume as desktop mixers show it, a straight fraction of PA_VOLUME_NORM (the
// server's cubic volume curve), so that 0.3 here is the 30 % a mixer shows; set then get
// gives back the same server volume. Levels above 100 % (over-amplified by a mixer) read
// as 1.0. Setting the level scales all channels, keeping their balance.
class PulseVolume final : public EndpointVolume {
 public:
  PulseVolume(std::shared_ptr<Connection> conn, std::string name, DataFlow flow)
      : conn_(std::move(conn)), name_(std::move(name)), flow_(flow) {}
  const std::string& Id() const override { return name_; }
  DataFlow Flow() const override { return flow_; }

  Status GetMasterVolumeLevelScalar(float* level) override {
    LoopLock lock(conn_->Loop());
    State st;
    if (Status s = QueryLocked(&st); s != Status::Ok) return s;
    const pa_volume_t v = pa_cvolume_max(&st.volume);
    *level = v >= PA_VOLUME_NORM ? 1.0f : float(double(v) / PA_VOLUME_NORM);
    return Status::Ok;
  }

  Status SetMasterVolumeLevelScalar(float level) override {
    if (!(level >= 0.0f && level <= 1.0f)) return Status::Failed;
    LoopLock lock(conn_->Loop());
    State st;
    if (Status s = QueryLocked(&st); s != Status::Ok) return s;
    const auto v = pa_volume_t(std::lround(double(level) * PA_VOLUME_NORM));
    pa_cvolume cv = st.volume;
    if (!pa_cvolume_valid(&cv)) pa_cvolume_set(&cv, st.channels ? st.channels : 1, v);
    pa_cvolume_scale(&cv, v);
    pa_context* ctx = conn_->ReadyContextLocked();
    if (!ctx) return Status::Failed;
    int ok = 0;
    pa_operation* op =
        flow_ == DataFlow::Render
            ? pa_context_set_sink_volume_by_name(ctx, name_.c_str(), &cv, &PulseVolume::OnDone, &ok)
            : pa_context_set_source_volume_by_name(ctx, name_.c_str(), &cv, &PulseVolume::OnDone,
                                                   &ok);
    return FinishLocked(op, &ok);
  }

  Status GetMute(bool* muted) override {
    LoopLock lock(conn_->Loop());
    State st;
    if (Status s = QueryLocked(&st); s != Status::Ok) return s;
    *muted = st.muted;
    return Status::Ok;
  }

  Status SetMute(bool muted) override {
    LoopLock lock(conn_->Loop());
    pa_context* ctx = conn_->ReadyContextLocked();
    if (!ctx) return Status::Failed;
    int ok = 0;
    pa_operation* op =
        flow_ == DataFlow::Render
            ? pa_context_set_sink_mute_by_name(ctx, name_.c_str(), muted, &PulseVolume::OnDone, &ok)
            : pa_context_set_source_mute_by_name(ctx, name_.c_str(), muted, &PulseVolume::OnDone,
                                                 &ok);
    return FinishLocked(op, &ok);
  }

  // With the loop locked: whether the endpoint is there (a sink, or a source that is not a
  // monitor).
  bool PresentLocked() {
    State st;
    return QueryLocked(&st) == Status::Ok;
  }

 private:
  struct State {
    bool found = false;
    bool isMonitor = false;
    pa_cvolume volume{};
    bool muted = false;
    std::uint8_t channels = 0;
  };

  static void OnDone(pa_context*, int success, void* ok) {
    *static_cast<int*>(ok) = success ? 1 : 0;
  }

  // With the loop locked: the endpoint's volume and mute. Failed when the server cannot be
  // reached or does not answer; DeviceLost when it has no such endpoint.
  Status QueryLocked(State* st) {
    pa_context* ctx = conn_->ReadyContextLocked();
    if (!ctx) return Status::Failed;
    bool answered = false;
    struct Ud {
      State* st;
      bool* answered;
    } ud{st, &answered};
    pa_operation* op;
    if (flow_ == DataFlow::Render) {
      op = pa_context_get_sink_info_by_name(
          ctx, name_.c_str(),
          [](pa_context*, const pa_sink_info* i, int eol, void* p) {
            auto* u = static_cast<Ud*>(p);
            *u->answered = true;
            if (eol != 0 || !i) return;
            u->st->found = true;
            u->st->volume = i->volume;
            u->st->muted = i->mute != 0;
            u->st->channels = i->sample_spec.channels;
          },
          &ud);
    } else {
      op = pa_context_get_source_info_by_name(
          ctx, name_.c_str(),
          [](pa_context*, const pa_source_info* i, int eol, void* p) {
            auto* u = static_cast<Ud*>(p);
            *u->answered = true;
            if (eol != 0 || !i) return;
            u->st->found = true;
            u->st->isMonitor = i->monitor_of_sink != PA_INVALID_INDEX;
            u->st->volume = i->volume;
            u->st->muted = i->mute != 0;
            u->st->channels = i->sample_spec.channels;
          },
          &ud);
    }
    if (!conn_->WaitLocked(op) || !answered) return Status::Failed;
    if (!st->found || st->isMonitor) return Status::DeviceLost;
    return Status::Ok;
  }

  // With the loop locked: waits (bounded) for a set operation. A refused set on an endpoint
  // that is gone is DeviceLost.
  Status FinishLocked(pa_operation* op, int* ok) {
    if (!conn_->WaitLocked(op)) return Status::Failed;
    if (*ok) return Status::Ok;
    State st;
    Status s = QueryLocked(&st);
    return s == Status::DeviceLost ? Status::DeviceLost : Status::Failed;
  }

  std::shared_ptr<Connection> conn_;
  std::string name_;
  DataFlow flow_;
};

class PulseDevice final : public Device {
 public:
  PulseDevice(std::shared_ptr<Connection> conn, DeviceInfo info, DataFlow flow)
      : conn_(std::move(conn)), info_(std::move(info)), flow_(flow) {}
  const std::string& Id() const override { return info_.name; }
  std::string FriendlyName() const override { return info_.description; }
  DataFlow Flow() const override { return flow_; }
  std::unique_ptr<AudioClient> Activate() override {
    // The endpoint must still be there: a client never silently opens another device.
    {
      LoopLock lock(conn_->Loop());
      bool present = false;
      for (const auto& d : ListLocked(*conn_, flow_)) present |= d.name == info_.name;
      if (!present) return nullptr;
    }
    return std::make_unique<PulseClient>(conn_, info_, flow_);
  }
  std::unique_ptr<EndpointVolume> ActivateEndpointVolume() override {
    auto volume = std::make_unique<PulseVolume>(conn_, info_.name, flow_);
    LoopLock lock(conn_->Loop());
    if (!volume->PresentLocked()) return nullptr;
    return volume;
  }

 private:
  std::shared_ptr<Connection> conn_;
  DeviceInfo info_;
  DataFlow flow_;
};

class PulseBackend final : public EndpointBackend {
 public:
  PulseBackend() : conn_(std::make_shared<Connection>()) {}
  const char* Name() const override { return "pulse"; }

  std::vector<EndpointInfo> EnumerateEndpoints(DataFlow flow) override {
    LoopLock lock(conn_->Loop());
    std::vector<EndpointInfo> out;
    for (auto& d : ListLocked(*conn_, flow)) out.push_back({d.name, d.description, flow});
    return out;
  }

  std::optional<EndpointInfo> GetDefaultEndpoint(DataFlow flow) override {
    LoopLock lock(conn_->Loop());
    pa_context* ctx = conn_->ReadyContextLocked();
    if (!ctx) return std::nullopt;
    std::pair<std::string, std::string> names;
    pa_operation* op = pa_context_get_server_info(
        ctx,
        [](pa_context*, const pa_server_info* i, void* ud) {
          auto* n = static_cast<std::pair<std::string, std::string>*>(ud);
          if (!i) return;
          n->first = i->default_sink_name ? i->default_sink_name : "";
          n->second = i->default_source_name ? i->default_source_name : "";
        },
        &names);
    if (!conn_->WaitLocked(op)) return std::nullopt;
    const std::string& want = flow == DataFlow::Render ? names.first : names.second;
    for (auto& d : ListLocked(*conn_, flow))
      if (d.name == want) return EndpointInfo{d.name, d.description, flow};
    return std::nullopt;
  }

  std::shared_ptr<Device> GetDevice(const std::string& id) override {
    LoopLock lock(conn_->Loop());
    for (DataFlow flow : {DataFlow::Render, DataFlow::Capture})
      for (auto& d : ListLocked(*conn_, flow))
        if (d.name == id) return std::make_shared<PulseDevice>(conn_, d, flow);
    return nullptr;
  }

  std::vector<EndpointInfo> AdapterLines(const std::string& outputId) override {
    LoopLock lock(conn_->Loop());
    std::vector<EndpointInfo> out;
    std::uint32_t card = PA_INVALID_INDEX;
    for (auto& d : ListLocked(*conn_, DataFlow::Render))
      if (d.name == outputId) card = d.card;
    if (card == PA_INVALID_INDEX) return out;
    for (auto& d : ListLocked(*conn_, DataFlow::Capture))
      if (d.card == card)
        out.push_back(
            {d.name, d.activePort.empty() ? d.description : d.activePort, DataFlow::Capture});
    return out;
  }

  std::unique_ptr<PeriodTimer> CreatePeriodTimer() override {
    return std::make_unique<ArrivalTimer>(conn_->Arrivals());
  }
  std::uint64_t NowMs() override { return MonotonicMs(); }

 private:
  std::shared_ptr<Connection> conn_;
};

}  // namespace

std::shared_ptr<EndpointBackend> MakePulseBackend() { return std::make_shared<PulseBackend>(); }

}  // namespace vts::audio
