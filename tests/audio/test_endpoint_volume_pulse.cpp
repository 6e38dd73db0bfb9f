// Endpoint volume and mute against PulseAudio: sinks and sources of the private server of
// the test run (each test loads devices of its own, so parallel tests do not interfere),
// and a server of the test's own that goes away. Fails (never skips) without the server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pulse_util.h"
#include "audio/endpoint.h"
#include "pulse_endpoints.h"

namespace vts::audio {
namespace {

std::string Server() { return test::PulseTestServer(); }

std::string Shell(const std::string& cmd) { return test::RunShell(cmd); }

// A null sink and a capture source (its monitor, remapped) of this test's own.
class PulseVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = Server();
    ASSERT_FALSE(server_.empty()) << "PULSE_SERVER / VTS_PULSE_TEST_SERVER not set: start "
                                     "scripts/pulse-test-server.sh (scripts/run-tests.sh does)";
    setenv("PULSE_SERVER", server_.c_str(), 1);
    const std::string tag = std::to_string(getpid()) + "_" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    sink_ = "vts_vol_spk_" + tag;
    source_ = "vts_vol_mic_" + tag;
    sinkModule_ = Pactl("load-module module-null-sink sink_name=" + sink_ +
                        " sink_properties=device.description=VTS_Volume_Speaker");
    ASSERT_FALSE(sinkModule_.empty());
    sourceModule_ =
        Pactl("load-module module-remap-source source_name=" + source_ + " master=" + sink_ +
              ".monitor source_properties=device.description=VTS_Volume_Mic");
    ASSERT_FALSE(sourceModule_.empty());
    backend_ = MakePulseBackend();
  }
  void TearDown() override {
    backend_.reset();
    if (!sourceModule_.empty()) Pactl("unload-module " + sourceModule_);
    if (!sinkModule_.empty()) Pactl("unload-module " + sinkModule_);
  }

  std::string Pactl(const std::string& args) {
    return Shell("pactl -s '" + server_ + "' " + args + " 2>&1");
  }

  std::string server_, sink_, source_, sinkModule_, sourceModule_;
  std::shared_ptr<EndpointBackend> backend_;
};

TEST_F(PulseVolumeTest, LevelAndMuteRoundTripOnASinkAndASource) {
  struct Case {
    std::string id;
    DataFlow flow;
    const char* kind;  // pactl's word
  };
  for (const Case& c :
       {Case{sink_, DataFlow::Render, "sink"}, Case{source_, DataFlow::Capture, "source"}}) {
    SCOPED_TRACE(c.id);
    auto vol = OpenEndpointVolume(*backend_, c.id);
    ASSERT_TRUE(vol);
    EXPECT_EQ(vol->Id(), c.id);
    EXPECT_EQ(vol->Flow(), c.flow);

    ASSERT_EQ(vol->SetMasterVolumeLevelScalar(0.3f), Status::Ok);
    float level = -1;
    ASSERT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::Ok);
    EXPECT_NEAR(level, 0.3f, 1.0 / 65536);
    // The level is what desktop mixers show as the percentage.
    EXPECT_NE(Pactl(std::string("get-") + c.kind + "-volume " + c.id).find("30%"),
              std::string::npos)
        << Pactl(std::string("get-") + c.kind + "-volume " + c.id);
    // Setting what was read keeps it exactly.
    ASSERT_EQ(vol->SetMasterVolumeLevelScalar(level), Status::Ok);
    float again = -1;
    ASSERT_EQ(vol->GetMasterVolumeLevelScalar(&again), Status::Ok);
    EXPECT_EQ(again, level);
    for (float edge : {0.0f, 1.0f}) {
      ASSERT_EQ(vol->SetMasterVolumeLevelScalar(edge), Status::Ok);
      ASSERT_EQ(vol->GetMasterVolumeLevelScalar(&again), Status::Ok);
      EXPECT_EQ(again, edge);
    }
    EXPECT_EQ(vol->SetMasterVolumeLevelScalar(1.5f), Status::Failed);

    bool muted = true;
    ASSERT_EQ(vol->GetMute(&muted), Status::Ok);
    EXPECT_FALSE(muted);
    ASSERT_EQ(vol->SetMute(true), Status::Ok);
    ASSERT_EQ(vol->GetMute(&muted), Status::Ok);
    EXPECT_TRUE(muted);
    EXPECT_NE(Pactl(std::string("get-") + c.kind + "-mute " + c.id).find("yes"), std::string::npos);
    ASSERT_EQ(vol->SetMute(false), Status::Ok);
    ASSERT_EQ(vol->GetMute(&muted), Status::Ok);
    EXPECT_FALSE(muted);
  }
}

