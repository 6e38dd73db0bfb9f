// Benchmark of the sound engine's per-period cost (never run by CTest):
//  - virtual backend, manual clock: capture-to-post latency (from the clock tick that
//    completes a period to the block's arrival on the owner thread) and process CPU per
//    second of captured audio (48 kHz endpoint -> 44.1 kHz mono engine), then the same for
//    playback (44.1 kHz mono buffers -> 48 kHz stereo endpoint);
//  - with PULSE_SERVER set: CPU per second of audio for a tone played to vts_speaker and
//    captured back by loopback, and the spread of the block arrivals.
// Usage: bench_audio_engine [seconds-of-audio [virtual|pulse]]   (default 60, both)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "audio/buffer_descr.h"
#include "audio/sound_works_was.h"
#include "audio/virtual_endpoints.h"
#include "bench_util.h"
#include "platform/thread_queue.h"

using namespace vts;
using Clock = std::chrono::steady_clock;

namespace {

using vts::bench::ProcessCpuSeconds;

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

CBufferDescr* SineBuffer(std::uint32_t frames, std::uint64_t first) {
  CBufferDescr* b = MakeBufferDescr(frames * 2 + kSoundHeaderBytes);
  b->kind = kSoundBlockKind;
  SoundBlockHeader* h = PlaybackHeader(*b);
  std::memset(h, 0, sizeof *h);
  h->channels = 1;
  h->samplesPerSec = 44100;
  h->sender = 1;
  h->frames = frames;
  h->bitsPerSample = 16;
  auto* s = reinterpret_cast<std::int16_t*>(SamplesBehind(h));
  for (std::uint32_t i = 0; i < frames; ++i)
    s[i] = std::int16_t(16000 * std::sin(2 * M_PI * 1000.0 * double(first + i) / 44100));
  return b;
}

std::unique_ptr<CSoundWorksWAS> Engine(EngineStateBlock* state,
                                       std::shared_ptr<audio::EndpointBackend> backend) {
  auto e = std::make_unique<CSoundWorksWAS>(state, std::move(backend));
  e->SetFormat(1, 44100, 16, 40);
  e->ownerThreadId = plat::CurrentThreadId();
  e->soundOutMessage = WM_SOUND_OUT;
  e->soundInMessage = WM_SOUND_IN;
  e->Start();
  return e;
}

void VirtualCapture(int seconds) {
  auto v = audio::VirtualEndpoints::Instance();
  v->SetManualClock(true);
  v->Reset(false);
  v->AddDevice({"mic", "Mic", DataFlow::Capture, 1, 48000, audio::VirtualSource::Sine(1000, 0.5f)});
  EngineStateBlock state;
  auto engine = Engine(&state, v);
  engine->StartCapture(u"mic", 0, 1);
  std::vector<double> latencyUs;
  std::uint64_t frames = 0;
  const double cpu0 = ProcessCpuSeconds();
  const auto wall0 = Clock::now();
  for (int step = 0; step < seconds * 50; ++step) {
    const auto t0 = Clock::now();
    v->Advance(20);
    plat::Msg msg;
    while (plat::PeekMessage(&msg, true) ||
           (step % 2 == 1 && plat::GetMessageTimeout(&msg, std::chrono::milliseconds(100)))) {
      if (msg.message != WM_SOUND_IN || !msg.wParam) continue;
      auto* d = reinterpret_cast<CBufferDescr*>(msg.wParam);
      latencyUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
      frames += CapturedHeader(*d)->frames;
      ReleaseBufferDescr(d);
      break;
    }
  }
  const double cpu = ProcessCpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
  engine->StopCapture(u"mic");
  engine.reset();
  plat::Msg msg;
  while (plat::PeekMessage(&msg, true))
    if (msg.message == WM_SOUND_IN) ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
  std::printf("virtual capture: %zu blocks, %.1f s of audio in %.3f s wall\n", latencyUs.size(),
              double(frames) / 44100, wall);
  std::printf("  capture-to-post latency: median %.1f us, p99 %.1f us, max %.1f us\n",
              Percentile(latencyUs, 0.5), Percentile(latencyUs, 0.99), Percentile(latencyUs, 1.0));
  std::printf("  CPU per second of audio: %.3f ms (incl. the virtual source's synthesis)\n",
              cpu * 1000.0 / (double(frames) / 44100));
}

void VirtualPlayback(int seconds) {
  auto v = audio::VirtualEndpoints::Instance();
  v->SetManualClock(true);
  v->Reset(false);
  v->AddDevice({"spk", "Speaker", DataFlow::Render, 2, 48000, {}});
  EngineStateBlock state;
  auto engine = Engine(&state, v);
  engine->StartPlayback(u"spk");
  const std::uint32_t total = std::uint32_t(seconds) * 25;
  std::uint32_t sent = 0, returned = 0;
  std::uint64_t frame = 0;
  auto next = [&] {
    engine->Playback(SineBuffer(1764, frame), false);
    frame += 1764;
    ++sent;
  };
  const double cpu0 = ProcessCpuSeconds();
  for (int i = 0; i < 4; ++i) next();
  while (returned < total) {
    plat::Msg msg;
    bool any = false;
    while (plat::PeekMessage(&msg, true)) {
      if (msg.message != WM_SOUND_OUT) continue;
      ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
      ++returned;
      any = true;
      if (sent < total) next();
    }
    if (!any) {
      v->Advance(10);
      v->ClearPlayed("spk");
      // Wait (bounded) until the playback thread has refilled the endpoint after the event.
      for (int i = 0; i < 200 && v->QueuedFrames("spk") < 7680 - 480 - 64 && sent < total; ++i) {
        if (plat::GetMessageTimeout(&msg, std::chrono::milliseconds(1)) &&
            msg.message == WM_SOUND_OUT) {
          ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
          ++returned;
          if (sent < total) next();
        }
      }
    }
  }
  const double cpu = ProcessCpuSeconds() - cpu0;
  engine->StopPlayback(u"spk");
  std::printf(
      "virtual playback: %u buffers, CPU per second of audio: %.3f ms (incl. the virtual sink's "
      "mixing)\n",
      returned, cpu * 1000.0 / (double(total) * 0.04));
}

void PulseLoop(int seconds) {
  if (!std::getenv("PULSE_SERVER")) {
    std::printf("pulse: PULSE_SERVER not set, skipped\n");
    return;
  }
  EngineStateBlock state;
  auto backend = audio::DefaultBackend();
  auto player = Engine(&state, backend);
  auto recorder = Engine(&state, backend);
  recorder->StartCapture(u"vts_speaker", 0, 3);
  player->StartPlayback(u"vts_speaker");
  const std::uint32_t total = std::uint32_t(seconds) * 25;
  std::uint32_t sent = 0, returned = 0, blocks = 0;
  std::uint64_t frame = 0;
  auto next = [&] {
    player->Playback(SineBuffer(1764, frame), false);
    frame += 1764;
    ++sent;
  };
  std::vector<double> gapsMs;
  auto last = Clock::now();
  const double cpu0 = ProcessCpuSeconds();
  const auto wall0 = Clock::now();
  for (int i = 0; i < 4; ++i) next();
  while (returned < total && Clock::now() - wall0 < std::chrono::seconds(seconds * 2 + 10)) {
    plat::Msg msg;
    if (!plat::GetMessageTimeout(&msg, std::chrono::milliseconds(100))) continue;
    if (msg.message == WM_SOUND_OUT) {
      ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
      ++returned;
      if (sent < total) next();
    } else if (msg.message == WM_SOUND_IN && msg.wParam) {
      ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
      auto now = Clock::now();
      if (blocks++ > 0)
        gapsMs.push_back(std::chrono::duration<double, std::milli>(now - last).count());
      last = now;
    }
  }
  const double cpu = ProcessCpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
  player->StopPlayback(u"vts_speaker");
  recorder->StopCapture(u"vts_speaker");
  std::printf("pulse play + loopback capture: %u buffers out, %u blocks in over %.2f s\n", returned,
              blocks, wall);
  std::printf("  block gap: median %.1f ms, p1 %.1f ms, p99 %.1f ms\n", Percentile(gapsMs, 0.5),
              Percentile(gapsMs, 0.01), Percentile(gapsMs, 0.99));
  std::printf("  CPU per second of audio (both engines, client side): %.3f ms\n",
              cpu * 1000.0 / wall);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const std::string only = argc > 2 ? argv[2] : "";
  plat::EnsureQueue();
  if (only.empty() || only == "virtual") {
    VirtualCapture(seconds);
    VirtualPlayback(seconds);
  }
  if (only.empty() || only == "pulse") PulseLoop(std::min(seconds, 10));
  return 0;
}
