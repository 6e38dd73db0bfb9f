// ZIP archive writer: local headers rewritten in place after the data, raw deflate at level 8,
// central directory at close.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "package/zip.h"
#include "platform/files.h"
#include "zip_internal.h"

namespace vts {

using namespace zipdetail;

namespace {

constexpr std::uint16_t kVersionMadeBy = 0x0B17;
constexpr std::uint16_t kVersionNeeded = 20;
constexpr std::size_t kMaxNameBytes = 518;
constexpr std::size_t kMaxEntries = 0xFFFF;
constexpr std::uint64_t kMaxZipOffset = 0xFFFFFFFFull;  // no ZIP64: sizes and offsets are u32
constexpr std::size_t kLocalExtraLen = 17;
constexpr std::size_t kCentralExtraLen = 9;
constexpr std::size_t kCopyBufferSize = 16384;
constexpr std::size_t kDeflateInputStep = 65536;
constexpr std::uint32_t kAttrMemory = 0x80000000u;
constexpr std::uint32_t kAttrFolder = 0x41C00010u;

thread_local ZipResult t_lastError = ZR_OK;

struct EntryRecord {
  std::uint16_t flags = 8;
  std::uint16_t method = 8;
  DosStamp dos;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint32_t externalAttributes = 0;
  std::uint32_t localHeaderOffset = 0;
  std::array<std::uint8_t, kLocalExtraLen> localExtra{};
  std::array<std::uint8_t, kCentralExtraLen> centralExtra{};
  std::string name;
};

// Stores (no deflate) names whose extension says they are compressed already.
bool IsStoredExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const char* const kStored[] = {".z",   ".zip", ".zoo", ".arc",
                                        ".lzh", ".arj", ".gz",  ".tgz"};
  for (const char* s : kStored) {
    if (ext == s) return true;
  }
  return false;
}

std::tm LocalFields(std::time_t t) {
  std::tm fields{};
  localtime_r(&t, &fields);
  return fields;
}

}  // namespace

class ZipArchiveWriter {
 public:
  int fd = -1;
  bool canSeek = true;
  std::uint64_t baseOffset = 0;
  std::uint64_t written = 0;
  ZipResult failure = ZR_OK;
  bool ended = false;
  std::vector<EntryRecord> entries;
  std::array<std::uint8_t, kCopyBufferSize> buffer{};

  // The current entry's source.
  struct Source {
    int fd = -1;
    bool ownsFd = false;
    const std::uint8_t* memory = nullptr;
    std::uint64_t memoryLength = 0;
    std::uint64_t memoryPos = 0;
    std::uint64_t bytesRead = 0;
    std::uint32_t crc = 0;
    bool readFailed = false;
  } src;

  ~ZipArchiveWriter() { plat::UniqueFd{fd}.reset(); }

  // The one output routine; a failed write makes the writer fail for good.
  bool WriteBytes(const void* data, std::size_t n) {
    if (n == 0) return true;
    if (!WriteAll(fd, data, n)) {
      failure = ZR_WRITE;
      return false;
    }
    written += n;
    return true;
  }

