// The classroom link end to end on the private sound server: the recorder started
// "/Pos:1 /Stream /MixerInput:Mic" with a lesson, our stream peer and interface server on the
// real sockets, the classroom double sending the destination list and pressing BUTREC and
// BUTSTOP by remote control while a tone plays into the microphone.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "process_helper.h"
#include "pulse_util.h"
#include "test_env.h"

using namespace std::chrono_literals;

namespace vts {
namespace {

struct Relay {
  std::uint32_t len = 0, inner = 0, chunk = 0, pos = 0, bytes = 0, k = 0;
  std::string dest;
  long rms = 0, hz = 0;
};

std::vector<Relay> Relays(const std::string& log) {
  static const std::regex line(
      R"(relay len=(\d+) inner=(\d+) chunk=(\d+) pos=(\d+) bytes=(\d+) k=(\d+) dest=(\S*) rms=(\d+) hz=(\d+))");
  std::vector<Relay> out;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
    const std::smatch& m = *it;
    out.push_back(
        {static_cast<std::uint32_t>(std::stoul(m[1])), static_cast<std::uint32_t>(std::stoul(m[2])),
         static_cast<std::uint32_t>(std::stoul(m[3])), static_cast<std::uint32_t>(std::stoul(m[4])),
         static_cast<std::uint32_t>(std::stoul(m[5])), static_cast<std::uint32_t>(std::stoul(m[6])),
         m[7], std::stol(m[8]), std::stol(m[9])});
  }
  return out;
}

TEST(ClassroomLinkPulse, RecordingByRemoteControlIsStreamedToThePeer) {
  const std::string server = test::PulseTestServer();
  ASSERT_FALSE(server.empty()) << "the private PulseAudio server is not running";
  const std::string dir = test::MakeTempDir("classroom");
  const std::string lesson = dir + "/lesson.wav";
  ASSERT_EQ(test::RunShell("sox -q -n -r 44100 -c 1 -b 16 '" + lesson +
                           "' synth 2 sine 300 vol 0.2; echo $?"),
            "0");
  const std::string streamLog = dir + "/stream.log", ifaceLog = dir + "/iface.log";

  test::ChildProcess peer, iface, recorder;
  ASSERT_TRUE(peer.Start(VTS_CLASSROOM_PIPES, {"stream", "--log", streamLog, "--client-id", "7"}));
  ASSERT_TRUE(
      iface.Start(VTS_CLASSROOM_PIPES, {"interface", "--log", ifaceLog, "--garbage", "500"}));
  ASSERT_TRUE(recorder.Start(VTS_RECORDER_PATH, {"/Pos:1", "/Stream", "/MixerInput:Mic", lesson},
                             {"QT_QPA_PLATFORM=offscreen"}));

  // The greeting, byte for byte, and the mixer-input notice (sent after it when the peer came
  // late, at once when it was there).
  ASSERT_TRUE(test::WaitUntil(
      [&] { return test::ReadFile(streamLog).find("type=1081") != std::string::npos; }, 60s))
      << test::ReadFile(streamLog);
  const std::string greeting = test::ReadFile(streamLog);
  EXPECT_NE(
      greeting.find(
          "msg type=54 len=26 hex=1a000000360000000000000000000000566f78747261696c737475647900"),
      std::string::npos);
  EXPECT_NE(greeting.find("msg type=52 len=4 hex=0400000034000000"), std::string::npos);
  EXPECT_NE(greeting.find("msg type=1081 len=4 hex=0400000039040000"), std::string::npos);
  EXPECT_TRUE(test::WaitUntil(
      [&] { return test::ReadFile(ifaceLog).find("connect") != std::string::npos; }, 30s));

  // The window registers after the core connected: the list goes as soon as it is there.
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        return test::RunProgram(VTS_CLASSROOM_DOUBLE, {"copydata", "--position", "1", "1",
                                                       "5|192.168.0.7|12|10.0.0.1|"}) == 0;
      },
      60s));

  const std::string tonePid = test::RunShell(
      "setsid sh -c \"sox -q -n -t raw -r 44100 -e signed -b 16 -c 1 - synth 30 sine 660 vol 0.3 | "
      "pacat -s '" +
      server +
      "' --device=vts_mic_in --raw --format=s16le --rate=44100 --channels=1\" >/dev/null 2>&1 & "
      "echo $!");
  ASSERT_EQ(
      test::RunProgram(VTS_CLASSROOM_DOUBLE, {"post", "--position", "1", "0x592", "1017", "0"}), 0);
  // Recording runs until the tone is in several full blocks.
  const bool toneStreamed = test::WaitUntil(
      [&] {
        int toned = 0;
        for (const Relay& r : Relays(test::ReadFile(streamLog)))
          if (r.hz > 600 && r.hz < 720 && r.rms > 1000) ++toned;
        return toned >= 2;
      },
      60s);
  ASSERT_EQ(
      test::RunProgram(VTS_CLASSROOM_DOUBLE, {"post", "--position", "1", "0x592", "1036", "0"}), 0);
  // The final block: shorter than a full one.
  const bool ended = test::WaitUntil(
      [&] {
        auto relays = Relays(test::ReadFile(streamLog));
        return !relays.empty() && relays.back().bytes < 32768;
      },
      30s);
  if (!tonePid.empty())
    test::RunShell("kill -- -" + tonePid + " 2>/dev/null; true");  // its process group
  EXPECT_TRUE(toneStreamed) << test::ReadFile(streamLog);
  ASSERT_TRUE(ended) << test::ReadFile(streamLog);

  const std::vector<Relay> relays = Relays(test::ReadFile(streamLog));
  ASSERT_GE(relays.size(), 3u);
  for (std::size_t i = 0; i < relays.size(); ++i) {
    const Relay& r = relays[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(r.chunk, 0u);
    EXPECT_EQ(r.pos, 16384u * i);
    EXPECT_EQ(r.bytes, i + 1 < relays.size() ? 32768u : r.bytes);
    EXPECT_EQ(r.len, r.bytes + 8 * 2 + 50);
    EXPECT_EQ(r.inner, r.bytes + 8 * 2 + 20);
    EXPECT_EQ(r.k, 2u);
    EXPECT_EQ(r.dest, "5@192.168.0.7,12@10.0.0.1");
  }
  EXPECT_GT(relays.back().bytes, 0u);

  // The garbage on the interface pipe changed nothing: the recorder still runs and ends on
  // SIGTERM like a closed window.
  recorder.Terminate();
  peer.Terminate();
  iface.Terminate();
}

}  // namespace
}  // namespace vts
