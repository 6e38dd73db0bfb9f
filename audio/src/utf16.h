// UTF-8 <-> UTF-16 for endpoint ids and names (ids are the backends' UTF-8 names).
#pragma once

#include <string>

namespace vts::audio {

std::string ToUtf8(const std::u16string& text);
std::u16string ToUtf16(const std::string& text);

}  // namespace vts::audio
