// The virtual endpoint backend: devices whose frames are a pure function of a clock that
// the test drives (or that follows real time), with failure injection per device and step.
#include "audio/virtual_endpoints.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace vts::audio {
namespace {

constexpr std::uint64_t kUsPerSec = 1000000;
constexpr std::size_t kPlayedCapSeconds = 60;
constexpr auto kHandshakeWait = std::chrono::seconds(1);

std::uint64_t FramePos(std::uint64_t us, std::uint32_t rate) {
  return static_cast<std::uint64_t>((static_cast<unsigned __int128>(us) * rate) / kUsPerSec);
}

struct ClientState;

struct DeviceState {
  VirtualDeviceSpec spec;
  bool present = true;
  float volume = 1.0f;  // endpoint master volume
  bool muted = false;
  float Gain() const { return muted ? 0.0f : volume; }
  std::deque<float> played;
  int renderWrites = 0;
  std::vector<std::weak_ptr<ClientState>> clients;
};

struct ClientState {
  std::shared_ptr<DeviceState> device;
  MixFormat format;
  bool initialized = false;
  bool serviced = false;
  bool started = false;
  bool loopback = false;
  std::uint32_t bufferFrames = 0;
  std::function<void()> callback;
  // Render: frames queued for the device. Capture: frames waiting to be read.
  std::deque<float> queue;
  // Render: frames the device took ahead of playing them (its spec's aheadMs, or its block).
  std::deque<float> held;
  std::uint64_t queueStartFrame = 0;  // capture: device frame of queue's first frame
  std::vector<float> scratch;         // render buffer / capture packet handed out
  std::uint32_t outstanding = 0;      // frames handed out by Get*Buffer
  // Render: events signalled, and the count seen by the client's last padding read.
  std::uint64_t eventsSent = 0;
  std::uint64_t eventsSeen = 0;
};

struct TimerState {
  std::uint64_t intervalUs = 0;
  std::uint64_t nextDueUs = 0;
  bool armed = false;
  int pending = 0;
  bool inWait = false;
  bool woken = false;
  bool alive = true;
};

class VirtualEndpointsImpl;

class VirtualClient final : public AudioClient {
 public:
  VirtualClient(std::shared_ptr<VirtualEndpointsImpl> owner, std::shared_ptr<ClientState> state)
      : owner_(std::move(owner)), state_(std::move(state)) {}
  ~VirtualClient() override;

  Status GetMixFormat(MixFormat* format) override;
  Status Initialize(std::uint32_t flags, std::uint64_t bufferDurationUs,
                    const MixFormat& format) override;
  Status SetEventCallback(std::function<void()> callback) override;
  Status GetBufferSize(std::uint32_t* frames) override;
  Status GetService() override;
  Status Start() override;
  Status Stop() override;
  Status Reset() override;
  Status GetCurrentPadding(std::uint32_t* frames) override;
  Status GetPlaybackDelay(std::uint32_t* frames) override;
  Status GetRenderBuffer(std::uint32_t frames, float** data) override;
  Status ReleaseRenderBuffer(std::uint32_t framesWritten) override;
  Status GetCaptureBuffer(const float** data, std::uint32_t* frames,
                          std::uint64_t* positionUs) override;
  Status ReleaseCaptureBuffer(std::uint32_t frames) override;

 private:
  std::shared_ptr<VirtualEndpointsImpl> owner_;
  std::shared_ptr<ClientState> state_;
};

class VirtualDevice final : public Device {
 public:
  VirtualDevice(std::shared_ptr<VirtualEndpointsImpl> owner, std::shared_ptr<DeviceState> state)
      : owner_(std::move(owner)), state_(std::move(state)), id_(state_->spec.id) {}
  const std::string& Id() const override { return id_; }
  std::string FriendlyName() const override;
  DataFlow Flow() const override { return state_->spec.flow; }
  std::unique_ptr<AudioClient> Activate() override;
  std::unique_ptr<EndpointVolume> ActivateEndpointVolume() override;

 private:
  std::shared_ptr<VirtualEndpointsImpl> owner_;
  std::shared_ptr<DeviceState> state_;
  std::string id_;
};

class VirtualVolume final : public EndpointVolume {
 public:
  VirtualVolume(std::shared_ptr<VirtualEndpointsImpl> owner, std::shared_ptr<DeviceState> state)
      : owner_(std::move(owner)), state_(std::move(state)), id_(state_->spec.id) {}
  const std::string& Id() const override { return id_; }
  DataFlow Flow() const override { return state_->spec.flow; }
  Status GetMasterVolumeLevelScalar(float* level) override;
  Status SetMasterVolumeLevelScalar(float level) override;
  Status GetMute(bool* muted) override;
  Status SetMute(bool muted) override;

