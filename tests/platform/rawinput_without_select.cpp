// A raw-input library that lacks SelectRawInputDevices.
#include <cstdint>

extern "C" int UnsubscribeRawInputDevices(std::uint32_t) { return 1; }
extern "C" int DeinitializeRawInput() { return 1; }
