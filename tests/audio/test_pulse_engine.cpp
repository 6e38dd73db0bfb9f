// The sound engine against the private PulseAudio server of the test run: device lists,
// a tone played to the speaker and captured by loopback, a device unloaded mid-capture.
// These tests fail (never skip) when the server cannot be reached.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "pulse_util.h"
#include "audio/endpoint.h"
#include "audio/sound_log.h"
#include "audio/sound_works_was.h"
#include "platform/thread_queue.h"
#include "test_env.h"
#include "test_files.h"
#include "virtual_audio.h"

namespace vts::test {
namespace {

std::string Server() { return test::PulseTestServer(); }

std::string Shell(const std::string& cmd) { return test::RunShell(cmd); }

class PulseEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Server().empty()) << "PULSE_SERVER / VTS_PULSE_TEST_SERVER not set: start "
                                      "scripts/pulse-test-server.sh (scripts/run-tests.sh does)";
    setenv("PULSE_SERVER", Server().c_str(), 1);
    plat::EnsureQueue();
    observer_ = std::make_unique<SoundLogRecorder>();
  }
  void TearDown() override {
    for (const std::string& m : modules_) Shell("pactl -s '" + Server() + "' unload-module " + m);
    for (auto& m : pending_) ReleaseBufferDescr(m.descr);
    plat::Msg msg;
    while (plat::PeekMessage(&msg, true))
      if (msg.message == WM_SOUND_IN || msg.message == WM_SOUND_OUT)
        ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
  }

  std::unique_ptr<CSoundWorksWAS> MakeEngine(std::uint32_t channels, std::uint32_t rate,
                                             std::uint32_t periodMs) {
    auto e = std::make_unique<CSoundWorksWAS>(&state_, audio::DefaultBackend());
    e->SetFormat(channels, rate, 16, periodMs);
    e->ownerThreadId = plat::CurrentThreadId();
    e->soundOutMessage = WM_SOUND_OUT;
    e->soundInMessage = WM_SOUND_IN;
    e->Start();
    return e;
  }

  // A module of the test's own, unloaded at its end; false when it could not be loaded.
  bool LoadModule(const std::string& arguments) {
    const std::string m = Shell("pactl -s '" + Server() + "' load-module " + arguments);
    if (!m.empty()) modules_.push_back(m);
    return !m.empty();
  }

  EngineStateBlock state_;
  std::unique_ptr<SoundLogRecorder> observer_;
  std::vector<std::string> modules_;
  std::vector<EngineMessage> pending_;
};

TEST_F(PulseEngineTest, BackendIsPulseAndListsTheNullDevicesWithDescriptions) {
  ASSERT_STREQ(audio::DefaultBackend()->Name(), "pulse");
  auto engine = MakeEngine(1, 44100, 40);
  auto outs = engine->GetOutputDevices();
  auto ins = engine->GetInputDevices();
  auto has = [](const std::vector<SoundDeviceEntry>& list, const SoundDeviceEntry& e) {
    return std::find(list.begin(), list.end(), e) != list.end();
  };
  EXPECT_TRUE(has(outs, {u"vts_speaker", u"VTS_Speaker"}));
  EXPECT_TRUE(has(outs, {u"vts_mic_in", u"VTS_Mic_Feed"}));
  EXPECT_TRUE(has(ins, {u"vts_mic", u"VTS_Microphone"}));
  for (auto& e : ins)
    EXPECT_EQ(e.id.find(u".monitor"), std::u16string::npos);  // monitors are loopback only
  EXPECT_EQ(engine->GetDefaultDevice(DataFlow::Render).id, u"vts_speaker");
  EXPECT_EQ(engine->GetDefaultDevice(DataFlow::Capture).id, u"vts_mic");
}

