// The devices an instance starts with, checked by the sound engine's device-name check: on the
// virtual backend (label unit) and, built a second time, on the live PulseAudio server
// (label pulse, which fails when the server is missing).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "audio/device_select.h"
#include "audio/endpoint.h"
#include "audio/sound_works_was.h"
#include "core/command_line.h"
#include "core/settings_files.h"
#include "test_env.h"
#include "virtual_audio.h"

namespace vts {
namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

DeviceNameCheck CheckWith(CSoundWorksWAS& engine) {
  return [&engine](std::u16string& name, bool input) { SelectDevice(engine, name, input); };
}

#ifndef VTS_START_DEVICES_PULSE

class StartDevicesVirtual : public test::VirtualAudioTest {
 protected:
  void SetUp() override {
    VirtualAudioTest::SetUp();
    folder_ = test::MakeTempDir("data");
  }
  std::unique_ptr<CSoundWorksWAS> Engine() {
    return std::make_unique<CSoundWorksWAS>(&state_, virtual_);
  }
  void TwoOfEach() {
    AddOutput("spk_a", "Speaker A");
    AddOutput("spk_b", "Speaker B");
    AddInput("mic_a", "Mic A", audio::VirtualSource::Silence());
    AddInput("mic_b", "Mic B", audio::VirtualSource::Silence());
    Virtual().SetDefault(DataFlow::Render, "spk_b");
    Virtual().SetDefault(DataFlow::Capture, "mic_a");
  }
  std::string folder_;
};

TEST_F(StartDevicesVirtual, PlaceholdersBecomeTheDefaultEndpoints) {
  TwoOfEach();
  auto engine = Engine();
  for (const char* role : {"/_t", "/Pos:1", "/Pos:2", "/_m"}) {
    const auto names = DecideStartDeviceNames(ParseSwitches({role}), folder_, CheckWith(*engine));
    EXPECT_EQ(names.outputName, u"spk_b") << role;
    EXPECT_EQ(names.inputName, u"mic_a") << role;
  }
}

TEST_F(StartDevicesVirtual, ListedIdsStayAndUnknownOnesTakeTheDefault) {
  TwoOfEach();
  auto engine = Engine();
  WriteText(folder_ + "/VoxtrailstudySt1.ini",
            R"({"Wave":{"WaveDeviceOut":"spk_a","WaveDeviceIn":"usb_mic_unplugged"}})");
  auto names = DecideStartDeviceNames(ParseSwitches({"/_p"}), folder_, CheckWith(*engine));
  EXPECT_EQ(names.outputName, u"spk_a");
  EXPECT_EQ(names.inputName, u"mic_a");
  // Ids compare exactly: another letter case is another endpoint.
  WriteText(folder_ + "/VoxtrailstudySt1.ini",
            R"({"Wave":{"WaveDeviceOut":"SPK_A","WaveDeviceIn":"mic_b"}})");
  names = DecideStartDeviceNames(ParseSwitches({"/_p"}), folder_, CheckWith(*engine));
  EXPECT_EQ(names.outputName, u"spk_b");
  EXPECT_EQ(names.inputName, u"mic_b");
}

TEST_F(StartDevicesVirtual, WithoutDevicesTheNamesAreEmptyAndSaveAsSuch) {
  auto engine = Engine();
  const auto names = DecideStartDeviceNames(ParseSwitches({"/Pos:2"}), folder_, CheckWith(*engine));
  EXPECT_EQ(names.outputName, u"");
  EXPECT_EQ(names.inputName, u"");
  ASSERT_TRUE(WriteWaveDeviceSettings(names.outputName, names.inputName, names.settingsPath));
  std::u16string out = u"x", in = u"y";
  ASSERT_TRUE(ReadWaveDeviceSettings(out, in, names.settingsPath));
  EXPECT_EQ(out, u"");
  EXPECT_EQ(in, u"");
}

TEST_F(StartDevicesVirtual, ChosenDevicesComeBackAtTheNextStart) {
  TwoOfEach();
  {
    auto engine = Engine();
    DataFolderSettings settings = LoadDataFolderSettings(folder_);
    const auto names =
        DecideStartDeviceNames(ParseSwitches({"/Pos:1"}), folder_, CheckWith(*engine));
    EXPECT_EQ(names.outputName, u"spk_b");
    // The user picks the other devices; the end writes them.
    ASSERT_TRUE(SaveDataFolderSettings(settings, names.settingsPath, u"spk_a", u"mic_b"));
  }
  auto engine = Engine();
  const auto names = DecideStartDeviceNames(ParseSwitches({"/Pos:1"}), folder_, CheckWith(*engine));
  EXPECT_TRUE(names.settingsRead);
  EXPECT_EQ(names.outputName, u"spk_a");
  EXPECT_EQ(names.inputName, u"mic_b");
  // The chosen speaker is gone at the following start: the default takes its place.
  Virtual().RemoveDevice("spk_a");
  EXPECT_EQ(
      DecideStartDeviceNames(ParseSwitches({"/Pos:1"}), folder_, CheckWith(*engine)).outputName,
      u"spk_b");
}

#else  // VTS_START_DEVICES_PULSE

std::string Server() {
  const char* s = std::getenv("VTS_PULSE_TEST_SERVER");
  if (!s || !*s) s = std::getenv("PULSE_SERVER");
  return s ? s : "";
}

class StartDevicesPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Server().empty()) << "PULSE_SERVER / VTS_PULSE_TEST_SERVER not set: start "
                                      "scripts/pulse-test-server.sh (scripts/run-tests.sh does)";
    setenv("PULSE_SERVER", Server().c_str(), 1);
    ASSERT_STREQ(audio::DefaultBackend()->Name(), "pulse");
    engine_ = std::make_unique<CSoundWorksWAS>(&state_, audio::DefaultBackend());
    folder_ = test::MakeTempDir("data");
  }
  EngineStateBlock state_;
  std::unique_ptr<CSoundWorksWAS> engine_;
  std::string folder_;
};

