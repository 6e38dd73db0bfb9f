// UTF-8 <-> UTF-16 conversion for file names, logs, settings, archive names and UI texts.
// Each caller names what invalid input does: refuse the whole text, or replace each
// maximal invalid part with U+FFFD (as Unicode recommends). A lone surrogate is invalid.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vts::plat {

enum class InvalidUtf {
  kRefuse,   // no result at all
  kReplace,  // U+FFFD in place of each invalid part
};

constexpr std::size_t kNoUnitLimit = static_cast<std::size_t>(-1);

// maxUnits bounds the result in code units (bytes for UTF-8); the conversion stops before a
// character that would pass it, never splitting one.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text, InvalidUtf invalid,
                                       std::size_t maxUnits = kNoUnitLimit);
std::optional<std::u16string> Utf8ToUtf16(std::string_view text, InvalidUtf invalid,
                                          std::size_t maxUnits = kNoUnitLimit);

// Replacing conversions without a limit: they always have an answer.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace vts::plat