 private:
  std::shared_ptr<VirtualEndpointsImpl> owner_;
  std::shared_ptr<DeviceState> state_;
  std::string id_;
};

class VirtualTimer final : public PeriodTimer {
 public:
  VirtualTimer(std::shared_ptr<VirtualEndpointsImpl> owner, std::shared_ptr<TimerState> state)
      : owner_(std::move(owner)), state_(std::move(state)) {}
  ~VirtualTimer() override;
  void Arm(std::uint32_t intervalMs) override;
  void Disarm() override;
  void Wait() override;
  void Wake() override;

 private:
  std::shared_ptr<VirtualEndpointsImpl> owner_;
  std::shared_ptr<TimerState> state_;
};

class VirtualEndpointsImpl final : public VirtualEndpoints,
                                   public std::enable_shared_from_this<VirtualEndpointsImpl> {
 public:
  VirtualEndpointsImpl() { ResetLocked(true); }
  ~VirtualEndpointsImpl() override {
    {
      std::lock_guard lock(mutex_);
      tickerStop_ = true;
    }
    tickerCv_.notify_all();
    if (ticker_.joinable()) ticker_.join();
  }

  void StartTicker() {
    ticker_ = std::thread([this] { TickerLoop(); });
  }

  const char* Name() const override { return "virtual"; }

  std::vector<EndpointInfo> EnumerateEndpoints(DataFlow flow) override {
    std::lock_guard lock(mutex_);
    std::vector<EndpointInfo> out;
    for (auto& d : devices_)
      if (d->present && d->spec.flow == flow) out.push_back({d->spec.id, d->spec.name, flow});
    return out;
  }

  std::vector<EndpointInfo> AdapterLines(const std::string& outputId) override {
    std::lock_guard lock(mutex_);
    std::vector<EndpointInfo> out;
    auto output = FindLocked(outputId);
    if (!output || !output->present || output->spec.flow != DataFlow::Render ||
        output->spec.card.empty())
      return out;
    for (auto& d : devices_)
      if (d->present && d->spec.flow == DataFlow::Capture && d->spec.card == output->spec.card)
        out.push_back(
            {d->spec.id, d->spec.port.empty() ? d->spec.name : d->spec.port, DataFlow::Capture});
    return out;
  }

  std::optional<EndpointInfo> GetDefaultEndpoint(DataFlow flow) override {
    std::lock_guard lock(mutex_);
    const std::string& id = flow == DataFlow::Render ? defaultRender_ : defaultCapture_;
    auto d = FindLocked(id);
    if (!d || d->spec.flow != flow) return std::nullopt;
    return EndpointInfo{d->spec.id, d->spec.name, flow};
  }

  std::shared_ptr<Device> GetDevice(const std::string& id) override {
    std::unique_lock lock(mutex_);
    WaitWhileHeldLocked(lock, id, VirtualFailure::GetDevice);
    auto d = FindLocked(id);
    if (!d || ShouldFailLocked(id, VirtualFailure::GetDevice)) return nullptr;
    return std::make_shared<VirtualDevice>(shared_from_this(), d);
  }

  std::unique_ptr<PeriodTimer> CreatePeriodTimer() override {
    std::lock_guard lock(mutex_);
    auto st = std::make_shared<TimerState>();
    timers_.push_back(st);
    return std::make_unique<VirtualTimer>(shared_from_this(), st);
  }

  std::uint64_t NowMs() override {
    std::lock_guard lock(mutex_);
    return nowUs_ / 1000;
  }
  std::uint64_t NowUs() override {
    std::lock_guard lock(mutex_);
    return nowUs_;
  }

  void Reset(bool withStockDevices) override {
    std::lock_guard lock(mutex_);
    ResetLocked(withStockDevices);
  }

  void AddDevice(const VirtualDeviceSpec& spec) override {
    std::lock_guard lock(mutex_);
    if (auto old = FindLocked(spec.id)) RemoveLocked(old);
    auto d = std::make_shared<DeviceState>();
    d->spec = spec;
    if (d->spec.channels == 0) d->spec.channels = 1;
    if (d->spec.samplesPerSec == 0) d->spec.samplesPerSec = 48000;
    devices_.push_back(d);
  }

  void RemoveDevice(const std::string& id) override {
    std::vector<std::function<void()>> wake;
    {
      std::lock_guard lock(mutex_);
      auto d = FindLocked(id);
      if (!d) return;
      for (auto& w : d->clients)
        if (auto c = w.lock(); c && c->callback) wake.push_back(c->callback);
      RemoveLocked(d);
    }
    for (auto& f : wake) f();
  }

  void SetDefault(DataFlow flow, const std::string& id) override {
    std::lock_guard lock(mutex_);
    (flow == DataFlow::Render ? defaultRender_ : defaultCapture_) = id;
  }

  void SetSource(const std::string& id, const VirtualSource& source) override {
    std::lock_guard lock(mutex_);
    if (auto d = FindLocked(id)) d->spec.source = source;
  }

  void SetManualClock(bool manual) override {
    std::lock_guard lock(mutex_);
    manual_ = manual;
    realBase_ = std::chrono::steady_clock::now();
    realBaseUs_ = nowUs_;
  }

  void Advance(std::uint32_t ms) override { AdvanceTo(NowUs() + std::uint64_t(ms) * 1000, true); }

  void InjectFailure(const std::string& id, VirtualFailure step, int count) override {
    std::lock_guard lock(mutex_);
    failures_[{id, step}] = count;
  }
  void ClearFailures() override {
    std::lock_guard lock(mutex_);
    failures_.clear();
  }
  void HoldStep(const std::string& id, VirtualFailure step) override {
    std::lock_guard lock(mutex_);
    holds_.insert({id, step});
  }
  int HeldCount() override {
    std::lock_guard lock(mutex_);
    return heldCount_;
  }
  void ReleaseHeld() override {
    std::lock_guard lock(mutex_);
    holds_.clear();
    holdCv_.notify_all();
  }

  std::vector<float> Played(const std::string& id) override {
    std::lock_guard lock(mutex_);
    auto d = FindAnyLocked(id);
    if (!d) return {};
    return {d->played.begin(), d->played.end()};
  }
  void ClearPlayed(const std::string& id) override {
    std::lock_guard lock(mutex_);
    if (auto d = FindAnyLocked(id)) d->played.clear();
  }
  int OpenClientCount(const std::string& id) override {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (auto& d : devices_)
      if (d->spec.id == id)
        for (auto& w : d->clients) n += w.expired() ? 0 : 1;
    for (auto& d : removed_)
      if (d->spec.id == id)
        for (auto& w : d->clients) n += w.expired() ? 0 : 1;
    return n;
  }

  std::uint32_t QueuedFrames(const std::string& id) override {
    std::lock_guard lock(mutex_);
    auto d = FindLocked(id);
    if (!d) return 0;
    std::size_t n = 0;
    for (auto& w : d->clients)
      if (auto c = w.lock(); c && !c->loopback && c->initialized)
        n += (c->queue.size() + c->held.size()) / c->format.channels;
    return std::uint32_t(n);
  }

  int RenderWrites(const std::string& id) override {
    std::lock_guard lock(mutex_);
    auto d = FindLocked(id);
    return d ? d->renderWrites : 0;
  }

  bool SetVolumeState(const std::string& id, float level, bool muted) override {
    std::lock_guard lock(mutex_);
    auto d = FindLocked(id);
    if (!d || !(level >= 0.0f && level <= 1.0f)) return false;
    d->volume = level;
    d->muted = muted;
    return true;
  }
  bool VolumeState(const std::string& id, float* level, bool* muted) override {
    std::lock_guard lock(mutex_);
    auto d = FindLocked(id);
    if (!d) return false;
    if (level) *level = d->volume;
    if (muted) *muted = d->muted;
    return true;
  }

  // --- used by clients, devices and timers ---
  std::mutex mutex_;
  std::condition_variable cv_;

  void WaitWhileHeldLocked(std::unique_lock<std::mutex>& lock, const std::string& id,
                           VirtualFailure step) {
    if (holds_.count({id, step}) == 0) return;
    ++heldCount_;
    holdCv_.wait(lock, [&] { return holds_.count({id, step}) == 0; });
    --heldCount_;
  }

  bool ShouldFailLocked(const std::string& id, VirtualFailure step) {
    auto it = failures_.find({id, step});
    if (it == failures_.end() || it->second == 0) return false;
    if (it->second > 0) --it->second;
    return true;
  }

  std::shared_ptr<ClientState> NewClientLocked(const std::shared_ptr<DeviceState>& d) {
    auto c = std::make_shared<ClientState>();
    c->device = d;
    d->clients.erase(
        std::remove_if(d->clients.begin(), d->clients.end(),
                       [](const std::weak_ptr<ClientState>& w) { return w.expired(); }),
        d->clients.end());
    d->clients.push_back(c);
    return c;
  }

  std::uint64_t nowUs_ = 0;

 private:
  void ResetLocked(bool withStockDevices) {
    for (auto& d : devices_) d->present = false;
    devices_.clear();
    removed_.clear();
    failures_.clear();
    holds_.clear();
    holdCv_.notify_all();
    defaultRender_.clear();
    defaultCapture_.clear();
    nowUs_ = 0;
    realBase_ = std::chrono::steady_clock::now();
    realBaseUs_ = 0;
    for (auto& t : timers_)
      if (auto s = t.lock()) s->nextDueUs = 0;
    if (withStockDevices) {
      auto add = [this](VirtualDeviceSpec spec) {
        auto d = std::make_shared<DeviceState>();
        d->spec = std::move(spec);
        devices_.push_back(d);
      };
      add({"virtual_speaker", "Virtual Speaker", DataFlow::Render, 2, 48000, {}});
      add({"virtual_mic", "Virtual Microphone", DataFlow::Capture, 1, 48000,
           VirtualSource::Sine(440.0, 0.25f)});
      defaultRender_ = "virtual_speaker";
      defaultCapture_ = "virtual_mic";
    }
  }

  std::shared_ptr<DeviceState> FindLocked(const std::string& id) {
    for (auto& d : devices_)
      if (d->present && d->spec.id == id) return d;
    return nullptr;
  }
  std::shared_ptr<DeviceState> FindAnyLocked(const std::string& id) {
    if (auto d = FindLocked(id)) return d;
    for (auto it = removed_.rbegin(); it != removed_.rend(); ++it)
      if ((*it)->spec.id == id) return *it;
    return nullptr;
  }
  void RemoveLocked(const std::shared_ptr<DeviceState>& d) {
    d->present = false;
    devices_.erase(std::remove(devices_.begin(), devices_.end(), d), devices_.end());
    removed_.push_back(d);
    if (removed_.size() > 16) removed_.erase(removed_.begin());
  }

  static float SourceSample(const VirtualDeviceSpec& spec, std::uint64_t frame,
                            std::uint32_t channel) {
    const VirtualSource& s = spec.source;
    switch (s.kind) {
      case VirtualSource::Kind::Silence:
        return 0.0f;
      case VirtualSource::Kind::Sine: {
        // Phase from the frame number modulo one second keeps precision over long runs.
        double t = double(frame % spec.samplesPerSec) / spec.samplesPerSec +
                   double(frame / spec.samplesPerSec);
        double phase = std::fmod(s.frequencyHz * t, 1.0);
        return s.amplitude * float(std::sin(2.0 * M_PI * phase));
      }
      case VirtualSource::Kind::Samples: {
        std::uint64_t total = s.samples.size() / spec.channels;
        if (total == 0) return 0.0f;
        if (frame >= total) {
          if (!s.loop) return 0.0f;
          frame %= total;
        }
        return s.samples[frame * spec.channels + channel];
      }
    }
    return 0.0f;
  }

  // Moves every device from `fromUs` to `toUs`; collects the event callbacks to call.
  void MoveDevicesLocked(
      std::uint64_t fromUs, std::uint64_t toUs, std::vector<std::function<void()>>* signals,
      std::vector<std::pair<std::weak_ptr<ClientState>, std::uint64_t>>* served) {
    for (auto& d : devices_) {
      const std::uint32_t rate = d->spec.samplesPerSec;
      const std::uint32_t ch = d->spec.channels;
      const std::uint64_t a = FramePos(fromUs, rate);
      const std::uint64_t b = FramePos(toUs, rate);
      if (b <= a) continue;
      const std::size_t n = b - a;
      std::vector<std::shared_ptr<ClientState>> live;
      for (auto& w : d->clients)
        if (auto c = w.lock()) live.push_back(c);
      if (d->spec.flow == DataFlow::Render) {
        std::vector<float> mix(n * ch, 0.0f);
        bool anyRunning = false;
        const std::size_t ahead = FramePos(std::uint64_t(d->spec.aheadMs) * 1000, rate) * ch;
        const std::size_t block = FramePos(std::uint64_t(d->spec.blockMs) * 1000, rate) * ch;
        for (auto& c : live) {
          if (c->loopback || !c->started) continue;
          anyRunning = true;
          // What the device took (ahead, or its block) plays first.
          std::size_t i = 0;
          auto playHeld = [&] {
            for (; i < n * ch && !c->held.empty(); ++i) {
              mix[i] += c->held.front();
              c->held.pop_front();
            }
          };
          if (block > 0) {
            // A block at a time, the next when the last one has played.
            for (playHeld(); i < n * ch && !c->queue.empty(); playHeld()) {
              const std::size_t m = std::min(block, c->queue.size());
              c->held.insert(c->held.end(), c->queue.begin(), c->queue.begin() + m);
              c->queue.erase(c->queue.begin(), c->queue.begin() + m);
            }
          } else {
            playHeld();
            std::size_t take = std::min<std::size_t>(n * ch - i, c->queue.size());
            for (std::size_t k = 0; k < take; ++k) mix[i + k] += c->queue[k];
            c->queue.erase(c->queue.begin(), c->queue.begin() + take);
            const std::size_t more =
                std::min(ahead - std::min(ahead, c->held.size()), c->queue.size());
            c->held.insert(c->held.end(), c->queue.begin(), c->queue.begin() + more);
            c->queue.erase(c->queue.begin(), c->queue.begin() + more);
          }
          if (c->callback) {
            signals->push_back(c->callback);
            served->emplace_back(c, ++c->eventsSent);
          }
        }
        if (const float gain = d->Gain(); gain != 1.0f)
          for (float& v : mix) v *= gain;
        if (anyRunning) {
          d->played.insert(d->played.end(), mix.begin(), mix.end());
          const std::size_t cap = std::size_t(kPlayedCapSeconds) * rate * ch;
          if (d->played.size() > cap)
            d->played.erase(d->played.begin(), d->played.begin() + (d->played.size() - cap));
        }
        for (auto& c : live) {
          if (!c->loopback || !c->started) continue;
          if (c->queue.empty()) c->queueStartFrame = a;
          c->queue.insert(c->queue.end(), mix.begin(), mix.end());
          TrimCapture(*c, ch);
          if (c->callback) signals->push_back(c->callback);
        }
      } else {
        for (auto& c : live) {
          if (!c->started) continue;
          if (c->queue.empty()) c->queueStartFrame = a;
          const float gain = d->Gain();
          for (std::uint64_t f = a; f < b; ++f)
            for (std::uint32_t k = 0; k < ch; ++k)
              c->queue.push_back(gain * SourceSample(d->spec, f, k));
          TrimCapture(*c, ch);
          if (c->callback) signals->push_back(c->callback);
        }
      }
    }
  }

  // A capture buffer that overflows loses its oldest frames, as an endpoint would.
  static void TrimCapture(ClientState& c, std::uint32_t ch) {
    const std::size_t cap = std::size_t(std::max<std::uint32_t>(c.bufferFrames, 1)) * ch;
    if (c.queue.size() > cap + std::size_t(c.outstanding) * ch) {
      std::size_t drop = (c.queue.size() - cap - std::size_t(c.outstanding) * ch) / ch * ch;
      if (c.outstanding == 0) {
        c.queue.erase(c.queue.begin(), c.queue.begin() + drop);
        c.queueStartFrame += drop / ch;
      }
    }
  }

 public:
  void AdvanceTo(std::uint64_t targetUs, bool handshake) {
    for (;;) {
      std::vector<std::function<void()>> signals;
      std::vector<std::shared_ptr<TimerState>> fired;
      std::vector<std::pair<std::weak_ptr<ClientState>, std::uint64_t>> served;
      {
        std::unique_lock lock(mutex_);
        if (nowUs_ >= targetUs) return;
        std::uint64_t next = targetUs;
        for (auto& w : timers_)
          if (auto t = w.lock(); t && t->armed && t->alive)
            next = std::min(next, std::max(t->nextDueUs, nowUs_));
        if (next == nowUs_) {
          // A timer is due now: fire it without moving the clock.
        } else {
          MoveDevicesLocked(nowUs_, next, &signals, &served);
          nowUs_ = next;
        }
        for (auto& w : timers_) {
          auto t = w.lock();
          if (!t || !t->armed || !t->alive || t->nextDueUs > nowUs_) continue;
          t->pending = 1;
          t->nextDueUs = nowUs_ + std::max<std::uint64_t>(t->intervalUs, 1);
          fired.push_back(t);
        }
        timers_.erase(
            std::remove_if(timers_.begin(), timers_.end(),
                           [](const std::weak_ptr<TimerState>& w) { return w.expired(); }),
            timers_.end());
      }
      cv_.notify_all();
      for (auto& f : signals) f();
      if (handshake && (!fired.empty() || !served.empty())) {
        // Under the manual clock time moves on only once every woken thread has done its
        // period and every signalled render client has taken its event (read its padding):
        // otherwise a busy machine would underrun a stream that a quiet one keeps fed.
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, kHandshakeWait, [&] {
          for (auto& t : fired)
            if (t->alive && !t->woken && !(t->pending == 0 && t->inWait)) return false;
          for (auto& [w, event] : served)
            if (auto c = w.lock(); c && c->started && c->callback && c->eventsSeen < event)
              return false;
          return true;
        });
      }
    }
  }

