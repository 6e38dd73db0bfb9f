// ZIP archive reader: end record located from the end, central records walked forward, local
// headers checked against them, stored and raw-deflated data verified by size and CRC-32.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "package/zip.h"
#include "platform/files.h"
#include "zip_internal.h"

namespace vts {

using namespace zipdetail;

namespace {

constexpr std::size_t kEndRecordLen = 22;
constexpr std::size_t kEndSearchSpan = 65535 + kEndRecordLen;  // the longest comment fits
constexpr std::size_t kCentralLen = 46;
constexpr std::size_t kLocalLen = 30;
constexpr std::size_t kReadBufferSize = 16384;

thread_local ZipResult t_lastError = ZR_OK;

ZipResult SetLast(ZipResult rc) {
  t_lastError = rc;
  return rc;
}

struct CentralRecord {
  std::uint16_t versionMadeBy = 0;
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t dosTime = 0;
  std::uint16_t dosDate = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint16_t nameLen = 0;
  std::uint16_t extraLen = 0;
  std::uint16_t commentLen = 0;
  std::uint32_t externalAttributes = 0;
  std::uint32_t localHeaderOffset = 0;
  std::string name;  // the whole raw name
};

// Creates each folder of `rel` (relative, "/" or "\" separated) below `base`, outermost first.
bool MakeFolderChain(const std::string& base, const std::string& rel) {
  std::string path = base;
  std::size_t start = 0;
  while (start < rel.size()) {
    std::size_t end = rel.find_first_of("/\\", start);
    if (end == std::string::npos) end = rel.size();
    const std::string part = rel.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    path += '/';
    path += part;
    if (!plat::CreateFolder(path)) return false;
  }
  return true;
}

}  // namespace

class ZipArchiveReader {
 public:
  int fd = -1;
  bool ownsFd = true;
  std::uint64_t start = 0;  // where the source begins in the file
  std::uint64_t size = 0;   // bytes of the source from `start`
  std::string baseFolder;
  std::uint32_t entryCount = 0;
  std::uint64_t centralStart = 0;  // absolute positions within the source
  std::uint64_t centralEnd = 0;
  std::uint64_t bytesBefore = 0;
  int currentIndex = 0;
  std::uint64_t currentPos = 0;
  CentralRecord current;
  int cachedIndex = -2;
  ZipEntryInfo cached;

  ~ZipArchiveReader() {
    if (ownsFd) plat::UniqueFd{fd}.reset();  // closes it
  }

  bool Read(std::uint64_t pos, void* out, std::size_t n) const {
    if (pos > size || n > size - pos) return false;
    return ReadAt(fd, out, n, start + pos) == static_cast<long long>(n);
  }

  // Reads the central record at `pos`; it must lie wholly inside the central directory.
  bool ReadCentral(std::uint64_t pos, CentralRecord& r) const {
    std::uint8_t b[kCentralLen];
    if (pos < centralStart || pos + kCentralLen > centralEnd) return false;
    if (!Read(pos, b, sizeof b) || Get32(b) != 0x02014B50) return false;
    r.versionMadeBy = Get16(b + 4);
    r.versionNeeded = Get16(b + 6);
    r.flags = Get16(b + 8);
    r.method = Get16(b + 10);
    r.dosTime = Get16(b + 12);
    r.dosDate = Get16(b + 14);
    r.crc = Get32(b + 16);
    r.compressedSize = Get32(b + 20);
    r.uncompressedSize = Get32(b + 24);
    r.nameLen = Get16(b + 28);
    r.extraLen = Get16(b + 30);
    r.commentLen = Get16(b + 32);
    r.externalAttributes = Get32(b + 38);
    r.localHeaderOffset = Get32(b + 42);
    const std::uint64_t total = kCentralLen + std::uint64_t{r.nameLen} + r.extraLen + r.commentLen;
    if (pos + total > centralEnd) return false;
    r.name.assign(r.nameLen, '\0');
    return r.nameLen == 0 || Read(pos + kCentralLen, r.name.data(), r.nameLen);
  }