TEST_F(PulseVolumeTest, SettingTheLevelKeepsTheChannelBalanceAndOveramplifiedReadsAsOne) {
  auto vol = OpenEndpointVolume(*backend_, sink_);
  ASSERT_TRUE(vol);
  Pactl("set-sink-volume " + sink_ + " 50% 25%");
  float level = 0;
  ASSERT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::Ok);
  EXPECT_NEAR(level, 0.5f, 1.0 / 65536);
  ASSERT_EQ(vol->SetMasterVolumeLevelScalar(0.8f), Status::Ok);
  const std::string shown = Pactl("get-sink-volume " + sink_);
  EXPECT_NE(shown.find("80%"), std::string::npos) << shown;
  EXPECT_NE(shown.find("40%"), std::string::npos) << shown;
  Pactl("set-sink-volume " + sink_ + " 150%");
  ASSERT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::Ok);
  EXPECT_EQ(level, 1.0f);
}

TEST_F(PulseVolumeTest, UnknownEmptyAndMonitorIdsGiveNullAndAnUnloadedEndpointIsLost) {
  EXPECT_FALSE(OpenEndpointVolume(*backend_, ""));
  EXPECT_FALSE(OpenEndpointVolume(*backend_, "vts_no_such_device"));
  EXPECT_FALSE(OpenEndpointVolume(*backend_, sink_ + ".monitor"));  // loopback only

  auto vol = OpenEndpointVolume(*backend_, source_);
  ASSERT_TRUE(vol);
  Pactl("unload-module " + sourceModule_);
  sourceModule_.clear();
  float level = 0;
  bool muted = false;
  EXPECT_EQ(vol->GetMasterVolumeLevelScalar(&level), Status::DeviceLost);
  EXPECT_EQ(vol->SetMasterVolumeLevelScalar(0.5f), Status::DeviceLost);
  EXPECT_EQ(vol->GetMute(&muted), Status::DeviceLost);
  EXPECT_EQ(vol->SetMute(true), Status::DeviceLost);
  EXPECT_FALSE(OpenEndpointVolume(*backend_, source_));
}

// A server of this test's own that exits while a volume control is open: every call fails,
// none hangs, and opening gives null.
TEST(PulseVolumeServerGone, CallsFailWithoutHanging) {
  char dirTemplate[] = "/tmp/vts-pulse-volume-gone-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  const std::string script = std::string(VTS_SOURCE_DIR) + "/scripts/pulse-test-server.sh";
  ASSERT_EQ(
      std::system(
          ("env -u PULSE_SERVER '" + script + "' start '" + dir + "' >/dev/null 2>&1").c_str()),
      0);
  struct Stop {
    std::string cmd;
    ~Stop() { std::system(cmd.c_str()); }
  } stop{"'" + script + "' stop '" + dir + "' >/dev/null 2>&1; rm -rf '" + dir + "'"};
  const char* old = std::getenv("PULSE_SERVER");
  const std::string saved = old ? old : "";
  const std::string own = "unix:" + dir + "/pulse/native";
  setenv("PULSE_SERVER", own.c_str(), 1);
  struct Restore {
    std::string value;
    ~Restore() {
      if (value.empty())
        unsetenv("PULSE_SERVER");
      else
        setenv("PULSE_SERVER", value.c_str(), 1);
    }
  } restore{saved};

  auto backend = MakePulseBackend();
  auto vol = OpenEndpointVolume(*backend, "vts_speaker");
  ASSERT_TRUE(vol);
  ASSERT_EQ(vol->SetMasterVolumeLevelScalar(0.5f), Status::Ok);

  ASSERT_EQ(std::system(("'" + script + "' stop '" + dir + "' >/dev/null 2>&1").c_str()), 0);
  const auto t0 = std::chrono::steady_clock::now();
  float level = 0;
  bool muted = false;
  EXPECT_NE(vol->GetMasterVolumeLevelScalar(&level), Status::Ok);
  EXPECT_NE(vol->SetMasterVolumeLevelScalar(0.2f), Status::Ok);
  EXPECT_NE(vol->GetMute(&muted), Status::Ok);
  EXPECT_NE(vol->SetMute(true), Status::Ok);
  EXPECT_FALSE(OpenEndpointVolume(*backend, "vts_speaker"));
  EXPECT_FALSE(OpenEndpointVolume(*MakePulseBackend(), "vts_speaker"));
  // Bounded: far below what a hanging wait would take.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
}

}  // namespace
}  // namespace vts::audio
