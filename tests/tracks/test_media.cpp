// Codec helpers of the track's files: WAV chunk walk and header, MP3 decoding through libmad
// (with the decode lock) and MP3 encoding through LAME. Fixtures are made here with sox/lame.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "platform/named_mutex.h"
#include "test_env.h"
#include "tracks/media/mp3.h"
#include "tracks/media/wav_file.h"
#include "zip_test_util.h"

namespace vts::media {
namespace {

using test::Bytes;
using test::Q;
using namespace std::string_literals;

using test::PutLe16;
using test::PutLe32;
using test::PutTag;

void AddFmt(Bytes& b, const test::WavSpec& f) { test::AppendFmtChunk(b, f); }
void AddChunk(Bytes& b, const char* tag, std::uint32_t declared, std::size_t actual) {
  PutTag(b, tag);
  PutLe32(b, declared);
  for (std::size_t i = 0; i < actual; ++i) b.push_back(static_cast<std::uint8_t>(i * 7));
  if (actual & 1) b.push_back(0);
}
Bytes Riff(const std::function<void(Bytes&)>& body) {
  Bytes b;
  PutTag(b, "RIFF");
  PutLe32(b, 0);
  PutTag(b, "WAVE");
  body(b);
  b[4] = static_cast<std::uint8_t>(b.size() - 8);
  b[5] = static_cast<std::uint8_t>((b.size() - 8) >> 8);
  return b;
}

TEST(WavParse, TableOfFiles) {
  struct Case {
    const char* what;
    Bytes file;
    WavStatus status;
    std::uint64_t dataOffset = 0;
    std::uint32_t dataBytes = 0;
    bool clamped = false, scanned = false;
  };
  const Case cases[] = {
      {"canonical mono", Riff([](Bytes& b) {
         AddFmt(b, {});
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::Ok, 44, 400},
      {"stereo", Riff([](Bytes& b) {
         AddFmt(b, {.channels = 2});
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::Ok, 44, 400},
      {"18-byte fmt", Riff([](Bytes& b) {
         AddFmt(b, {.fmtSize = 18});
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::Ok, 46, 400},
      {"LIST before data", Riff([](Bytes& b) {
         AddFmt(b, {});
         AddChunk(b, "LIST", 26, 26);
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::Ok, 78, 400},
      {"odd chunk padded", Riff([](Bytes& b) {
         AddFmt(b, {});
         AddChunk(b, "junk", 3, 3);
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::Ok, 56, 400},
      {"'data' inside another chunk is not the data", Riff([](Bytes& b) {
         AddFmt(b, {});
         PutTag(b, "LIST");
         PutLe32(b, 8);
         PutTag(b, "data");
         PutLe32(b, 0x7FFFFFFF);
         AddChunk(b, "data", 200, 200);
       }),
       WavStatus::Ok, 60, 200},
      {"data before fmt", Riff([](Bytes& b) {
         AddChunk(b, "data", 40, 40);
         AddFmt(b, {});
       }),
       WavStatus::Ok, 20, 40},
      {"data size past the end clamped", Riff([](Bytes& b) {
         AddFmt(b, {});
         AddChunk(b, "data", 100000, 400);
       }),
       WavStatus::Ok, 44, 400, true},
      {"half frame dropped", Riff([](Bytes& b) {
         AddFmt(b, {.channels = 2});
         AddChunk(b, "data", 401, 401);
       }),
       WavStatus::Ok, 44, 400},
      {"broken chunk size: found by scan", Riff([](Bytes& b) {
         AddFmt(b, {});
         AddChunk(b, "LIST", 0xFFFFFF00, 10);
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::Ok, 62, 400, false, true},
      {"8-bit", Riff([](Bytes& b) {
         AddFmt(b, {.bits = 8});
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::Unsupported},
      {"24-bit", Riff([](Bytes& b) {
         AddFmt(b, {.bits = 24});
         AddChunk(b, "data", 402, 402);
       }),
       WavStatus::Unsupported},
      {"3 channels", Riff([](Bytes& b) {
         AddFmt(b, {.channels = 3});
         AddChunk(b, "data", 402, 402);
       }),
       WavStatus::Unsupported},
      {"block align wrong", Riff([](Bytes& b) {
         AddFmt(b, {.blockAlign = 4});
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::Unsupported},
      {"float", Riff([](Bytes& b) {
         AddFmt(b, {.tag = 3, .bits = 32});
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::NotPcm},
      {"extensible", Riff([](Bytes& b) {
         AddFmt(b, {.tag = 0xFFFE, .fmtSize = 40});
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::NotPcm},
      {"zero rate", Riff([](Bytes& b) {
         AddFmt(b, {.rate = 0});
         AddChunk(b, "data", 400, 400);
       }),
       WavStatus::ZeroRate},
      {"no data", Riff([](Bytes& b) {
         AddFmt(b, {});
         AddChunk(b, "LIST", 4, 4);
       }),
       WavStatus::NoData},
      {"empty data", Riff([](Bytes& b) {
         AddFmt(b, {});
         AddChunk(b, "data", 0, 0);
       }),
       WavStatus::EmptyData},
      {"fmt of 14 bytes", Riff([](Bytes& b) {
         PutTag(b, "fmt ");
         PutLe32(b, 14);
         for (int i = 0; i < 14; ++i) b.push_back(1);
         AddChunk(b, "data", 4, 4);
       }),
       WavStatus::NoFormat},
      {"no fmt", Riff([](Bytes& b) { AddChunk(b, "data", 4, 4); }), WavStatus::NoFormat},
      {"not RIFF", test::ToBytes("RIFX\0\0\0\0WAVEfmt "s), WavStatus::NotRiff},
      {"MP3 bytes", test::ToBytes("ID3\3\0\0\0\0\0\0\xff\xfb\x90\x64"s), WavStatus::NotRiff},
      {"truncated", test::ToBytes("RIFF\0\0"), WavStatus::ReadFailed},
      {"header only", Riff([](Bytes& b) { AddFmt(b, {}); }), WavStatus::NoData},
  };
  for (const Case& c : cases) {
    WavInfo info;
    EXPECT_EQ(ParseWav(c.file, info), c.status) << c.what;
    if (c.status != WavStatus::Ok) continue;
    EXPECT_EQ(info.dataOffset, c.dataOffset) << c.what;
    EXPECT_EQ(info.dataBytes, c.dataBytes) << c.what;
    EXPECT_EQ(info.dataClamped, c.clamped) << c.what;
    EXPECT_EQ(info.foundByScan, c.scanned) << c.what;
    EXPECT_LE(info.dataOffset + info.dataBytes, c.file.size()) << c.what;
  }
  for (const Case& c : cases) EXPECT_STRNE(WavStatusText(c.status), "unknown");
}

struct MediaFixture : ::testing::Test {
  std::string dir = test::MakeTempDir("media");
  void SetUp() override {
    ASSERT_EQ(test::Run("command -v sox lame >/dev/null"), 0) << "sox and lame are needed";
  }
  std::string Sox(const std::string& name, const std::string& args) {
    const std::string path = dir + "/" + name;
    // No dither: the same samples every run, so a damaged copy is damaged the same way.
    EXPECT_EQ(
        test::Run("sox -q -D -n " + args + " " + Q(path) + " synth 1.5 sine 440 gain -3 2>&1"), 0)
        << args;
    return path;
  }
  // The frequency sox hears in a WAV.
  double Frequency(const std::string& wav) {
    std::string out;
    test::Run("sox " + Q(wav) + " -n remix 1 stat 2>&1", &out);
    const auto at = out.find("Rough   frequency:");
    return at == std::string::npos ? 0 : std::atof(out.c_str() + at + 18);
  }
};

TEST_F(MediaFixture, SoxFilesThroughTheDescriptor) {
  struct Case {
    const char* args;
    WavStatus status;
    std::uint16_t channels;
    std::uint32_t rate;
  };
  const Case cases[] = {
      {"-r 44100 -c 1 -b 16", WavStatus::Ok, 1, 44100},
      {"-r 22050 -c 2 -b 16", WavStatus::Ok, 2, 22050},
      {"-r 44100 -c 1 -b 8", WavStatus::Unsupported, 0, 0},
      {"-r 44100 -c 2 -b 24", WavStatus::NotPcm, 0, 0},
      {"-r 44100 -c 1 -e floating-point -b 32", WavStatus::NotPcm, 0, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = Sox("s" + std::to_string(n++) + ".wav", c.args);
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    WavInfo info;
    const WavStatus st = ReadWavInfo(fd, info);
    close(fd);
    if (c.status == WavStatus::Ok) {
      ASSERT_EQ(st, WavStatus::Ok) << c.args;
      EXPECT_EQ(info.format.channels, c.channels);
      EXPECT_EQ(info.format.samplesPerSec, c.rate);
      EXPECT_EQ(info.dataBytes, std::uint32_t(c.rate * 3 / 2) * c.channels * 2) << c.args;
    } else {
      // sox writes 24-bit and float as extensible or tag 3; 8-bit as PCM: all refused.
      EXPECT_NE(st, WavStatus::Ok) << c.args;
    }
  }
  WavInfo info;
  EXPECT_EQ(ReadWavInfo(-1, info), WavStatus::ReadFailed);
}

TEST_F(MediaFixture, HeaderWriterAndSampleRoundTrip) {
  PcmFormat f;
  f.channels = 1;
  f.samplesPerSec = 44100;
  f.blockAlign = 2;
  f.bitsPerSample = 16;
  std::array<std::uint8_t, 44> h{};
  ASSERT_TRUE(BuildWavHeader(f, 1000, h));
  const Bytes expected = {'R', 'I', 'F',  'F',  0xF4, 0x07, 0,    0,    'W',  'A', 'V',
                          'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,   0,
                          1,   0,   0x44, 0xAC, 0,    0,    0x88, 0x58, 0x01, 0,   2,
                          0,   16,  0,    'd',  'a',  't',  'a',  0xD0, 0x07, 0,   0};
  EXPECT_EQ(Bytes(h.begin(), h.end()), expected);
  ASSERT_TRUE(BuildWavHeader(f, 0, h));  // all chunks of length 0: header with data size 0
  EXPECT_EQ(test::Le32(Bytes(h.begin(), h.end()), 40), 0u);
  EXPECT_FALSE(BuildWavHeader(f, 0x80000000ull, h));

  // Load a sox WAV with extra chunks, save header + samples: sox reads it, samples identical.
  const std::string src = Sox("src.wav", "-r 44100 -c 2 -b 16");
  Bytes file = test::ReadBytes(src);
  WavInfo info;
  ASSERT_EQ(ParseWav(file, info), WavStatus::Ok);
  const Bytes samples(file.begin() + info.dataOffset,
                      file.begin() + info.dataOffset + info.dataBytes);
  ASSERT_TRUE(BuildWavHeader(info.format, info.dataBytes / info.format.blockAlign, h));
  Bytes saved(h.size() + samples.size());
  std::copy(h.begin(), h.end(), saved.begin());
  std::copy(samples.begin(), samples.end(), saved.begin() + h.size());
  test::WriteBytes(dir + "/saved.wav", saved);
  std::string out;
  EXPECT_EQ(test::Run("sox --i -s " + Q(dir + "/saved.wav"), &out), 0);
  EXPECT_EQ(std::stoul(out), samples.size() / 4);
  WavInfo again;
  ASSERT_EQ(ParseWav(saved, again), WavStatus::Ok);
  EXPECT_EQ(Bytes(saved.begin() + again.dataOffset, saved.end()), samples);
}

TEST(WavRanges, ClampFrames) {
  EXPECT_EQ(ClampFrames(0, 100, 1000), 100u);
  EXPECT_EQ(ClampFrames(950, 100, 1000), 50u);
  EXPECT_EQ(ClampFrames(1000, 100, 1000), 0u);
  EXPECT_EQ(ClampFrames(5000, 100, 1000), 0u);
  EXPECT_EQ(ClampFrames(0, ~0ull, 1ull << 40), 0xFFFFFFFFu);
}

TEST_F(MediaFixture, DecodesLameFiles) {
  struct Case {
    const char* what;
    std::string soxArgs, lameArgs;
    std::uint16_t channels;
    std::uint32_t rate;
  };
  const Case cases[] = {
      {"mono 44.1k", "-r 44100 -c 1 -b 16", "-m m -b 64", 1, 44100},
      {"stereo 48k", "-r 48000 -c 2 -b 16", "-m s -b 128", 2, 48000},
      {"mono 22.05k (MPEG-2) with ID3v2", "-r 22050 -c 1 -b 16",
       "-m m -b 32 --tt Lesson --add-id3v2", 1, 22050},
      {"joint stereo VBR", "-r 44100 -c 2 -b 16", "-V 5", 2, 44100},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string wav = Sox("in" + std::to_string(n) + ".wav", c.soxArgs);
    const std::string mp3 = dir + "/in" + std::to_string(n) + ".mp3";
    ASSERT_EQ(test::Run("lame --quiet " + c.lameArgs + " " + Q(wav) + " " + Q(mp3)), 0);
    const std::string out = dir + "/out" + std::to_string(n++) + ".wav";
    std::uint32_t lastTotal = 0, calls = 0;
    ASSERT_EQ(DecodeMp3ToWav(mp3, out,
                             [&](std::uint32_t, std::uint32_t total, std::uint32_t) {
                               lastTotal = total;
                               ++calls;
                             }),
              Mp3DecodeResult::Ok);
    EXPECT_GT(calls, 0u);
    EXPECT_EQ(lastTotal, test::ReadBytes(mp3).size());
    const Bytes decoded = test::ReadBytes(out);
    WavInfo info;
    ASSERT_EQ(ParseWav(decoded, info), WavStatus::Ok);
    EXPECT_EQ(info.format.channels, c.channels);
    EXPECT_EQ(info.format.samplesPerSec, c.rate);
    const std::uint64_t frames = info.dataBytes / info.format.blockAlign;
    const std::uint64_t expected = c.rate * 3 / 2;
    EXPECT_GE(frames, expected);                 // the encoder adds delay and padding,
    EXPECT_LE(frames, expected + 3 * 1152 + 1);  // never more than a few frames
    EXPECT_NEAR(Frequency(out), 440, 15);
  }
}

// The decoder reads its input in blocks: a stream of many copies of one file, far longer than a
// block, decodes to exactly as many frames as the copies hold, none lost or doubled at a seam.
TEST_F(MediaFixture, DecodingAcrossReadBlocksLosesNoFrame) {
  const std::string wav = Sox("piece.wav", "-r 44100 -c 1 -b 16");
  const std::string one = dir + "/one.mp3";
  // No bit reservoir and no information frame: every copy decodes on its own.
  ASSERT_EQ(test::Run("lame --quiet -m m -b 64 --nores -t " + Q(wav) + " " + Q(one)), 0);
  const Bytes piece = test::ReadBytes(one);
  Bytes many;
  const int copies = 2 * (1 << 20) / static_cast<int>(piece.size()) + 1;  // over two blocks
  for (int i = 0; i < copies; ++i) many.insert(many.end(), piece.begin(), piece.end());
  test::WriteBytes(dir + "/many.mp3", many);

  auto framesOf = [&](const std::string& mp3, const std::string& out) -> std::uint64_t {
    std::uint32_t lastDone = 0;
    bool ordered = true;
    EXPECT_EQ(DecodeMp3ToWav(mp3, out,
                             [&](std::uint32_t done, std::uint32_t, std::uint32_t) {
                               ordered &= done >= lastDone;
                               lastDone = done;
                             }),
              Mp3DecodeResult::Ok);
    EXPECT_TRUE(ordered) << "progress only moves forward";
    EXPECT_EQ(lastDone, test::ReadBytes(mp3).size());
    WavInfo info;
    const Bytes decoded = test::ReadBytes(out);
    EXPECT_EQ(ParseWav(decoded, info), WavStatus::Ok);
    return info.format.blockAlign ? info.dataBytes / info.format.blockAlign : 0;
  };
  const std::uint64_t single = framesOf(one, dir + "/one.wav");
  ASSERT_GT(single, 0u);
  EXPECT_EQ(framesOf(dir + "/many.mp3", dir + "/many.wav"), single * copies);
}

TEST_F(MediaFixture, DecodeFailuresLeaveNoWav) {
  const std::string wav = Sox("a.wav", "-r 44100 -c 1 -b 16");
  const std::string mp3 = dir + "/a.mp3";
  ASSERT_EQ(test::Run("lame --quiet -m m -b 64 " + Q(wav) + " " + Q(mp3)), 0);
  const Bytes good = test::ReadBytes(mp3);
  test::WriteBytes(dir + "/text.mp3", test::ToBytes(std::string(5000, 'x')));
  test::WriteBytes(dir + "/empty.mp3", {});
  Bytes damaged = good;
  for (std::size_t i = good.size() / 3; i < good.size() / 3 + 700; ++i) damaged[i] ^= 0x5A;
  test::WriteBytes(dir + "/damaged.mp3", damaged);
  test::WriteBytes(dir + "/half.mp3", Bytes(good.begin(), good.begin() + good.size() / 2));
  struct Case {
    std::string mp3, wav;
    Mp3DecodeResult result;
  };
  const Case cases[] = {
      {dir + "/missing.mp3", dir + "/o1.wav", Mp3DecodeResult::OpenFailed},
      {dir, dir + "/o2.wav", Mp3DecodeResult::OpenFailed},
      {dir + "/text.mp3", dir + "/o3.wav", Mp3DecodeResult::NoAudio},
      {dir + "/empty.mp3", dir + "/o4.wav", Mp3DecodeResult::NoAudio},
      {mp3, dir + "/no/such/o5.wav", Mp3DecodeResult::WriteFailed},
      {dir + "/damaged.mp3", dir + "/o6.wav", Mp3DecodeResult::Ok},  // damaged frames skipped
      {dir + "/half.mp3", dir + "/o7.wav", Mp3DecodeResult::Ok},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeMp3ToWav(c.mp3, c.wav), c.result) << c.mp3;
    EXPECT_EQ(access(c.wav.c_str(), F_OK) == 0, c.result == Mp3DecodeResult::Ok) << c.mp3;
  }
  WavInfo info;
  ASSERT_EQ(ParseWav(test::ReadBytes(dir + "/o7.wav"), info), WavStatus::Ok);
  EXPECT_NEAR(info.dataBytes / 2.0, 44100 * 0.75, 3 * 1152);
  std::string listing;
  test::Run("ls -A " + Q(dir) + " | grep -c tmp-", &listing);
  EXPECT_EQ(listing, "0\n");
}

TEST_F(MediaFixture, LoadingDecodesOnceUnderTheLock) {
  const std::string wav = Sox("a.wav", "-r 44100 -c 1 -b 16");
  const std::string mp3 = dir + "/lesson.mp3";
  ASSERT_EQ(test::Run("lame --quiet -m m -b 64 " + Q(wav) + " " + Q(mp3)), 0);
  const std::string out = dir + "/lesson.wav";
  EXPECT_FALSE(DecodeMp3ForLoading(dir + "/none.mp3", dir + "/none.wav"));
  ASSERT_TRUE(DecodeMp3ForLoading(mp3, out));
  // A WAV that exists already is used unchanged.
  test::WriteBytes(out, test::ToBytes("kept"));
  EXPECT_TRUE(DecodeMp3ForLoading(mp3, out));
  EXPECT_EQ(test::ReadBytes(out), test::ToBytes("kept"));
  unlink(out.c_str());

  // While another process holds the decode lock, the load waits for it.
  int held[2], release[2];
  ASSERT_EQ(pipe(held), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    plat::NamedMutex m(plat::kMp3DecodeMutexName);
    m.Lock();
    char c = 1;
    (void)!write(held[1], &c, 1);
    (void)!read(release[0], &c, 1);
    _exit(0);  // the lock goes with the process
  }
  char c;
  ASSERT_EQ(read(held[0], &c, 1), 1);
  std::atomic<bool> done{false};
  bool ok = false;
  std::thread loader([&] {
    ok = DecodeMp3ForLoading(mp3, out);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(done.load());
  EXPECT_NE(access(out.c_str(), F_OK), 0);
  (void)!write(release[1], &c, 1);
  loader.join();
  waitpid(pid, nullptr, 0);
  EXPECT_TRUE(ok);
  WavInfo info;
  EXPECT_EQ(ParseWav(test::ReadBytes(out), info), WavStatus::Ok);
  for (int fd : {held[0], held[1], release[0], release[1]}) close(fd);
}

// MPEG-1 Layer III frame headers of an MP3 body: bitrate index, sample-rate index, mode.
struct FrameHeader {
  int version, bitrateIndex, rateIndex, mode, copyright, original;
};
std::vector<FrameHeader> WalkFrames(const Bytes& mp3) {
  static const int kKbps1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                 112, 128, 160, 192, 224, 256, 320, 0};
  static const int kKbps2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
  static const int kRates[4][3] = {
      {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  std::vector<FrameHeader> frames;
  std::size_t p = 0;
  while (p + 4 <= mp3.size()) {
    if (mp3[p] != 0xFF || (mp3[p + 1] & 0xE0) != 0xE0) break;
    FrameHeader h;
    h.version = (mp3[p + 1] >> 3) & 3;
    h.bitrateIndex = mp3[p + 2] >> 4;
    h.rateIndex = (mp3[p + 2] >> 2) & 3;
    const int pad = (mp3[p + 2] >> 1) & 1;
    h.mode = mp3[p + 3] >> 6;
    h.copyright = (mp3[p + 3] >> 3) & 1;
    h.original = (mp3[p + 3] >> 2) & 1;
    const int rate = kRates[h.version][h.rateIndex];
    const int kbps = (h.version == 3 ? kKbps1 : kKbps2)[h.bitrateIndex];
    if (rate == 0 || kbps == 0) break;
    const std::size_t len = (h.version == 3 ? 144 : 72) * kbps * 1000 / rate + pad;
    frames.push_back(h);
    p += len;
  }
  EXPECT_EQ(p, mp3.size()) << "frames do not fill the file";
  return frames;
}

TEST_F(MediaFixture, EncodesAtTheTrackSettings) {
  struct Case {
    std::uint32_t rate;
    std::uint16_t channels;
    int bitrateIndex;  // 64 kbit/s per channel
    int mode;          // 3 mono, 0 stereo
    int version;
  };
  const Case cases[] = {{44100, 1, 5, 3, 3}, {48000, 2, 9, 0, 3}, {22050, 1, 8, 3, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + "/" + std::to_string(c.channels));
    Mp3StreamEncoder enc;
    ASSERT_EQ(enc.Init(c.rate, c.channels), Mp3EncodeError::None);
    EXPECT_EQ(enc.SamplesPerChunk(), 1152u * c.channels);
    // Two seconds of a 440 Hz tone in chunks of odd sizes, as a track's chunks come.
    const std::size_t frames = c.rate * 2;
    std::vector<std::int16_t> pcm(frames * c.channels);
    for (std::size_t i = 0; i < frames; ++i) {
      const auto s = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * 440 * i / c.rate));
      for (int ch = 0; ch < c.channels; ++ch) pcm[i * c.channels + ch] = s;
    }
    Bytes mp3;
    std::size_t done = 0;
    while (done < frames) {
      const std::size_t n =
          std::min<std::size_t>(enc.SamplesPerChunk() / c.channels - 7, frames - done);
      ASSERT_TRUE(enc.Encode(pcm.data() + done * c.channels, n * c.channels, mp3));
      done += n;
    }
    ASSERT_TRUE(enc.Finish(mp3));
    enc.Close();
    const auto headers = WalkFrames(mp3);
    ASSERT_FALSE(headers.empty());
    for (const FrameHeader& h : headers) {
      EXPECT_EQ(h.version, c.version);
      EXPECT_EQ(h.bitrateIndex, c.bitrateIndex);  // constant bit rate, the information frame too
      EXPECT_EQ(h.mode, c.mode);
      EXPECT_EQ(h.copyright, 0);
      EXPECT_EQ(h.original, 0);
    }
    const std::string path = dir + "/enc.mp3";
    test::WriteBytes(path, mp3);
    ASSERT_EQ(DecodeMp3ToWav(path, dir + "/enc.wav"), Mp3DecodeResult::Ok);
    WavInfo info;
    ASSERT_EQ(ParseWav(test::ReadBytes(dir + "/enc.wav"), info), WavStatus::Ok);
    EXPECT_EQ(info.format.samplesPerSec, c.rate);
    EXPECT_EQ(info.format.channels, c.channels);
    EXPECT_GE(info.dataBytes / info.format.blockAlign, frames);
    EXPECT_LE(info.dataBytes / info.format.blockAlign, frames + 3 * 1152);
    EXPECT_NEAR(Frequency(dir + "/enc.wav"), 440, 15);
    unlink((dir + "/enc.wav").c_str());
  }
}

// The settings are LAME's own at 64 kbit/s CBR mono: the command line with the same options
// writes the very same bytes, its information frame at the head included (the command line
// would also measure a replay gain for it).
TEST_F(MediaFixture, EncodingEqualsTheLameCommandLine) {
  const std::string wavPath = Sox("speech.wav", "-r 44100 -c 1 -b 16");
  const Bytes wav = test::ReadBytes(wavPath);
  WavInfo info;
  ASSERT_EQ(ParseWav(wav, info), WavStatus::Ok);
  Mp3StreamEncoder enc;
  ASSERT_EQ(enc.Init(44100, 1), Mp3EncodeError::None);
  std::vector<std::int16_t> pcm(info.dataBytes / 2);
  std::memcpy(pcm.data(), wav.data() + info.dataOffset, info.dataBytes);
  Bytes ours;
  for (std::size_t done = 0; done < pcm.size();) {
    const std::size_t n = std::min(enc.SamplesPerChunk(), pcm.size() - done);
    ASSERT_TRUE(enc.Encode(pcm.data() + done, n, ours));
    done += n;
  }
  ASSERT_TRUE(enc.Finish(ours));
  const std::vector<std::uint8_t> head = enc.InfoFrame();
  ASSERT_FALSE(head.empty());
  ASSERT_LE(head.size(), ours.size());
  std::copy(head.begin(), head.end(), ours.begin());
  const std::string lamePath = dir + "/lame.mp3";
  ASSERT_EQ(test::Run("lame --quiet -m m -b 64 --cbr -o --noreplaygain " + Q(wavPath) + " " + Q(lamePath)), 0);
  EXPECT_TRUE(ours == test::ReadBytes(lamePath));
}

TEST(Mp3Encoder, RefusedSettings) {
  Mp3StreamEncoder enc;
  EXPECT_EQ(enc.Init(44100, 0), Mp3EncodeError::BadChannelCount);
  EXPECT_EQ(enc.Init(44100, 3), Mp3EncodeError::InitFailed);
  EXPECT_EQ(enc.Init(0, 1), Mp3EncodeError::InitFailed);
  EXPECT_EQ(enc.Init(12345, 1), Mp3EncodeError::InitFailed);
  std::vector<std::uint8_t> out;
  const std::int16_t s[4] = {};
  EXPECT_FALSE(enc.Encode(s, 4, out));
  EXPECT_FALSE(enc.Finish(out));
  ASSERT_EQ(enc.Init(44100, 1), Mp3EncodeError::None);
  std::vector<std::int16_t> tooMany(enc.SamplesPerChunk() + 1);
  EXPECT_FALSE(enc.Encode(tooMany.data(), tooMany.size(), out));
  EXPECT_STREQ(Mp3EncodeErrorText(Mp3EncodeError::BadChannelCount),
               "Incorrect number of channels in the file");
  EXPECT_STREQ(Mp3EncodeErrorText(Mp3EncodeError::InitFailed),
               "Bad format reported during encoder initialization");
  EXPECT_STREQ(Mp3EncodeErrorText(Mp3EncodeError::CannotCreate),
               "Unable to save to requested destination");
}

}  // namespace
}  // namespace vts::media
