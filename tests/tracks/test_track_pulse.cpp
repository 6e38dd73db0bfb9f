// The tracks end to end against the private PulseAudio server of the test run: the Master
// plays a WAV chunk to the speaker while the Student records the PC's output; the Student
// records a tone from the microphone; the microphone disappears mid-recording.
// These tests fail (never skip) when the server cannot be reached.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pulse_util.h"
#include "test_env.h"
#include "test_files.h"
#include "track_doubles.h"
#include "tracks/sound_track.h"

namespace vts {
namespace {

using ::vts::test::WriteWav;
using ::vts::test::ZeroCrossingHz;

using namespace std::chrono_literals;

std::string Server() { return test::PulseTestServer(); }

std::string Shell(const std::string& cmd) { return test::RunShell(cmd); }

// 16-bit mono 44100 Hz WAV files are written by test::WriteWav and read back the plain way.
std::vector<std::int16_t> ReadWavSamples(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (all.size() < 44 || std::memcmp(all.data(), "RIFF", 4) != 0) return {};
  std::vector<std::int16_t> s((all.size() - 44) / 2);
  std::memcpy(s.data(), all.data() + 44, s.size() * 2);
  return s;
}

// A sweep from 300 to 3000 Hz: constant level (so the gain settles) and one sharp
// correlation peak (so the lag is unambiguous).
std::vector<std::int16_t> Sweep(double seconds) {
  std::size_t n = std::size_t(seconds * 44100);
  std::vector<std::int16_t> s(n);
  double phase = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double hz = 300 + 2700 * double(i) / double(n);
    phase += 2 * M_PI * hz / 44100;
    s[i] = std::int16_t(9000 * std::sin(phase));
  }
  return s;
}

double Correlation(const std::int16_t* a, const std::int16_t* b, std::size_t n,
                   std::size_t stride = 1) {
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < n; i += stride) {
    ab += double(a[i]) * b[i];
    aa += double(a[i]) * a[i];
    bb += double(b[i]) * b[i];
  }
  return (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0;
}

// A speaker and a microphone of the test's own (a null sink, and a source remapped from its
// monitor), so that other tests playing to the shared devices at the same time cannot mix
// into what this test records. Unloaded again at the end.
class PrivateDevices {
 public:
  explicit PrivateDevices(const std::string& name) : name_(name) {
    const std::string s = "pactl -s '" + Server() + "' ";
    sink_ = Shell(s + "load-module module-null-sink sink_name=" + name +
                  " sink_properties=device.description=" + name);
    source_ =
        Shell(s + "load-module module-remap-source source_name=" + name + "_mic master=" + name +
              ".monitor source_properties=device.description=" + name + "_mic");
  }
  ~PrivateDevices() {
    UnloadMicrophone();
    if (!sink_.empty()) Shell("pactl -s '" + Server() + "' unload-module " + sink_);
  }
  void UnloadMicrophone() {
    if (!source_.empty()) Shell("pactl -s '" + Server() + "' unload-module " + source_);
    source_.clear();
  }
  bool Ok() const { return !sink_.empty() && !source_.empty(); }
  std::u16string Speaker() const { return std::u16string(name_.begin(), name_.end()); }
  std::u16string Microphone() const { return Speaker() + u"_mic"; }

 private:
  std::string name_, sink_, source_;
};

class TracksOnPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Server().empty()) << "PULSE_SERVER / VTS_PULSE_TEST_SERVER not set: start "
                                      "scripts/pulse-test-server.sh (scripts/run-tests.sh does)";
    setenv("PULSE_SERVER", Server().c_str(), 1);
    ASSERT_FALSE(Shell("pactl -s '" + Server() + "' info 2>&1 | grep -i 'server name'").empty())
        << "the PulseAudio server at " << Server() << " does not answer";
    RecordGain() = kUnityGain;
    master_ = std::make_unique<CSoundTrack>(core_.Id(), "Master", &state_, 0);
    student_ = std::make_unique<CSoundTrack>(core_.Id(), "Student", &state_, 1);
    master_->SetNotifyTarget(masterLog_.Target());
    student_->SetNotifyTarget(studentLog_.Target());
    core_.Attach(master_.get(), student_.get());
  }
  void TearDown() override {
    core_.Detach();
    master_.reset();
    student_.reset();
  }
  void MasterPlays(const std::vector<std::int16_t>& samples, const std::u16string& device) {
    master_->SetOutputDevice(device);
    CChunkInfo* chunk = master_->AddChunk();
    master_->SelectChunk(master_->ChunkCount() - 1);
    test::FillChunk(chunk, samples);
    master_->Play();
  }

  EngineStateBlock state_;
  test::CoreThreadDouble core_;
  test::NotifyLog masterLog_, studentLog_;
  std::unique_ptr<CSoundTrack> master_, student_;
};

