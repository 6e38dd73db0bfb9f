// A WAV file with a byte range cut out, written as a new file.
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
      return "copying the sound around the range failed";
    case WavCutResult::HeaderFailed:
      return "writing the new sizes failed";
    case WavCutResult::SyncFailed:
      return "the cut file could not be written to the disk";
  }
  return "unknown";
}

WavCutResult WriteCutWav(int sourceFd, const WavCut& cut, int outFd, const FileIo& io,
                         std::uint64_t pieceBytes) {
  std::uint64_t fileSize = 0;
  if (io.fstatSize(sourceFd, &fileSize) != 0) return WavCutResult::MoveFailed;
  if (cut.cutStart >= cut.cutEnd || cut.cutEnd > fileSize ||
      cut.dataSizeOffset + 4 > cut.cutStart || pieceBytes == 0)
    return WavCutResult::BadRange;

  std::vector<std::uint8_t> piece(size_t(std::min(pieceBytes, fileSize)));
  auto copy = [&](std::uint64_t from, std::uint64_t end, std::uint64_t to) {
    while (from < end) {
      const std::uint64_t n = std::min<std::uint64_t>(piece.size(), end - from);
      if (!ReadFully(io, sourceFd, piece.data(), n, from)) return false;
      if (!WriteFully(io, outFd, piece.data(), n, to)) return false;
      from += n;
      to += n;
    }
    return true;
  };
  if (!copy(0, cut.cutStart, 0) || !copy(cut.cutEnd, fileSize, cut.cutStart))
    return WavCutResult::MoveFailed;
  if (!WriteU32(io, outFd, cut.newDataBytes, cut.dataSizeOffset) ||
      !WriteU32(io, outFd, cut.newRiffSize, 4))
    return WavCutResult::HeaderFailed;
  // Complete on the disk before it may take the old file's place.
  if (io.fdatasync(outFd) != 0 && errno != EINVAL) return WavCutResult::SyncFailed;
  return WavCutResult::Ok;
}

}  // namespace vts
