// Endpoint volume and mute on the virtual backend, and the track's GetEndpointVolume.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "audio/virtual_endpoints.h"
#include "tracks/sound_track.h"

namespace vts::audio {
namespace {

class EndpointVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    v = VirtualEndpoints::Instance();
    v->SetManualClock(true);
    v->Reset(false);
    v->AddDevice({"spk", "Speaker", DataFlow::Render, 2, 48000, {}});
    v->AddDevice({"mic", "Mic", DataFlow::Capture, 1, 48000, VirtualSource::Sine(1000.0, 0.5f)});
  }
  void TearDown() override { v->Reset(false); }

  std::shared_ptr<VirtualEndpoints> v;
};

TEST_F(EndpointVolumeTest, LevelAndMuteRoundTripOnOutputAndCaptureEndpoints) {
  for (const char* id : {"spk", "mic"}) {
    SCOPED_TRACE(id);
    auto vol = OpenEndpointVolume(*v, id);
    ASSERT_TRUE(vol);
    EXPECT_EQ(vol->Id(), id);
    float level = -1.0f;
    bool muted = true;
    ASSERT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::Ok);
    ASSERT_EQ(vol->GetMute(&muted), Status::Ok);
    EXPECT_FLOAT_EQ(level, 1.0f);
    EXPECT_FALSE(muted);

    ASSERT_EQ(vol->SetMasterVolumeLevelScalar(0.3f), Status::Ok);
    ASSERT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::Ok);
    EXPECT_NEAR(level, 0.3f, 1e-6);
    ASSERT_EQ(vol->SetMute(true), Status::Ok);
    ASSERT_EQ(vol->GetMute(&muted), Status::Ok);
    EXPECT_TRUE(muted);
    // A second control of the same endpoint sees the same state (it is the endpoint's).
    float seen = 0;
    bool seenMuted = false;
    ASSERT_TRUE(v->VolumeState(id, &seen, &seenMuted));
    EXPECT_NEAR(seen, 0.3f, 1e-6);
    EXPECT_TRUE(seenMuted);
    ASSERT_EQ(vol->SetMute(false), Status::Ok);
    ASSERT_EQ(OpenEndpointVolume(*v, id)->GetMute(&muted), Status::Ok);
    EXPECT_FALSE(muted);
  }
  EXPECT_EQ(OpenEndpointVolume(*v, "spk")->Flow(), DataFlow::Render);
  EXPECT_EQ(OpenEndpointVolume(*v, "mic")->Flow(), DataFlow::Capture);
}

TEST_F(EndpointVolumeTest, LevelsOutsideZeroToOneAreRefusedAndChangeNothing) {
  auto vol = OpenEndpointVolume(*v, "spk");
  ASSERT_TRUE(vol);
  ASSERT_EQ(vol->SetMasterVolumeLevelScalar(0.5f), Status::Ok);
  for (float bad : {-0.01f, 1.01f, 2.0f, std::numeric_limits<float>::quiet_NaN(),
                    std::numeric_limits<float>::infinity()}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(vol->SetMasterVolumeLevelScalar(bad), Status::Failed);
    float level = 0;
    ASSERT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::Ok);
    EXPECT_FLOAT_EQ(level, 0.5f);
  }
  for (float edge : {0.0f, 1.0f}) {
    EXPECT_EQ(vol->SetMasterVolumeLevelScalar(edge), Status::Ok);
    float level = -1;
    ASSERT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::Ok);
    EXPECT_EQ(level, edge);
  }
}

TEST_F(EndpointVolumeTest, UnknownEmptyFailingAndRemovedEndpoints) {
  EXPECT_FALSE(OpenEndpointVolume(*v, ""));
  EXPECT_FALSE(OpenEndpointVolume(*v, "nope"));

  v->InjectFailure("spk", VirtualFailure::ActivateVolume, 1);
  EXPECT_FALSE(OpenEndpointVolume(*v, "spk"));
  auto vol = OpenEndpointVolume(*v, "spk");  // only the one open failed
  ASSERT_TRUE(vol);

  v->InjectFailure("spk", VirtualFailure::VolumeCall, 2);
  float level = 0;
  EXPECT_EQ(vol->SetMasterVolumeLevelScalar(0.2f), Status::Failed);
  EXPECT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::Failed);
  EXPECT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::Ok);
  EXPECT_FLOAT_EQ(level, 1.0f);  // the failed set changed nothing

  v->RemoveDevice("spk");
  bool muted = false;
  EXPECT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::DeviceLost);
  EXPECT_EQ(vol->SetMute(true), Status::DeviceLost);
  EXPECT_EQ(vol->GetMute(&muted), Status::DeviceLost);
  EXPECT_FALSE(OpenEndpointVolume(*v, "spk"));
}

