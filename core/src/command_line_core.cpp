// The command line's decisions put into the core object.
#include "core/app_core.h"
#include "core/command_line.h"

#include "audio/device_select.h"
#include "tracks/sound_track.h"

namespace vts {

bool ParseCommandLine(CAppCore& core, const std::vector<std::string>& arguments,
                      const DeviceNameCheck& check) {
  CommandLineSwitches current;
  current.positionGiven = core.positionGiven;
  current.streaming = core.streamingFlag.load();
  current.mixerInput = core.mixerInput;
  const CommandLineSwitches switches = ParseSwitches(arguments, current);

  core.studentFlag = switches.studentFlag;
  core.teacherFlag = switches.teacherFlag;
  core.position = switches.position;
  core.classroomManaged = 0;
  core.positionGiven = switches.positionGiven;
  core.streamingFlag = switches.streaming;

  StartDeviceNames names = DecideStartDeviceNames(switches, check);
  core.waveDeviceSettingsPath = std::move(names.settingsPath);
  core.outputDeviceName = std::move(names.outputName);
  core.inputDeviceName = std::move(names.inputName);
  core.SetAudioDeviceNames(core.outputDeviceName, core.inputDeviceName);

  core.mixerInput = switches.mixerInput;
  // Whatever the text was, the stream peer hears that a mixer input was named.
  if (switches.mixerInputSwitch) core.SendMixerInputNotice();
  return true;
}

bool ParseCommandLine(CAppCore& core, const std::vector<std::string>& arguments) {
  CSoundWorksWAS* engine = core.masterTrack ? core.masterTrack->Engine() : nullptr;
  DeviceNameCheck check;
  if (engine)
    check = [engine](std::u16string& name, bool input) { SelectDevice(*engine, name, input); };
  return ParseCommandLine(core, arguments, check);
}

}  // namespace vts