  bool GoTo(int index) {
    if (index < currentIndex) {
      if (!ReadCentral(centralStart, current)) return false;
      currentIndex = 0;
      currentPos = centralStart;
    }
    while (currentIndex < index) {
      const std::uint64_t next =
          currentPos + kCentralLen + current.nameLen + current.extraLen + current.commentLen;
      CentralRecord r;
      if (!ReadCentral(next, r)) return false;
      current = std::move(r);
      currentPos = next;
      ++currentIndex;
    }
    return true;
  }

  // Checks the current entry's local header; on success gives the data's position and the
  // local extra field.
  ZipResult CheckLocal(std::uint64_t& dataPos, std::vector<std::uint8_t>* extra) const {
    const CentralRecord& c = current;
    const std::uint64_t pos = bytesBefore + c.localHeaderOffset;
    std::uint8_t b[kLocalLen];
    if (!Read(pos, b, sizeof b)) return ZR_CORRUPT;
    if (Get32(b) != 0x04034B50) return ZR_CORRUPT;
    const std::uint16_t flags = Get16(b + 6);
    const std::uint16_t method = Get16(b + 8);
    if (method != c.method || (method != 0 && method != 8)) return ZR_CORRUPT;
    if ((flags & 8) == 0 && (Get32(b + 14) != c.crc || Get32(b + 18) != c.compressedSize ||
                             Get32(b + 22) != c.uncompressedSize)) {
      return ZR_CORRUPT;
    }
    if (Get16(b + 26) != c.nameLen) return ZR_CORRUPT;
    const std::uint16_t extraLen = Get16(b + 28);
    const std::uint64_t extraPos = pos + kLocalLen + c.nameLen;
    if (extra) {
      extra->assign(extraLen, 0);
      if (extraLen > 0 && !Read(extraPos, extra->data(), extraLen)) return ZR_READ;
    }
    dataPos = extraPos + extraLen;
    if (dataPos > size || c.compressedSize > size - dataPos) return ZR_CORRUPT;
    return ZR_OK;
  }

  ZipResult Info(int index, ZipEntryInfo& info) {
    if (index < -1 || index >= static_cast<long long>(entryCount)) return ZR_ARGS;
    if (index == cachedIndex && index != -1) {
      info = cached;
      return ZR_OK;
    }
    if (index == -1) {
      info = ZipEntryInfo{};
      info.index = static_cast<int>(entryCount);
      return ZR_OK;
    }
    if (!GoTo(index)) return ZR_CORRUPT;
    std::uint64_t dataPos = 0;
    std::vector<std::uint8_t> extra;
    if (ZipResult rc = CheckLocal(dataPos, &extra); rc != ZR_OK) return rc;

    const CentralRecord& c = current;
    ZipEntryInfo out;
    out.index = index;
    const std::uint32_t x = c.externalAttributes;
    std::uint32_t a = kFileAttrNormal;
    if ((x & 0x40000000u) || (x & 0x10)) a |= kFileAttrDirectory;
    if (x & 0x20) a |= kFileAttrArchive;
    if (x & 0x02) a |= kFileAttrHidden;
    if ((x & 0x00800000u) == 0 || (x & 0x01)) a |= kFileAttrReadOnly;
    if (x & 0x04) a |= kFileAttrSystem;
    out.attributes = a;

    const std::int64_t dos = DosStampToUnix(c.dosTime, c.dosDate);
    out.accessTime = out.creationTime = out.modificationTime = dos;
    // Extended timestamp: every sub-field and every time must lie inside the extra data.
    std::size_t p = 0;
    while (p + 4 <= extra.size()) {
      const std::uint16_t id = Get16(extra.data() + p);
      const std::size_t len = Get16(extra.data() + p + 2);
      const std::size_t body = p + 4;
      if (len > extra.size() - body) break;
      if (id == 0x5455 && len >= 1) {
        const std::uint8_t flags = extra[body];
        std::size_t q = body + 1;
        const std::size_t endOfField = body + len;
        std::int64_t* targets[3] = {&out.modificationTime, &out.accessTime, &out.creationTime};
        for (int bit = 0; bit < 3; ++bit) {
          if ((flags & (1u << bit)) == 0) continue;
          if (q + 4 > endOfField) break;
          *targets[bit] = static_cast<std::int64_t>(Get32(extra.data() + q));
          q += 4;
        }
        break;
      }
      p = body + len;
    }
    out.compressedSize = c.compressedSize;
    out.uncompressedSize = c.uncompressedSize;
    // With the UTF-8 flag the name is UTF-8. Without it, it is in the writer's 8-bit
    // encoding: UTF-8 as well for our own earlier packages (which set no flag) and for Unix
    // tools; a DOS code page cannot be told from the bytes and is not guessed. Bytes that are
    // no UTF-8 become replacement characters, flag or not.
    out.name = *plat::Utf8ToUtf16(c.name, plat::InvalidUtf::kReplace, kZipMaxInfoNameUnits);
    cached = out;
    cachedIndex = index;
    info = out;
    return ZR_OK;
  }