  // Reads up to n bytes of the current source, keeping the CRC and the count; 0 at the end.
  std::size_t ReadSource(std::uint8_t* out, std::size_t n) {
    std::size_t got = 0;
    if (src.memory) {
      const std::uint64_t left = src.memoryLength - src.memoryPos;
      got = static_cast<std::size_t>(std::min<std::uint64_t>(n, left));
      std::memcpy(out, src.memory + src.memoryPos, got);
      src.memoryPos += got;
    } else if (src.fd >= 0) {
      while (got < n) {
        const long long r = plat::ReadSome(src.fd, out + got, n - got);
        if (r < 0) {
          src.readFailed = true;
          break;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
      }
    }
    if (got > 0) {
      src.crc = static_cast<std::uint32_t>(crc32_z(src.crc, out, got));
      src.bytesRead += got;
    }
    return got;
  }

  void EndSource() {
    if (src.ownsFd) plat::UniqueFd{src.fd}.reset();  // closes it
    src = Source{};
  }

  void FillLocalHeader(const EntryRecord& e, std::vector<std::uint8_t>& out) const {
    out.assign(30 + e.name.size() + kLocalExtraLen, 0);
    std::uint8_t* p = out.data();
    Put32(p, 0x04034B50);
    Put16(p + 4, kVersionNeeded);
    Put16(p + 6, e.flags);
    Put16(p + 8, e.method);
    Put16(p + 10, e.dos.time);
    Put16(p + 12, e.dos.date);
    Put32(p + 14, e.crc);
    Put32(p + 18, e.compressedSize);
    Put32(p + 22, e.uncompressedSize);
    Put16(p + 26, static_cast<std::uint32_t>(e.name.size()));
    Put16(p + 28, kLocalExtraLen);
    std::memcpy(p + 30, e.name.data(), e.name.size());
    std::memcpy(p + 30 + e.name.size(), e.localExtra.data(), kLocalExtraLen);
  }

  // Raw deflate (level 8) of the whole source; false on a compressor or write failure.
  bool DeflateSource() {
    z_stream zs{};
    if (deflateInit2(&zs, 8, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    std::vector<std::uint8_t> in(kDeflateInputStep);
    bool ok = true;
    int flush = Z_NO_FLUSH;
    do {
      const std::size_t got = ReadSource(in.data(), in.size());
      if (src.readFailed || src.bytesRead > kMaxZipOffset - 1) {
        ok = false;
        break;
      }
      flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
      zs.next_in = in.data();
      zs.avail_in = static_cast<uInt>(got);
      do {
        zs.next_out = buffer.data();
        zs.avail_out = static_cast<uInt>(buffer.size());
        const int rc = deflate(&zs, flush);
        if (rc == Z_STREAM_ERROR) {
          ok = false;
          break;
        }
        const std::size_t produced = buffer.size() - zs.avail_out;
        if (!WriteBytes(buffer.data(), produced)) {
          ok = false;
          break;
        }
      } while (zs.avail_out == 0);
    } while (ok && flush != Z_FINISH);
    deflateEnd(&zs);
    return ok;
  }

  bool StoreSource() {
    for (;;) {
      const std::size_t got = ReadSource(buffer.data(), buffer.size());
      if (src.readFailed || src.bytesRead > kMaxZipOffset - 1) return false;
      if (got == 0) return true;
      if (!WriteBytes(buffer.data(), got)) return false;
    }
  }

  bool WriteCentralDirectory() {
    const std::uint64_t start = written;
    std::uint64_t total = 0;
    bool ok = true;
    std::vector<std::uint8_t> rec;
    for (const EntryRecord& e : entries) {
      rec.assign(46 + e.name.size() + kCentralExtraLen, 0);
      std::uint8_t* p = rec.data();
      Put32(p, 0x02014B50);
      Put16(p + 4, kVersionMadeBy);
      Put16(p + 6, kVersionNeeded);
      Put16(p + 8, e.flags);
      Put16(p + 10, e.method);
      Put16(p + 12, e.dos.time);
      Put16(p + 14, e.dos.date);
      Put32(p + 16, e.crc);
      Put32(p + 20, e.compressedSize);
      Put32(p + 24, e.uncompressedSize);
      Put16(p + 28, static_cast<std::uint32_t>(e.name.size()));
      Put16(p + 30, kCentralExtraLen);
      Put32(p + 38, e.externalAttributes);
      Put32(p + 42, e.localHeaderOffset);
      std::memcpy(p + 46, e.name.data(), e.name.size());
      std::memcpy(p + 46 + e.name.size(), e.centralExtra.data(), kCentralExtraLen);
      total += rec.size();
      if (ok && !WriteBytes(rec.data(), rec.size())) ok = false;
    }
    if (!ok) return false;
    if (baseOffset + start > kMaxZipOffset || total > kMaxZipOffset) {
      failure = ZR_WRITE;
      return false;
    }
    std::uint8_t end[22] = {};
    Put32(end, 0x06054B50);
    Put16(end + 8, static_cast<std::uint32_t>(entries.size()));
    Put16(end + 10, static_cast<std::uint32_t>(entries.size()));
    Put32(end + 12, static_cast<std::uint32_t>(total));
    Put32(end + 16, static_cast<std::uint32_t>(baseOffset + start));
    return WriteBytes(end, sizeof end);
  }
};

ZipResult GetZipWriterLastError() { return t_lastError; }

ZipHandle* CreateZipWriter(const std::string& path) {
  const int fd =
      plat::OpenFile(path, plat::kOpenWrite | plat::kOpenCreate | plat::kOpenTruncate, 0644)
          .release();
  if (fd < 0) {
    t_lastError = ZR_NOFILE;
    return nullptr;
  }
  auto* w = new ZipArchiveWriter;
  w->fd = fd;
  plat::FileStatus st;
  w->canSeek = plat::StatFd(fd, &st) && st.kind == plat::FileKind::kRegular;
  auto* h = new ZipHandle{ZipHandleKind::Writer, nullptr, w};
  t_lastError = ZR_OK;
  return h;
}

static ZipResult AddEntry(ZipArchiveWriter* w, std::string name, const ZipSource& source) {
  if (!w) return ZR_ARGS;
  if (w->failure != ZR_OK) return ZR_FAILED;
  if (w->ended) return ZR_ENDED;
  if (name.empty() || name.size() > kMaxNameBytes) return ZR_ARGS;
  if (w->entries.size() >= kMaxEntries) return ZR_ARGS;

  std::replace(name.begin(), name.end(), '\\', '/');
  EntryRecord e;
  const bool folder = source.kind == ZipSourceKind::Folder;
  if (folder) {
    if (name.back() != '/') name += '/';
    if (name.size() > kMaxNameBytes) return ZR_ARGS;
    e.method = 0;
  } else {
    e.method = IsStoredExtension(name) ? 0 : 8;
  }
  e.name = std::move(name);

  // Source set-up: attributes, size and times.
  ZipArchiveWriter::Source& src = w->src;
  src = ZipArchiveWriter::Source{};
  std::uint64_t size = kZipUnknownLength;
  std::time_t now = std::time(nullptr);
  std::tm modified = LocalFields(now), accessed = modified, changed = modified;
  switch (source.kind) {
    case ZipSourceKind::FileName:
    case ZipSourceKind::Handle: {
      int fd = source.fd;
      if (source.kind == ZipSourceKind::FileName) {
        fd = plat::OpenFile(source.path, plat::kOpenRead).release();
        if (fd < 0) return ZR_NOFILE;
        src.ownsFd = true;
      } else if (!plat::IsOpenDescriptor(fd)) {
        return ZR_ARGS;
      }
      src.fd = fd;
      plat::FileStatus st;
      if (!plat::StatFd(fd, &st)) {
        w->EndSource();
        return ZR_NOFILE;
      }
      if (st.kind == plat::FileKind::kRegular || st.kind == plat::FileKind::kFolder) {
        const bool readOnly = (st.mode & 0200) == 0;  // the owner may not write
        const bool dir = st.kind == plat::FileKind::kFolder;
        std::uint32_t mode = dir ? 040400 : 0100400;
        if (!readOnly) mode |= 0200;
        std::uint32_t dos = (readOnly ? 0x01 : 0) | (dir ? 0x10 : 0);
        e.externalAttributes = (mode << 16) | dos;
        size = st.size;
        modified = LocalFields(static_cast<std::time_t>(st.modificationTime));
        accessed = LocalFields(static_cast<std::time_t>(st.accessTime));
        changed = LocalFields(static_cast<std::time_t>(st.changeTime));
        if (size >= kMaxZipOffset) {  // does not fit the 32-bit sizes of the container
          w->EndSource();
          return ZR_ARGS;
        }
        if (!plat::SeekTo(fd, 0)) {
          w->EndSource();
          return ZR_NOFILE;
        }
      } else {
        e.externalAttributes = kAttrMemory;
        size = source.length;
      }
      break;
    }
    case ZipSourceKind::Memory:
      if (!source.data || source.length == 0) return ZR_ARGS;
      if (source.length >= kMaxZipOffset) return ZR_ARGS;
      src.memory = static_cast<const std::uint8_t*>(source.data);
      src.memoryLength = source.length;
      e.externalAttributes = kAttrMemory;
      size = source.length;
      break;
    case ZipSourceKind::Folder:
      e.externalAttributes = kAttrFolder;
      size = 0;
      break;
    default:
      return ZR_ARGS;
  }

  e.dos = DosStampFromLocal(modified);
  const std::uint32_t mtime = WriterUnixTime(modified);
  const std::uint32_t atime = WriterUnixTime(accessed);
  const std::uint32_t ctime = WriterUnixTime(changed);
  std::uint8_t* lx = e.localExtra.data();
  lx[0] = 'U', lx[1] = 'T';
  Put16(lx + 2, 13);
  lx[4] = 7;
  Put32(lx + 5, mtime);
  Put32(lx + 9, atime);
  Put32(lx + 13, ctime);
  std::uint8_t* cx = e.centralExtra.data();
  cx[0] = 'U', cx[1] = 'T';
  Put16(cx + 2, 5);
  cx[4] = 7;
  Put32(cx + 5, mtime);

  const bool sizeKnown = size != kZipUnknownLength && size < kMaxZipOffset;
  e.flags = static_cast<std::uint16_t>(8 | (e.method == 8 ? 2 : 0) |
                                       (NeedsUtf8Flag(e.name) ? kFlagUtf8Name : 0));
  e.crc = 0;
  e.compressedSize = (e.method == 0 && sizeKnown) ? static_cast<std::uint32_t>(size) : 0;
  e.uncompressedSize = sizeKnown ? static_cast<std::uint32_t>(size) : 0;
  const std::uint32_t initialCompressed = e.compressedSize;
  const std::uint32_t initialUncompressed = e.uncompressedSize;
  if (w->baseOffset + w->written > kMaxZipOffset) {
    w->EndSource();
    w->failure = ZR_WRITE;
    return ZR_WRITE;
  }
  e.localHeaderOffset = static_cast<std::uint32_t>(w->baseOffset + w->written);

  std::vector<std::uint8_t> header;
  w->FillLocalHeader(e, header);
  if (!w->WriteBytes(header.data(), header.size())) {
    w->EndSource();
    return w->failure;
  }

  const std::uint64_t dataStart = w->written;
  bool dataOk = true;
  if (!folder) dataOk = e.method == 8 ? w->DeflateSource() : w->StoreSource();
  const bool readFailed = w->src.readFailed;
  const std::uint64_t bytesRead = w->src.bytesRead;
  const std::uint32_t crc = w->src.crc;
  w->EndSource();
  const std::uint64_t dataBytes = w->written - dataStart;

  if (w->failure != ZR_OK) return w->failure;
  if (!dataOk) {
    // The entry's data is incomplete in the file: no later entry may follow it.
    w->failure = readFailed ? ZR_READ : ZR_WRITE;
    return w->failure;
  }
  if (dataBytes >= kMaxZipOffset || w->baseOffset + w->written > kMaxZipOffset) {
    w->failure = ZR_WRITE;
    return ZR_WRITE;
  }

  e.crc = crc;
  e.compressedSize = static_cast<std::uint32_t>(dataBytes);
  e.uncompressedSize = static_cast<std::uint32_t>(bytesRead);

  if (w->canSeek) {
    if ((e.flags & 1) == 0) e.flags &= static_cast<std::uint16_t>(~8u);
    w->FillLocalHeader(e, header);
    if (!plat::SeekTo(w->fd, e.localHeaderOffset)) {
      w->failure = ZR_SEEK;
      return ZR_SEEK;
    }
    if (!WriteAll(w->fd, header.data(), header.size())) {
      w->failure = ZR_WRITE;
      return ZR_WRITE;
    }
    if (!plat::SeekTo(w->fd, w->baseOffset + w->written)) {
      w->failure = ZR_SEEK;
      return ZR_SEEK;
    }
  } else {
    if (e.method == 0 &&
        (initialCompressed != e.compressedSize || initialUncompressed != e.uncompressedSize)) {
      w->failure = ZR_NOT_SEEKABLE;
      return ZR_NOT_SEEKABLE;
    }
    std::uint8_t dd[16];
    Put32(dd, 0x08074B50);
    Put32(dd + 4, e.crc);
    Put32(dd + 8, e.compressedSize);
    Put32(dd + 12, e.uncompressedSize);
    if (!w->WriteBytes(dd, sizeof dd)) return w->failure;
  }
  w->entries.push_back(std::move(e));
  return ZR_OK;
}

ZipResult AddZipEntryInternal(ZipArchiveWriter* writer, const std::string& name,
                              const ZipSource& source) {
  const ZipResult rc = AddEntry(writer, name, source);
  t_lastError = rc;
  return rc;
}

ZipResult AddZipEntry(ZipHandle* handle, const std::u16string& name, const ZipSource& source) {
  ZipResult rc;
  if (!handle) {
    rc = ZR_ARGS;
  } else if (handle->kind != ZipHandleKind::Writer) {
    rc = ZR_WRONG_KIND;
  } else if (!handle->writer) {
    rc = ZR_NOT_SET_UP;
  } else {
    auto utf8 = plat::Utf16ToUtf8(name, plat::InvalidUtf::kRefuse);
    rc =
        (!utf8 || utf8->size() > kMaxNameBytes) ? ZR_ARGS : AddEntry(handle->writer, *utf8, source);
  }
  t_lastError = rc;
  return rc;
}

ZipResult CloseZipWriter(ZipHandle* handle) {
  ZipResult rc = ZR_OK;
  if (!handle) {
    rc = ZR_ARGS;
  } else if (handle->kind != ZipHandleKind::Writer) {
    rc = ZR_WRONG_KIND;
  } else {
    ZipArchiveWriter* w = handle->writer;
    if (!w) {
      rc = ZR_NOT_SET_UP;
    } else {
      if (!w->ended) {
        if (!w->WriteCentralDirectory()) rc = ZR_WRITE;
        w->ended = true;
      }
      if (!plat::UniqueFd{w->fd}.Close() && rc == ZR_OK) rc = ZR_WRITE;
      w->fd = -1;
      // An entry that failed half-way leaves the archive unusable: say so at close too.
      if (rc == ZR_OK && w->failure != ZR_OK) rc = w->failure;
      delete w;
    }
    delete handle;
  }
  t_lastError = rc;
  return rc;
}

}  // namespace vts
