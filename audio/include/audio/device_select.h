// The device-name check behind CSoundTrack::SelectDevice: keeps a name that is the id of a
// listed endpoint, replaces any other by the default communications endpoint's id.
#pragma once

#include <string>

namespace vts {

class CSoundWorksWAS;

// `name` is read and possibly replaced; `input` false for output (render), true for input.
void SelectDevice(CSoundWorksWAS& engine, std::u16string& name, bool input);

}  // namespace vts
