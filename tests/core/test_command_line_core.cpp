// The command line put into the core object, and the core's settings files over a start, an
// end and a second start on an empty data folder.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "audio/sound_works_was.h"
#include "core/app_core.h"
#include "core/command_line.h"
#include "core/data_folder.h"
#include "core/settings_files.h"
#include "test_env.h"
#include "test_files.h"
#include "tracks/sound_track.h"

namespace vts {
namespace {

using ::vts::test::ReadFile;

// Two listed endpoints per direction; the first is the default.
void Check(std::u16string& name, bool input) {
  const std::u16string a = input ? u"mic_a" : u"spk_a";
  const std::u16string b = input ? u"mic_b" : u"spk_b";
  if (name != a && name != b) name = a;
}

TEST(CoreCommandLine, SwitchesAndDevicesReachTheCore) {
  CAppCore core;
  core.classroomManaged = 1;
  core.streamingFlag = 0;
  ASSERT_TRUE(ParseCommandLine(
      core, {"/_t", "/Pos:2", "/Stream", "/MixerInput:Mix", "/home/u/_sounds/x.wav"}, Check));
  EXPECT_EQ(core.studentFlag, 1u);
  EXPECT_EQ(core.teacherFlag, 0u);
  EXPECT_EQ(core.position, 2u);
  EXPECT_EQ(core.positionGiven, 1u);
  EXPECT_EQ(core.streamingFlag.load(), 1u);
  EXPECT_EQ(core.mixerInput, 2u);
  EXPECT_EQ(core.classroomManaged, 0u);
  EXPECT_EQ(core.waveDeviceSettingsPath, GetDataFolder() + "/VoxtrailstudySt2.ini");
  EXPECT_EQ(core.outputDeviceName, u"spk_a");
  EXPECT_EQ(core.inputDeviceName, u"mic_a");
}

TEST(CoreCommandLine, EmptyDataFolderEndAndStartAgain) {
  const std::string folder = GetDataFolder();
  for (const char* name : {"RecorderPaths.json", "URLList.txt", "Voxtrailstudy.ini"})
    std::remove((folder + "/" + name).c_str());

  {
    CAppCore core;
    EXPECT_TRUE(core.settings.pathsDocument.is_null());
    EXPECT_FALSE(core.settings.urlList);
    ParseCommandLine(core, {"/_t"}, Check);
    EXPECT_EQ(core.outputDeviceName, u"spk_a");
    core.outputDeviceName = u"spk_b";  // the user's choice during the run
  }
  EXPECT_EQ(ReadFile(folder + "/RecorderPaths.json"), "null\n");
  EXPECT_EQ(ReadFile(folder + "/URLList.txt"), "\xFF\xFE");
  EXPECT_EQ(ReadFile(folder + "/Voxtrailstudy.ini"),
            "{\n    \"Wave\": {\n        \"WaveDeviceOut\": \"spk_b\",\n"
            "        \"WaveDeviceIn\": \"mic_a\"\n    }\n}\n");

  {
    CAppCore core;
    ParseCommandLine(core, {"/_t"}, Check);
    EXPECT_EQ(core.outputDeviceName, u"spk_b");
    EXPECT_EQ(core.inputDeviceName, u"mic_a");
    SetLastOpenPath(core.settings.pathsDocument, u"/home/u/lesson.wav");
  }
  CAppCore core;
  EXPECT_EQ(GetLastOpenPath(core.settings.pathsDocument), u"/home/u/lesson.wav");
}

// The recorder's own path: the Master track's engine checks the names (virtual backend with
// its stock devices).
TEST(CoreCommandLine, MasterTrackEngineChecksTheNamesAndTheTracksGetThem) {
  const std::string folder = GetDataFolder();
  std::ofstream(folder + "/VoxtrailstudySt1.ini")
      << R"({"Wave":{"WaveDeviceOut":"unplugged_speaker","WaveDeviceIn":"virtual_mic"}})";
  CAppCore core;
  ASSERT_NE(core.masterTrack, nullptr);
  ASSERT_TRUE(ParseCommandLine(core, {"/Pos:1", "/home/u/Streams/x.wav"}));
  const auto expectedOut = core.masterTrack->Engine()->GetDefaultDevice(DataFlow::Render).id;
  ASSERT_FALSE(expectedOut.empty());
  EXPECT_EQ(core.outputDeviceName, expectedOut);
  EXPECT_EQ(core.inputDeviceName, u"virtual_mic");
  EXPECT_EQ(core.streamingFlag.load(), 0u);
  EXPECT_EQ(core.masterTrack->OutputDevice(), expectedOut);
  EXPECT_EQ(core.studentTrack->OutputDevice(), expectedOut);
  EXPECT_EQ(core.masterTrack->InputDevice(), u"virtual_mic");
  EXPECT_EQ(core.studentTrack->InputDevice(), u"virtual_mic");
}

TEST(CoreCommandLine, CoreWithoutCommandLineWritesNoDeviceFile) {
  const std::string folder = GetDataFolder();
  std::remove((folder + "/Voxtrailstudy.ini").c_str());
  { CAppCore core; }
  std::ifstream in(folder + "/Voxtrailstudy.ini");
  EXPECT_FALSE(in.good());
}

}  // namespace
}  // namespace vts
