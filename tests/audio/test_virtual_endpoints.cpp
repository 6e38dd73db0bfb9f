// The virtual endpoint backend on its own: devices, the driven clock, loopback, loss,
// failure injection.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "audio/virtual_endpoints.h"

namespace vts::audio {
namespace {

class VirtualEndpointsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    v = VirtualEndpoints::Instance();
    v->SetManualClock(true);
    v->Reset(false);
  }
  void TearDown() override { v->Reset(false); }

  std::unique_ptr<AudioClient> Open(const std::string& id, std::uint32_t flags, MixFormat* fmt) {
    auto dev = v->GetDevice(id);
    if (!dev) return nullptr;
    auto c = dev->Activate();
    if (!c) return nullptr;
    EXPECT_EQ(c->GetMixFormat(fmt), Status::Ok);
    EXPECT_EQ(c->Initialize(flags, 160000, *fmt), Status::Ok);
    EXPECT_EQ(c->GetService(), Status::Ok);
    return c;
  }

  std::vector<float> ReadAll(AudioClient& c) {
    std::vector<float> out;
    for (;;) {
      const float* data = nullptr;
      std::uint32_t frames = 0;
      if (c.GetCaptureBuffer(&data, &frames, nullptr) != Status::Ok || frames == 0) break;
      out.insert(out.end(), data, data + frames * 2);
      c.ReleaseCaptureBuffer(frames);
    }
    return out;
  }

  std::shared_ptr<VirtualEndpoints> v;
};

TEST_F(VirtualEndpointsTest, StockDevicesAndDefaults) {
  v->Reset(true);
  auto outs = v->EnumerateEndpoints(DataFlow::Render);
  auto ins = v->EnumerateEndpoints(DataFlow::Capture);
  ASSERT_EQ(outs.size(), 1u);
  ASSERT_EQ(ins.size(), 1u);
  EXPECT_EQ(outs[0].id, "virtual_speaker");
  EXPECT_EQ(outs[0].name, "Virtual Speaker");
  EXPECT_EQ(ins[0].id, "virtual_mic");
  EXPECT_EQ(v->GetDefaultEndpoint(DataFlow::Render)->id, "virtual_speaker");
  EXPECT_EQ(v->GetDefaultEndpoint(DataFlow::Capture)->id, "virtual_mic");
  v->Reset(false);
  EXPECT_TRUE(v->EnumerateEndpoints(DataFlow::Render).empty());
  EXPECT_FALSE(v->GetDefaultEndpoint(DataFlow::Render).has_value());
}

TEST_F(VirtualEndpointsTest, ASinkThatRendersAheadTakesSoundEarlyAndPlaysItInTime) {
  VirtualDeviceSpec spec;
  spec.id = "sink";
  spec.channels = 2;
  spec.samplesPerSec = 1000;  // a frame a millisecond
  spec.aheadMs = 50;
  v->AddDevice(spec);
  MixFormat fmt;
  auto c = Open("sink", 0, &fmt);  // a buffer of 160 frames
  ASSERT_NE(c, nullptr);
  float* buf = nullptr;
  ASSERT_EQ(c->GetRenderBuffer(100, &buf), Status::Ok);
  for (int i = 0; i < 200; ++i) buf[i] = float(i / 2 + 1);  // frame k holds k + 1
  ASSERT_EQ(c->ReleaseRenderBuffer(100), Status::Ok);
  ASSERT_EQ(c->Start(), Status::Ok);
  v->Advance(10);
  std::uint32_t padding = 0, delay = 0;
  ASSERT_EQ(c->GetCurrentPadding(&padding), Status::Ok);
  ASSERT_EQ(c->GetPlaybackDelay(&delay), Status::Ok);
  EXPECT_EQ(padding, 40u) << "10 played, 50 taken ahead";
  EXPECT_EQ(delay, 90u) << "what is still to be heard";
  EXPECT_EQ(v->QueuedFrames("sink"), 90u);
  // Stopped, the sink gives back what it took; the sound goes on where it was.
  ASSERT_EQ(c->Stop(), Status::Ok);
  ASSERT_EQ(c->GetCurrentPadding(&padding), Status::Ok);
  EXPECT_EQ(padding, 90u);
  ASSERT_EQ(c->Start(), Status::Ok);
  v->Advance(90);
  const std::vector<float> played = v->Played("sink");
  ASSERT_EQ(played.size(), 200u);
  for (std::size_t i = 0; i < played.size(); ++i) ASSERT_EQ(played[i], float(i / 2 + 1)) << i;
}

