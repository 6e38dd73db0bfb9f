// The recorder's command line: role, position, streaming, mixer input, the wave-device
// settings file and the devices the instance starts with, and the file named at start.
//
// The program receives an argument vector. A switch is recognised only as a whole argument
// ("/_t", "/_p", "/_s", "/_m", "/Pos:1", "/Pos:2", "/Stream", trailing blanks allowed) or as
// an argument that begins with "/MixerInput:"; text inside any other argument never acts as a
// switch, so file paths such as "/home/u/_sounds/x.wav" or ".../Streams/a.wav" are safe.
// All functions here are plain computations or file reads; the core object is touched only
// by ParseCommandLine's caller (the main dialog's initialisation, on the UI thread).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vts {

class CAppCore;

// Paths longer than this (in UTF-16 units, the limit the file lookup works with) are no
// file named at start.
inline constexpr std::size_t kMaxStartFilePathUnits = 260;

// What the switches decide. Fields mirror the core's fields of the same meaning.
struct CommandLineSwitches {
  std::uint32_t studentFlag = 0;
  std::uint32_t teacherFlag = 0;
  std::uint32_t position = 0;       // 0, 1 or 2
  std::uint32_t positionGiven = 0;  // 1 when "/Pos:1" or "/Pos:2" set the position
  std::uint32_t streaming = 0;      // 1 with "/Stream"
  std::uint32_t mixerInput = 0;     // 0 none, 1 "Mic", 2 "Mix"
  // "/MixerInput:" was given: the stream peer is due the mixer-input message (type 1081),
  // whatever text followed the switch.
  bool mixerInputSwitch = false;
};

// The arguments after the program name.
std::vector<std::string> CommandLineArguments(int argc, const char* const* argv);

// Whether `argument` is one of the switches (see above).
bool IsCommandLineSwitch(std::string_view argument);

// Runs the switch tests in their fixed order over the switch arguments; a later test
// overrides an earlier one ("/_t /Pos:2" is a student at position 2). Student flag, teacher
// flag and position start at 0; position-given, streaming and mixer input start from
// `current` (the core's values) and change only when a switch says so. The mixer-input text
// is the rest of the "/MixerInput:" argument and must be exactly "Mic" or "Mix" ("Mic " with
// a trailing blank selects nothing); when several such arguments are given the last counts.
CommandLineSwitches ParseSwitches(const std::vector<std::string>& arguments,
                                  const CommandLineSwitches& current = {});

// The file named at start: the last argument that is not a switch. None when there is no
// such argument, or when it is empty, 260 UTF-16 units or longer, or exactly "/_m", "/_p"
// or "/_s".
std::optional<std::string> FileNamedAtStart(const std::vector<std::string>& arguments);

// Provisional device name before the settings file is read: one character, code
// position - 1 for a student at position 1 or 2, code 0 otherwise. It names no endpoint, so
// the device check always replaces it by the default one.
std::u16string ProvisionalDeviceName(const CommandLineSwitches& switches);

// Full path of the instance's wave-device settings file in `dataFolder`.
std::string WaveDeviceSettingsPath(const std::string& dataFolder, std::uint32_t position);

// Checks a device name against the current device list and replaces a name that names no
// listed endpoint by the default endpoint's id (empty when there is none). `input` is false
// for the playback device, true for the capture device. Normally the Master track's
// SelectDevice.
using DeviceNameCheck = std::function<void(std::u16string& name, bool input)>;

struct StartDeviceNames {
  std::string settingsPath;   // the wave-device settings file of this instance
  bool settingsRead = false;  // the file existed and was valid JSON
  std::u16string outputName;
  std::u16string inputName;
};

// The device names the instance starts with: the provisional names, replaced by those the
// settings file holds, then checked (output first, then input) by `check` when given.
StartDeviceNames DecideStartDeviceNames(const CommandLineSwitches& switches,
                                        const std::string& dataFolder,
                                        const DeviceNameCheck& check);

// The same on the data folder of this machine: creates it and opens its access rights first
// (once per start), then decides the names.
StartDeviceNames DecideStartDeviceNames(const CommandLineSwitches& switches,
                                        const DeviceNameCheck& check);

// The command line of the instance, put into the core: role flags, position, position-given,
// streaming and mixer-input fields, the classroom-managed flag cleared, the wave-device
// settings path and both device names (decided on the machine's data folder, checked by
// `check`, normally the Master track's SelectDevice), which also go to the tracks and the
// video manager through SetAudioDeviceNames. Called once by the main dialog's
// initialisation, on the UI thread, before the window is set up. Returns true.
// Part of the core-object library (vts_appcore).
bool ParseCommandLine(CAppCore& core, const std::vector<std::string>& arguments,
                      const DeviceNameCheck& check);
// The same with the Master track's device check (its engine's device lists and default
// endpoints); without a Master track the names stay as the settings file left them.
bool ParseCommandLine(CAppCore& core, const std::vector<std::string>& arguments);

}  // namespace vts
