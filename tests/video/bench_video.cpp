// Benchmarks of the video path (goals, not tests):
//   decode   decode + scale + draw per frame at 720p and 1080p, as a fraction of the frame
//            interval (wall) and of one core (CPU); goal under 25% of a core at 1080p30
//   seek     time from a trackbar seek to the frame on show; goal under 100 ms
//   drift    A/V drift while playing: each drawn frame's time against the voice's played
//            position; goal under 40 ms over 10 minutes
//   sync     per container (mp4, mkv, avi with B-frames, MJPEG avi, mpg, mp4 whose sound
//            starts 0.3 s late): each drawn frame's time less the voice's played position,
//            median and 90th percentile of |.|; goal within 15 ms
//   window   1080p30 H.264 played for 10 s in the window the recorder opens (516 x 290):
//            CPU of one core and peak RSS; goal at or under a general-purpose player's on
//            the same file, measured side by side
// Usage: bench_video [decode|seek|drift|sync|window] [drift seconds, default 600]. Fixtures are made by
// the ffmpeg CLI into build/test-fixtures/video. Sound: the process's backend
// (VTS_AUDIO_BACKEND=virtual for the virtual one).
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "audio/endpoint.h"
#include "bench_util.h"
#include "video/video_site_window.h"
#include "video/video_voice.h"
#include "video_fixtures.h"

using namespace vts;
using Clock = std::chrono::steady_clock;

