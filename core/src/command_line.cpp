// The recorder's command line over an argument vector.
#include "core/command_line.h"

#include "core/data_folder.h"
#include "core/settings_files.h"
#include "platform/utf.h"

namespace vts {

namespace {

constexpr std::string_view kMixerInputSwitch = "/MixerInput:";

std::string_view WithoutTrailingBlanks(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// UTF-16 units the UTF-8 text takes; a text that is not UTF-8 counts one unit per byte.
std::size_t Utf16Units(std::string_view text) {
  const auto converted = plat::Utf8ToUtf16(text, plat::InvalidUtf::kRefuse);
  return converted ? converted->size() : text.size();
}

struct FlagSwitch {
  std::string_view text;
  void (*apply)(CommandLineSwitches&);
};

// The order of the tests matters: a later one overrides an earlier one.
constexpr FlagSwitch kFlagSwitches[] = {
    {"/_t", [](CommandLineSwitches& s) { s.studentFlag = 0, s.teacherFlag = 1; }},
    {"/_p", [](CommandLineSwitches& s) { s.studentFlag = 1, s.teacherFlag = 0, s.position = 1; }},
    {"/_s", [](CommandLineSwitches& s) { s.studentFlag = 1, s.teacherFlag = 0, s.position = 2; }},
    {"/_m", [](CommandLineSwitches& s) { s.studentFlag = 1, s.teacherFlag = 0, s.position = 0; }},
    {"/Pos:1",
     [](CommandLineSwitches& s) {
       s.studentFlag = 1, s.teacherFlag = 0, s.position = 1, s.positionGiven = 1;
     }},
    {"/Pos:2",
     [](CommandLineSwitches& s) {
       s.studentFlag = 1, s.teacherFlag = 0, s.position = 2, s.positionGiven = 1;
     }},
    {"/Stream", [](CommandLineSwitches& s) { s.streaming = 1; }},
};

bool IsFlagSwitch(std::string_view argument, std::string_view text) {
  return WithoutTrailingBlanks(argument) == text;
}

bool IsMixerInputSwitch(std::string_view argument) {
  return argument.substr(0, kMixerInputSwitch.size()) == kMixerInputSwitch;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  return arguments;
}

bool IsCommandLineSwitch(std::string_view argument) {
  if (IsMixerInputSwitch(argument)) return true;
  for (const auto& flag : kFlagSwitches)
    if (IsFlagSwitch(argument, flag.text)) return true;
  return false;
}

CommandLineSwitches ParseSwitches(const std::vector<std::string>& arguments,
                                  const CommandLineSwitches& current) {
  CommandLineSwitches result = current;
  result.studentFlag = 0;
  result.teacherFlag = 0;
  result.position = 0;
  result.mixerInputSwitch = false;

  for (const auto& flag : kFlagSwitches) {
    for (const auto& argument : arguments) {
      if (IsFlagSwitch(argument, flag.text)) {
        flag.apply(result);
        break;
      }
    }
  }

  const std::string* mixerArgument = nullptr;
  for (const auto& argument : arguments)
    if (IsMixerInputSwitch(argument)) mixerArgument = &argument;
  if (mixerArgument) {
    const std::string_view text = std::string_view(*mixerArgument).substr(kMixerInputSwitch.size());
    if (text == "Mic")
      result.mixerInput = 1;
    else if (text == "Mix")
      result.mixerInput = 2;
    result.mixerInputSwitch = true;
  }
  return result;
}

std::optional<std::string> FileNamedAtStart(const std::vector<std::string>& arguments) {
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) {
    if (IsCommandLineSwitch(*it)) continue;
    const std::string& file = *it;
    if (file.empty() || Utf16Units(file) >= kMaxStartFilePathUnits) return std::nullopt;
    if (file == "/_m" || file == "/_p" || file == "/_s") return std::nullopt;
    return file;
  }
  return std::nullopt;
}

std::u16string ProvisionalDeviceName(const CommandLineSwitches& switches) {
  if (switches.studentFlag != 0 && switches.position != 0)
    return std::u16string(1, static_cast<char16_t>(switches.position - 1));
  return std::u16string(1, u'\0');
}

std::string WaveDeviceSettingsPath(const std::string& dataFolder, std::uint32_t position) {
  return dataFolder + "/" + WaveDeviceSettingsFileName(position);
}

StartDeviceNames DecideStartDeviceNames(const CommandLineSwitches& switches,
                                        const std::string& dataFolder,
                                        const DeviceNameCheck& check) {
  StartDeviceNames names;
  names.outputName = ProvisionalDeviceName(switches);
  names.inputName = names.outputName;
  names.settingsPath = WaveDeviceSettingsPath(dataFolder, switches.position);
  names.settingsRead =
      ReadWaveDeviceSettings(names.outputName, names.inputName, names.settingsPath);
  if (check) {
    check(names.outputName, false);
    check(names.inputName, true);
  }
  return names;
}

StartDeviceNames DecideStartDeviceNames(const CommandLineSwitches& switches,
                                        const DeviceNameCheck& check) {
  const std::string folder = GetDataFolder();
  GrantDataFolderAccess(folder);
  return DecideStartDeviceNames(switches, folder, check);
}

}  // namespace vts