TEST_F(VirtualEndpointsTest, LoopbackReturnsExactlyWhatTheOutputPlayed) {
  v->AddDevice({"spk", "Speaker", DataFlow::Render, 2, 48000, {}});
  MixFormat fmt;
  auto render = Open("spk", kStreamFlagEventCallback, &fmt);
  auto loop = Open("spk", kStreamFlagEventCallback | kStreamFlagLoopback, &fmt);
  ASSERT_TRUE(render && loop);
  int events = 0;
  std::uint32_t padding = 0;
  render->SetEventCallback([&] {  // a client takes its event by reading its padding
    ++events;
    render->GetCurrentPadding(&padding);
  });
  std::uint32_t bufferFrames = 0;
  ASSERT_EQ(render->GetBufferSize(&bufferFrames), Status::Ok);
  EXPECT_EQ(bufferFrames, 7680u);  // 160 ms at 48 kHz
  float* out = nullptr;
  ASSERT_EQ(render->GetRenderBuffer(4800, &out), Status::Ok);
  for (int i = 0; i < 4800; ++i) out[2 * i] = out[2 * i + 1] = float(std::sin(i * 0.05)) * 0.5f;
  ASSERT_EQ(render->ReleaseRenderBuffer(4800), Status::Ok);
  render->GetCurrentPadding(&padding);
  EXPECT_EQ(padding, 4800u);
  // More than the free space is refused.
  EXPECT_EQ(render->GetRenderBuffer(7680, &out), Status::Failed);
  loop->Start();
  render->Start();
  v->Advance(100);  // the loopback buffer holds 160 ms: read it in between
  std::vector<float> captured = ReadAll(*loop);
  v->Advance(100);
  auto more = ReadAll(*loop);
  captured.insert(captured.end(), more.begin(), more.end());
  EXPECT_GT(events, 0);
  render->GetCurrentPadding(&padding);
  EXPECT_EQ(padding, 0u);
  std::vector<float> played = v->Played("spk");
  ASSERT_EQ(played.size(), 9600u * 2);  // 200 ms of output while the client ran
  ASSERT_EQ(captured.size(), played.size());
  EXPECT_EQ(captured, played);
  EXPECT_FLOAT_EQ(played[2 * 100], float(std::sin(100 * 0.05)) * 0.5f);
  EXPECT_FLOAT_EQ(played[2 * 5000], 0.0f);  // underrun plays silence
}

TEST_F(VirtualEndpointsTest, CaptureIsAFunctionOfTheClock) {
  v->AddDevice({"mic", "Mic", DataFlow::Capture, 1, 48000,
                VirtualSource::Scripted({0.1f, 0.2f, 0.3f}, true)});
  MixFormat fmt;
  auto c = Open("mic", kStreamFlagEventCallback, &fmt);
  ASSERT_TRUE(c);
  EXPECT_EQ(fmt.channels, 1u);
  c->Start();
  v->Advance(9);  // less than one 10 ms packet
  const float* data;
  std::uint32_t frames = 7;
  std::uint64_t pos = 0;
  ASSERT_EQ(c->GetCaptureBuffer(&data, &frames, &pos), Status::Ok);
  EXPECT_EQ(frames, 0u);
  v->Advance(1);
  ASSERT_EQ(c->GetCaptureBuffer(&data, &frames, &pos), Status::Ok);
  ASSERT_EQ(frames, 480u);
  EXPECT_EQ(pos, 0u);
  EXPECT_FLOAT_EQ(data[0], 0.1f);
  EXPECT_FLOAT_EQ(data[4], 0.2f);
  c->ReleaseCaptureBuffer(frames);
  ASSERT_EQ(c->GetCaptureBuffer(&data, &frames, &pos), Status::Ok);
  EXPECT_EQ(frames, 0u);
}

TEST_F(VirtualEndpointsTest, RemovedDeviceLosesItsClientsAndComesBackAsANewDevice) {
  v->AddDevice({"mic", "Mic", DataFlow::Capture, 1, 48000, VirtualSource::Sine(440, 0.5f)});
  MixFormat fmt;
  auto c = Open("mic", kStreamFlagEventCallback, &fmt);
  ASSERT_TRUE(c);
  c->Start();
  EXPECT_EQ(v->OpenClientCount("mic"), 1);
  v->RemoveDevice("mic");
  const float* data;
  std::uint32_t frames;
  EXPECT_EQ(c->GetCaptureBuffer(&data, &frames, nullptr), Status::DeviceLost);
  EXPECT_EQ(v->GetDevice("mic"), nullptr);
  v->AddDevice({"mic", "Mic", DataFlow::Capture, 1, 48000, {}});
  // The old client stays bound to the device that went away.
  EXPECT_EQ(c->GetCaptureBuffer(&data, &frames, nullptr), Status::DeviceLost);
  EXPECT_NE(v->GetDevice("mic"), nullptr);
  c.reset();
  EXPECT_EQ(v->OpenClientCount("mic"), 0);
}

