// Fuzzes the ZIP reader: opening, entry information and verified data of every entry.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "package/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = memfd_create("zip", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  vts::ZipInputSource src;
  src.fd = fd;
  src.ownsFd = true;
  vts::ZipHandle* h = vts::OpenZipReader(src);
  if (!h) return 0;
  vts::ZipEntryInfo count;
  if (vts::GetZipEntryInfo(h, -1, count) == vts::ZR_OK) {
    for (int i = 0; i < count.index && i < 64; ++i) {
      vts::ZipEntryInfo info;
      if (vts::GetZipEntryInfo(h, i, info) != vts::ZR_OK) break;
      std::uint64_t got = 0;
      const vts::ZipResult rc = vts::ReadZipEntryData(h, i, [&](std::span<const std::uint8_t> p) {
        got += p.size();
        return true;
      });
      // Never more than declared, and exactly that when verified.
      if (got > info.uncompressedSize) __builtin_trap();
      if (rc == vts::ZR_OK && got != info.uncompressedSize) __builtin_trap();
      if (info.name.size() > vts::kZipMaxInfoNameUnits) __builtin_trap();
    }
    // Walking backwards restarts from the first entry.
    vts::ZipEntryInfo first;
    vts::GetZipEntryInfo(h, 0, first);
  }
  vts::CloseZipReader(h);
  return 0;
}