 private:
  void TickerLoop() {
    std::unique_lock lock(mutex_);
    while (!tickerStop_) {
      tickerCv_.wait_for(lock, std::chrono::milliseconds(5));
      if (tickerStop_ || manual_) continue;
      auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::steady_clock::now() - realBase_);
      std::uint64_t target = realBaseUs_ + std::uint64_t(elapsed.count());
      lock.unlock();
      AdvanceTo(target, false);
      lock.lock();
    }
  }

  std::vector<std::shared_ptr<DeviceState>> devices_;
  std::vector<std::shared_ptr<DeviceState>> removed_;  // kept a while so Played() still answers
  std::vector<std::weak_ptr<TimerState>> timers_;
  std::map<std::pair<std::string, VirtualFailure>, int> failures_;
  std::set<std::pair<std::string, VirtualFailure>> holds_;
  int heldCount_ = 0;
  std::condition_variable holdCv_;
  std::string defaultRender_;
  std::string defaultCapture_;
  bool manual_ = false;
  std::chrono::steady_clock::time_point realBase_ = std::chrono::steady_clock::now();
  std::uint64_t realBaseUs_ = 0;
  bool tickerStop_ = false;
  std::condition_variable tickerCv_;
  std::thread ticker_;
};

// --- device ---

std::string VirtualDevice::FriendlyName() const {
  std::lock_guard lock(owner_->mutex_);
  return state_->spec.name;
}

