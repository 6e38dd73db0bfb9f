// In-place cut of a byte range out of a WAV file.
#include "tracks/wav_cut.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

namespace vts {
namespace {

// Whole reads and writes: false on an error or on an early end.
bool ReadFully(const FileIo& io, int fd, std::uint8_t* buffer, std::uint64_t bytes,
               std::uint64_t offset) {
  std::uint64_t done = 0;
  while (done < bytes) {
    ssize_t n = io.pread(fd, buffer + done, size_t(bytes - done), off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::uint64_t(n);
  }
  return true;
}

bool WriteFully(const FileIo& io, int fd, const std::uint8_t* buffer, std::uint64_t bytes,
                std::uint64_t offset) {
  std::uint64_t done = 0;
  while (done < bytes) {
    ssize_t n = io.pwrite(fd, buffer + done, size_t(bytes - done), off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::uint64_t(n);
  }
  return true;
}

bool WriteU32(const FileIo& io, int fd, std::uint32_t value, std::uint64_t offset) {
  std::uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = std::uint8_t(value >> (8 * i));
  return WriteFully(io, fd, bytes, 4, offset);
}

}  // namespace

namespace {
std::atomic<const FileIo*> g_editIo{nullptr};
}  // namespace

const FileIo& EditFileIo() {
  const FileIo* io = g_editIo.load();
  return io ? *io : SystemFileIo();
}

void SetEditFileIo(const FileIo* io) { g_editIo.store(io); }

const char* WavCutResultText(WavCutResult result) {
  switch (result) {
    case WavCutResult::Ok:
      return "ok";
    case WavCutResult::BadRange:
      return "the range lies outside the file";
    case WavCutResult::MoveFailed:
      return "moving the sound after the range failed";
    case WavCutResult::HeaderFailed:
      return "writing the new sizes failed";
    case WavCutResult::TruncateFailed:
      return "shortening the file failed";
  }
  return "unknown";
}

WavCutResult CutWavRange(int fd, const WavCut& cut, const FileIo& io, std::uint64_t pieceBytes) {
  std::uint64_t fileSize = 0;
  if (io.fstatSize(fd, &fileSize) != 0) return WavCutResult::MoveFailed;
  if (cut.cutStart >= cut.cutEnd || cut.cutEnd > fileSize ||
      cut.dataSizeOffset + 4 > cut.cutStart || pieceBytes == 0)
    return WavCutResult::BadRange;
  const std::uint64_t removed = cut.cutEnd - cut.cutStart;

  // Upwards from the cut: each piece is read before anything at or after it is written.
  std::vector<std::uint8_t> piece(
      size_t(std::min(pieceBytes, std::max<std::uint64_t>(fileSize - cut.cutEnd, 1))));
  for (std::uint64_t from = cut.cutEnd; from < fileSize;) {
    const std::uint64_t n = std::min<std::uint64_t>(piece.size(), fileSize - from);
    if (!ReadFully(io, fd, piece.data(), n, from)) return WavCutResult::MoveFailed;
    if (!WriteFully(io, fd, piece.data(), n, from - removed)) return WavCutResult::MoveFailed;
    from += n;
  }
  // The moved sound reaches the disk before the sizes say it is there.
  if (io.fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) return WavCutResult::MoveFailed;

  if (!WriteU32(io, fd, cut.newDataBytes, cut.dataSizeOffset)) return WavCutResult::HeaderFailed;
  if (!WriteU32(io, fd, cut.newRiffSize, 4)) return WavCutResult::HeaderFailed;
  if (io.ftruncate(fd, off_t(fileSize - removed)) != 0) return WavCutResult::TruncateFailed;
  return WavCutResult::Ok;
}

}  // namespace vts