TEST_F(TracksOnPulse, PcOnlyRecordingMatchesTheChunkThatThePcPlays) {
  const std::string wav = test::MakeTempDir("wav") + "/sweep.wav";
  WriteWav(wav, Sweep(2.5));
  std::vector<std::int16_t> source = ReadWavSamples(wav);
  ASSERT_EQ(source.size(), std::size_t(2.5 * 44100));

  PrivateDevices pc("vts_tracks_pc_" + std::to_string(getpid()));
  ASSERT_TRUE(pc.Ok());
  student_->SetOutputDevice(pc.Speaker());
  student_->SetRecordSources(CSoundTrack::kRecordLoopback);  // "PC only"
  student_->ToggleRecord();
  ASSERT_TRUE(student_->IsRecording());
  // The capture stream is running once its first block is in.
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 1, 20s));
  MasterPlays(source, pc.Speaker());
  ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_PLAY_ENDED, 1, 20s));
  int blocks = studentLog_.Count(TRACK_NOTIFY_DATA);
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, blocks + 12, 20s));  // the tail of it
  student_->ToggleRecord();
  ASSERT_TRUE(student_->WaitForRecordingEnd());

  CChunkInfo* chunk = student_->CurrentChunk();
  ASSERT_NE(chunk, nullptr);
  const auto* rec = reinterpret_cast<const std::int16_t*>(chunk->data);
  const std::size_t recFrames = chunk->length;
  ASSERT_GT(recFrames, source.size());

  // Lag: a half-second window of the source (after the gain settled) found in the
  // recording, coarse on every 4th sample, then exact.
  const std::size_t from = 22050, window = 22050;
  std::size_t bestLag = 0;
  double best = -1;
  for (std::size_t lag = 0; lag + from + window <= recFrames; lag += 4) {
    double c = Correlation(source.data() + from, rec + lag + from, window, 4);
    if (c > best) best = c, bestLag = lag;
  }
  for (std::size_t lag = bestLag > 8 ? bestLag - 8 : 0;
       lag <= bestLag + 8 && lag + from + window <= recFrames; ++lag) {
    double c = Correlation(source.data() + from, rec + lag + from, window);
    if (c > best) best = c, bestLag = lag;
  }
  RecordProperty("lag_frames", int(bestLag));
  // The whole chunk after the first half second, at that lag.
  std::size_t n = std::min(source.size() - from, recFrames - bestLag - from);
  double whole = Correlation(source.data() + from, rec + bestLag + from, n);
  EXPECT_GT(whole, 0.9) << "lag " << bestLag << " frames";
  EXPECT_LT(bestLag, std::size_t(44100)) << "the recording lags the playback by under a second";
}

TEST_F(TracksOnPulse, MicOnlyRecordsTheToneAtItsFrequency) {
  PrivateDevices mic("vts_tracks_mic_" + std::to_string(getpid()));
  ASSERT_TRUE(mic.Ok());
  student_->SetInputDevice(mic.Microphone());
  student_->SetRecordSources(CSoundTrack::kRecordInput);  // "Mic only"
  std::vector<std::int16_t> tone(44100 * 12);
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] = std::int16_t(8000 * std::sin(2 * M_PI * 660 * double(i) / 44100));
  MasterPlays(tone, mic.Speaker());  // what is played into the feed, the microphone hears
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 40, 30s));  // 1.6 s of sound
  student_->ToggleRecord();
  ASSERT_TRUE(student_->WaitForRecordingEnd());
  master_->StopPlayback();

  CChunkInfo* chunk = student_->CurrentChunk();
  ASSERT_NE(chunk, nullptr);
  ASSERT_GT(chunk->length, 44100u);
  const auto* rec = reinterpret_cast<const std::int16_t*>(chunk->data);
  std::size_t n = 22050, from = chunk->length - n - 4410;
  EXPECT_NEAR(ZeroCrossingHz(rec + from, n), 660.0, 5.0);
  int peak = 0;
  for (std::size_t i = from; i < from + n; ++i) peak = std::max(peak, std::abs(int(rec[i])));
  EXPECT_GT(peak, 20000) << "the gain brought the tone up";
}

TEST_F(TracksOnPulse, MicrophoneUnloadedMidRecordingKeepsTheRecordingSoFar) {
  PrivateDevices gone("vts_tracks_gone_" + std::to_string(getpid()));
  ASSERT_TRUE(gone.Ok());
  std::vector<std::int16_t> tone(44100 * 12);
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] = std::int16_t(8000 * std::sin(2 * M_PI * 500 * double(i) / 44100));
  MasterPlays(tone, gone.Speaker());

  student_->SetInputDevice(gone.Microphone());
  student_->SetRecordSources(CSoundTrack::kRecordInput);
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 15, 20s));
  gone.UnloadMicrophone();
  // Told after the stream's end mark, so every block from before the loss is in.
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_CAPTURE_LOST, 1, 20s));
  std::uint32_t kept = 0;
  {
    std::lock_guard lock(student_->BufferLock());  // the core thread may still append
    kept = student_->CurrentChunk()->length;
  }
  student_->ToggleRecord();
  EXPECT_TRUE(student_->WaitForRecordingEnd());
  master_->StopPlayback();

  EXPECT_FALSE(student_->IsRecording());
  CChunkInfo* chunk = student_->CurrentChunk();
  ASSERT_NE(chunk, nullptr);
  EXPECT_GE(kept, 15u * 1764 - 200) << "what came before the device went is kept";
  EXPECT_GE(chunk->length, kept);
  EXPECT_EQ(chunk->dataSize, chunk->length * 2);
  // The loss is told (code 11) before the stop that the window runs on it.
  EXPECT_EQ(studentLog_.CodesWithout({4, 10}), (std::vector<std::uint32_t>{7, 1, 11, 7, 0}));
  // And the track records again afterwards, from a device that is there.
  student_->SetInputDevice(u"vts_mic");
  studentLog_.Clear();
  student_->ToggleRecord();
  EXPECT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 3, 20s));
  student_->ToggleRecord();
  EXPECT_TRUE(student_->WaitForRecordingEnd());
}

}  // namespace
}  // namespace vts