std::unique_ptr<AudioClient> VirtualDevice::Activate() {
  std::unique_lock lock(owner_->mutex_);
  owner_->WaitWhileHeldLocked(lock, id_, VirtualFailure::Activate);
  if (!state_->present || owner_->ShouldFailLocked(id_, VirtualFailure::Activate)) return nullptr;
  return std::make_unique<VirtualClient>(owner_, owner_->NewClientLocked(state_));
}

std::unique_ptr<EndpointVolume> VirtualDevice::ActivateEndpointVolume() {
  std::lock_guard lock(owner_->mutex_);
  if (!state_->present || owner_->ShouldFailLocked(id_, VirtualFailure::ActivateVolume))
    return nullptr;
  return std::make_unique<VirtualVolume>(owner_, state_);
}

// --- endpoint volume ---

#define VV_CHECK()                                 \
  std::lock_guard lock(owner_->mutex_);            \
  if (!state_->present) return Status::DeviceLost; \
  if (owner_->ShouldFailLocked(id_, VirtualFailure::VolumeCall)) return Status::Failed

Status VirtualVolume::GetMasterVolumeLevelScalar(float* level) {
  VV_CHECK();
  *level = state_->volume;
  return Status::Ok;
}

Status VirtualVolume::SetMasterVolumeLevelScalar(float level) {
  VV_CHECK();
  if (!(level >= 0.0f && level <= 1.0f)) return Status::Failed;
  state_->volume = level;
  return Status::Ok;
}

