// Package write and read throughput against Info-ZIP `zip -8` / `unzip`, on the files of an
// hour-long lesson: speech-like sound as MP3 (".mpa"), one chunk per second (".cif") and a
// text per chunk (".txt"). With --wav the 16-bit PCM of the same hour is packed as well.
//
// Usage: bench_package [--runs N] [--wav] [--dir FOLDER]   (needs sox, lame, zip, unzip)
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
#include "package/zip.h"
#include "test_files.h"

namespace {

using vts::bench::Median;
using vts::bench::Seconds;
using vts::bench::Sh;
bool Exists(const std::string& p) { return vts::test::PathExists(p); }
std::vector<std::uint8_t> Slurp(const std::string& p) { return vts::test::ReadBytes(p); }
std::uint64_t SizeOf(const std::string& p) { return vts::test::FileSize(p); }

using Clock = std::chrono::steady_clock;

struct Files {
  std::string dir, title;
  std::vector<std::string> names;  // in package order
};

// Writes our package of the files; false on any error.
bool WriteOurs(const Files& f, const std::string& zip) {
  vts::ZipHandle* h = vts::CreateZipWriter(zip);
  if (!h) return false;
  bool ok = true;
  for (const std::string& n : f.names) {
    ok = ok && vts::AddZipEntryInternal(h->writer, n, vts::ZipSource::FromFile(f.dir + "/" + n)) ==
                   vts::ZR_OK;
  }
  return vts::CloseZipWriter(h) == vts::ZR_OK && ok;
}

bool ReadOurs(const std::string& zip, const std::string& outDir) {
  vts::ZipHandle* h = vts::OpenZipReaderFile(zip);
  if (!h) return false;
  vts::ZipEntryInfo count;
  bool ok = vts::GetZipEntryInfo(h, -1, count) == vts::ZR_OK;
  for (int i = 0; ok && i < count.index; ++i) {
    vts::ZipEntryInfo info;
    ok = vts::GetZipEntryInfo(h, i, info) == vts::ZR_OK;
    std::string name(info.name.begin(), info.name.end());  // ASCII names here
    const std::string target = outDir + "/" + name;
    unlink(target.c_str());
    ok = ok && vts::ExtractZipEntry(h, i, target) == vts::ZR_OK;
  }
  vts::CloseZipReader(h);
  return ok;
}

void Bench(const char* label, const Files& f, int runs) {
  std::uint64_t bytes = 0;
  std::string list;
  for (const std::string& n : f.names) {
    bytes += SizeOf(f.dir + "/" + n);
    list += " '" + n + "'";
  }
  const double mb = static_cast<double>(bytes) / 1e6;
  const std::string ours = f.dir + "/ours.vxb", theirs = f.dir + "/infozip.zip";
  const std::string outOurs = f.dir + "/out-ours", outUnzip = f.dir + "/out-unzip";
  mkdir(outOurs.c_str(), 0755);
  mkdir(outUnzip.c_str(), 0755);
  // Warm the page cache so every run reads the sources from memory.
  for (const std::string& n : f.names) Slurp(f.dir + "/" + n);

  std::vector<double> wOurs, wZip, rOurs, rUnzip;
  for (int r = 0; r < runs; ++r) {
    unlink(ours.c_str());
    unlink(theirs.c_str());
    bool ok = true;
    wOurs.push_back(Seconds([&] { ok = WriteOurs(f, ours); }));
    if (!ok) std::fprintf(stderr, "our writer failed\n");
    wZip.push_back(Seconds([&] { Sh("cd '" + f.dir + "' && zip -q -8 -X infozip.zip" + list); }));
    rOurs.push_back(Seconds([&] { ok = ReadOurs(ours, outOurs); }));
    if (!ok) std::fprintf(stderr, "our reader failed\n");
    rUnzip.push_back(Seconds([&] { Sh("unzip -q -o '" + ours + "' -d '" + outUnzip + "'"); }));
  }
  for (const std::string& n : f.names) {
    if (Slurp(outOurs + "/" + n) != Slurp(f.dir + "/" + n))
      std::fprintf(stderr, "MISMATCH %s\n", n.c_str());
  }
  std::printf(
      "\n%s: %.1f MB in %zu entries; archive ours %.1f MB, zip -8 %.1f MB; %d runs, median\n",
      label, mb, f.names.size(), SizeOf(ours) / 1e6, SizeOf(theirs) / 1e6, runs);
  auto row = [&](const char* what, const std::vector<double>& s) {
    const double m = Median(s);
    std::printf("  %-28s %8.3f s  %8.1f MB/s   (min %.3f, max %.3f)\n", what, m, mb / m,
                *std::min_element(s.begin(), s.end()), *std::max_element(s.begin(), s.end()));
  };
  row("write: ours (deflate 8)", wOurs);
  row("write: zip -8", wZip);
  row("read:  ours (verify, extract)", rOurs);
  row("read:  unzip (same archive)", rUnzip);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  bool wav = false;
  std::string dir = "/tmp/vts-bench-package";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--wav") {
      wav = true;
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--runs N] [--wav] [--dir FOLDER]\n", argv[0]);
      return 2;
    }
  }
  Sh("mkdir -p '" + dir + "'");
  const std::string wavPath = dir + "/lesson.wav", mpa = dir + "/lesson.mpa";
  // An hour of speech-like sound: band-limited pink noise in syllables (5 Hz) and phrases
  // with pauses (0.2 Hz), mono 44.1 kHz, then MP3 at 64 kbit/s as a package holds it.
  if (!Exists(wavPath)) {
    std::printf("making an hour of speech-like sound...\n");
    if (Sh("sox -q -n -r 44100 -c 1 -b 16 '" + wavPath +
           "' synth 3600 pinknoise sinc 250-3800 tremolo 5 85 tremolo 0.2 95 gain -n -3") != 0) {
      return 1;
    }
  }
  if (!Exists(mpa)) {
    std::printf("encoding it to MP3...\n");
    if (Sh("lame --quiet -m m -b 64 '" + wavPath + "' '" + mpa + "'") != 0) return 1;
  }
  {
    std::vector<std::uint8_t> cif, txt = {0xFF, 0xFE};
    for (std::uint32_t i = 0; i < 3600; ++i) {
      const std::uint32_t rec[2] = {i * 1000, 1000};
      for (std::uint32_t v : rec) {
        for (int k = 0; k < 4; ++k) cif.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
      }
      const std::string line =
          "Sentence " + std::to_string(i + 1) + ": the teacher reads, you repeat.\r\n";
      for (char c : line) {
        txt.push_back(static_cast<std::uint8_t>(c));
        txt.push_back(0);
      }
    }
    std::ofstream(dir + "/lesson.cif", std::ios::binary)
        .write(reinterpret_cast<char*>(cif.data()), cif.size());
    std::ofstream(dir + "/lesson.txt", std::ios::binary)
        .write(reinterpret_cast<char*>(txt.data()), txt.size());
  }
  Bench("package (texts, MP3, chunk list)",
        Files{dir, "lesson", {"lesson.txt", "lesson.mpa", "lesson.cif"}}, runs);
  if (wav) Bench("PCM WAV of the same hour", Files{dir, "lesson", {"lesson.wav"}}, runs);
  return 0;
}