TEST_F(PulseEngineTest, ToneToTheSpeakerComesBackByLoopback) {
  // A speaker sink of this test's own (a null sink like vts_speaker), so that pulse tests
  // running in parallel cannot mix their sound into this one.
  const std::string name = "vts_speaker_" + std::to_string(getpid());
  ASSERT_TRUE(LoadModule("module-null-sink sink_name=" + name +
                         " sink_properties=device.description=VTS_Speaker_Test"));
  const std::u16string speaker(name.begin(), name.end());
  auto player = MakeEngine(1, 44100, 40);
  auto recorder = MakeEngine(1, 44100, 40);
  recorder->StartCapture(speaker, 0, 3);
  ASSERT_EQ(recorder->GetCaptureStreamCount(), 1u);
  player->StartPlayback(speaker);

  constexpr double kHz = 1000.0, kAmp = 0.5;
  constexpr std::uint32_t kBuffers = 75;  // 3 s of 40 ms buffers
  std::uint64_t frame = 0;
  std::uint32_t sent = 0, returned = 0;
  auto next = [&] {
    player->Playback(VirtualAudioTest::MakeSineBuffer(1, 44100, 1764, kHz, kAmp, frame), false);
    frame += 1764;
    ++sent;
  };
  for (int i = 0; i < 4; ++i) next();

  std::vector<float> captured;
  std::vector<std::uint64_t> arrivalsMs;
  std::vector<std::uint32_t> frames;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline &&
         (returned < kBuffers || captured.size() < 44100 * 3)) {
    plat::Msg msg;
    if (!plat::GetMessageTimeout(&msg, std::chrono::milliseconds(50))) continue;
    auto* d = reinterpret_cast<CBufferDescr*>(msg.wParam);
    if (msg.message == WM_SOUND_OUT) {
      ReleaseBufferDescr(d);
      ++returned;
      if (sent < kBuffers) next();
    } else if (msg.message == WM_SOUND_IN && d) {
      EXPECT_EQ(msg.lParam, std::intptr_t(recorder->EngineTag()));
      auto s = VirtualAudioTest::Samples(*d);
      captured.insert(captured.end(), s.begin(), s.end());
      frames.push_back(CapturedHeader(*d)->frames);
      arrivalsMs.push_back(std::uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now() - start)
                                             .count()));
      ReleaseBufferDescr(d);
    }
  }
  player->StopPlayback(speaker);
  recorder->StopCapture(speaker);
  ASSERT_EQ(returned, kBuffers);
  ASSERT_GT(frames.size(), 40u);

  // Cadence: about one block per 40 ms period, each about one period of frames.
  const double spanMs = double(arrivalsMs.back() - arrivalsMs.front());
  const double perBlockMs = spanMs / double(frames.size() - 1);
  EXPECT_GT(perBlockMs, 25.0);
  EXPECT_LT(perBlockMs, 60.0);
  // Blocks come one at a time, not in bursts: the typical gap is one period.
  std::vector<double> gaps;
  for (std::size_t i = 1; i < arrivalsMs.size(); ++i)
    gaps.push_back(double(arrivalsMs[i] - arrivalsMs[i - 1]));
  std::sort(gaps.begin(), gaps.end());
  EXPECT_GT(gaps[gaps.size() / 2], 20.0);
  EXPECT_LT(gaps[gaps.size() / 2], 60.0);
  std::uint64_t total = 0;
  for (std::size_t i = 1; i < frames.size(); ++i) {
    total += frames[i];
    EXPECT_GT(frames[i], 1500u);
    EXPECT_LT(frames[i], 2100u);
  }
  EXPECT_NEAR(double(total) / double(frames.size() - 1), 1764.0, 30.0);

  // Frequency and level of the tone part.
  std::size_t first = 0;
  while (first < captured.size() && std::fabs(captured[first]) < 0.05f) ++first;
  ASSERT_LT(first + 44100, captured.size()) << "no tone in the loopback capture";
  std::vector<float> tone(captured.begin() + first + 2205, captured.begin() + first + 44100);
  EXPECT_NEAR(ZeroCrossingFrequency(tone, 44100), kHz, 10.0);
  EXPECT_NEAR(Rms(tone), kAmp / std::sqrt(2.0), 0.04);
}