namespace {

using vts::bench::ProcessCpuSeconds;

std::unique_ptr<CVideoSiteWindow> OpenSite(const std::string& path, IVideoWindowSystem& windows,
                                           int width) {
  auto site = std::make_unique<CVideoSiteWindow>(nullptr, nullptr, audio::DefaultBackend());
  site->Create(windows, nullptr, 0, 0, width, 0, 0, 0);
  std::atomic<bool> done{false};
  site->OpenSourceFileName(path, [&] { done = true; });
  while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return site;
}

bool WaitDrawn(CVideoSiteWindow& site, std::uint64_t before) {
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (site.FramesDrawn() == before) {
    if (Clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

void Decode() {
  auto windows = HeadlessVideoWindowSystem();
  struct Size {
    int w, h, targetW;
  } sizes[] = {{1280, 720, 1280}, {1920, 1080, 1920}};
  for (const Size& s : sizes) {
    test::VideoSpec spec;
    spec.width = s.w;
    spec.height = s.h;
    spec.rate = "30";
    spec.seconds = 6;
    auto site = OpenSite(test::MakeVideo(spec), *windows, s.targetW);
    const int frames = 150;
    const auto t0 = Clock::now();
    const double c0 = ProcessCpuSeconds();
    for (int i = 0; i < frames; ++i) {
      const auto before = site->FramesDrawn();
      site->FirstExecutor().Post([&] { site->DecodeNext(2); });
      if (!WaitDrawn(*site, before)) break;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count() / frames;
    const double cpu = (ProcessCpuSeconds() - c0) / frames;
    const double interval = 1.0 / 30.0;
    std::printf(
        "decode %dx%d: %.2f ms wall/frame (%.0f%% of the 33.3 ms interval), %.2f ms CPU/frame "
        "(%.0f%% of one core at 30 fps)\n",
        s.w, s.h, wall * 1e3, 100 * wall / interval, cpu * 1e3, 100 * cpu / interval);
  }
}

void Seek() {
  auto windows = HeadlessVideoWindowSystem();
  for (int gop : {60, 250}) {
    test::VideoSpec spec;
    spec.width = 1920;
    spec.height = 1080;
    spec.rate = "30";
    spec.seconds = 10.9;
    spec.keyframeInterval = gop;
    auto site = OpenSite(test::MakeVideo(spec), *windows, 1280);
    std::mt19937 rng(7);
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
      const std::uint32_t at = rng() % 10'000;
      const auto before = site->FramesDrawn();
      const auto t0 = Clock::now();
      site->SetTime(at);
      if (!WaitDrawn(*site, before)) continue;
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("seek 1080p (keyframes every %s): median %.1f ms, max %.1f ms over %zu seeks\n",
                gop == 60 ? "2 s" : "8.3 s", ms[ms.size() / 2], ms.back(), ms.size());
  }
}

// Plays the open site to its end (or `limit` s) and gives each drawn frame's time less the
// voice's played position then, in ms.
std::vector<double> PlayAndFollow(CVideoSiteWindow& site, int limit) {
  std::mutex m;
  std::vector<double> drift;
  site.onFrameDrawn = [&](std::int64_t posMs) {
    VideoVoice* v = site.Voice();
    if (!v || !v->Started()) return;
    if (auto played = v->PlayedPositionMs()) {
      std::lock_guard l(m);
      drift.push_back(double(posMs - *played));
    }
  };
  site.halted = 0;
  const auto end = Clock::now() + std::chrono::seconds(limit);
  while (!site.EndOfFile() && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  site.halted = 1;
  site.SecondExecutor().Stop();  // no drawing reads `drift` any more
  std::lock_guard l(m);
  return drift;
}

void Drift(int seconds) {
  auto windows = HeadlessVideoWindowSystem();
  test::VideoSpec spec;
  spec.seconds = seconds;
  spec.rate = "30000/1001";
  auto site = OpenSite(test::MakeVideo(spec), *windows, 640);
  if (!site->HasVoice()) {
    std::printf("drift: no voice (no sound server?)\n");
    return;
  }
  const std::vector<double> drift = PlayAndFollow(*site, seconds + 10);
  std::vector<double> abs;
  for (double d : drift) abs.push_back(std::fabs(d));
  std::sort(abs.begin(), abs.end());
  if (abs.empty()) return;
  // The drift in the last minute against the first shows whether it grows.
  auto meanOf = [&](std::size_t from, std::size_t to) {
    double s = 0;
    for (std::size_t i = from; i < to; ++i) s += drift[i];
    return s / double(std::max<std::size_t>(to - from, 1));
  };
  const std::size_t n = drift.size(), minute = std::min<std::size_t>(n / 2, 1800);
  std::printf(
      "drift over %d s (%zu frames): |drawn - heard| median %.1f ms, 99%% %.1f ms, max %.1f ms; "
      "mean first minute %.1f ms, last minute %.1f ms\n",
      seconds, n, abs[n / 2], abs[n * 99 / 100], abs.back(), meanOf(0, minute),
      meanOf(n - minute, n));
}

void Sync() {
  auto windows = HeadlessVideoWindowSystem();
  struct Row {
    const char* name;
    test::VideoSpec spec;
  };
  auto spec = [](std::string container) {
    test::VideoSpec s;
    s.container = std::move(container);
    s.seconds = 8;
    return s;
  };
  test::VideoSpec bFrames = spec("avi"), late = spec("mp4"), mjpeg = spec("avi");
  bFrames.bFrames = 2;
  late.soundDelay = 0.3;
  mjpeg.videoCodec = "mjpeg";
  const Row rows[] = {{"mp4", spec("mp4")},          {"mkv", spec("mkv")},
                      {"avi (B-frames)", bFrames},   {"avi (MJPEG)", mjpeg},
                      {"mpg", spec("mpg")},          {"mp4 (sound 0.3 s late)", late}};
  for (const Row& r : rows) {
    auto site = OpenSite(test::MakeVideo(r.spec), *windows, 516);
    if (!site->HasVoice()) {
      std::printf("sync: no voice (no sound server?)\n");
      return;
    }
    std::vector<double> drift = PlayAndFollow(*site, 20);
    if (std::getenv("VTS_BENCH_VERBOSE"))
      for (std::size_t i = 0; i < drift.size(); ++i) std::fprintf(stderr, "%zu:%.0f ", i, drift[i]);
    std::vector<double> abs;
    for (double d : drift) abs.push_back(std::fabs(d));
    std::sort(abs.begin(), abs.end());
    if (abs.empty()) continue;
    std::printf("sync %-24s frame less played: median %+.1f ms, |.| 90%% %.1f ms over %zu frames\n",
                r.name, vts::bench::Median(drift), abs[abs.size() * 9 / 10], abs.size());
  }
}

// Peak resident memory of this process, in MiB.
double PeakRssMiB() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  double kib = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atof(line + 6);
  std::fclose(f);
  return kib / 1024.0;
}

void Window() {
  // The recorder's window: 516 wide, 290 high for the picture (400 less the trackbar's 40,
  // less the frame's caption and border).
  test::VideoSpec spec;
  spec.width = 1920;
  spec.height = 1080;
  spec.rate = "30";
  spec.seconds = 12;
  const std::string path = test::MakeVideo(spec);
  auto windows = HeadlessVideoWindowSystem();
  auto site = OpenSite(path, *windows, 516);
  site->Resize(516, 290);
  const double c0 = ProcessCpuSeconds();
  const auto t0 = Clock::now();
  site->halted = 0;
  std::this_thread::sleep_for(std::chrono::seconds(10));
  const double cpu = ProcessCpuSeconds() - c0;
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  site->halted = 1;
  std::printf("window 1080p30 in 516 x 290: %.1f%% of a core, peak RSS %.0f MiB, %llu frames drawn\n",
              100.0 * cpu / wall, PeakRssMiB(), (unsigned long long)site->FramesDrawn());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "all";
  if (what == "decode" || what == "all") Decode();
  if (what == "seek" || what == "all") Seek();
  if (what == "sync" || what == "all") Sync();
  if (what == "window" || what == "all") Window();
  if (what == "drift" || what == "all") Drift(argc > 2 ? std::atoi(argv[2]) : 600);
  return 0;
}
