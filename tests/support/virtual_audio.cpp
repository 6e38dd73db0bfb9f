// Test support for the sound engine on the virtual backend.
#include "virtual_audio.h"

#include <cmath>
#include <cstring>
#include <thread>

#include "audio/sound_log.h"
#include "platform/thread_queue.h"

namespace vts::test {

SoundLogRecorder::SoundLogRecorder() {
  audio::SetSoundLogObserver([this](const std::string& text) {
    std::lock_guard lock(mutex_);
    lines_.push_back(text);
  });
}
SoundLogRecorder::~SoundLogRecorder() { audio::SetSoundLogObserver({}); }
std::vector<std::string> SoundLogRecorder::Lines() {
  std::lock_guard lock(mutex_);
  return lines_;
}
bool SoundLogRecorder::Contains(const std::string& text) { return Count(text) > 0; }
int SoundLogRecorder::Count(const std::string& text) {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (auto& l : lines_) n += l == text ? 1 : 0;
  return n;
}
void SoundLogRecorder::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

void VirtualAudioTest::SetUp() {
  virtual_ = audio::VirtualEndpoints::Instance();
  virtual_->SetManualClock(true);
  virtual_->Reset(false);
  plat::EnsureQueue();
  Drain();
  for (auto& m : pending_) Release(m);
  pending_.clear();
  log_ = std::make_unique<SoundLogRecorder>();
}

void VirtualAudioTest::TearDown() {
  for (auto& m : Drain()) Release(m);
  for (auto& m : pending_) Release(m);
  pending_.clear();
  log_.reset();
  virtual_->Reset(false);
}

std::unique_ptr<CSoundWorksWAS> VirtualAudioTest::MakeEngine(std::uint32_t channels,
                                                             std::uint32_t rate,
                                                             std::uint32_t periodMs,
                                                             bool reportsLostDevices) {
  auto engine = std::make_unique<CSoundWorksWAS>(&state_, virtual_);
  engine->SetFormat(channels, rate, 16, periodMs);
  engine->ownerThreadId = plat::CurrentThreadId();
  engine->soundOutMessage = WM_SOUND_OUT;
  engine->soundInMessage = WM_SOUND_IN;
  if (reportsLostDevices) engine->deviceLostMessage = WM_SOUND_LOST;
  engine->Start();
  return engine;
}

void VirtualAudioTest::AddOutput(const std::string& id, const std::string& name,
                                 std::uint32_t channels, std::uint32_t rate) {
  virtual_->AddDevice({id, name, DataFlow::Render, channels, rate, {}});
}

void VirtualAudioTest::AddInput(const std::string& id, const std::string& name,
                                const audio::VirtualSource& source, std::uint32_t channels,
                                std::uint32_t rate) {
  virtual_->AddDevice({id, name, DataFlow::Capture, channels, rate, source});
}

namespace {

// An engine's message as collected; false for any other message.
bool FromEngine(const plat::Msg& msg, EngineMessage* m) {
  if (msg.message == WM_SOUND_LOST) {
    *m = {msg.message, nullptr, msg.lParam, msg.wParam};  // wParam is no descriptor
    return true;
  }
  if (msg.message != WM_SOUND_IN && msg.message != WM_SOUND_OUT) return false;
  *m = {msg.message, reinterpret_cast<CBufferDescr*>(msg.wParam), msg.lParam, msg.wParam};
  return true;
}

}  // namespace

std::vector<EngineMessage> VirtualAudioTest::Drain() {
  std::vector<EngineMessage> out = std::move(pending_);
  pending_.clear();
  plat::Msg msg;
  EngineMessage m;
  while (plat::PeekMessage(&msg, true))
    if (FromEngine(msg, &m)) out.push_back(m);
  return out;
}

std::vector<EngineMessage> VirtualAudioTest::WaitFor(std::uint32_t message, std::size_t count,
                                                     std::chrono::milliseconds timeout) {
  std::vector<EngineMessage> hits, others;
  for (auto& m : pending_) (m.message == message ? hits : others).push_back(m);
  pending_.clear();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (hits.size() < count && std::chrono::steady_clock::now() < deadline) {
    plat::Msg msg;
    if (!plat::GetMessageTimeout(&msg, std::chrono::milliseconds(20))) continue;
    EngineMessage m;
    if (FromEngine(msg, &m)) (m.message == message ? hits : others).push_back(m);
  }
  pending_ = std::move(others);
  return hits;
}

std::vector<EngineMessage> VirtualAudioTest::Take(std::uint32_t message) {
  std::vector<EngineMessage> hits, others;
  for (auto& m : Drain()) (m.message == message ? hits : others).push_back(m);
  pending_ = std::move(others);
  return hits;
}

void VirtualAudioTest::Release(EngineMessage& m) {
  ReleaseBufferDescr(m.descr);
  m.descr = nullptr;
}

std::vector<float> VirtualAudioTest::Samples(const CBufferDescr& block) {
  SoundBlockHeader* h = CapturedHeader(block);
  std::vector<float> out(std::size_t(h->frames) * h->channels);
  std::memcpy(out.data(), SamplesBehind(h), out.size() * sizeof(float));
  return out;
}

CBufferDescr* VirtualAudioTest::MakePlaybackBuffer(std::uint32_t channels, std::uint32_t rate,
                                                   const std::vector<std::int16_t>& samples,
                                                   std::uint32_t sender) {
  const std::uint32_t bytes = std::uint32_t(samples.size() * 2);
  CBufferDescr* b = MakeBufferDescr(bytes + kSoundHeaderBytes);
  b->kind = kSoundBlockKind;
  b->ownerId = sender;
  b->trackIndex = 0;
  SoundBlockHeader* h = PlaybackHeader(*b);
  std::memset(h, 0, sizeof *h);
  h->channels = channels;
  h->samplesPerSec = rate;
  h->sender = sender;
  h->encoding = kEncodingPcm16;
  h->frames = std::uint32_t(samples.size() / channels);
  h->bitsPerSample = 16;
  if (bytes) std::memcpy(SamplesBehind(h), samples.data(), bytes);
  return b;
}

CBufferDescr* VirtualAudioTest::MakeSineBuffer(std::uint32_t channels, std::uint32_t rate,
                                               std::uint32_t frames, double hz, double amplitude,
                                               std::uint64_t firstFrame) {
  std::vector<std::int16_t> s(std::size_t(frames) * channels);
  for (std::uint32_t i = 0; i < frames; ++i) {
    double v = amplitude * std::sin(2.0 * M_PI * hz * double(firstFrame + i) / rate);
    for (std::uint32_t c = 0; c < channels; ++c)
      s[std::size_t(i) * channels + c] = std::int16_t(std::lround(v * 32767));
  }
  return MakePlaybackBuffer(channels, rate, s);
}

double Rms(const std::vector<float>& samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (float v : samples) sum += double(v) * v;
  return std::sqrt(sum / samples.size());
}

double ZeroCrossingFrequency(const std::vector<float>& mono, double rate) {
  std::size_t first = 0, last = 0, n = 0;
  for (std::size_t i = 1; i < mono.size(); ++i) {
    if (mono[i - 1] < 0 && mono[i] >= 0) {
      if (n == 0) first = i;
      last = i;
      ++n;
    }
  }
  if (n < 2) return 0;
  return double(n - 1) * rate / double(last - first);
}

}  // namespace vts::test