TEST_F(VirtualEndpointsTest, InjectedFailuresCountDown) {
  v->AddDevice({"spk", "Speaker", DataFlow::Render, 2, 48000, {}});
  v->InjectFailure("spk", VirtualFailure::Activate, 2);
  auto dev = v->GetDevice("spk");
  ASSERT_TRUE(dev);
  EXPECT_EQ(dev->Activate(), nullptr);
  EXPECT_EQ(dev->Activate(), nullptr);
  EXPECT_NE(dev->Activate(), nullptr);
  v->InjectFailure("spk", VirtualFailure::GetDevice);
  EXPECT_EQ(v->GetDevice("spk"), nullptr);
  EXPECT_EQ(v->GetDevice("spk"), nullptr);
  v->ClearFailures();
  EXPECT_NE(v->GetDevice("spk"), nullptr);
}

TEST_F(VirtualEndpointsTest, LoopbackOfACaptureEndpointIsRefused) {
  v->AddDevice({"mic", "Mic", DataFlow::Capture, 1, 48000, {}});
  auto c = v->GetDevice("mic")->Activate();
  MixFormat fmt;
  c->GetMixFormat(&fmt);
  EXPECT_EQ(c->Initialize(kStreamFlagLoopback, 160000, fmt), Status::Failed);
}

TEST_F(VirtualEndpointsTest, AdvanceWaitsUntilTheTimerOwnerWaitsAgain) {
  auto timer = v->CreatePeriodTimer();
  timer->Arm(20);
  std::atomic<int> passes{0};
  std::atomic<bool> run{true};
  std::thread owner([&] {
    while (run) {
      timer->Wait();
      if (!run) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a slow pass
      ++passes;
    }
  });
  // The first tick (at arming) is taken before the clock moves.
  for (int i = 0; i < 5000 && passes.load() < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  v->Advance(100);  // at once, then at 20, 40, 60, 80, 100
  EXPECT_EQ(passes.load(), 6);
  run = false;
  timer->Wake();
  owner.join();
}

// A render client that takes its events on a thread of its own (as the engine does) is fed
// before the clock moves on, however late that thread runs: a busy machine must not turn
// into an underrun that a quiet one would not have.
TEST_F(VirtualEndpointsTest, AdvanceWaitsUntilASignalledRenderClientTookItsEvent) {
  v->AddDevice({"spk", "Speaker", DataFlow::Render, 2, 48000, {}});
  MixFormat fmt;
  auto render = Open("spk", kStreamFlagEventCallback, &fmt);
  ASSERT_TRUE(render);
  std::mutex m;
  std::condition_variable cv;
  int signalled = 0;          // events the endpoint signalled
  std::atomic<int> taken{0};  // the newest event the feeder answers with its padding read
  bool stop = false;
  std::thread feeder([&] {
    std::unique_lock lock(m);
    for (;;) {
      cv.wait(lock, [&] { return stop || taken.load() < signalled; });
      if (stop) return;
      const int answering = signalled;
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a late thread
      taken.store(answering);
      std::uint32_t padding = 0;
      render->GetCurrentPadding(&padding);
      lock.lock();
    }
  });
  render->SetEventCallback([&] {
    std::lock_guard lock(m);
    ++signalled;
    cv.notify_all();
  });
  render->Start();
  for (int i = 1; i <= 3; ++i) {
    v->Advance(20);
    std::lock_guard lock(m);
    EXPECT_EQ(signalled, i);
    EXPECT_EQ(taken.load(), i) << "the clock moved on before the client took its event";
  }
  render->Stop();
  {
    std::lock_guard lock(m);
    stop = true;
  }
  cv.notify_all();
  feeder.join();
}

TEST_F(VirtualEndpointsTest, ADisarmedTimerStaysQuietUntilArmedAgain) {
  auto timer = v->CreatePeriodTimer();
  std::atomic<int> passes{0};
  std::atomic<bool> run{true};
  std::thread owner([&] {
    while (run) {
      timer->Wait();
      if (run) ++passes;
    }
  });
  timer->Disarm();
  v->Advance(200);
  EXPECT_EQ(passes.load(), 0);
  timer->Arm(20);  // fires at once
  for (int i = 0; i < 5000 && passes.load() < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(passes.load(), 1);
  timer->Disarm();
  v->Advance(200);
  EXPECT_EQ(passes.load(), 1);
  run = false;
  timer->Wake();
  owner.join();
}

}  // namespace
}  // namespace vts::audio
