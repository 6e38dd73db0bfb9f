// Cutting a byte range out of an open WAV file in place: the tail moves down, then the two
// size fields are rewritten, then the file is shortened. Every read and write is checked; the
// header is only rewritten and the file only shortened after the whole tail has moved, so a
// failure never shortens the user's file (nothing after the cut is lost, the header still
// tells the old sizes).
//
// Plain file I/O on a descriptor; the caller keeps other users of the file away meanwhile.
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
  BadRange,        // empty range, or one past the end of the file; nothing touched
  MoveFailed,      // a read or write of the tail failed; sizes and length unchanged
  HeaderFailed,    // the tail moved but a size field could not be written; length unchanged
  TruncateFailed,  // tail and sizes are right, the file keeps stale bytes at its end
};

const char* WavCutResultText(WavCutResult result);

// The file operations the track's DeleteSelection uses: SystemFileIo() unless a test put
// others in (null restores the system's).
const FileIo& EditFileIo();
void SetEditFileIo(const FileIo* io);

// Moves the tail in pieces of at most `pieceBytes`.
WavCutResult CutWavRange(int fd, const WavCut& cut, const FileIo& io = SystemFileIo(),
                         std::uint64_t pieceBytes = 0x400000);

}  // namespace vts
