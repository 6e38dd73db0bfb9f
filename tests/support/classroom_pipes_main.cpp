// classroom-pipes: the classroom's two pipe servers as a program of ours, for end-to-end tests
// and for trying the link by hand. Uses VOXTRAILSTUDY_ROOT like the recorder.
//
//   classroom-pipes stream [--client-id N] [--log FILE] [--lifetime-ms N]
//       serves the stream pipe: answers each client-id request (52) with N (default 7) and
//       appends one line per event to FILE (default: standard output):
//         connect H | disconnect H | msg type=T len=L hex=...      (hello, 52, 1081, others)
//         relay chunk=C pos=P bytes=B k=K dest=N@a.b.c.d,... rms=R hz=F
//       Lines on standard input send messages to every connection:
//         text WORDS...                       a text to show (1)
//         audio CHUNK POS SAMPLES HZ [ID...]  a sine of HZ as Master audio (2)
//         mixer A B                           mixer values (1001)
//         id N                                another client id (52)
//         quit
//   classroom-pipes interface [--garbage N] [--log FILE] [--lifetime-ms N]
//       serves the interface pipe and sends N bytes of garbage (framed and not) on each
//       connect; logs connects and whatever arrives.
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/app_core.h"
#include "core/core_thread.h"
#include "core/pipe_channel.h"
#include "core/stream_protocol.h"
#include "platform/thread_queue.h"
#include "platform/utf.h"
#include "stream_messages.h"

using namespace vts;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kEvent = plat::WM_USER + 0x10;
constexpr std::uint32_t kSendLine = plat::WM_USER + 0x11;  // lParam: std::string*
std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

using test::Bytes;
using test::Get32;
using test::Message;
using test::Put32;

std::string Hex(const std::uint8_t* p, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

class Log {
 public:
  explicit Log(const std::string& path) {
    if (!path.empty()) file_.open(path, std::ios::app);
  }
  void Line(const std::string& s) {
    std::lock_guard lock(m_);
    std::ostream& out = file_.is_open() ? static_cast<std::ostream&>(file_) : std::cout;
    out << s << "\n";
    out.flush();
  }

 private:
  std::mutex m_;
  std::ofstream file_;
};

// One relay message (the N bytes, type first) described: its head, its list, and the sound.
std::string DescribeRelay(const std::uint8_t* m, std::size_t n) {
  if (n < 50) return "relay short len=" + std::to_string(n);
  const std::uint8_t* inner = m + 4 + 8 + 14;
  const std::uint32_t chunk = Get32(inner + 8), pos = Get32(inner + 12), bytes = Get32(inner + 16),
                      k = Get32(inner + 20);
  std::ostringstream s;
  s << "relay len=" << n << " inner=" << Get32(inner) << " chunk=" << chunk << " pos=" << pos
    << " bytes=" << bytes << " k=" << k << " dest=";
  if (50 + 8ull * k + bytes != n) return s.str() + " BAD-LENGTH";
  const std::uint8_t* d = inner + 24;
  for (std::uint32_t i = 0; i < k; ++i, d += 8)
    s << (i ? "," : "") << Get32(d) << "@" << int(d[4]) << "." << int(d[5]) << "." << int(d[6])
      << "." << int(d[7]);
  const std::size_t samples = bytes / 2;
  double sum = 0;
  std::size_t crossings = 0;
  std::int16_t prev = 0;
  for (std::size_t i = 0; i < samples; ++i) {
    std::int16_t v;
    std::memcpy(&v, d + 2 * i, 2);
    sum += double(v) * v;
    if (i && ((prev < 0) != (v < 0))) ++crossings;
    prev = v;
  }
  const double rms = samples ? std::sqrt(sum / samples) : 0;
  const double hz = samples ? crossings / 2.0 / (samples / 44100.0) : 0;
  s << " rms=" << static_cast<long>(rms) << " hz=" << static_cast<long>(hz);
  return s.str();
}

std::vector<std::int16_t> Sine(std::uint32_t samples, double hz) {
  std::vector<std::int16_t> out(samples);
  for (std::uint32_t i = 0; i < samples; ++i)
    out[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * hz * i / 44100.0));
  return out;
}

