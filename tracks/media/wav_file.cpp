// WAV parsing by walking RIFF chunks, and the saved track's WAV header.
#include "tracks/media/wav_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/fd.h"

namespace vts::media {
namespace {

using ReadFn = std::function<bool(std::uint64_t offset, void* out, std::size_t n)>;

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// The "data" tag found by scanning from offset 36 in windows of 32 bytes that overlap by 3,
// for files whose chunk sizes do not add up.
bool ScanForData(const ReadFn& read, std::uint64_t fileSize, std::uint64_t& tagOffset) {
  std::uint8_t w[32];
  for (std::uint64_t pos = 36; pos + 4 <= fileSize; pos += sizeof w - 3) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof w, fileSize - pos));
    if (!read(pos, w, n)) return false;
    for (std::size_t i = 0; i + 4 <= n; ++i) {
      if (std::memcmp(w + i, "data", 4) == 0) {
        tagOffset = pos + i;
        return true;
      }
    }
  }
  return false;
}

WavStatus Parse(const ReadFn& read, std::uint64_t fileSize, WavInfo& info) {
  info = WavInfo{};
  std::uint8_t riff[12];
  if (fileSize < 12 || !read(0, riff, sizeof riff)) return WavStatus::ReadFailed;
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    return WavStatus::NotRiff;
  }
  bool haveFormat = false, haveData = false;
  std::uint64_t dataTag = 0;
  std::uint64_t pos = 12;
  while (pos + 8 <= fileSize && !(haveFormat && haveData)) {
    std::uint8_t h[8];
    if (!read(pos, h, sizeof h)) return WavStatus::ReadFailed;
    const std::uint32_t size = Get32(h + 4);
    if (std::memcmp(h, "fmt ", 4) == 0 && !haveFormat) {
      if (size < 16 || pos + 8 + 16 > fileSize) return WavStatus::NoFormat;
      std::uint8_t f[16];
      if (!read(pos + 8, f, sizeof f)) return WavStatus::ReadFailed;
      info.format.formatTag = Get16(f);
      info.format.channels = Get16(f + 2);
      info.format.samplesPerSec = Get32(f + 4);
      info.format.avgBytesPerSec = Get32(f + 8);
      info.format.blockAlign = Get16(f + 12);
      info.format.bitsPerSample = Get16(f + 14);
      haveFormat = true;
    } else if (std::memcmp(h, "data", 4) == 0 && !haveData) {
      dataTag = pos;
      haveData = true;
    }
    pos += 8 + std::uint64_t{size} + (size & 1);  // chunks are padded to even sizes
  }
  if (!haveFormat) return WavStatus::NoFormat;
  if (!haveData) {
    if (!ScanForData(read, fileSize, dataTag)) return WavStatus::NoData;
    info.foundByScan = true;
  }
  const PcmFormat& f = info.format;
  if (f.formatTag != 1) return WavStatus::NotPcm;
  if (f.channels < 1 || f.channels > 2 || f.bitsPerSample != 16 || f.blockAlign != f.channels * 2) {
    return WavStatus::Unsupported;
  }
  if (f.samplesPerSec == 0) return WavStatus::ZeroRate;

  std::uint8_t sz[4];
  if (dataTag + 8 > fileSize || !read(dataTag + 4, sz, 4)) return WavStatus::EmptyData;
  info.dataOffset = dataTag + 8;
  std::uint64_t bytes = Get32(sz);
  const std::uint64_t available = fileSize - info.dataOffset;
  if (bytes > available) {
    bytes = available;
    info.dataClamped = true;
  }
  bytes -= bytes % f.blockAlign;
  info.dataBytes = static_cast<std::uint32_t>(bytes);
  if (info.dataBytes == 0) return WavStatus::EmptyData;
  return WavStatus::Ok;
}

}  // namespace

const char* WavStatusText(WavStatus s) {
  switch (s) {
    case WavStatus::Ok:
      return "ok";
    case WavStatus::ReadFailed:
      return "the file cannot be read as a WAV file";
    case WavStatus::NotRiff:
      return "not a RIFF WAVE file";
    case WavStatus::NoFormat:
      return "the WAV file has no format chunk";
    case WavStatus::NotPcm:
      return "the WAV file is not PCM";
    case WavStatus::Unsupported:
      return "only 16-bit mono or stereo WAV files can be played";
    case WavStatus::ZeroRate:
      return "the WAV file has a sample rate of 0";
    case WavStatus::NoData:
      return "the WAV file has no data chunk";
    case WavStatus::EmptyData:
      return "the WAV file holds no sound";
  }
  return "unknown";
}

WavStatus ReadWavInfo(int fd, WavInfo& info) {
  const std::int64_t size = plat::FileSizeOf(fd);
  if (size < 0) {
    info = WavInfo{};
    return WavStatus::ReadFailed;
  }
  const ReadFn read = [fd](std::uint64_t offset, void* out, std::size_t n) {
    return plat::ReadAt(fd, out, n, offset) == static_cast<long long>(n);
  };
  return Parse(read, static_cast<std::uint64_t>(size), info);
}

WavStatus ParseWav(std::span<const std::uint8_t> file, WavInfo& info) {
  const ReadFn read = [file](std::uint64_t offset, void* out, std::size_t n) {
    if (offset > file.size() || n > file.size() - offset) return false;
    std::memcpy(out, file.data() + offset, n);
    return true;
  };
  return Parse(read, file.size(), info);
}

bool BuildWavHeader(const PcmFormat& format, std::uint64_t totalFrames,
                    std::array<std::uint8_t, 44>& header) {
  const std::uint64_t dataBytes = std::uint64_t{format.blockAlign} * totalFrames;
  if (dataBytes > 0xFFFFFFFFull - 36) return false;
  std::uint8_t* p = header.data();
  std::memcpy(p, "RIFF", 4);
  Put32(p + 4, static_cast<std::uint32_t>(dataBytes + 36));
  std::memcpy(p + 8, "WAVEfmt ", 8);
  Put32(p + 16, 16);
  Put16(p + 20, 1);
  Put16(p + 22, format.channels);
  Put32(p + 24, format.samplesPerSec);
  Put32(p + 28, format.samplesPerSec * format.blockAlign);
  Put16(p + 32, format.blockAlign);
  Put16(p + 34, format.bitsPerSample);
  std::memcpy(p + 36, "data", 4);
  Put32(p + 40, static_cast<std::uint32_t>(dataBytes));
  return true;
}

std::uint32_t ClampFrames(std::uint64_t startFrame, std::uint64_t frames,
                          std::uint64_t totalFrames) {
  if (startFrame >= totalFrames) return 0;
  const std::uint64_t n = std::min(frames, totalFrames - startFrame);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, 0xFFFFFFFFu));
}

}  // namespace vts::media
