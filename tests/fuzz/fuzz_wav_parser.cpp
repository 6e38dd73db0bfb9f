// Fuzzes the WAV chunk walk: whatever it accepts lies inside the file and is playable.
#include <cstddef>
#include <cstdint>

#include "tracks/media/wav_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vts::media::WavInfo info;
  if (vts::media::ParseWav({data, size}, info) == vts::media::WavStatus::Ok) {
    const auto& f = info.format;
    if (info.dataBytes == 0 || info.dataOffset + info.dataBytes > size) __builtin_trap();
    if (f.formatTag != 1 || (f.channels != 1 && f.channels != 2) || f.bitsPerSample != 16 ||
        f.blockAlign != f.channels * 2 || f.samplesPerSec == 0 || info.dataBytes % f.blockAlign) {
      __builtin_trap();
    }
  }
  return 0;
}
