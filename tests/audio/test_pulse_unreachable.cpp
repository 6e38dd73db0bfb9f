// The PulseAudio backend without a server: empty lists and failed starts, quickly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "audio/sound_works_was.h"
#include "platform/thread_queue.h"
#include "pulse_endpoints.h"
#include "virtual_audio.h"

namespace vts::test {
namespace {

TEST(PulseUnreachable, EmptyListsAndFailedStartsWithoutHanging) {
  setenv("PULSE_SERVER", "unix:/nonexistent/vts-no-server", 1);
  const auto t0 = std::chrono::steady_clock::now();
  auto backend = audio::MakePulseBackend();
  EXPECT_TRUE(backend->EnumerateEndpoints(DataFlow::Render).empty());
  EXPECT_TRUE(backend->EnumerateEndpoints(DataFlow::Capture).empty());
  EXPECT_FALSE(backend->GetDefaultEndpoint(DataFlow::Render).has_value());

  SoundLogRecorder log;
  EngineStateBlock state;
  plat::EnsureQueue();
  {
    CSoundWorksWAS engine(&state, backend);
    engine.SetFormat(1, 44100, 16, 40);
    engine.ownerThreadId = plat::CurrentThreadId();
    engine.soundOutMessage = WM_SOUND_OUT;
    engine.soundInMessage = WM_SOUND_IN;
    engine.Start();
    EXPECT_TRUE(engine.GetOutputDevices().empty());
    engine.StartCapture(u"vts_mic", 0, 1);
    EXPECT_EQ(engine.GetCaptureStreamCount(), 0u);
    engine.StartPlayback(u"vts_speaker");
    CBufferDescr* b = VirtualAudioTest::MakeSineBuffer(1, 44100, 100, 440, 0.5);
    std::weak_ptr<CBufferData> w = b->data;
    engine.Playback(b, false);
    EXPECT_TRUE(w.expired());
    EXPECT_EQ(engine.GetPlaybackStreamCount(), 0u);
  }
  EXPECT_TRUE(log.Contains("Could not create capture Device. Check that device is present."));
  EXPECT_TRUE(log.Contains("Could not create playback AudioClient. Check that device is present."));
  // Bounded: well under the time a hanging connect would take.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
  plat::Msg msg;
  int marks = 0;
  while (plat::PeekMessage(&msg, true)) marks += msg.message == WM_SOUND_IN && msg.wParam == 0;
  EXPECT_EQ(marks, 1);
}

}  // namespace
}  // namespace vts::test