// A source of the test's own that brings known samples (a pipe source fed at once, so that
// the server hands them on in chunks of its own sizes): the engine delivers every one of
// them, unchanged and in order, in blocks of exactly one period.
TEST_F(PulseEngineTest, CaptureDeliversEverySampleInBlocksOfOnePeriod) {
  const std::string fifo = test::MakeTempDir("pipe") + "/source.fifo";
  const std::string name = "vts_pipe_" + std::to_string(getpid());
  ASSERT_TRUE(LoadModule("module-pipe-source source_name=" + name + " file=" + fifo +
                         " format=float32le rate=44100 channels=1" +
                         " source_properties=device.description=Pipe_Test"));
  auto engine = MakeEngine(1, 44100, 40);
  const std::u16string id(name.begin(), name.end());
  engine->StartCapture(id, 0, 1);
  ASSERT_EQ(engine->GetCaptureStreamCount(), 1u);

  // Sample i is i / 2^24: exact in a float, and the value tells where it stood.
  constexpr std::uint32_t kSamples = 44100 * 3;
  const auto valueOf = [](std::uint32_t i) { return float(i) / float(1 << 24); };
  std::vector<float> captured;
  std::vector<std::uint32_t> frames;
  const auto collect = [&](auto done) {
    return WaitUntil([&] {
      plat::Msg msg;
      while (plat::PeekMessage(&msg, true)) {
        auto* d = reinterpret_cast<CBufferDescr*>(msg.wParam);
        if (msg.message != WM_SOUND_IN || !d) continue;
        auto s = VirtualAudioTest::Samples(*d);
        captured.insert(captured.end(), s.begin(), s.end());
        frames.push_back(CapturedHeader(*d)->frames);
        ReleaseBufferDescr(d);
      }
      return done();
    });
  };
  // Written only once the stream runs, so that the server drops none of it before.
  std::thread writer([&] {
    std::vector<float> all(kSamples);
    for (std::uint32_t i = 0; i < kSamples; ++i) all[i] = valueOf(i + 1);
    if (FILE* f = std::fopen(fifo.c_str(), "wb")) {
      std::fwrite(all.data(), sizeof(float), all.size(), f);
      std::fclose(f);
    }
  });
  // All but what the last, unfinished block holds (and a packet waiting for its rest).
  const bool all = collect([&] {
    return !captured.empty() && captured.back() >= valueOf(kSamples - 3 * 1764);
  });
  writer.join();
  engine->StopCapture(id);
  ASSERT_TRUE(all) << captured.size() << " samples came";

  // From the first that came (the stream may start after the first were read), each is the
  // next one written.
  const auto first = std::find_if(captured.begin(), captured.end(), [](float v) { return v != 0; });
  ASSERT_NE(first, captured.end());
  const std::uint32_t start = std::uint32_t(*first * float(1 << 24));
  std::size_t wrong = 0, firstWrong = 0;
  for (auto it = first; it != captured.end(); ++it) {
    const std::uint32_t want = start + std::uint32_t(it - first);
    if (*it != valueOf(want) && wrong++ == 0) firstWrong = std::size_t(it - first);
  }
  EXPECT_EQ(wrong, 0u) << "the first wrong sample is the " << firstWrong << "th from " << start;
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], 1764u) << "block " << i;
}

