// MP3 save and load speed on an hour of speech-like sound (mono, 44.1 kHz): our LAME stream
// encoding against the `lame` command line at the same settings (64 kbit/s CBR, mono, no
// information frame, not "original"), and our libmad decode into a WAV file against libmad's
// raw decode speed (frames decoded and synthesised, nothing converted or written) and
// `lame --decode`.
//
// Usage: bench_mp3 [--runs N] [--dir FOLDER]   (needs sox and lame; shares bench_package's files)
#include <fcntl.h>
#include <mad.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "test_files.h"
#include "tracks/media/mp3.h"
#include "tracks/media/wav_file.h"

namespace {

using vts::bench::Median;
using vts::bench::Seconds;
using vts::bench::Sh;
bool Exists(const std::string& p) { return vts::test::PathExists(p); }
std::vector<std::uint8_t> Slurp(const std::string& p) { return vts::test::ReadBytes(p); }

using Clock = std::chrono::steady_clock;

// The track's save loop: chunks of SamplesPerChunk() samples through the encoder into a file.
bool EncodeOurs(const std::vector<std::uint8_t>& wav, const vts::media::WavInfo& info,
                const std::string& out) {
  vts::media::Mp3StreamEncoder enc;
  if (enc.Init(info.format.samplesPerSec, info.format.channels) != vts::media::Mp3EncodeError::None)
    return false;
  std::FILE* f = std::fopen(out.c_str(), "wb");
  if (!f) return false;
  const auto* samples = reinterpret_cast<const std::int16_t*>(wav.data() + info.dataOffset);
  const std::size_t total = info.dataBytes / 2;
  std::vector<std::uint8_t> mp3;
  bool ok = true;
  for (std::size_t done = 0; ok && done < total;) {
    const std::size_t n = std::min(enc.SamplesPerChunk(), total - done);
    mp3.clear();
    ok = enc.Encode(samples + done, n, mp3) &&
         std::fwrite(mp3.data(), 1, mp3.size(), f) == mp3.size();
    done += n;
  }
  mp3.clear();
  ok = ok && enc.Finish(mp3) && std::fwrite(mp3.data(), 1, mp3.size(), f) == mp3.size();
  return std::fclose(f) == 0 && ok;
}

// libmad alone: decode and synthesise every frame, keep nothing.
std::uint64_t RawMadDecode(const std::vector<std::uint8_t>& mp3) {
  mad_stream stream;
  mad_frame frame;
  mad_synth synth;
  mad_stream_init(&stream);
  mad_frame_init(&frame);
  mad_synth_init(&synth);
  mad_stream_buffer(&stream, mp3.data(), mp3.size());
  std::uint64_t samples = 0;
  for (;;) {
    if (mad_frame_decode(&frame, &stream) != 0) {
      if (MAD_RECOVERABLE(stream.error)) continue;
      break;
    }
    mad_synth_frame(&synth, &frame);
    samples += synth.pcm.length;
  }
  mad_synth_finish(&synth);
  mad_frame_finish(&frame);
  mad_stream_finish(&stream);
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::string dir = "/tmp/vts-bench-package";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--runs N] [--dir FOLDER]\n", argv[0]);
      return 2;
    }
  }
  Sh("mkdir -p '" + dir + "'");
  const std::string wavPath = dir + "/lesson.wav";
  if (!Exists(wavPath) &&
      Sh("sox -q -n -r 44100 -c 1 -b 16 '" + wavPath +
         "' synth 3600 pinknoise sinc 250-3800 tremolo 5 85 tremolo 0.2 95 gain -n -3") != 0) {
    return 1;
  }
  const std::vector<std::uint8_t> wav = Slurp(wavPath);
  vts::media::WavInfo info;
  if (vts::media::ParseWav(wav, info) != vts::media::WavStatus::Ok) return 1;
  const double seconds =
      static_cast<double>(info.dataBytes) / info.format.blockAlign / info.format.samplesPerSec;

  const std::string oursMp3 = dir + "/enc-ours.mp3", lameMp3 = dir + "/enc-lame.mp3";
  std::vector<double> encOurs, encLame, decOurs, decRaw, decLame;
  for (int r = 0; r < runs; ++r) {
    bool ok = true;
    encOurs.push_back(Seconds([&] { ok = EncodeOurs(wav, info, oursMp3); }));
    if (!ok) std::fprintf(stderr, "our encoder failed\n");
    encLame.push_back(Seconds(
        [&] { Sh("lame --quiet -m m -b 64 --cbr -t -o '" + wavPath + "' '" + lameMp3 + "'"); }));
  }
  const std::vector<std::uint8_t> mp3 = Slurp(oursMp3);
  for (int r = 0; r < runs; ++r) {
    const std::string out = dir + "/dec-ours.wav";
    unlink(out.c_str());
    decOurs.push_back(Seconds([&] {
      if (vts::media::DecodeMp3ToWav(oursMp3, out) != vts::media::Mp3DecodeResult::Ok) {
        std::fprintf(stderr, "our decoder failed\n");
      }
    }));
    decRaw.push_back(Seconds([&] { RawMadDecode(mp3); }));
    decLame.push_back(
        Seconds([&] { Sh("lame --quiet --decode '" + oursMp3 + "' '" + dir + "/dec-lame.wav'"); }));
  }
  std::printf(
      "\nMP3 of %.0f s of speech-like sound (mono 44.1 kHz); ours %.1f MB, lame %.1f MB; %d runs, "
      "median\n",
      seconds, Slurp(oursMp3).size() / 1e6, Slurp(lameMp3).size() / 1e6, runs);
  auto row = [&](const char* what, const std::vector<double>& s) {
    const double m = Median(s);
    std::printf("  %-34s %8.3f s  %7.1fx real time   (min %.3f, max %.3f)\n", what, m, seconds / m,
                *std::min_element(s.begin(), s.end()), *std::max_element(s.begin(), s.end()));
  };
  row("save: ours (LAME stream, 64k CBR)", encOurs);
  row("save: lame -m m -b 64 --cbr -t -o", encLame);
  row("load: ours (libmad -> WAV file)", decOurs);
  row("load: libmad raw decode", decRaw);
  row("load: lame --decode", decLame);
  return 0;
}