  // Streams the current entry's data, bounded by and checked against the declared sizes.
  ZipResult Stream(const ZipSink& sink) {
    const CentralRecord& c = current;
    if (c.flags & 1) return ZR_CORRUPT;  // encrypted: nothing we can read
    std::uint64_t pos = 0;
    if (ZipResult rc = CheckLocal(pos, nullptr); rc != ZR_OK) return rc;
    std::vector<std::uint8_t> in(kReadBufferSize);
    std::uint32_t crc = 0;
    std::uint64_t produced = 0;
    std::uint64_t compressedLeft = c.compressedSize;

    if (c.method == 0) {
      if (c.compressedSize != c.uncompressedSize) return ZR_CORRUPT;
      while (compressedLeft > 0) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), compressedLeft));
        if (!Read(pos, in.data(), n)) return ZR_WRITE;
        pos += n;
        compressedLeft -= n;
        crc = static_cast<std::uint32_t>(crc32_z(crc, in.data(), n));
        produced += n;
        if (!sink(std::span<const std::uint8_t>(in.data(), n))) return ZR_WRITE;
      }
    } else {
      z_stream zs{};
      if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return ZR_WRITE;
      std::vector<std::uint8_t> out(kReadBufferSize);
      ZipResult rc = ZR_OK;
      bool ended = false;
      while (!ended) {
        if (zs.avail_in == 0 && compressedLeft > 0) {
          const std::size_t n =
              static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), compressedLeft));
          if (!Read(pos, in.data(), n)) {
            rc = ZR_WRITE;
            break;
          }
          pos += n;
          compressedLeft -= n;
          zs.next_in = in.data();
          zs.avail_in = static_cast<uInt>(n);
        }
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        const int z = inflate(&zs, Z_NO_FLUSH);
        const std::size_t got = out.size() - zs.avail_out;
        if (z == Z_STREAM_END) {
          ended = true;
        } else if (z == Z_BUF_ERROR ||
                   (z == Z_OK && got == 0 && zs.avail_in == 0 && compressedLeft == 0)) {
          rc = ZR_CORRUPT;  // the compressed data ends before the deflate stream does
          break;
        } else if (z != Z_OK) {
          rc = ZR_WRITE;  // inflate error: damaged data
          break;
        }
        if (got > 0) {
          if (got > c.uncompressedSize - produced) {
            rc = ZR_CORRUPT;  // more than declared: refuse instead of inflating on
            break;
          }
          crc = static_cast<std::uint32_t>(crc32_z(crc, out.data(), got));
          produced += got;
          if (!sink(std::span<const std::uint8_t>(out.data(), got))) {
            rc = ZR_WRITE;
            break;
          }
        }
      }
      inflateEnd(&zs);
      if (rc != ZR_OK) return rc;
    }
    if (produced != c.uncompressedSize || crc != c.crc) return ZR_CORRUPT;
    return ZR_OK;
  }
};