TEST_F(PulseEngineTest, DeviceUnloadedMidCaptureEndsTheStreamCleanly) {
  const std::string server = Server();
  const std::string name = "vts_gone_" + std::to_string(getpid());
  const std::string module =
      Shell("pactl -s '" + server + "' load-module module-null-sink sink_name=" + name +
            " sink_properties=device.description=Gone");
  ASSERT_FALSE(module.empty());
  auto engine = MakeEngine(1, 44100, 40);
  const std::u16string id(name.begin(), name.end());
  engine->StartCapture(id, 0, 3);
  ASSERT_EQ(engine->GetCaptureStreamCount(), 1u);

  int blocks = 0;
  auto wait = [&](auto done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      plat::Msg msg;
      if (!plat::GetMessageTimeout(&msg, std::chrono::milliseconds(50))) continue;
      if (msg.message != WM_SOUND_IN) continue;
      if (msg.wParam) {
        ++blocks;
        ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
      } else {
        pending_.push_back({msg.message, nullptr, msg.lParam});
      }
    }
  };
  wait([&] { return blocks >= 3; }, std::chrono::seconds(10));
  EXPECT_GE(blocks, 3);
  Shell("pactl -s '" + server + "' unload-module " + module);
  wait([&] { return !pending_.empty(); }, std::chrono::seconds(10));
  ASSERT_EQ(pending_.size(), 1u) << "no end mark after the device went";
  EXPECT_EQ(pending_[0].lParam, std::intptr_t(engine->EngineTag()));
  EXPECT_EQ(engine->GetCaptureStreamCount(), 0u);
  EXPECT_TRUE(observer_->Contains("Capture device lost. Check that device is present."));
  // The engine is still usable afterwards.
  engine->StartCapture(u"vts_mic", 0, 1);
  EXPECT_EQ(engine->GetCaptureStreamCount(), 1u);
  engine.reset();
}

TEST_F(PulseEngineTest, DeviceUnloadedMidPlaybackEndsTheRenderStream) {
  const std::string server = Server();
  const std::string name = "vts_gone_out_" + std::to_string(getpid());
  const std::string module =
      Shell("pactl -s '" + server + "' load-module module-null-sink sink_name=" + name +
            " sink_properties=device.description=GoneOut");
  ASSERT_FALSE(module.empty());
  auto engine = MakeEngine(1, 44100, 40);
  const std::u16string id(name.begin(), name.end());
  engine->StartPlayback(id);
  std::uint64_t frame = 0;
  auto next = [&] {
    engine->Playback(VirtualAudioTest::MakeSineBuffer(1, 44100, 1764, 440, 0.5, frame), false);
    frame += 1764;
  };
  for (int i = 0; i < 4; ++i) next();
  int returned = 0;
  const auto until = [&](auto done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      plat::Msg msg;
      if (!plat::GetMessageTimeout(&msg, std::chrono::milliseconds(20))) continue;
      if (msg.message != WM_SOUND_OUT) continue;
      ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
      ++returned;
      next();
    }
  };
  until([&] { return returned >= 10; }, std::chrono::seconds(10));
  ASSERT_GE(returned, 10);
  Shell("pactl -s '" + server + "' unload-module " + module);
  until([&] { return engine->GetPlaybackStreamCount() == 0; }, std::chrono::seconds(10));
  EXPECT_EQ(engine->GetPlaybackStreamCount(), 0u);
  EXPECT_TRUE(observer_->Contains("Playback device lost. Check that device is present."));
  engine.reset();
}

TEST_F(PulseEngineTest, MissingDeviceGivesItsLogTextAndAnEndMark) {
  auto engine = MakeEngine(1, 44100, 40);
  engine->StartCapture(u"no_such_device", 0, 1);
  EXPECT_TRUE(
      observer_->Contains("Could not create capture Device. Check that device is present."));
  EXPECT_EQ(engine->GetCaptureStreamCount(), 0u);
  plat::Msg msg;
  ASSERT_TRUE(plat::GetMessageTimeout(&msg, std::chrono::seconds(5)));
  EXPECT_EQ(msg.message, WM_SOUND_IN);
  EXPECT_EQ(msg.wParam, 0u);
}