Status VirtualVolume::GetMute(bool* muted) {
  VV_CHECK();
  *muted = state_->muted;
  return Status::Ok;
}

Status VirtualVolume::SetMute(bool muted) {
  VV_CHECK();
  state_->muted = muted;
  return Status::Ok;
}

// --- client ---

#define VC_CHECK(step)                                                              \
  std::unique_lock lock(owner_->mutex_);                                            \
  owner_->WaitWhileHeldLocked(lock, state_->device->spec.id, VirtualFailure::step); \
  if (!state_->device->present) return Status::DeviceLost;                          \
  if (owner_->ShouldFailLocked(state_->device->spec.id, VirtualFailure::step)) return Status::Failed

VirtualClient::~VirtualClient() {
  std::lock_guard lock(owner_->mutex_);
  state_->started = false;
  state_->callback = nullptr;
  auto& list = state_->device->clients;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [this](const std::weak_ptr<ClientState>& w) {
                              auto c = w.lock();
                              return !c || c == state_;
                            }),
             list.end());
}

Status VirtualClient::GetMixFormat(MixFormat* format) {
  VC_CHECK(GetMixFormat);
  format->channels = state_->device->spec.channels;
  format->samplesPerSec = state_->device->spec.samplesPerSec;
  format->bitsPerSample = 32;
  return Status::Ok;
}