// What an endpoint plays, and so what its loopback records, and what a capture endpoint
// delivers follow its volume; muted is silence.
TEST_F(EndpointVolumeTest, VolumeScalesPlayedAndCapturedSound) {
  MixFormat fmt;
  auto dev = v->GetDevice("spk");
  auto render = dev->Activate();
  ASSERT_EQ(render->GetMixFormat(&fmt), Status::Ok);
  ASSERT_EQ(render->Initialize(0, 160000, fmt), Status::Ok);
  ASSERT_EQ(render->GetService(), Status::Ok);
  ASSERT_EQ(render->Start(), Status::Ok);
  auto mic = v->GetDevice("mic")->Activate();
  MixFormat micFmt;
  ASSERT_EQ(mic->GetMixFormat(&micFmt), Status::Ok);
  ASSERT_EQ(mic->Initialize(0, 160000, micFmt), Status::Ok);
  ASSERT_EQ(mic->GetService(), Status::Ok);
  ASSERT_EQ(mic->Start(), Status::Ok);

  auto peakOfCapture = [&] {
    float peak = 0;
    for (;;) {
      const float* data = nullptr;
      std::uint32_t frames = 0;
      if (mic->GetCaptureBuffer(&data, &frames, nullptr) != Status::Ok || frames == 0) break;
      for (std::uint32_t i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(data[i]));
      mic->ReleaseCaptureBuffer(frames);
    }
    return peak;
  };
  struct Case {
    float level;
    bool muted;
    float expected;  // played 0.8 becomes this; the 0.5 sine peaks at expected * 0.5 / 0.8
  } cases[] = {{1.0f, false, 0.8f}, {0.25f, false, 0.2f}, {0.25f, true, 0.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.level << (c.muted ? " muted" : ""));
    ASSERT_TRUE(v->SetVolumeState("spk", c.level, c.muted));
    ASSERT_TRUE(v->SetVolumeState("mic", c.level, c.muted));
    v->ClearPlayed("spk");
    peakOfCapture();
    float* out = nullptr;
    ASSERT_EQ(render->GetRenderBuffer(480, &out), Status::Ok);
    for (int i = 0; i < 960; ++i) out[i] = 0.8f;
    ASSERT_EQ(render->ReleaseRenderBuffer(480), Status::Ok);
    v->Advance(10);
    auto played = v->Played("spk");
    ASSERT_EQ(played.size(), 960u);
    for (float s : played) ASSERT_NEAR(s, c.expected, 1e-6);
    EXPECT_NEAR(peakOfCapture(), c.expected * 0.5f / 0.8f, 0.01);
  }
}

TEST_F(EndpointVolumeTest, TrackOpensTheVolumeOfAnEndpointByIdOrGivesNull) {
  v->Reset(true);  // the stock devices; the unit tests run on the virtual backend
  ASSERT_STREQ(DefaultBackend()->Name(), "virtual");
  std::unique_ptr<EndpointVolume> out = OpenEndpointVolume(*v, "virtual_speaker");
  ASSERT_TRUE(out);
  struct Case {
    const char16_t* id;
    bool opens;
  } cases[] = {
      {u"virtual_speaker", true}, {u"virtual_mic", true}, {u"", false}, {u"no_such_device", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.id, c.id + std::char_traits<char16_t>::length(c.id)));
    // Whatever *out held before is released first.
    out = OpenEndpointVolume(*v, "virtual_speaker");
    EXPECT_EQ(CSoundTrack::GetEndpointVolume(c.id, &out), c.opens);
    EXPECT_EQ(out != nullptr, c.opens);
  }
  ASSERT_TRUE(CSoundTrack::GetEndpointVolume(u"virtual_mic", &out));
  EXPECT_EQ(out->SetMasterVolumeLevelScalar(0.42f), Status::Ok);
  float level = 0;
  ASSERT_TRUE(v->VolumeState("virtual_mic", &level, nullptr));
  EXPECT_NEAR(level, 0.42f, 1e-6);

  v->InjectFailure("virtual_speaker", VirtualFailure::ActivateVolume, 1);
  EXPECT_FALSE(CSoundTrack::GetEndpointVolume(u"virtual_speaker", &out));
  EXPECT_FALSE(out);
  v->InjectFailure("virtual_speaker", VirtualFailure::GetDevice, 1);
  EXPECT_FALSE(CSoundTrack::GetEndpointVolume(u"virtual_speaker", &out));
  EXPECT_FALSE(out);
  EXPECT_FALSE(CSoundTrack::GetEndpointVolume(u"virtual_speaker", nullptr));
}

}  // namespace
}  // namespace vts::audio
