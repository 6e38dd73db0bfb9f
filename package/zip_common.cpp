// Shared ZIP helpers: times, entry-name safety, handle closing.
#include <algorithm>

#include "package/zip.h"
#include "zip_internal.h"

namespace vts {
namespace zipdetail {

DosStamp DosStampFromLocal(const std::tm& local) {
  int year = local.tm_year + 1900;
  int mon = local.tm_mon + 1, day = local.tm_mday;
  int hour = local.tm_hour, min = local.tm_min, sec = local.tm_sec;
  if (year < 1980) {
    year = 1980, mon = 1, day = 1, hour = 0, min = 0, sec = 0;
  } else if (year > 2107) {
    year = 2107, mon = 12, day = 31, hour = 23, min = 59, sec = 58;
  }
  if (sec > 59) sec = 59;  // leap second
  DosStamp s;
  s.date = static_cast<std::uint16_t>(((year - 1980) << 9) | (mon << 5) | day);
  s.time = static_cast<std::uint16_t>((hour << 11) | (min << 5) | (sec / 2));
  return s;
}

std::uint32_t WriterUnixTime(std::tm local) {
  if (local.tm_year < 70) {
    local.tm_year = 70, local.tm_mon = 0, local.tm_mday = 1;
  } else if (local.tm_year >= 138) {
    local.tm_year = 137, local.tm_mon = 11, local.tm_mday = 31;
  }
  local.tm_isdst = 0;
  std::time_t t = std::mktime(&local);
  if (t < 0) return 0;
  return static_cast<std::uint32_t>(t);
}

bool NeedsUtf8Flag(std::string_view name) {
  const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
  return !ascii && plat::Utf8ToUtf16(name, plat::InvalidUtf::kRefuse).has_value();
}

std::int64_t DosStampToUnix(std::uint16_t dosTime, std::uint16_t dosDate) {
  std::tm fields{};
  fields.tm_year = ((dosDate >> 9) & 0x7F) + 80;
  fields.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
  fields.tm_mday = dosDate & 0x1F;
  fields.tm_hour = (dosTime >> 11) & 0x1F;
  fields.tm_min = (dosTime >> 5) & 0x3F;
  fields.tm_sec = (dosTime & 0x1F) * 2;
  if (fields.tm_mon < 0) fields.tm_mon = 0;
  if (fields.tm_mday == 0) fields.tm_mday = 1;
  return static_cast<std::int64_t>(timegm(&fields));
}

}  // namespace zipdetail

ZipSource ZipSource::FromHandle(int fd, std::uint64_t length) {
  ZipSource s;
  s.kind = ZipSourceKind::Handle;
  s.fd = fd;
  s.length = length;
  return s;
}
ZipSource ZipSource::FromFile(std::string path) {
  ZipSource s;
  s.kind = ZipSourceKind::FileName;
  s.path = std::move(path);
  return s;
}
ZipSource ZipSource::FromMemory(const void* data, std::uint64_t length) {
  ZipSource s;
  s.kind = ZipSourceKind::Memory;
  s.data = data;
  s.length = length;
  return s;
}
ZipSource ZipSource::Folder() {
  ZipSource s;
  s.kind = ZipSourceKind::Folder;
  return s;
}

bool IsSafeZipEntryName(std::string_view name) {
  if (name.empty()) return false;
  if (name.find('\0') != std::string_view::npos) return false;
  if (name[0] == '/' || name[0] == '\\') return false;
  if (name.size() >= 2 && name[1] == ':') return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

void ZipHandleCloser::operator()(ZipHandle* h) const {
  if (!h) return;
  if (h->kind == ZipHandleKind::Writer) {
    CloseZipWriter(h);
  } else {
    CloseZipReader(h);
  }
}

}  // namespace vts