ZipResult GetZipReaderLastError() { return t_lastError; }

ZipHandle* OpenZipReader(const ZipInputSource& source, ZipResult* error) {
  auto fail = [&](ZipResult rc, ZipArchiveReader* r) -> ZipHandle* {
    if (r) {
      delete r;  // closes an owned descriptor
    } else if (source.ownsFd && source.fd >= 0) {
      plat::UniqueFd{source.fd}.reset();  // closes it
    }
    SetLast(rc);
    if (error) *error = rc;
    return nullptr;
  };
  if (source.fd < 0) return fail(ZR_ARGS, nullptr);
  plat::FileStatus st;
  if (!plat::StatFd(source.fd, &st) || st.kind != plat::FileKind::kRegular)
    return fail(ZR_NO_END_RECORD, nullptr);
  const std::uint64_t fileSize = st.size;
  if (source.startOffset > fileSize) return fail(ZR_NO_END_RECORD, nullptr);

  auto* r = new ZipArchiveReader;
  r->fd = source.fd;
  r->ownsFd = source.ownsFd;
  r->start = source.startOffset;
  r->size = fileSize - source.startOffset;
  r->baseFolder = plat::CurrentFolder();
  if (r->size < kEndRecordLen) return fail(ZR_NO_END_RECORD, r);

  // The end record, searched backwards from the end of the file.
  const std::size_t span =
      static_cast<std::size_t>(std::min<std::uint64_t>(r->size, kEndSearchSpan));
  std::vector<std::uint8_t> tail(span);
  const std::uint64_t tailPos = r->size - span;
  if (!r->Read(tailPos, tail.data(), span)) return fail(ZR_NO_END_RECORD, r);
  std::uint64_t endPos = 0;
  bool found = false;
  for (std::size_t i = span - kEndRecordLen + 1; i-- > 0;) {
    if (Get32(tail.data() + i) == 0x06054B50) {
      endPos = tailPos + i;
      found = true;
      break;
    }
  }
  if (!found || endPos == 0) return fail(ZR_NO_END_RECORD, r);
  const std::uint8_t* e = tail.data() + (endPos - tailPos);
  const std::uint16_t disk = Get16(e + 4), centralDisk = Get16(e + 6);
  const std::uint16_t onDisk = Get16(e + 8), total = Get16(e + 10);
  const std::uint64_t centralSize = Get32(e + 12), centralOffset = Get32(e + 16);
  if (disk != 0 || centralDisk != 0 || onDisk != total) return fail(ZR_NOT_ZIP, r);
  if (endPos < centralOffset + centralSize) return fail(ZR_NOT_ZIP, r);
  r->bytesBefore = endPos - (centralOffset + centralSize);
  r->entryCount = total;
  r->centralStart = r->bytesBefore + centralOffset;
  r->centralEnd = r->centralStart + centralSize;
  if (!r->ReadCentral(r->centralStart, r->current)) return fail(ZR_NOT_ZIP, r);
  r->currentIndex = 0;
  r->currentPos = r->centralStart;
  SetLast(ZR_OK);
  if (error) *error = ZR_OK;
  return new ZipHandle{ZipHandleKind::Reader, r, nullptr};
}

ZipHandle* OpenZipReaderFile(const std::string& path, ZipResult* error) {
  const int fd = plat::OpenFile(path, plat::kOpenRead).release();
  if (fd < 0) {
    SetLast(ZR_NOFILE);
    if (error) *error = ZR_NOFILE;
    return nullptr;
  }
  ZipInputSource src;
  src.fd = fd;
  src.ownsFd = true;
  const std::int64_t here = plat::FilePosition(fd);
  src.startOffset = here > 0 ? static_cast<std::uint64_t>(here) : 0;
  return OpenZipReader(src, error);
}