Status VirtualClient::Initialize(std::uint32_t flags, std::uint64_t bufferDurationUs,
                                 const MixFormat& format) {
  VC_CHECK(Initialize);
  const auto& spec = state_->device->spec;
  if (state_->initialized) return Status::Failed;
  const bool loopback = (flags & kStreamFlagLoopback) != 0;
  if (loopback && spec.flow != DataFlow::Render) return Status::Failed;
  if (format.channels != spec.channels || format.samplesPerSec != spec.samplesPerSec ||
      format.bitsPerSample != 32)
    return Status::Failed;
  state_->format = format;
  state_->loopback = loopback;
  state_->bufferFrames =
      std::uint32_t((bufferDurationUs * spec.samplesPerSec + kUsPerSec - 1) / kUsPerSec);
  if (state_->bufferFrames == 0) state_->bufferFrames = spec.samplesPerSec / 100;
  state_->initialized = true;
  return Status::Ok;
}

Status VirtualClient::SetEventCallback(std::function<void()> callback) {
  VC_CHECK(SetEventHandle);
  if (!state_->initialized) return Status::Failed;
  state_->callback = std::move(callback);
  return Status::Ok;
}

Status VirtualClient::GetBufferSize(std::uint32_t* frames) {
  VC_CHECK(GetBufferSize);
  if (!state_->initialized) return Status::Failed;
  *frames = state_->bufferFrames;
  return Status::Ok;
}

