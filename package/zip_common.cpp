// Shared ZIP helpers: times, text conversion, file I/O, entry-name safety, handle closing.
#include <unistd.h>

#include <cerrno>

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

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return std::nullopt;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s, std::size_t maxUnits) {
  static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  std::u16string out;
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    std::size_t need = b < 0x80           ? 0
                       : (b >> 5) == 0x06 ? 1
                       : (b >> 4) == 0x0E ? 2
                       : (b >> 3) == 0x1E ? 3
                                          : 9;
    if (need == 0) {
      c = b;
    } else if (need <= 3 && i + need < s.size() + 1 && s.size() - i > need) {
      char32_t v = b & (0x3F >> need);
      bool ok = true;
      for (std::size_t k = 1; k <= need; ++k) {
        const unsigned char cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        v = (v << 6) | (cb & 0x3F);
      }
      if (ok && v >= kMin[need] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        c = v;
        len = need + 1;
      }
    }
    const std::size_t units = c >= 0x10000 ? 2 : 1;
    if (out.size() + units > maxUnits) break;
    if (units == 2) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

bool WriteAll(int fd, const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

long long ReadAt(int fd, void* data, std::size_t n, std::uint64_t offset) {
  auto* p = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return static_cast<long long>(done);
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
