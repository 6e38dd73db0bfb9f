// Benchmark of the track's sound paths: the work per captured block (mixing, conversion,
// gain, append, waveform request) and per returned playback buffer, and the memory of a
// 10-minute recording, before and after a chunk switch.
// Usage: bench_tracks [runs]   (virtual backend; prints medians over the runs)
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/buffer_descr.h"
#include "audio/virtual_endpoints.h"
#include "bench_util.h"
#include "captured_blocks.h"
#include "platform/thread_queue.h"
#include "sound_track_test_access.h"
#include "tracks/sound_track.h"

using namespace vts;
using Clock = std::chrono::steady_clock;

namespace {

using vts::bench::Median;

constexpr std::uint32_t kFrames = 1764;              // one 40 ms period at 44100 Hz
constexpr std::uint32_t kTenMinutes = 10 * 60 * 25;  // blocks

// A captured block as the engine makes one: header at the first 16-byte aligned address,
// float mono samples behind it.
CBufferDescr* CapturedBlock(std::uint32_t streamIndex, std::uint64_t firstFrame, double hz) {
  return vts::test::CapturedFloatBlock(streamIndex, kFrames, [&](std::uint32_t i) {
    return float(0.2 * std::sin(2 * M_PI * hz * double(firstFrame + i) / 44100));
  });
}

void DrainQueue() {
  plat::Msg m;
  while (plat::PeekMessage(&m, true))
    if (m.message == WM_SOUND_IN || m.message == WM_SOUND_OUT)
      ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(m.wParam));
}