Status VirtualClient::GetService() {
  VC_CHECK(GetService);
  if (!state_->initialized) return Status::Failed;
  state_->serviced = true;
  return Status::Ok;
}

Status VirtualClient::Start() {
  VC_CHECK(Start);
  if (!state_->initialized) return Status::Failed;
  state_->started = true;
  return Status::Ok;
}

Status VirtualClient::Stop() {
  std::unique_lock lock(owner_->mutex_);
  owner_->WaitWhileHeldLocked(lock, state_->device->spec.id, VirtualFailure::Stop);
  state_->started = false;
  // The device gives back what it took and did not play.
  state_->queue.insert(state_->queue.begin(), state_->held.begin(), state_->held.end());
  state_->held.clear();
  return state_->device->present ? Status::Ok : Status::DeviceLost;
}

Status VirtualClient::Reset() {
  std::lock_guard lock(owner_->mutex_);
  state_->queue.clear();
  state_->held.clear();
  state_->outstanding = 0;
  return state_->device->present ? Status::Ok : Status::DeviceLost;
}

Status VirtualClient::GetCurrentPadding(std::uint32_t* frames) {
  std::lock_guard lock(owner_->mutex_);
  if (!state_->device->present) return Status::DeviceLost;
  if (!state_->initialized) return Status::Failed;
  *frames = std::uint32_t(state_->queue.size() / state_->format.channels);
  if (state_->eventsSeen != state_->eventsSent) {
    state_->eventsSeen = state_->eventsSent;
    owner_->cv_.notify_all();
  }
  return Status::Ok;
}

Status VirtualClient::GetPlaybackDelay(std::uint32_t* frames) {
  if (Status s = GetCurrentPadding(frames); s != Status::Ok) return s;
  std::lock_guard lock(owner_->mutex_);
  if (state_->device->spec.blockMs > 0) return Status::Ok;  // its padding is all it tells
  *frames += std::uint32_t(state_->held.size() / state_->format.channels);
  return Status::Ok;
}

