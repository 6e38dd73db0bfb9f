// Command line: switches over an argument vector, the file named at start, start devices.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/product_name.h"
#include "core/settings_files.h"
#include "test_env.h"

namespace vts {
namespace {

using Args = std::vector<std::string>;

struct SwitchCase {
  Args args;
  std::uint32_t student, teacher, position, positionGiven, streaming, mixerInput;
  bool mixerSwitch;
  const char* settingsFile;
};

void PrintTo(const SwitchCase& c, std::ostream* os) {
  *os << "{";
  for (const auto& a : c.args) *os << " \"" << a << "\"";
  *os << " }";
}

class SwitchTable : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchTable, DecidesRolePositionStreamingMixerAndSettingsFile) {
  const SwitchCase& c = GetParam();
  const CommandLineSwitches s = ParseSwitches(c.args);
  EXPECT_EQ(s.studentFlag, c.student);
  EXPECT_EQ(s.teacherFlag, c.teacher);
  EXPECT_EQ(s.position, c.position);
  EXPECT_EQ(s.positionGiven, c.positionGiven);
  EXPECT_EQ(s.streaming, c.streaming);
  EXPECT_EQ(s.mixerInput, c.mixerInput);
  EXPECT_EQ(s.mixerInputSwitch, c.mixerSwitch);
  EXPECT_EQ(WaveDeviceSettingsPath("/d", s.position), std::string("/d/") + c.settingsFile);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(CommandLine, SwitchTable, ::testing::Values(
    //          args                                 stu tea pos given strm mix  mixSw  file
    SwitchCase{{},                                   0,  0,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/_t"},                              0,  1,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    // The later test wins, whatever the argument order.
    SwitchCase{{"/_t", "/Pos:2"},                    1,  0,  2,  1,    0,   0,   false, "VoxtrailstudySt2.ini"},
    SwitchCase{{"/Pos:2", "/_t"},                    1,  0,  2,  1,    0,   0,   false, "VoxtrailstudySt2.ini"},
    SwitchCase{{"/_p"},                              1,  0,  1,  0,    0,   0,   false, "VoxtrailstudySt1.ini"},
    SwitchCase{{"/Pos:1"},                           1,  0,  1,  1,    0,   0,   false, "VoxtrailstudySt1.ini"},
    SwitchCase{{"/_s"},                              1,  0,  2,  0,    0,   0,   false, "VoxtrailstudySt2.ini"},
    SwitchCase{{"/_m"},                              1,  0,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/_m", "/_p"},                       1,  0,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/_s", "/_p"},                       1,  0,  2,  0,    0,   0,   false, "VoxtrailstudySt2.ini"},
    SwitchCase{{"/Pos:1", "/_s"},                    1,  0,  1,  1,    0,   0,   false, "VoxtrailstudySt1.ini"},
    SwitchCase{{"/Pos:1 "},                          1,  0,  1,  1,    0,   0,   false, "VoxtrailstudySt1.ini"},
    SwitchCase{{"/Stream"},                          0,  0,  0,  0,    1,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/Pos:2", "/Stream", "/MixerInput:Mix"}, 1, 0, 2, 1,   1,   2,   true,  "VoxtrailstudySt2.ini"},
    SwitchCase{{"/MixerInput:Mic"},                  0,  0,  0,  0,    0,   1,   true,  "Voxtrailstudy.ini"},
    // The text runs to the end of the argument: a trailing blank selects nothing.
    SwitchCase{{"/MixerInput:Mic "},                 0,  0,  0,  0,    0,   0,   true,  "Voxtrailstudy.ini"},
    SwitchCase{{"/MixerInput:mic"},                  0,  0,  0,  0,    0,   0,   true,  "Voxtrailstudy.ini"},
    SwitchCase{{"/MixerInput:"},                     0,  0,  0,  0,    0,   0,   true,  "Voxtrailstudy.ini"},
    SwitchCase{{"/MixerInput:Mic", "/MixerInput:Mix"}, 0, 0, 0,  0,    0,   2,   true,  "Voxtrailstudy.ini"},
    // Switches are case-sensitive whole arguments; nothing inside a file path counts.
    SwitchCase{{"/pos:1", "/STREAM", "/_T"},         0,  0,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/Pos:3"},                           0,  0,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/home/u/_sounds/x.wav"},            0,  0,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/_sounds/x.wav"},                   0,  0,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/_t", "/srv/class/Streams/a.mp3"},  0,  1,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/Streams/a.mp3"},                   0,  0,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"},
    SwitchCase{{"/_p", "/x/Pos:2/_s/_m/Stream"},     1,  0,  1,  0,    0,   0,   false, "VoxtrailstudySt1.ini"},
    SwitchCase{{"/_s", "/x/MixerInput:Mic"},         1,  0,  2,  0,    0,   0,   false, "VoxtrailstudySt2.ini"},
    SwitchCase{{"/_t /Pos:2"},                       0,  0,  0,  0,    0,   0,   false, "Voxtrailstudy.ini"}));
// clang-format on

TEST(CommandLine, KeepsTheCoresValuesThatNoSwitchChanges) {
  CommandLineSwitches core;
  core.studentFlag = 1;
  core.teacherFlag = 1;
  core.position = 2;
  core.positionGiven = 1;
  core.streaming = 1;
  core.mixerInput = 2;
  core.mixerInputSwitch = true;

  const CommandLineSwitches s = ParseSwitches({"/MixerInput:none"}, core);
  // Role and position always start from zero; the rest stays as it was.
  EXPECT_EQ(s.studentFlag, 0u);
  EXPECT_EQ(s.teacherFlag, 0u);
  EXPECT_EQ(s.position, 0u);
  EXPECT_EQ(s.positionGiven, 1u);
  EXPECT_EQ(s.streaming, 1u);
  EXPECT_EQ(s.mixerInput, 2u);
  EXPECT_TRUE(s.mixerInputSwitch);

  EXPECT_FALSE(ParseSwitches({}, core).mixerInputSwitch);
}

TEST(CommandLine, ArgumentsSkipTheProgramName) {
  const char* argv[] = {"/opt/bin/Lectorine", "/_p", "/home/u/My Sounds/a b.wav"};
  EXPECT_EQ(CommandLineArguments(3, argv), (Args{"/_p", "/home/u/My Sounds/a b.wav"}));
  EXPECT_TRUE(CommandLineArguments(1, argv).empty());
}

struct FileCase {
  Args args;
  std::optional<std::string> file;
};

void PrintTo(const FileCase& c, std::ostream* os) {
  *os << "{";
  for (const auto& a : c.args) *os << " \"" << a.substr(0, 40) << "\"";
  *os << " }";
}

class StartFileTable : public ::testing::TestWithParam<FileCase> {};

TEST_P(StartFileTable, IsTheLastArgumentThatIsNoSwitch) {
  EXPECT_EQ(FileNamedAtStart(GetParam().args), GetParam().file);
}

std::string Repeat(const std::string& unit, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += unit;
  return s;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(CommandLine, StartFileTable, ::testing::Values(
    FileCase{{}, std::nullopt},
    FileCase{{"/_p"}, std::nullopt},
    FileCase{{"/Pos:1", "/Stream", "/MixerInput:Mic"}, std::nullopt},
    FileCase{{"/_p", "/home/u/_sounds/x.wav"}, "/home/u/_sounds/x.wav"},
    FileCase{{"/Pos:2", "/srv/Streams/lesson 1.mp3"}, "/srv/Streams/lesson 1.mp3"},
    FileCase{{"/home/u/My Sounds/a b.wav", "/_s"}, "/home/u/My Sounds/a b.wav"},
    FileCase{{"first.wav", "/_t", "second.wav", "/Stream"}, "second.wav"},
    // The last one decides: an empty last argument names no file, even after a good one.
    FileCase{{"/_p", "first.wav", ""}, std::nullopt},
    FileCase{{"/_p", "/_sounds/*.mp3"}, "/_sounds/*.mp3"},
    FileCase{{"/_p", "/Pos:3"}, "/Pos:3"},
    FileCase{{"/_p", "/_m "}, std::nullopt},  // a switch with its trailing blank
    // The length counts UTF-16 units: 259 is fine, 260 is not.
    FileCase{{"/_p", "/" + std::string(258, 'a')}, "/" + std::string(258, 'a')},
    FileCase{{"/_p", "/" + std::string(259, 'a')}, std::nullopt},
    FileCase{{"/" + Repeat("\xC3\xA9", 258)}, "/" + Repeat("\xC3\xA9", 258)},
    FileCase{{"/" + Repeat("\xF0\x9F\x98\x80", 129) + "a"}, std::nullopt},
    FileCase{{"/" + Repeat("\xF0\x9F\x98\x80", 129)}, "/" + Repeat("\xF0\x9F\x98\x80", 129)}));
// clang-format on

TEST(CommandLine, ProvisionalNamesNameNoEndpoint) {
  CommandLineSwitches s;
  EXPECT_EQ(ProvisionalDeviceName(s), std::u16string(1, u'\0'));
  s.teacherFlag = 1;
  s.position = 2;  // only students take the position into account
  EXPECT_EQ(ProvisionalDeviceName(s), std::u16string(1, u'\0'));
  s = ParseSwitches({"/_p"});
  EXPECT_EQ(ProvisionalDeviceName(s), std::u16string(1, u'\0'));
  s = ParseSwitches({"/Pos:2"});
  EXPECT_EQ(ProvisionalDeviceName(s), std::u16string(1, u'\x01'));
  s = ParseSwitches({"/_m"});
  EXPECT_EQ(ProvisionalDeviceName(s), std::u16string(1, u'\0'));
}

// A device list and its default, standing in for the Master track's check.
struct FakeDevices {
  std::vector<std::u16string> outputs, inputs;
  std::u16string defaultOutput, defaultInput;
  std::vector<std::pair<std::u16string, bool>> calls;

  DeviceNameCheck Check() {
    return [this](std::u16string& name, bool input) {
      calls.emplace_back(name, input);
      const auto& list = input ? inputs : outputs;
      for (const auto& id : list)
        if (id == name) return;
      name = input ? defaultInput : defaultOutput;
    };
  }
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(StartDevices, FreshFolderGivesTheDefaultsAndChecksOutputFirst) {
  const std::string folder = test::MakeTempDir("devices");
  FakeDevices devices{{u"spk-a", u"spk-b"}, {u"mic-a"}, u"spk-b", u"mic-a", {}};
  const auto names = DecideStartDeviceNames(ParseSwitches({"/Pos:2"}), folder, devices.Check());
  EXPECT_EQ(names.settingsPath, folder + "/VoxtrailstudySt2.ini");
  EXPECT_FALSE(names.settingsRead);
  EXPECT_EQ(names.outputName, u"spk-b");
  EXPECT_EQ(names.inputName, u"mic-a");
  ASSERT_EQ(devices.calls.size(), 2u);
  EXPECT_EQ(devices.calls[0], std::make_pair(std::u16string(1, u'\x01'), false));
  EXPECT_EQ(devices.calls[1], std::make_pair(std::u16string(1, u'\x01'), true));
}

TEST(StartDevices, NamesFromTheFileStayWhenListedAndFallBackWhenNot) {
  const std::string folder = test::MakeTempDir("devices");
  FakeDevices devices{{u"spk-a", u"spk-b"}, {u"mic-a", u"mic-b"}, u"spk-a", u"mic-a", {}};
  WriteText(folder + "/VoxtrailstudySt1.ini",
            R"({"Wave":{"WaveDeviceOut":"spk-b","WaveDeviceIn":"gone-mic"}})");
  const auto names = DecideStartDeviceNames(ParseSwitches({"/_p"}), folder, devices.Check());
  EXPECT_TRUE(names.settingsRead);
  EXPECT_EQ(names.outputName, u"spk-b");
  EXPECT_EQ(names.inputName, u"mic-a");
}

TEST(StartDevices, FileWithOnlyTheInputKeepsTheProvisionalOutput) {
  const std::string folder = test::MakeTempDir("devices");
  WriteText(folder + "/Voxtrailstudy.ini", R"({"Wave":{"WaveDeviceIn":"mic-b"}})");
  const auto names = DecideStartDeviceNames(ParseSwitches({"/_t"}), folder, nullptr);
  EXPECT_EQ(names.outputName, std::u16string(1, u'\0'));
  EXPECT_EQ(names.inputName, u"mic-b");
}

TEST(StartDevices, WithoutDevicesTheNamesBecomeEmpty) {
  const std::string folder = test::MakeTempDir("devices");
  WriteText(folder + "/Voxtrailstudy.ini",
            R"({"Wave":{"WaveDeviceOut":"spk-a","WaveDeviceIn":"mic-a"}})");
  FakeDevices none;
  const auto names = DecideStartDeviceNames(ParseSwitches({}), folder, none.Check());
  EXPECT_EQ(names.outputName, u"");
  EXPECT_EQ(names.inputName, u"");
}

TEST(StartDevices, EachPositionReadsItsOwnFile) {
  const std::string folder = test::MakeTempDir("devices");
  WriteText(folder + "/Voxtrailstudy.ini", R"({"Wave":{"WaveDeviceOut":"zero"}})");
  WriteText(folder + "/VoxtrailstudySt1.ini", R"({"Wave":{"WaveDeviceOut":"one"}})");
  WriteText(folder + "/VoxtrailstudySt2.ini", R"({"Wave":{"WaveDeviceOut":"two"}})");
  EXPECT_EQ(DecideStartDeviceNames(ParseSwitches({"/_t"}), folder, nullptr).outputName, u"zero");
  EXPECT_EQ(DecideStartDeviceNames(ParseSwitches({"/_m"}), folder, nullptr).outputName, u"zero");
  EXPECT_EQ(DecideStartDeviceNames(ParseSwitches({"/Pos:1"}), folder, nullptr).outputName, u"one");
  EXPECT_EQ(DecideStartDeviceNames(ParseSwitches({"/_s"}), folder, nullptr).outputName, u"two");
}

}  // namespace
}  // namespace vts

namespace vts {
namespace {

TEST(StartDevices, UseTheDataFolderOfTheMachine) {
  // The test process's VOXTRAILSTUDY_ROOT holds the common application-data folder.
  const std::string folder = test::TestRoot() + "/data/" + GetProductNameUtf8();
  const auto names = DecideStartDeviceNames(ParseSwitches({"/_s"}), nullptr);
  EXPECT_EQ(names.settingsPath, folder + "/VoxtrailstudySt2.ini");
  struct stat st {};
  EXPECT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  const DataFolderSettings settings = LoadDataFolderSettings();
  EXPECT_EQ(settings.pathsFilePath, folder + "/RecorderPaths.json");
  EXPECT_EQ(::stat((folder + "/URLList.txt").c_str(), &st), 0);
}

}  // namespace
}  // namespace vts
