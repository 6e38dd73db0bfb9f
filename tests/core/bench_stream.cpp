// Benchmark of the Student stream: a recording of `minutes` (default 60) grows by one 40 ms
// block at a time on the core thread, and after every block the stream sends what is due to
// a peer on a real socket, with 256 destinations in every relay. Reports the bytes sent per
// second of audio and the core thread's CPU spent streaming per second of audio (the
// recording's own append is not counted), as a median over the runs.
// Usage: bench_stream [minutes] [runs]   (virtual backend, a private root)
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "core/app_core.h"
#include "core/core_thread.h"
#include "core/pipe_channel.h"
#include "core/stream_protocol.h"
#include "tracks/sound_track.h"

using namespace vts;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kBlockFrames = 1764;  // 40 ms at 44100 Hz
constexpr std::uint32_t kPeerMsg = plat::WM_USER + 0x20;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// Reads everything the recorder sends and counts the relays' bytes.
class DrainingPeer {
 public:
  DrainingPeer() {
    std::promise<plat::ThreadId> id;
    auto idReady = id.get_future();
    thread_ = std::thread([this, &id] {
      plat::EnsureQueue();
      id.set_value(plat::CurrentThreadId());
      plat::Msg m;
      while (plat::GetMessage(&m)) {
        if (m.message != kPeerMsg) continue;
        if (m.lParam == kPipeConnected) {
          connected = true;
        } else if (IsPipeBlock(m.lParam)) {
          std::uint32_t n;
          std::memcpy(&n, reinterpret_cast<const void*>(m.lParam), 4);
          std::uint32_t type = 0;
          if (n >= 4) std::memcpy(&type, reinterpret_cast<const std::uint8_t*>(m.lParam) + 4, 4);
          if (type == STREAM_MSG_RELAY) {
            relayBytes += 4 + n;
            ++relays;
          }
          FreePipeBlock(m.lParam);
        }
      }
      plat::EndQueue([](const plat::Msg& m) { FreePipeBlock(m.lParam); });
    });
    threadId_ = idReady.get();
    channel_ = std::make_unique<CPipeChannel>(CAppCore::kStreamPipeName, threadId_, kPeerMsg);
    channel_->Start(CPipeChannel::Mode::kServer);
  }
  ~DrainingPeer() {
    channel_->Stop();
    plat::PostThreadMessage(threadId_, plat::WM_QUIT, 0, 0);
    thread_.join();
  }
  std::atomic<bool> connected{false};
  std::atomic<std::uint64_t> relayBytes{0};
  std::atomic<std::uint64_t> relays{0};

 private:
  std::thread thread_;
  plat::ThreadId threadId_ = 0;
  std::unique_ptr<CPipeChannel> channel_;
};

struct Result {
  double audioSeconds = 0, cpuSeconds = 0, wallSeconds = 0;
  std::uint64_t bytes = 0, relays = 0;
};

Result RunOnce(std::uint32_t minutes) {
  DrainingPeer peer;
  CAppCore core;
  std::vector<StreamDestination> many(kMaxStreamDestinations);
  for (std::uint32_t i = 0; i < many.size(); ++i)
    many[i] = {i, 10, 0, std::uint8_t(i >> 8), std::uint8_t(i)};
  core.SetStreamDestinations(many);
  CSoundTrack* student = core.studentTrack;
  student->GetTempSoundFolder("StudentBench");

  const auto until = std::chrono::steady_clock::now() + 10s;
  auto onCore = [&](auto f) {
    std::promise<decltype(f())> p;
    auto r = p.get_future();
    core.coreThread.PostTask([&] { p.set_value(f()); });
    return r.get();
  };
  while (!(peer.connected && onCore([&] { return core.streamPipeHandle != 0; })) &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(10ms);

  std::vector<std::int16_t> tone(kBlockFrames);
  for (std::uint32_t i = 0; i < kBlockFrames; ++i)
    tone[i] = static_cast<std::int16_t>(6000 * std::sin(2 * M_PI * 440.0 * i / 44100.0));
  const std::uint64_t blocks = std::uint64_t(minutes) * 60 * 25;

  Result r = onCore([&] {
    Result out;
    student->AddChunk();
    student->SelectChunk(0);
    const auto wall0 = std::chrono::steady_clock::now();
    for (std::uint64_t b = 0; b <= blocks; ++b) {
      const bool final = b == blocks;
      if (!final) {  // the recording path's append, not measured
        std::lock_guard lock(student->BufferLock());
        CChunkInfo* c = student->CurrentChunk();
        if (!c->Reserve(std::uint64_t(c->dataSize) + kBlockFrames * 2, 1u << 20)) break;
        std::memcpy(c->data + c->dataSize, tone.data(), kBlockFrames * 2);
        c->dataSize += kBlockFrames * 2;
        c->length += kBlockFrames;
      }
      const double t0 = ThreadCpuSeconds();
      if (!core.SendStreamBlock(final)) std::fprintf(stderr, "bench_stream: a write failed\n");
      out.cpuSeconds += ThreadCpuSeconds() - t0;
    }
    out.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    out.audioSeconds = blocks * kBlockFrames / 44100.0;
    return out;
  });
  // Everything sent has arrived: a whole number of blocks plus the rest.
  const std::uint64_t samples = blocks * kBlockFrames;
  const std::uint64_t expected =
      samples / kStreamBlockSamples + (samples % kStreamBlockSamples ? 1 : 0);
  const auto drained = std::chrono::steady_clock::now() + 60s;
  while (peer.relays < expected && std::chrono::steady_clock::now() < drained)
    std::this_thread::sleep_for(10ms);
  r.bytes = peer.relayBytes;
  r.relays = peer.relays;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("VTS_AUDIO_BACKEND", "virtual", 0);
  if (!std::getenv("VOXTRAILSTUDY_ROOT")) {
    static char root[] = "/tmp/vts-bench-stream-XXXXXX";
    if (mkdtemp(root)) setenv("VOXTRAILSTUDY_ROOT", root, 1);
  }
  const std::uint32_t minutes = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 60;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  std::vector<double> bytesPerSecond, cpuPercent, cpuUsPerSecond;
  for (int i = 0; i < runs; ++i) {
    const Result r = RunOnce(minutes);
    const double bps = r.bytes / r.audioSeconds;
    const double us = r.cpuSeconds * 1e6 / r.audioSeconds;
    std::printf(
        "run %d: %.0f s of audio, %llu relays, %.0f bytes/s, stream CPU %.1f us per s of audio "
        "(%.4f%% of a core), wall %.2f s\n",
        i + 1, r.audioSeconds, static_cast<unsigned long long>(r.relays), bps, us, us / 1e4,
        r.wallSeconds);
    bytesPerSecond.push_back(bps);
    cpuUsPerSecond.push_back(us);
    cpuPercent.push_back(us / 1e4);
  }
  std::printf(
      "median: %.0f bytes/s, %.1f us CPU per s of audio = %.4f%% of a core (goal: under 1%%)\n",
      bench::Median(bytesPerSecond), bench::Median(cpuUsPerSecond), bench::Median(cpuPercent));
  return 0;
}