Status VirtualClient::GetRenderBuffer(std::uint32_t frames, float** data) {
  std::lock_guard lock(owner_->mutex_);
  if (!state_->device->present) return Status::DeviceLost;
  if (!state_->serviced || state_->loopback || state_->device->spec.flow != DataFlow::Render)
    return Status::Failed;
  const std::uint32_t padding = std::uint32_t(state_->queue.size() / state_->format.channels);
  if (frames > state_->bufferFrames - std::min(padding, state_->bufferFrames))
    return Status::Failed;
  state_->scratch.assign(std::size_t(frames) * state_->format.channels, 0.0f);
  state_->outstanding = frames;
  *data = state_->scratch.data();
  return Status::Ok;
}

Status VirtualClient::ReleaseRenderBuffer(std::uint32_t framesWritten) {
  std::lock_guard lock(owner_->mutex_);
  if (!state_->device->present) return Status::DeviceLost;
  if (framesWritten > state_->outstanding) return Status::Failed;
  const std::size_t n = std::size_t(framesWritten) * state_->format.channels;
  state_->queue.insert(state_->queue.end(), state_->scratch.begin(), state_->scratch.begin() + n);
  state_->outstanding = 0;
  if (framesWritten > 0) ++state_->device->renderWrites;
  return Status::Ok;
}

Status VirtualClient::GetCaptureBuffer(const float** data, std::uint32_t* frames,
                                       std::uint64_t* positionUs) {
  VC_CHECK(GetBuffer);
  *frames = 0;
  if (!state_->serviced) return Status::Failed;
  const std::uint32_t ch = state_->format.channels;
  const std::uint32_t rate = state_->format.samplesPerSec;
  const std::uint32_t packet = std::max<std::uint32_t>(rate / 100, 1);  // 10 ms packets
  if (state_->queue.size() / ch < packet) return Status::Ok;
  state_->scratch.assign(state_->queue.begin(), state_->queue.begin() + std::size_t(packet) * ch);
  state_->outstanding = packet;
  *data = state_->scratch.data();
  *frames = packet;
  if (positionUs) *positionUs = state_->queueStartFrame * kUsPerSec / rate;
  return Status::Ok;
}

Status VirtualClient::ReleaseCaptureBuffer(std::uint32_t frames) {
  std::lock_guard lock(owner_->mutex_);
  if (frames > state_->outstanding) return Status::Failed;
  const std::uint32_t ch = state_->format.channels;
  state_->queue.erase(state_->queue.begin(), state_->queue.begin() + std::size_t(frames) * ch);
  state_->queueStartFrame += frames;
  state_->outstanding = 0;
  return Status::Ok;
}

// --- timer ---

VirtualTimer::~VirtualTimer() {
  {
    std::lock_guard lock(owner_->mutex_);
    state_->alive = false;
  }
  owner_->cv_.notify_all();
}

void VirtualTimer::Arm(std::uint32_t intervalMs) {
  {
    std::lock_guard lock(owner_->mutex_);
    state_->intervalUs = std::uint64_t(intervalMs) * 1000;
    state_->armed = true;
    state_->pending = 1;  // fires at once
    state_->nextDueUs = owner_->nowUs_ + std::max<std::uint64_t>(state_->intervalUs, 1);
  }
  owner_->cv_.notify_all();
}

void VirtualTimer::Disarm() {
  {
    std::lock_guard lock(owner_->mutex_);
    state_->armed = false;
    state_->pending = 0;
  }
  owner_->cv_.notify_all();
}

void VirtualTimer::Wait() {
  std::unique_lock lock(owner_->mutex_);
  state_->inWait = true;
  owner_->cv_.notify_all();
  owner_->cv_.wait(lock, [&] { return state_->pending > 0 || state_->woken; });
  state_->pending = 0;
  state_->woken = false;
  state_->inWait = false;
}

void VirtualTimer::Wake() {
  {
    std::lock_guard lock(owner_->mutex_);
    state_->woken = true;
  }
  owner_->cv_.notify_all();
}

}  // namespace

std::shared_ptr<VirtualEndpoints> VirtualEndpoints::Instance() {
  static std::shared_ptr<VirtualEndpointsImpl> instance = [] {
    auto p = std::make_shared<VirtualEndpointsImpl>();
    p->StartTicker();
    return p;
  }();
  return instance;
}

}  // namespace vts::audio
