// WAV files the tracks load and save: the RIFF chunk walk that finds "fmt " and "data", and
// the 44-byte header a saved track starts with. Only what the sound engine plays is accepted:
// PCM, 1 or 2 channels, 16 bits, block align = channels x 2, a non-zero rate.
//
// Pure functions over a descriptor or bytes; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vts::media {

// The "fmt " fields a track keeps (the first 16 bytes of the chunk).
struct PcmFormat {
  std::uint16_t formatTag = 1;
  std::uint16_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t avgBytesPerSec = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
};

struct WavInfo {
  PcmFormat format;
  std::uint64_t dataOffset = 0;  // first sample byte
  std::uint32_t dataBytes = 0;   // whole frames, never past the end of the file
  bool dataClamped = false;      // the header promised more than the file holds
  bool foundByScan = false;      // the chunk walk failed; "data" was found by a byte scan
};

enum class WavStatus {
  Ok,
  ReadFailed,   // too short to be a WAV, or a read error
  NotRiff,      // no "RIFF" ... "WAVE"
  NoFormat,     // no "fmt " chunk of at least 16 bytes
  NotPcm,       // format tag other than 1
  Unsupported,  // not 1-2 channels of 16 bits with block align channels x 2
  ZeroRate,
  NoData,     // no "data" chunk
  EmptyData,  // a "data" chunk without a whole frame
};

const char* WavStatusText(WavStatus s);

// Parses the WAV behind `fd` (read with pread from offset 0; the file position is unchanged).
WavStatus ReadWavInfo(int fd, WavInfo& info);
// The same over bytes in memory (the whole file, or at least its headers and size).
WavStatus ParseWav(std::span<const std::uint8_t> file, WavInfo& info);

// The header of a saved track: RIFF, "fmt " of 16 bytes (PCM), "data" with
// blockAlign x totalFrames bytes. False when that size does not fit a WAV (4 GiB).
bool BuildWavHeader(const PcmFormat& format, std::uint64_t totalFrames,
                    std::array<std::uint8_t, 44>& header);

// Clamps a range of frames to the frames a source holds: the frames of [startFrame,
// startFrame + frames) that exist (0 when the start lies past the end).
std::uint32_t ClampFrames(std::uint64_t startFrame, std::uint64_t frames,
                          std::uint64_t totalFrames);

}  // namespace vts::media