// A line of standard input as a message; empty when it is not one.
Bytes Command(const std::string& line, bool* quit) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  if (word == "quit") *quit = true;
  if (word == "text") {
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    Bytes p;
    for (char16_t u : plat::Utf8ToUtf16(rest) + u'\0') {
      p.push_back(static_cast<std::uint8_t>(u));
      p.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return Message(STREAM_MSG_TEXT, p);
  }
  if (word == "audio") {
    std::uint32_t chunk = 0, pos = 0, samples = 0;
    double hz = 440;
    in >> chunk >> pos >> samples >> hz;
    std::vector<std::uint32_t> ids;
    for (std::uint32_t id; in >> id;) ids.push_back(id);
    return test::AudioMessage(chunk, pos, Sine(samples, hz), ids);
  }
  if (word == "mixer") {
    std::uint32_t a = 0, b = 0;
    in >> a >> b;
    Bytes p;
    Put32(p, a);
    Put32(p, b);
    return Message(STREAM_MSG_MIXER_VALUES, p);
  }
  if (word == "id") {
    std::uint32_t id = 0;
    in >> id;
    Bytes p;
    Put32(p, id);
    return Message(STREAM_MSG_CLIENT_ID, p);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: classroom-pipes stream|interface [options]\n");
    return 2;
  }
  const std::string mode = argv[1];
  std::map<std::string, std::string> opt;
  for (int i = 2; i + 1 < argc; i += 2) opt[argv[i]] = argv[i + 1];
  auto get = [&](const std::string& k, const std::string& d) { return opt.count(k) ? opt[k] : d; };
  std::uint32_t clientId = static_cast<std::uint32_t>(std::stoul(get("--client-id", "7")));
  const long lifetimeMs = std::stol(get("--lifetime-ms", "0"));
  const std::size_t garbage = std::stoul(get("--garbage", "0"));
  Log log(get("--log", ""));
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);

  plat::EnsureQueue();
  const bool stream = mode == "stream";
  if (!stream && mode != "interface") {
    std::fprintf(stderr, "classroom-pipes: unknown mode %s\n", mode.c_str());
    return 2;
  }
  CPipeChannel channel(stream ? CAppCore::kStreamPipeName : CAppCore::kInterfacePipeName,
                       plat::CurrentThreadId(), kEvent);
  if (!channel.Start(CPipeChannel::Mode::kServer)) return 1;
  log.Line("listening " + channel.Path());

  const plat::ThreadId self = plat::CurrentThreadId();
  if (stream) {
    std::thread([self] {
      std::string line;
      while (std::getline(std::cin, line))
        if (!plat::PostThreadMessage(self, kSendLine, 0,
                                     reinterpret_cast<plat::LPARAM>(new std::string(line))))
          break;
      plat::PostThreadMessage(self, kSendLine, 0, 0);  // end of input
    }).detach();
  }

  std::set<plat::WPARAM> connections;
  std::mt19937 random(12345);
  const auto start = std::chrono::steady_clock::now();
  bool quit = false;
  while (!g_stop && !quit) {
    if (lifetimeMs > 0 &&
        std::chrono::steady_clock::now() - start > std::chrono::milliseconds(lifetimeMs))
      break;
    plat::Msg m;
    if (!plat::GetMessageTimeout(&m, 100ms)) continue;
    if (m.message == kSendLine) {
      if (m.lParam == 0) continue;  // input ended: keep serving until stopped
      std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(m.lParam));
      Bytes out = Command(*line, &quit);
      if (!out.empty())
        for (plat::WPARAM h : connections) channel.Write(h, out);
      continue;
    }
    if (m.message != kEvent) continue;
    if (m.lParam == kPipeConnected) {
      connections.insert(m.wParam);
      log.Line("connect " + std::to_string(m.wParam));
      if (garbage) {
        Bytes junk(garbage);
        for (auto& b : junk) b = static_cast<std::uint8_t>(random());
        channel.Write(m.wParam, Message(STREAM_MSG_TEXT, {'h', 0, 0, 0}));
        channel.Write(m.wParam, Message(4242, junk));
        channel.Write(m.wParam,
                      Bytes(junk.begin(), junk.begin() + std::min<std::size_t>(junk.size(), 3)));
      }
      continue;
    }
    if (m.lParam == kPipeDisconnected) {
      connections.erase(m.wParam);
      log.Line("disconnect " + std::to_string(m.wParam));
      continue;
    }
    const auto* block = reinterpret_cast<const std::uint8_t*>(m.lParam);
    const std::uint32_t n = Get32(block);
    const std::uint8_t* body = block + 4;
    const std::uint32_t type = n >= 4 ? Get32(body) : 0;
    if (stream && type == STREAM_MSG_RELAY) {
      log.Line(DescribeRelay(body, n));
    } else {
      log.Line("msg type=" + std::to_string(type) + " len=" + std::to_string(n) +
               " hex=" + Hex(block, 4 + std::min<std::uint32_t>(n, 64)));
    }
    if (stream && type == STREAM_MSG_CLIENT_ID) {
      Bytes p;
      Put32(p, clientId);
      channel.Write(m.wParam, Message(STREAM_MSG_CLIENT_ID, p));
    }
    FreePipeBlock(m.lParam);
  }
  channel.Stop();
  plat::EndQueue([](const plat::Msg& m) {
    if (m.message == kEvent) FreePipeBlock(m.lParam);
    if (m.message == kSendLine) delete reinterpret_cast<std::string*>(m.lParam);
  });
  return 0;
}
