// Helpers shared by the ZIP writer and reader: little-endian fields, times, whole-buffer
// file I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fd.h"
#include "platform/utf.h"

namespace vts::zipdetail {

inline void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}
inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(Get16(p)) | (static_cast<std::uint32_t>(Get16(p + 2)) << 16);
}

struct DosStamp {
  std::uint16_t time = 0;
  std::uint16_t date = 0;
};

// DOS date and time of local calendar fields (clamped to 1980..2107).
DosStamp DosStampFromLocal(const std::tm& local);
// The writer's Unix time of local calendar fields: mktime with daylight saving off, years
// before 1970 moved to 1 January 1970 and from 2038 on to 31 December 2037 (time of day kept).
std::uint32_t WriterUnixTime(std::tm local);
// The DOS stamp read as UTC calendar fields (no time-zone conversion), as seconds since 1970.
std::int64_t DosStampToUnix(std::uint16_t dosTime, std::uint16_t dosDate);

// General-purpose flag bit 11: the entry's name (and comment) is UTF-8.
inline constexpr std::uint16_t kFlagUtf8Name = 0x800;

// Whether a name written as given must carry kFlagUtf8Name: it is UTF-8 and not plain ASCII.
// Bytes that are no UTF-8 are written without it, so that no tool is told a wrong encoding.
bool NeedsUtf8Flag(std::string_view name);

// Whole-buffer file I/O.
using plat::ReadAt;
using plat::WriteAll;

}  // namespace vts::zipdetail