long RssKiB() {
  std::ifstream f("/proc/self/statm");
  long pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Counts waveform requests (the drawing itself is the waveform strip's and has its own
// benchmark).
struct CountingDrawer : IWaveformDrawer {
  long draws = 0, repaints = 0;
  void DrawWaveform(CSoundTrack&, const WaveformView& v) override { draws += v.columns > 0; }
  void RepaintWaveform(CSoundTrack&) override { ++repaints; }
};

double ThreadCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

struct RecordRun {
  double perBlockUs;     // mean over the run, one stream
  double perBlockCpuUs;  // the same in thread CPU time (no time spent preempted)
  double worstBlockCpuUs;
  double perPairUs;     // mean over the run, microphone + loopback (two blocks mixed)
  double worstBlockUs;  // the slowest single block of the one-stream run
  long peakRssKiB;
  long rssBeforeKiB, rssAfterRecordKiB, rssAfterSwitchKiB;
};

// Records on the virtual devices, whose streams are stopped at once: every block then comes
// from the benchmark, and is appended to the chunk as the engine's would be.
void StartRecordingFedFromHere(CSoundTrack& track, std::uint32_t sources) {
  audio::VirtualEndpoints::Instance()->Reset();
  track.SetInputDevice(u"virtual_mic");
  track.SetOutputDevice(u"virtual_speaker");
  track.SetRecordSources(sources);
  track.ToggleRecord();
  track.StopAll();
  DrainQueue();
}

RecordRun RunRecording(plat::ThreadId self, EngineStateBlock* state) {
  RecordRun r{};
  r.rssBeforeKiB = RssKiB();
  auto track = std::make_unique<CSoundTrack>(self, "BenchStudent", state);
  CountingDrawer drawer;
  track->SetWaveformDrawer(&drawer);
  // No strip here: the track's redraws still cut the view to the bitmap's width.
  CSoundTrackTestAccess::EditView(*track, [](WaveformViewState& v) { v.bitmapWidth = 342; });
  track->AddChunk();
  track->AddChunk();
  track->SelectChunk(0);
  StartRecordingFedFromHere(*track, CSoundTrack::kRecordInput);

  // One stream: 10 minutes of blocks.
  std::vector<CBufferDescr*> ready;
  double worst = 0, total = 0, cpuTotal = 0, cpuWorst = 0;
  for (std::uint32_t i = 0; i < kTenMinutes; ++i) {
    CBufferDescr* b = CapturedBlock(0, std::uint64_t(i) * kFrames, 440);
    double c0 = ThreadCpuUs();
    auto t0 = Clock::now();
    track->OnCapturedBlock(b, 0);
    double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    double cpu = ThreadCpuUs() - c0;
    total += us;
    worst = std::max(worst, us);
    cpuTotal += cpu;
    cpuWorst = std::max(cpuWorst, cpu);
    if ((i & 255) == 0) DrainQueue();
  }
  r.perBlockUs = total / kTenMinutes;
  r.worstBlockUs = worst;
  r.perBlockCpuUs = cpuTotal / kTenMinutes;
  r.worstBlockCpuUs = cpuWorst;
  r.rssAfterRecordKiB = RssKiB();
  r.peakRssKiB = PeakRssKiB();

  track->ToggleRecord();
  DrainQueue();
  track->OnCapturedBlock(nullptr, 0);  // the end mark would come from the core thread
  track->SelectChunk(1);  // the recorded chunk goes to its file and leaves memory
  r.rssAfterSwitchKiB = RssKiB();
  track.reset();
  DrainQueue();

  // Two streams (pairs are mixed before conversion): 1000 pairs into another track.
  auto pairs = std::make_unique<CSoundTrack>(self, "BenchPairs", state);
  pairs->SetWaveformDrawer(&drawer);
  StartRecordingFedFromHere(*pairs, CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
  total = 0;
  for (std::uint32_t i = 0; i < 1000; ++i) {
    CBufferDescr* a = CapturedBlock(0, std::uint64_t(i) * kFrames, 440);
    CBufferDescr* b = CapturedBlock(1, std::uint64_t(i) * kFrames, 1000);
    auto t0 = Clock::now();
    pairs->OnCapturedBlock(a, 0);  // waits for its partner
    pairs->OnCapturedBlock(b, 0);
    total += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    if ((i & 255) == 0) DrainQueue();
  }
  r.perPairUs = total / 1000;
  pairs->ToggleRecord();
  DrainQueue();
  pairs->OnCapturedBlock(nullptr, 0);
  pairs->OnCapturedBlock(nullptr, 0);
  pairs.reset();
  DrainQueue();
  return r;
}

double RunPlayback(plat::ThreadId self, EngineStateBlock* state) {
  auto track = std::make_unique<CSoundTrack>(self, "BenchMaster", state);
  CountingDrawer drawer;
  track->SetWaveformDrawer(&drawer);
  CSoundTrackTestAccess::EditView(*track, [](WaveformViewState& v) { v.bitmapWidth = 490; });
  CChunkInfo* chunk = track->AddChunk();
  track->SelectChunk(0);
  const std::uint32_t frames = kTenMinutes * kFrames / 10;  // one minute
  chunk->Reserve(std::uint64_t(frames) * 2, kChunkGrowStep);
  for (std::uint32_t i = 0; i < frames; ++i)
    reinterpret_cast<std::int16_t*>(chunk->data)[i] =
        std::int16_t(8000 * std::sin(2 * M_PI * 440 * i / 44100.0));
  chunk->dataSize = frames * 2;
  chunk->length = frames;
  // No output device: the engine releases what it is handed, so only the track's own work
  // (cutting, header, hand-over, position, scroll, notifications) is measured.
  track->Play();
  DrainQueue();
  std::vector<CBufferDescr*> out;
  double total = 0;
  long buffers = 0;
  for (;;) {
    CBufferDescr* d = track->MakePlayBuffer(chunk);  // stands for the one the engine returns
    if (d == nullptr) break;
    auto t0 = Clock::now();
    track->OnBufferPlayed(&d);
    total += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    if (d) ReleaseBufferDescr(d);
    ++buffers;
    if ((buffers & 255) == 0) DrainQueue();
  }
  track.reset();
  DrainQueue();
  return buffers ? total / double(buffers) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("VTS_AUDIO_BACKEND", "virtual", 0);
  if (!std::getenv("VOXTRAILSTUDY_ROOT")) {
    static char root[] = "/tmp/vts-bench-tracks-XXXXXX";
    if (mkdtemp(root)) setenv("VOXTRAILSTUDY_ROOT", root, 1);
  }
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  plat::EnsureQueue();
  plat::ThreadId self = plat::CurrentThreadId();
  EngineStateBlock state;

  std::vector<double> block, pair, worst, play, cpu, cpuWorst;
  std::vector<double> peak, before, after, switched;
  for (int i = 0; i < runs; ++i) {
    RecordRun r = RunRecording(self, &state);
    block.push_back(r.perBlockUs);
    cpu.push_back(r.perBlockCpuUs);
    cpuWorst.push_back(r.worstBlockCpuUs);
    pair.push_back(r.perPairUs);
    worst.push_back(r.worstBlockUs);
    peak.push_back(double(r.peakRssKiB));
    before.push_back(double(r.rssBeforeKiB));
    after.push_back(double(r.rssAfterRecordKiB));
    switched.push_back(double(r.rssAfterSwitchKiB));
    play.push_back(RunPlayback(self, &state));
    std::printf(
        "run %d: record %.2f us/block (worst %.0f us), pair %.2f us, play %.2f us/buffer, "
        "RSS %ld -> %ld KiB recorded -> %ld KiB after switch, peak %ld KiB\n",
        i + 1, r.perBlockUs, r.worstBlockUs, r.perPairUs, play.back(), r.rssBeforeKiB,
        r.rssAfterRecordKiB, r.rssAfterSwitchKiB, r.peakRssKiB);
  }
  std::printf("median over %d runs (one period = 40000 us, a block every 20000 us):\n", runs);
  std::printf("  recording path, one stream:      %8.2f us per block (worst block %.0f us)\n",
              Median(block), Median(worst));
  std::printf("  recording path, one stream, CPU: %8.2f us per block (worst block %.0f us)\n",
              Median(cpu), Median(cpuWorst));
  std::printf("  recording path, two streams:     %8.2f us per mixed pair\n", Median(pair));
  std::printf("  playback path:                   %8.2f us per returned buffer\n", Median(play));
  std::printf(
      "  10-minute recording (%.1f MB of PCM): RSS %.0f -> %.0f KiB, after chunk switch %.0f KiB, "
      "peak %.0f KiB\n",
      kTenMinutes * double(kFrames) * 2 / 1e6, Median(before), Median(after), Median(switched),
      Median(peak));
  return 0;
}
