// The package file's ZIP container: one handle type, result codes and the entry record shared by
// the archive writer and reader.
//
// Threading: a handle belongs to one thread at a time; different handles may be used from
// different threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace vts {

// Result codes of the writer and the reader (0 = success).
using ZipResult = std::int32_t;
inline constexpr ZipResult ZR_OK = 0;
inline constexpr ZipResult ZR_NOFILE = 0x200;        // a file cannot be created or opened
inline constexpr ZipResult ZR_WRITE = 0x400;         // a write (or, extracting, a read) failed
inline constexpr ZipResult ZR_CORRUPT = 0x700;       // corrupt entry (header, CRC or size mismatch)
inline constexpr ZipResult ZR_READ = 0x800;          // read failure
inline constexpr ZipResult ZR_UNSAFE_NAME = 0x900;   // entry name would lead outside the folder
inline constexpr ZipResult ZR_ARGS = 0x10000;        // bad argument
inline constexpr ZipResult ZR_FAILED = 0x40000;      // the writer failed earlier
inline constexpr ZipResult ZR_ENDED = 0x50000;       // the writer has already been closed
inline constexpr ZipResult ZR_WRONG_KIND = 0x80000;  // reader handle given to the writer or back
inline constexpr ZipResult ZR_NOT_SET_UP = 0x1000000;
inline constexpr ZipResult ZR_SEEK = 0x2000000;  // the output could not be repositioned
inline constexpr ZipResult ZR_NOT_SEEKABLE = 0x4000000;
// Only on opening a reader:
inline constexpr ZipResult ZR_NO_END_RECORD = -1;  // read failure or no end record
inline constexpr ZipResult ZR_NOT_ZIP = -103;      // not a valid archive

class ZipArchiveReader;
class ZipArchiveWriter;

enum class ZipHandleKind : std::uint32_t { Reader = 1, Writer = 2 };

// What the writer's and reader's callers hold; made by CreateZipWriter / OpenZipReader and
// freed by CloseZipWriter / CloseZipReader.
struct ZipHandle {
  ZipHandleKind kind;
  ZipArchiveReader* reader = nullptr;
  ZipArchiveWriter* writer = nullptr;
};

// Windows file attribute bits, as the reader reports them.
inline constexpr std::uint32_t kFileAttrReadOnly = 0x01;
inline constexpr std::uint32_t kFileAttrHidden = 0x02;
inline constexpr std::uint32_t kFileAttrSystem = 0x04;
inline constexpr std::uint32_t kFileAttrDirectory = 0x10;
inline constexpr std::uint32_t kFileAttrArchive = 0x20;
inline constexpr std::uint32_t kFileAttrNormal = 0x80;

// Longest entry name handed out, in UTF-16 units (without the terminating NUL).
inline constexpr std::size_t kZipMaxInfoNameUnits = 259;

struct ZipEntryInfo {
  int index = 0;        // the entry's index; for index -1, the number of entries
  std::u16string name;  // at most kZipMaxInfoNameUnits units, never a split character
  std::uint32_t attributes = 0;
  // Seconds since 1970-01-01 00:00 UTC.
  std::int64_t accessTime = 0;
  std::int64_t creationTime = 0;
  std::int64_t modificationTime = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
};

// ---- Writer ----

enum class ZipSourceKind : std::uint32_t { Handle = 1, FileName = 2, Memory = 3, Folder = 4 };

inline constexpr std::uint64_t kZipUnknownLength = ~std::uint64_t{0};

// The input of one entry.
struct ZipSource {
  ZipSourceKind kind = ZipSourceKind::Memory;
  int fd = -1;                 // Handle: an open descriptor, stays the caller's
  std::string path;            // FileName: UTF-8 path, opened and closed by the writer
  const void* data = nullptr;  // Memory
  std::uint64_t length = 0;    // Memory: bytes; Handle: size when it cannot be measured

  static ZipSource FromHandle(int fd, std::uint64_t length = kZipUnknownLength);
  static ZipSource FromFile(std::string path);
  static ZipSource FromMemory(const void* data, std::uint64_t length);
  static ZipSource Folder();
};

// Creates the archive file anew (no sharing). Null when it cannot be created (last error 0x200).
ZipHandle* CreateZipWriter(const std::string& path);
// The writer's last result code (per thread).
ZipResult GetZipWriterLastError();

// Adds one entry: the UTF-16 name is converted to UTF-8 (at most 518 bytes, else ZR_ARGS). A
// name that is UTF-8 and not plain ASCII carries the UTF-8 flag (general-purpose bit 11).
ZipResult AddZipEntry(ZipHandle* handle, const std::u16string& name, const ZipSource& source);
// The same for a name that is already UTF-8.
ZipResult AddZipEntryInternal(ZipArchiveWriter* writer, const std::string& name,
                              const ZipSource& source);

// Writes the central directory, closes the file and frees the writer and the handle (also on
// failure). The result tells whether every byte of the archive was written.
ZipResult CloseZipWriter(ZipHandle* handle);

// ---- Reader ----

// Where an archive is read from: an open descriptor, read from `startOffset` on.
struct ZipInputSource {
  int fd = -1;
  bool ownsFd = true;  // closed by CloseZipReader (and on a failed open)
  std::uint64_t startOffset = 0;
};

// Opens the reader over `source`; the base folder for relative extraction paths is the
// current directory. Null on failure, with the reason in *error (and GetZipReaderLastError()):
// ZR_NO_END_RECORD, ZR_NOT_ZIP, ZR_READ.
ZipHandle* OpenZipReader(const ZipInputSource& source, ZipResult* error = nullptr);
// Opens the file read-only and then OpenZipReader on it (ZR_NOFILE when it cannot be opened).
ZipHandle* OpenZipReaderFile(const std::string& path, ZipResult* error = nullptr);
// The reader's last result code (per thread).
ZipResult GetZipReaderLastError();

// index -1: info.index = number of entries. Index past the last entry: ZR_ARGS.
ZipResult GetZipEntryInfo(ZipHandle* handle, int index, ZipEntryInfo& info);

// Extracts the entry to `path` (UTF-8; relative paths are below the base folder); a folder
// entry creates its folders below the base folder instead. Data is verified (sizes, CRC-32);
// a partly written file is removed on failure. Entries whose names are absolute or hold ".."
// parts give ZR_UNSAFE_NAME and create nothing.
ZipResult ExtractZipEntry(ZipHandle* handle, int index, const std::string& path);

// Streams the entry's data to `sink` (which returns false to stop with ZR_WRITE), never more
// than the declared size. ZR_OK only when the size and the CRC-32 matched at the end; on any
// other result the caller discards what the sink received.
using ZipSink = std::function<bool(std::span<const std::uint8_t>)>;
ZipResult ReadZipEntryData(ZipHandle* handle, int index, const ZipSink& sink);

ZipResult CloseZipReader(ZipHandle* handle);

// True when an entry name, joined to a folder, stays inside it: not empty, no NUL, no leading
// "/" or "\", no drive ("x:"), no ".." parts ("/" and "\" both count as separators).
bool IsSafeZipEntryName(std::string_view utf8Name);

// Closes a handle of either kind when it goes out of scope (the result is dropped; call
// CloseZipWriter yourself where it matters).
struct ZipHandleCloser {
  void operator()(ZipHandle* h) const;
};
using UniqueZipHandle = std::unique_ptr<ZipHandle, ZipHandleCloser>;

}  // namespace vts