TEST_F(StartDevicesPulse, PlaceholdersAndUnknownIdsTakeTheServersDefaults) {
  const auto defaultOut = engine_->GetDefaultDevice(DataFlow::Render).id;
  const auto defaultIn = engine_->GetDefaultDevice(DataFlow::Capture).id;
  ASSERT_FALSE(defaultOut.empty());
  ASSERT_FALSE(defaultIn.empty());

  auto names = DecideStartDeviceNames(ParseSwitches({"/Pos:2"}), folder_, CheckWith(*engine_));
  EXPECT_EQ(names.outputName, defaultOut);
  EXPECT_EQ(names.inputName, defaultIn);

  WriteText(names.settingsPath,
            R"({"Wave":{"WaveDeviceOut":"no_such_sink","WaveDeviceIn":"no_such_source"}})");
  names = DecideStartDeviceNames(ParseSwitches({"/Pos:2"}), folder_, CheckWith(*engine_));
  EXPECT_EQ(names.outputName, defaultOut);
  EXPECT_EQ(names.inputName, defaultIn);
}

TEST_F(StartDevicesPulse, ListedSinkAndSourceComeBackAtTheNextStart) {
  const auto outputs = engine_->GetOutputDevices();
  const auto inputs = engine_->GetInputDevices();
  ASSERT_FALSE(outputs.empty());
  ASSERT_FALSE(inputs.empty());
  // The test server's own fixed devices (other tests load and unload devices of their own
  // meanwhile); the sink is not the default one, so a default cannot pass by chance.
  const std::u16string out = u"vts_mic_in", in = u"vts_mic";
  auto listed = [](const auto& list, const std::u16string& id) {
    for (const auto& d : list)
      if (d.id == id) return true;
    return false;
  };
  ASSERT_TRUE(listed(outputs, out));
  ASSERT_TRUE(listed(inputs, in));
  DataFolderSettings settings = LoadDataFolderSettings(folder_);
  ASSERT_TRUE(SaveDataFolderSettings(settings, WaveDeviceSettingsPath(folder_, 1), out, in));
  const auto names = DecideStartDeviceNames(ParseSwitches({"/_p"}), folder_, CheckWith(*engine_));
  EXPECT_EQ(names.outputName, out);
  EXPECT_EQ(names.inputName, in);
}

#endif

}  // namespace
}  // namespace vts