// A playback stream that keeps its clock waits for a full buffer before it plays: until then
// nothing is heard, however long it waits, and once it plays no more can have been heard than
// the wall time since allows. (The library's clock runs on while the stream waits, and a delay
// read from it then counted the queued sound as played: a video's picture ran a whole buffer
// ahead of its sound.) The played position never goes back.
TEST_F(PulseEngineTest, PlaybackDelayNeverCountsQueuedSoundAsPlayed) {
  auto backend = audio::DefaultBackend();
  ASSERT_STREQ(backend->Name(), "pulse");
  auto device = backend->GetDevice("vts_speaker");
  ASSERT_NE(device, nullptr);
  auto client = device->Activate();
  ASSERT_NE(client, nullptr);
  audio::MixFormat mix;
  ASSERT_EQ(client->GetMixFormat(&mix), audio::Status::Ok);
  ASSERT_EQ(client->Initialize(audio::kStreamFlagEventCallback | audio::kStreamFlagPlaybackClock,
                               500'000, mix),
            audio::Status::Ok);
  ASSERT_EQ(client->SetEventCallback([] {}), audio::Status::Ok);
  ASSERT_EQ(client->GetService(), audio::Status::Ok);
  std::uint32_t frames = 0;
  ASSERT_EQ(client->GetBufferSize(&frames), audio::Status::Ok);
  ASSERT_GT(frames, mix.samplesPerSec / 4);
  std::uint32_t written = 0;
  const auto write = [&](std::uint32_t n) {
    float* data = nullptr;
    ASSERT_EQ(client->GetRenderBuffer(n, &data), audio::Status::Ok);
    for (std::uint32_t i = 0; i < n; ++i)
      for (std::uint32_t c = 0; c < mix.channels; ++c)
        data[i * mix.channels + c] =
            0.1f * float(std::sin(2 * M_PI * 440 * (written + i) / mix.samplesPerSec));
    ASSERT_EQ(client->ReleaseRenderBuffer(n), audio::Status::Ok);
    written += n;
  };
  const auto msOf = [&](std::int64_t f) { return f * 1000 / mix.samplesPerSec; };
  std::int64_t last = 0;
  const auto playedMs = [&]() -> std::int64_t {
    std::uint32_t delay = 0;
    EXPECT_EQ(client->GetPlaybackDelay(&delay), audio::Status::Ok);
    EXPECT_LE(delay, written);
    const std::int64_t played = msOf(written - std::min(delay, written));
    EXPECT_GE(played, last) << "the played position went back";
    last = std::max(last, played);
    return played;
  };
  const auto sinceMs = [](std::chrono::steady_clock::time_point t) {
    return std::int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - t)
                            .count());
  };
  // Slack for rounding and the library's interpolation between timing updates.
  constexpr std::int64_t kSlackMs = 15;

  // Started with a fifth of its buffer: it waits, for longer than that fifth lasts.
  ASSERT_EQ(client->Start(), audio::Status::Ok);
  write(frames / 5);
  const auto waitFrom = std::chrono::steady_clock::now();
  WaitUntil(
      [&] {
        EXPECT_LE(playedMs(), kSlackMs) << "after " << sinceMs(waitFrom) << " ms of waiting";
        return sinceMs(waitFrom) > 2 * msOf(written) + 100 || ::testing::Test::HasFailure();
      },
      std::chrono::seconds(10));
  ASSERT_FALSE(::testing::Test::HasFailure());

  // The rest of the buffer at once: it plays, at the wall clock's pace at most.
  write(frames - written);
  const auto start = std::chrono::steady_clock::now();
  const bool reached = WaitUntil(
      [&] {
        const std::int64_t played = playedMs();
        EXPECT_LE(played, sinceMs(start) + kSlackMs);
        return played * 4 >= msOf(written) * 3 || ::testing::Test::HasFailure();
      },
      std::chrono::seconds(10));
  EXPECT_TRUE(reached) << "the sound played on (last position " << last << " ms)";
  client->Stop();
}

}  // namespace
}  // namespace vts::test
