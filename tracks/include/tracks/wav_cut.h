// Cutting a byte range out of a WAV file: the file's bytes before and after the range are
// copied into a new file, whose two size fields are then rewritten and which is synced to the
// disk. The source file is only read, so a failure or a kill at any point leaves it whole;
// the caller puts the new file in its place in one step (a rename) once it is complete.
//
// Plain file I/O on descriptors; the caller keeps writers of the source away meanwhile.
#pragma once

#include <cstdint>

#include "platform/file_io.h"

namespace vts {

// The file operations the cut uses; tests put failing ones in.
using plat::FileIo;
using plat::SystemFileIo;

struct WavCut {
  std::uint64_t cutStart = 0;        // first byte taken out (file offset)
  std::uint64_t cutEnd = 0;          // first byte kept after the cut
  std::uint64_t dataSizeOffset = 0;  // offset of the "data" chunk's size field
  std::uint32_t newDataBytes = 0;
  std::uint32_t newRiffSize = 0;  // written at offset 4
};

enum class WavCutResult {
  Ok,
  BadRange,      // empty range, or one past the end of the file; nothing written
  MoveFailed,    // a read of the source or a write of the copy failed
  HeaderFailed,  // a size field of the copy could not be written
  SyncFailed,    // the copy could not be made durable
};

const char* WavCutResultText(WavCutResult result);

// The file operations the track's DeleteSelection uses: SystemFileIo() unless a test put
// others in (null restores the system's).
const FileIo& EditFileIo();
void SetEditFileIo(const FileIo* io);

// Writes the source without the range into `outFd` (an empty file), in pieces of at most
// `pieceBytes`. On any result but Ok the copy is incomplete and must be thrown away.
WavCutResult WriteCutWav(int sourceFd, const WavCut& cut, int outFd,
                         const FileIo& io = SystemFileIo(), std::uint64_t pieceBytes = 0x400000);

}  // namespace vts
