// The private PulseAudio test server answers: a playback stream on the speaker and a record
// stream on the microphone open, play and record. Fails when the server is not there.
#include <gtest/gtest.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string TestServer() {
  for (const char* var : {"VTS_PULSE_TEST_SERVER", "PULSE_SERVER"}) {
    if (const char* v = std::getenv(var); v && *v) return v;
  }
  return {};
}

}  // namespace

TEST(PulseServer, SpeakerAndMicrophoneStreamsWork) {
  const std::string server = TestServer();
  ASSERT_FALSE(server.empty()) << "VTS_PULSE_TEST_SERVER / PULSE_SERVER is not set: start the test server "
                                  "(scripts/pulse-test-server.sh start <dir>; . <dir>/env)";
  pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 1};
  std::vector<std::int16_t> block(4410, 0);  // 100 ms

  int error = 0;
  pa_simple* play = pa_simple_new(server.c_str(), "vts-test", PA_STREAM_PLAYBACK, "vts_speaker", "smoke", &spec,
                                  nullptr, nullptr, &error);
  ASSERT_NE(play, nullptr) << "cannot play on vts_speaker at " << server << ": " << pa_strerror(error);
  EXPECT_EQ(pa_simple_write(play, block.data(), block.size() * 2, &error), 0) << pa_strerror(error);
  EXPECT_EQ(pa_simple_drain(play, &error), 0) << pa_strerror(error);
  pa_simple_free(play);

  pa_simple* rec = pa_simple_new(server.c_str(), "vts-test", PA_STREAM_RECORD, "vts_mic", "smoke", &spec, nullptr,
                                 nullptr, &error);
  ASSERT_NE(rec, nullptr) << "cannot record from vts_mic at " << server << ": " << pa_strerror(error);
  EXPECT_EQ(pa_simple_read(rec, block.data(), block.size() * 2, &error), 0) << pa_strerror(error);
  pa_simple_free(rec);
}
