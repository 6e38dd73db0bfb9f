// UTF-8 <-> UTF-16 conversion for file names, logs and UI texts. Invalid input becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace vts::plat {

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace vts::plat
