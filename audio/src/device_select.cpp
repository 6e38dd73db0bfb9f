// The device-name check: an exact id match keeps the name, anything else takes the default
// communications endpoint of that direction.
#include "audio/device_select.h"

#include "audio/sound_works_was.h"

namespace vts {

void SelectDevice(CSoundWorksWAS& engine, std::u16string& name, bool input) {
  const auto devices = input ? engine.GetInputDevices() : engine.GetOutputDevices();
  for (const auto& d : devices)
    if (d.id == name) return;
  name = engine.GetDefaultDevice(input ? DataFlow::Capture : DataFlow::Render).id;
}

}  // namespace vts
