// The video's sound on the private PulseAudio server: played through the voice on a sink of
// the test's own and captured back from its monitor, the sine arrives whole (no gaps) at its
// frequency and level.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "audio/buffer_descr.h"
#include "audio/endpoint.h"
#include "audio/sound_works_was.h"
#include "platform/thread_queue.h"
#include "pulse_util.h"
#include "tracks/notify.h"
#include "video/video_manager.h"
#include "video/video_site_window.h"
#include "video_fixtures.h"
#include "virtual_audio.h"

namespace vts {
namespace {

// Checks that `captured` (mono, 44100 Hz) holds `seconds` of a 1 kHz sine without gaps.
void ExpectWholeTone(const std::vector<float>& captured, double seconds) {
  constexpr std::size_t kWin = 882;
  std::vector<double> rms;
  std::vector<int> crossings;
  for (std::size_t i = 0; i + kWin <= captured.size(); i += kWin) {
    double sum = 0;
    int zc = 0;
    for (std::size_t j = i; j < i + kWin; ++j) {
      sum += double(captured[j]) * captured[j];
      if (j > i && (captured[j - 1] < 0) != (captured[j] < 0)) ++zc;
    }
    rms.push_back(std::sqrt(sum / kWin));
    crossings.push_back(zc);
  }
  std::size_t first = 0, last = rms.size();
  while (first < rms.size() && rms[first] < 0.02) ++first;
  while (last > first && rms[last - 1] < 0.02) --last;
  ASSERT_LT(first + 100, last) << "less than 2 s of the video's sound arrived";
  int silent = 0, offPitch = 0;
  std::string where;
  for (std::size_t i = first + 1; i + 1 < last; ++i) {
    const bool gap = rms[i] < 0.02;
    const bool off = std::abs(crossings[i] / 2.0 / 0.02 - 1000.0) > 100.0;
    silent += gap;
    offPitch += off;
    if (gap || off) where += " " + std::to_string(i - first) + ":" + std::to_string(crossings[i]);
  }
  EXPECT_EQ(silent, 0) << "gaps in " << (last - first) << " windows:" << where;
  EXPECT_LE(offPitch, 3) << "of " << (last - first) << " windows:" << where;
  EXPECT_NEAR((last - first) * 0.02, seconds, 0.3);  // all of it, once
  EXPECT_NEAR(rms[(first + last) / 2], 0.125 / std::sqrt(2.0), 0.03);
}

// A speaker sink of the test's own (parallel pulse tests cannot mix into it) and a loopback
// capture of its monitor, mono 44100 Hz, delivered to the test thread.
class VideoPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    server = test::PulseTestServer();
    ASSERT_FALSE(server.empty())
        << "start scripts/pulse-test-server.sh (scripts/run-tests.sh does)";
    setenv("PULSE_SERVER", server.c_str(), 1);
    plat::EnsureQueue();
    const std::string name = "vts_video_speaker_" + std::to_string(getpid());
    module =
        test::RunShell("pactl -s '" + server + "' load-module module-null-sink sink_name=" + name);
    ASSERT_FALSE(module.empty());
    speaker.assign(name.begin(), name.end());
    recorder = std::make_unique<CSoundWorksWAS>(&state, audio::DefaultBackend());
    recorder->SetFormat(1, 44100, 16, 40);
    recorder->ownerThreadId = plat::CurrentThreadId();
    recorder->soundOutMessage = WM_SOUND_OUT;
    recorder->soundInMessage = WM_SOUND_IN;
    recorder->Start();
    recorder->StartCapture(speaker, 0, 3);
  }
  void TearDown() override {
    if (recorder) recorder->StopCapture(speaker);
    recorder.reset();
    plat::Msg m;
    while (plat::PeekMessage(&m, true))
      if ((m.message == WM_SOUND_IN || m.message == WM_SOUND_OUT) && m.wParam)
        ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(m.wParam));
    if (!module.empty()) test::RunShell("pactl -s '" + server + "' unload-module " + module);
  }
  // Takes one message: captured sound is appended, other messages are returned.
  bool Next(plat::Msg* msg) {
    if (!plat::GetMessageTimeout(msg, std::chrono::milliseconds(20))) return false;
    auto* d = reinterpret_cast<CBufferDescr*>(msg->wParam);
    if (msg->message == WM_SOUND_IN || msg->message == WM_SOUND_OUT) {
      if (msg->message == WM_SOUND_IN && d) {
        auto s = test::VirtualAudioTest::Samples(*d);
        captured.insert(captured.end(), s.begin(), s.end());
      }
      if (d) ReleaseBufferDescr(d);
      return false;
    }
    return true;
  }
  // The monitor's last half second still arrives after playback ended.
  void CaptureTail() {
    const std::size_t want = captured.size() + 44100 / 2;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    plat::Msg m;
    while (captured.size() < want && std::chrono::steady_clock::now() < end) Next(&m);
  }

  std::string server, module;
  std::u16string speaker;
  EngineStateBlock state;
  std::unique_ptr<CSoundWorksWAS> recorder;
  std::vector<float> captured;
};

TEST_F(VideoPulse, TheVideosSineReachesTheSpeakerWithoutGaps) {
  test::VideoSpec spec;
  spec.seconds = 4;
  spec.sineHz = 1000;
  auto windows = HeadlessVideoWindowSystem();
  CVideoSiteWindow site(nullptr, nullptr, audio::DefaultBackend());
  site.outputDeviceName = speaker;
  ASSERT_TRUE(site.Create(*windows, nullptr, 0, 0, 640, 0, 0, 0));
  std::atomic<bool> opened{false};
  site.OpenSourceFileName(test::MakeVideo(spec), [&] { opened = true; });

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  bool started = false;
  while (std::chrono::steady_clock::now() < deadline &&
         !(started && site.EndOfFile() && site.QueuedSoundBuffers() == 0 &&
           captured.size() > 44100 * 5)) {
    if (opened && !started) {
      ASSERT_TRUE(site.HasVoice());
      site.halted = 0;
      started = true;
    }
    plat::Msg msg;
    Next(&msg);
  }
  site.halted = 1;
  ExpectWholeTone(captured, 4.0);
}

TEST_F(VideoPulse, AVideoPlayedByTheManagerSoundsWholeToItsEndInEachContainer) {
  for (const char* container : {"mp4", "mkv", "avi", "mpg"}) {
    SCOPED_TRACE(container);
    test::VideoSpec spec;
    spec.container = container;
    spec.seconds = 3;
    spec.sineHz = 1000;
    CVideoManager manager(&state, audio::DefaultBackend());
    manager.SetOutputDevice(speaker);
    manager.notifyTarget = NotifyTarget{plat::CurrentThreadId(), nullptr, WM_TRACKNOTIFY};
    manager.Open(test::MakeVideo(spec), nullptr);

    captured.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    bool ended = false;
    while (std::chrono::steady_clock::now() < deadline && !ended) {
      plat::Msg msg;
      if (!Next(&msg) || msg.message != WM_TRACKNOTIFY) continue;
      if (msg.wParam == TRACK_NOTIFY_LOADED) manager.Start();
      if (msg.wParam == TRACK_NOTIFY_PLAY_ENDED && !manager.Playing()) ended = true;
    }
    ASSERT_TRUE(ended);
    CaptureTail();
    ExpectWholeTone(captured, 3.0);
  }
}

}  // namespace
}  // namespace vts