static ZipArchiveReader* ReaderOf(ZipHandle* h, ZipResult& rc) {
  if (!h) {
    rc = ZR_ARGS;
    return nullptr;
  }
  if (h->kind != ZipHandleKind::Reader) {
    rc = ZR_WRONG_KIND;
    return nullptr;
  }
  if (!h->reader) {
    rc = ZR_ARGS;
    return nullptr;
  }
  rc = ZR_OK;
  return h->reader;
}

ZipResult GetZipEntryInfo(ZipHandle* handle, int index, ZipEntryInfo& info) {
  ZipResult rc;
  ZipArchiveReader* r = ReaderOf(handle, rc);
  if (!r) return SetLast(rc);
  return SetLast(r->Info(index, info));
}

ZipResult ReadZipEntryData(ZipHandle* handle, int index, const ZipSink& sink) {
  ZipResult rc;
  ZipArchiveReader* r = ReaderOf(handle, rc);
  if (!r) return SetLast(rc);
  if (index < 0 || !sink) return SetLast(ZR_ARGS);
  ZipEntryInfo info;
  if ((rc = r->Info(index, info)) != ZR_OK) return SetLast(rc);
  if (!r->GoTo(index)) return SetLast(ZR_CORRUPT);
  return SetLast(r->Stream(sink));
}

ZipResult ExtractZipEntry(ZipHandle* handle, int index, const std::string& path) {
  ZipResult rc;
  ZipArchiveReader* r = ReaderOf(handle, rc);
  if (!r) return SetLast(rc);
  if (index < 0) return SetLast(ZR_ARGS);
  ZipEntryInfo info;
  if ((rc = r->Info(index, info)) != ZR_OK) return SetLast(rc);
  if (!r->GoTo(index)) return SetLast(ZR_CORRUPT);
  const std::string& rawName = r->current.name;
  if (!IsSafeZipEntryName(rawName)) return SetLast(ZR_UNSAFE_NAME);

  const bool isFolder =
      (info.attributes & kFileAttrDirectory) || rawName.back() == '/' || rawName.back() == '\\';
  if (isFolder) {
    return SetLast(MakeFolderChain(r->baseFolder, rawName) ? ZR_OK : ZR_NOFILE);
  }
  if (path.empty()) return SetLast(ZR_ARGS);

  const bool absolute = path[0] == '/' || path[0] == '\\' || (path.size() >= 2 && path[1] == ':');
  const std::string target = absolute ? path : r->baseFolder + "/" + path;
  const std::size_t slash = path.find_last_of("/\\");
  if (!absolute && slash != std::string::npos) {
    const std::string folder = path.substr(0, slash);
    if (IsSafeZipEntryName(folder)) MakeFolderChain(r->baseFolder, folder);
  }
  const unsigned mode = (info.attributes & kFileAttrReadOnly) ? 0444 : 0644;
  plat::UniqueFd out =
      plat::OpenFile(target, plat::kOpenWrite | plat::kOpenCreate | plat::kOpenTruncate, mode);
  if (!out) return SetLast(ZR_NOFILE);
  const int fd = out.get();
  rc = r->Stream([fd](std::span<const std::uint8_t> piece) {
    return WriteAll(fd, piece.data(), piece.size());
  });
  if (rc == ZR_OK) plat::SetFileTimes(fd, info.accessTime, info.modificationTime);
  if (!out.Close() && rc == ZR_OK) rc = ZR_WRITE;
  if (rc != ZR_OK) plat::RemoveFile(target);  // never leave damaged data behind
  return SetLast(rc);
}

ZipResult CloseZipReader(ZipHandle* handle) {
  ZipResult rc;
  ZipArchiveReader* r = ReaderOf(handle, rc);
  if (!r) return SetLast(rc);
  delete r;
  delete handle;
  return SetLast(ZR_OK);
}

}  // namespace vts
