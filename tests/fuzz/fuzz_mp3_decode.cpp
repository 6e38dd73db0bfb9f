// Fuzzes MP3 decoding of a file through the loading entry point: any input either fails or
// leaves a WAV that the WAV reader takes, and never a temporary file.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_files.h"
#include "tracks/media/mp3.h"
#include "tracks/media/wav_file.h"

namespace {

std::string g_base;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_base = vts::fuzz::MakeScratchFolder("mp3");
  setenv("VOXTRAILSTUDY_ROOT", g_base.c_str(), 1);  // the decode lock's file
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string mp3 = g_base + "/in.mp3";
  const std::string wav = g_base + "/in.wav";
  unlink(wav.c_str());
  vts::fuzz::WriteInput(mp3, data, size);
  if (vts::media::DecodeMp3ForLoading(mp3, wav)) {
    const int fd = open(wav.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) abort();
    vts::media::WavInfo info;
    if (vts::media::ReadWavInfo(fd, info) != vts::media::WavStatus::Ok) abort();
    close(fd);
  }
  if (DIR* d = opendir(g_base.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::string(e->d_name).find(".tmp-") != std::string::npos) abort();  // a partial WAV
    }
    closedir(d);
  }
  return 0;
}
