// The sound engine on the virtual backend: format, device lists and the device-name check,
// capture and loopback, playback, failures and their log texts, destruction.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "audio/device_select.h"
#include "test_files.h"
#include "virtual_audio.h"

namespace vts::test {
namespace {

using audio::VirtualFailure;
using audio::VirtualSource;

std::uint32_t TotalFrames(const std::vector<EngineMessage>& blocks) {
  std::uint32_t n = 0;
  for (auto& b : blocks)
    if (b.descr) n += CapturedHeader(*b.descr)->frames;
  return n;
}

std::vector<float> Concat(const std::vector<EngineMessage>& blocks) {
  std::vector<float> out;
  for (auto& b : blocks)
    if (b.descr) {
      auto s = VirtualAudioTest::Samples(*b.descr);
      out.insert(out.end(), s.begin(), s.end());
    }
  return out;
}

class SoundWorksTest : public VirtualAudioTest {};

// --- format and interface ---

TEST_F(SoundWorksTest, SetFormatArithmeticAndLog) {
  struct Case {
    std::uint32_t channels, rate, bits, period, frames, bytesPerFrame, bytesPerPeriod;
  } cases[] = {
      {1, 44100, 16, 40, 1764, 2, 3528},
      {2, 44100, 16, 100, 4410, 4, 17640},
      {2, 48000, 16, 40, 1920, 4, 7680},
      {1, 22050, 16, 30, 661, 2, 1322},  // 661.5 truncates
  };
  for (const auto& c : cases) {
    CSoundWorksWAS engine(&state_, virtual_);
    engine.SetFormat(c.channels, c.rate, c.bits, c.period);
    EXPECT_EQ(engine.framesPerPeriod, c.frames);
    EXPECT_EQ(engine.bytesPerFrame, c.bytesPerFrame);
    EXPECT_EQ(engine.bytesPerPeriod, c.bytesPerPeriod);
    EXPECT_DOUBLE_EQ(engine.periodMs, double(c.period));
    EXPECT_EQ(engine.channels, c.channels);
    EXPECT_EQ(engine.samplesPerSec, c.rate);
    EXPECT_EQ(engine.bitsPerSample, c.bits);
  }
  EXPECT_TRUE(log_->Contains("Using WAS on Windows Vista/7/8/10"));
  EXPECT_TRUE(log_->Contains("Settings sound format: channels: 1, sampling rate: 44100"));
  EXPECT_TRUE(log_->Contains("Settings sound format: channels: 2, sampling rate: 44100"));
}

TEST_F(SoundWorksTest, ReservedSlotsAndEngineTags) {
  auto a = MakeEngine();
  auto b = MakeEngine();
  EXPECT_FALSE(a->Reserved15());
  EXPECT_EQ(a->Reserved16(), 16u);
  EXPECT_FALSE(a->Reserved15());
  EXPECT_EQ(a->Reserved16(), 16u);
  EXPECT_NE(a->EngineTag(), 0u);
  EXPECT_NE(a->EngineTag(), b->EngineTag());
}

// --- device lists and the device-name check ---

TEST_F(SoundWorksTest, DeviceListsGiveIdsAndFriendlyNamesInOrder) {
  AddOutput("out_a", "Speakers (Front)");
  AddOutput("out_b", "");
  AddInput("in_a", "Mikrofon \xC3\xA4", VirtualSource::Silence());
  auto engine = MakeEngine();
  auto outs = engine->GetOutputDevices();
  ASSERT_EQ(outs.size(), 2u);
  EXPECT_EQ(outs[0], (SoundDeviceEntry{u"out_a", u"Speakers (Front)"}));
  EXPECT_EQ(outs[1], (SoundDeviceEntry{u"out_b", u""}));
  auto ins = engine->GetInputDevices();
  ASSERT_EQ(ins.size(), 1u);
  EXPECT_EQ(ins[0], (SoundDeviceEntry{u"in_a", u"Mikrofon \u00E4"}));
  virtual_->Reset(false);
  EXPECT_TRUE(engine->GetOutputDevices().empty());
  EXPECT_EQ(engine->GetDefaultDevice(DataFlow::Render), SoundDeviceEntry{});
}

TEST_F(SoundWorksTest, SelectDeviceKeepsListedIdsAndReplacesOthersByTheDefault) {
  AddOutput("spk1", "One");
  AddOutput("spk2", "Two");
  AddInput("mic1", "Mic", VirtualSource::Silence());
  virtual_->SetDefault(DataFlow::Render, "spk2");
  virtual_->SetDefault(DataFlow::Capture, "mic1");
  auto engine = MakeEngine();
  struct Case {
    std::u16string name;
    bool input;
    std::u16string expected;
  } cases[] = {
      {u"spk1", false, u"spk1"},  // listed: unchanged
      {u"x", false, u"spk2"},     // placeholder: the default
      {u"SPK1", false, u"spk2"},  // case counts
      {u"spk1 ", false, u"spk2"}, {u"", false, u"spk2"},
      {u"spk1", true, u"mic1"},  // an output id is no input
      {u"mic1", true, u"mic1"},
  };
  for (auto& c : cases) {
    std::u16string name = c.name;
    SelectDevice(*engine, name, c.input);
    EXPECT_EQ(name, c.expected);
  }
  virtual_->Reset(false);  // no endpoint of either direction
  std::u16string name = u"spk1";
  SelectDevice(*engine, name, false);
  EXPECT_EQ(name, u"");
}

// --- capture ---

TEST_F(SoundWorksTest, FirstBlockOnlyAfterOnePeriodOfEndpointFrames) {
  AddInput("mic", "Mic", VirtualSource::Sine(1000, 0.5f), 1, 48000);
  auto engine = MakeEngine(1, 44100, 40);
  engine->SetUserPair1(77, 5);
  engine->StartCapture(u"mic", 0, 1);
  EXPECT_EQ(engine->GetCaptureStreamCount(), 1u);
  virtual_->Advance(30);  // 1440 endpoint frames: less than D = 1920
  EXPECT_TRUE(Drain().empty());
  virtual_->Advance(10);  // 1920
  auto blocks = WaitFor(WM_SOUND_IN, 1);
  ASSERT_EQ(blocks.size(), 1u);
  CBufferDescr* b = blocks[0].descr;
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(blocks[0].lParam, std::intptr_t(engine->EngineTag()));
  SoundBlockHeader* h = CapturedHeader(*b);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(h) % 16, 0u);
  EXPECT_EQ(h->channels, 1u);
  EXPECT_EQ(h->samplesPerSec, 44100u);
  EXPECT_EQ(h->userValue, 77u);
  EXPECT_EQ(h->sender, 0u);
  EXPECT_EQ(h->streamIndex, 0u);
  EXPECT_EQ(h->encoding, 1u);
  EXPECT_EQ(h->bitsPerSample, 32u);
  EXPECT_EQ(h->Timestamp(), 0u);
  // 1920 frames at 48 kHz make at most ceil(1920 × 44100 / 48000) = 1764 engine frames
  // (fewer on the first block: the resampler's filter delay).
  EXPECT_LE(h->frames, 1764u);
  EXPECT_GE(h->frames, 1700u);
  EXPECT_EQ(b->kind, 6u);
  EXPECT_EQ(b->origin, 2u);
  EXPECT_EQ(b->trackIndex, -1);
  EXPECT_EQ(b->ownerId, 0u);
  EXPECT_EQ(b->used, h->frames * 4);
  EXPECT_EQ(b->size, h->frames * 4 + 64);
  EXPECT_LE(std::size_t(SamplesBehind(h) - b->data->data) + b->used, b->data->size);
  for (auto& m : blocks) Release(m);
  engine->StopCapture(u"mic");
}

TEST_F(SoundWorksTest, CaptureDeliversOneBlockPerPeriodWithTheSourceSignal) {
  AddInput("mic", "Mic", VirtualSource::Sine(1000, 0.5f), 1, 48000);
  auto engine = MakeEngine(1, 44100, 40);
  engine->StartCapture(u"mic", 0, 1);
  for (int i = 0; i < 50; ++i) virtual_->Advance(20);  // one second
  auto blocks = WaitFor(WM_SOUND_IN, 25);
  EXPECT_EQ(blocks.size(), 25u);
  const std::uint32_t frames = TotalFrames(blocks);
  EXPECT_NEAR(double(frames), 44100.0, 100.0);
  auto samples = Concat(blocks);
  EXPECT_NEAR(ZeroCrossingFrequency(samples, 44100), 1000.0, 5.0);
  std::vector<float> steady(samples.begin() + 2000, samples.end());
  EXPECT_NEAR(Rms(steady), 0.5 / std::sqrt(2.0), 0.01);
  for (auto& m : blocks) Release(m);
}

TEST_F(SoundWorksTest, SixChannelEndpointIsResampledWithItsRealChannelCount) {
  AddInput("mic6", "Surround mic", VirtualSource::Sine(500, 0.4f), 6, 48000);
  auto engine = MakeEngine(1, 44100, 40);
  engine->StartCapture(u"mic6", 0, 1);
  for (int i = 0; i < 25; ++i) virtual_->Advance(20);
  auto blocks = WaitFor(WM_SOUND_IN, 12);
  ASSERT_GE(blocks.size(), 12u);
  // Read as stereo the blocks would carry three times the frames and a wrong tone.
  EXPECT_NEAR(double(TotalFrames(blocks)) / blocks.size(), 1764.0, 10.0);
  EXPECT_NEAR(ZeroCrossingFrequency(Concat(blocks), 44100), 500.0, 5.0);
  for (auto& m : blocks) Release(m);
}

// A stereo endpoint at the engine's rate, mixed down block after block: every block a
// period long and every frame the same mix of its own two channels, none lost, repeated or
// left over from the block before.
TEST_F(SoundWorksTest, SameRateStereoIsMixedDownFrameForFrameInEveryBlock) {
  const std::size_t total = 44100;
  std::vector<float> stereo(2 * total);
  for (std::size_t i = 0; i < total; ++i) {
    stereo[2 * i] = float(i % 1000) / 1000.0f;
    stereo[2 * i + 1] = -float(i % 777) / 1554.0f;
  }
  AddInput("mic2", "Stereo mic", VirtualSource::Scripted(stereo), 2, 44100);
  auto engine = MakeEngine(1, 44100, 40);
  engine->StartCapture(u"mic2", 0, 1);
  for (int i = 0; i < 50; ++i) virtual_->Advance(20);
  auto blocks = WaitFor(WM_SOUND_IN, 25);
  ASSERT_EQ(blocks.size(), 25u);
  for (auto& b : blocks) {
    ASSERT_NE(b.descr, nullptr);
    EXPECT_EQ(CapturedHeader(*b.descr)->frames, 1764u);
  }
  const auto mono = Concat(blocks);
  ASSERT_EQ(mono.size(), std::size_t(25 * 1764));
  // The mix's weights from two frames with one channel silent: 777 (right) and 1000 (left).
  ASSERT_EQ(stereo[2 * 777 + 1], 0.0f);
  ASSERT_EQ(stereo[2 * 1000], 0.0f);
  const double left = double(mono[777]) / double(stereo[2 * 777]);
  const double right = double(mono[1000]) / double(stereo[2 * 1000 + 1]);
  ASSERT_GT(left, 0.0);
  for (std::size_t i = 0; i < mono.size(); ++i)
    ASSERT_NEAR(mono[i], left * stereo[2 * i] + right * stereo[2 * i + 1], 1e-5) << "frame " << i;
  for (auto& m : blocks) Release(m);
}

TEST_F(SoundWorksTest, DuplicateStartIsRefusedAndStopAlwaysPostsOneEndMark) {
  AddInput("mic", "Mic", VirtualSource::Silence());
  auto engine = MakeEngine();
  engine->StartCapture(u"mic", 0, 1);
  engine->StartCapture(u"mic", 0, 1);
  EXPECT_EQ(engine->GetCaptureStreamCount(), 1u);
  EXPECT_EQ(virtual_->OpenClientCount("mic"), 1);
  EXPECT_TRUE(Drain().empty());
  engine->StartCapture(u"", 0, 1);  // nothing at all
  EXPECT_EQ(engine->GetCaptureStreamCount(), 1u);
  EXPECT_TRUE(Drain().empty());

  engine->StopCapture(u"mic");
  engine->StopCapture(u"never-started");
  auto marks = Drain();
  ASSERT_EQ(marks.size(), 2u);
  for (auto& m : marks) {
    EXPECT_EQ(m.message, WM_SOUND_IN);
    EXPECT_EQ(m.descr, nullptr);
    EXPECT_EQ(m.lParam, std::intptr_t(engine->EngineTag()));
  }
  EXPECT_EQ(engine->GetCaptureStreamCount(), 0u);
  EXPECT_EQ(virtual_->OpenClientCount("mic"), 0);
  EXPECT_EQ(log_->Count("Stopping:"), 1);  // an unknown id logs nothing
}

TEST_F(SoundWorksTest, EndMarksCarryTheirEnginesTag) {
  AddInput("mic", "Mic", VirtualSource::Silence());
  AddOutput("spk", "Speaker");
  auto master = MakeEngine();
  auto student = MakeEngine();
  student->StartCapture(u"mic", 0, 1);
  master->StopCapture(u"spk");
  student->StopCapture(u"mic");
  auto marks = Drain();
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[0].lParam, std::intptr_t(master->EngineTag()));
  EXPECT_EQ(marks[1].lParam, std::intptr_t(student->EngineTag()));
}

TEST_F(SoundWorksTest, MicrophoneAndLoopbackStreamsHaveTheirOwnIndex) {
  AddInput("mic", "Mic", VirtualSource::Sine(300, 0.3f));
  AddOutput("spk", "Speaker");
  auto engine = MakeEngine();
  engine->StartCapture(u"mic", 0, 1);
  engine->StartCapture(u"spk", 0, 3);  // an output endpoint: opened as loopback
  EXPECT_EQ(engine->GetCaptureStreamCount(), 2u);
  for (int i = 0; i < 10; ++i) virtual_->Advance(20);
  auto blocks = WaitFor(WM_SOUND_IN, 10);
  ASSERT_EQ(blocks.size(), 10u);
  int mic = 0, loop = 0;
  for (auto& b : blocks) {
    SoundBlockHeader* h = CapturedHeader(*b.descr);
    auto s = Samples(*b.descr);
    if (h->streamIndex == 0) {
      ++mic;
      EXPECT_GT(Rms(s), 0.1);
    } else {
      EXPECT_EQ(h->streamIndex, 1u);
      ++loop;
      EXPECT_EQ(Rms(s), 0.0);  // nothing plays on the speaker
    }
    Release(b);
  }
  EXPECT_EQ(mic, 5);
  EXPECT_EQ(loop, 5);
}

TEST_F(SoundWorksTest, LoopbackCapturesExactlyWhatTheEnginePlayed) {
  AddOutput("spk", "Speaker", 2, 48000);
  auto player = MakeEngine(1, 44100, 40);
  auto recorder = MakeEngine(2, 48000, 40);  // the speaker's own format: no resampling
  recorder->StartCapture(u"spk", 0, 3);
  player->StartPlayback(u"spk");
  std::uint64_t frame = 0;
  for (int i = 0; i < 4; ++i) {
    player->Playback(MakeSineBuffer(1, 44100, 1764, 700, 0.5, frame), false);
    frame += 1764;
  }
  std::size_t returned = 0;
  for (int i = 0; i < 20; ++i) {
    virtual_->Advance(20);
    for (auto& m : Take(WM_SOUND_OUT)) {
      Release(m);
      ++returned;
    }
  }
  EXPECT_EQ(returned, 4u);
  auto blocks = WaitFor(WM_SOUND_IN, 10);
  std::vector<float> captured = Concat(blocks);
  for (auto& m : blocks) Release(m);
  std::vector<float> played = virtual_->Played("spk");
  ASSERT_GT(played.size(), 4u * 1920 * 2 - 100);
  // What the speaker played appears unchanged in the loopback capture.
  std::size_t start = 0;
  while (start < captured.size() && captured[start] == 0.0f) ++start;
  std::size_t p0 = 0;
  while (p0 < played.size() && played[p0] == 0.0f) ++p0;
  ASSERT_LT(start, captured.size());
  ASSERT_GE(captured.size() - start, played.size() - p0);
  for (std::size_t i = 0; i < played.size() - p0; ++i)
    ASSERT_NEAR(captured[start + i], played[p0 + i], 1e-6) << i;
}

TEST_F(SoundWorksTest, DeviceRemovedMidCaptureEndsTheStreamWithItsEndMark) {
  AddInput("mic", "Mic", VirtualSource::Sine(440, 0.5f));
  auto engine = MakeEngine();
  engine->StartCapture(u"mic", 0, 1);
  virtual_->Advance(60);  // one full block and half of the next
  auto first = WaitFor(WM_SOUND_IN, 1);
  ASSERT_EQ(first.size(), 1u);
  virtual_->RemoveDevice("mic");
  virtual_->Advance(20);
  auto rest = WaitFor(WM_SOUND_IN, 2);
  ASSERT_EQ(rest.size(), 2u);
  ASSERT_NE(rest[0].descr, nullptr);  // the half block gathered before the loss
  EXPECT_LT(CapturedHeader(*rest[0].descr)->frames, 1764u);
  EXPECT_EQ(rest[1].descr, nullptr);  // then the end mark
  EXPECT_EQ(engine->GetCaptureStreamCount(), 0u);
  EXPECT_TRUE(log_->Contains("Capture device lost. Check that device is present."));
  // The owner learns why the stream ended, once, after its end mark.
  auto lost = WaitFor(WM_SOUND_LOST, 1);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].wParam, std::uintptr_t(DataFlow::Capture));
  EXPECT_EQ(lost[0].lParam, std::intptr_t(engine->EngineTag()));
  virtual_->Advance(100);
  EXPECT_TRUE(Take(WM_SOUND_LOST).empty());
  for (auto& m : first) Release(m);
  for (auto& m : rest) Release(m);
}

// A stopped stream, or one whose device was never there, did not lose its device: only the
// end mark tells of its end. An engine without the message (the video's) only logs a loss.
TEST_F(SoundWorksTest, OnlyALossDuringTheStreamIsReportedAndOnlyWhenAskedFor) {
  AddInput("mic", "Mic", VirtualSource::Sine(440, 0.5f));
  auto engine = MakeEngine();
  engine->StartCapture(u"mic", 0, 1);
  virtual_->Advance(60);
  engine->StopCapture(u"mic");
  engine->StartCapture(u"nowhere", 0, 1);
  auto marks = WaitFor(WM_SOUND_IN, 3);
  for (auto& m : marks) Release(m);
  ASSERT_EQ(marks.size(), 3u);  // a block and two end marks
  virtual_->RemoveDevice("mic");
  virtual_->Advance(60);
  EXPECT_TRUE(Take(WM_SOUND_LOST).empty());

  AddInput("mic2", "Mic", VirtualSource::Sine(440, 0.5f));
  auto quiet = MakeEngine(1, 44100, 40, false);
  quiet->StartCapture(u"mic2", 0, 1);
  virtual_->Advance(60);
  virtual_->RemoveDevice("mic2");
  virtual_->Advance(60);
  EXPECT_EQ(quiet->GetCaptureStreamCount(), 0u);
  EXPECT_TRUE(Take(WM_SOUND_LOST).empty());
}

TEST_F(SoundWorksTest, FailedCaptureReadEndsThePassWithoutLosingTheStream) {
  AddInput("mic", "Mic", VirtualSource::Sine(440, 0.5f));
  auto engine = MakeEngine();
  engine->StartCapture(u"mic", 0, 1);
  virtual_->InjectFailure("mic", VirtualFailure::GetBuffer, -1);
  virtual_->Advance(100);  // returns: the capture thread does not spin on the failure
  EXPECT_TRUE(Drain().empty());
  virtual_->ClearFailures();
  virtual_->Advance(40);
  auto blocks = WaitFor(WM_SOUND_IN, 1);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_NE(blocks[0].descr, nullptr);
  EXPECT_EQ(engine->GetCaptureStreamCount(), 1u);
  for (auto& m : blocks) Release(m);
}

struct CaptureFailureCase {
  VirtualFailure step;
  const char* text;
};

class CaptureFailureTest : public VirtualAudioTest,
                           public ::testing::WithParamInterface<CaptureFailureCase> {};

TEST_P(CaptureFailureTest, EndsTheStreamWithItsLogTextAndOneEndMark) {
  AddInput("mic", "Mic", VirtualSource::Silence());
  auto engine = MakeEngine();
  virtual_->InjectFailure("mic", GetParam().step, 1);
  engine->StartCapture(u"mic", 0, 1);
  EXPECT_TRUE(log_->Contains(GetParam().text)) << GetParam().text;
  EXPECT_EQ(engine->GetCaptureStreamCount(), 0u);
  EXPECT_EQ(virtual_->OpenClientCount("mic"), 0);
  auto marks = Drain();
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks[0].descr, nullptr);
  // Its starter can tell why, once.
  EXPECT_EQ(engine->TakeStartFailure(), GetParam().text);
  EXPECT_EQ(engine->TakeStartFailure(), "");
  // The next attempt works.
  engine->StartCapture(u"mic", 0, 1);
  EXPECT_EQ(engine->GetCaptureStreamCount(), 1u);
  EXPECT_EQ(engine->TakeStartFailure(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CaptureFailureTest,
    ::testing::Values(
        CaptureFailureCase{VirtualFailure::GetDevice,
                           "Could not create capture Device. Check that device is present."},
        CaptureFailureCase{VirtualFailure::Activate,
                           "Could not activate capture AudioClient. Check that device is present."},
        CaptureFailureCase{VirtualFailure::GetMixFormat,
                           "Could not get mix format. Check that device is operational."},
        CaptureFailureCase{VirtualFailure::Initialize, "Could not initialize capture device"},
        CaptureFailureCase{VirtualFailure::SetEventHandle, "Could not SetEventHandle"},
        CaptureFailureCase{VirtualFailure::GetBufferSize, "Could not GetBufferSize"},
        CaptureFailureCase{VirtualFailure::GetService, "Could not GetService IAudioCaptureClient"},
        CaptureFailureCase{VirtualFailure::Start, "Could not Start AudioClient"}));

TEST_F(SoundWorksTest, CheckSendDelayLogsGapsOfMoreThanTwoPeriods) {
  AddInput("mic", "Mic", VirtualSource::Silence());
  auto engine = MakeEngine(1, 44100, 40);
  engine->StartCapture(u"mic", 0, 1);
  virtual_->Advance(40);
  auto blocks = WaitFor(WM_SOUND_IN, 1);
  ASSERT_EQ(blocks.size(), 1u);
  engine->CheckSendDelay(blocks[0].descr);  // 40 ms after start: no line
  virtual_->Advance(80);
  engine->CheckSendDelay(blocks[0].descr);  // 80: not more than two periods
  virtual_->Advance(81);
  engine->CheckSendDelay(blocks[0].descr);
  EXPECT_TRUE(log_->Contains("Send stream double delay: 81"));
  EXPECT_EQ(log_->Count("Send stream double delay: 80"), 0);
  for (auto& m : blocks) Release(m);
  for (auto& m : Drain()) Release(m);
}

// --- playback ---

TEST_F(SoundWorksTest, ShortBuffersArePostedBackInTheSameFeedAndReuseTheClient) {
  AddOutput("spk", "Speaker", 2, 48000);
  auto engine = MakeEngine(1, 44100, 40);
  engine->StartPlayback(u"spk");
  EXPECT_EQ(engine->GetPlaybackStreamCount(), 1u);
  EXPECT_EQ(virtual_->OpenClientCount("spk"), 0);  // no client before the first buffer
  CBufferDescr* a = MakeSineBuffer(1, 44100, 441, 440, 0.5);
  CBufferDescr* b = MakeSineBuffer(1, 44100, 441, 440, 0.5, 441);
  CBufferDescr* empty = MakePlaybackBuffer(1, 44100, {});
  engine->Playback(a, false);
  engine->Playback(b, false);
  engine->Playback(empty, false);
  EXPECT_EQ(virtual_->OpenClientCount("spk"), 1);
  auto back = Drain();
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].descr, a);
  EXPECT_EQ(back[1].descr, b);
  EXPECT_EQ(back[2].descr, empty);
  for (auto& m : back) {
    EXPECT_EQ(m.message, WM_SOUND_OUT);
    EXPECT_EQ(m.descr->used, PlaybackHeader(*m.descr)->frames);
    Release(m);
  }
}

TEST_F(SoundWorksTest, FeedFillsTheFreeSpaceWithoutOverfilling) {
  AddOutput("spk", "Speaker", 2, 48000);
  auto engine = MakeEngine(1, 44100, 40);
  // Free space 7680 endpoint frames (160 ms): the first step takes ceil(7680 × 44100 / 48000)
  // = 7056 engine frames, so a buffer of 7056 comes back at once.
  engine->StartPlayback(u"spk");
  engine->Playback(MakeSineBuffer(1, 44100, 7056, 440, 0.5), false);
  auto back = Drain();
  ASSERT_EQ(back.size(), 1u);
  Release(back[0]);
  EXPECT_LE(virtual_->QueuedFrames("spk"), 7680u);
  engine->StopPlayback(u"spk");

  // A long buffer fills the endpoint, never more, and is topped up after each event.
  engine->StartPlayback(u"spk");
  engine->Playback(MakeSineBuffer(1, 44100, 44100, 440, 0.5), false);
  EXPECT_TRUE(Drain().empty());
  const std::uint32_t full = virtual_->QueuedFrames("spk");
  EXPECT_LE(full, 7680u);
  EXPECT_GE(full, 7680u - 64);  // less only by the resampler's delay
  virtual_->Advance(20);        // 960 frames played
  std::uint32_t queued = 0;
  for (int i = 0; i < 1000; ++i) {
    queued = virtual_->QueuedFrames("spk");
    if (queued > full - 960) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_LE(queued, 7680u);
  EXPECT_GT(queued, full - 960);
  engine->StopPlayback(u"spk");
}

// Every write is a message to the sound server and a wake-up on both sides: what a request
// takes from the queue goes out in one write, however many buffers it spans.
TEST_F(SoundWorksTest, ARequestSpanningSeveralBuffersIsOneWrite) {
  AddOutput("spk", "Speaker", 2, 48000);
  auto engine = MakeEngine(1, 44100, 40);
  engine->StartPlayback(u"spk");
  // 10 ms buffers, more than the endpoint's 160 ms hold: the rest stays queued.
  for (std::uint32_t i = 0; i < 24; ++i)
    engine->Playback(MakeSineBuffer(1, 44100, 441, 440, 0.5, 441 * i), false);
  auto first = Drain();
  std::size_t returned = first.size();
  for (auto& m : first) Release(m);
  const std::uint32_t full = virtual_->QueuedFrames("spk");
  ASSERT_GE(full, 7680u - 64);
  const int writes = virtual_->RenderWrites("spk");
  virtual_->Advance(40);  // 1920 frames played: room for four of the queued buffers
  auto back = WaitFor(WM_SOUND_OUT, 3);
  ASSERT_EQ(back.size(), 3u);
  returned += back.size();
  for (auto& m : back) Release(m);
  ASSERT_TRUE(WaitUntil([&] { return virtual_->QueuedFrames("spk") >= full - 64; }));
  EXPECT_EQ(virtual_->RenderWrites("spk") - writes, 1);
  EXPECT_LT(returned, 24u);
  engine->StopPlayback(u"spk");
}

TEST_F(SoundWorksTest, StopReleasesQueuedBuffersWithoutMessages) {
  AddOutput("spk", "Speaker", 2, 48000);
  auto engine = MakeEngine(1, 44100, 40);
  engine->StartPlayback(u"spk");
  std::vector<std::weak_ptr<CBufferData>> queued;
  for (int i = 0; i < 7; ++i) {
    CBufferDescr* b = MakeSineBuffer(1, 44100, 1764, 440, 0.5);
    if (i >= 4) queued.push_back(b->data);
    engine->Playback(b, false);
  }
  auto back = Drain();
  EXPECT_EQ(back.size(), 4u);  // four periods fill the endpoint buffer
  for (auto& m : back) Release(m);
  for (auto& w : queued) EXPECT_FALSE(w.expired());
  engine->StopPlayback(u"spk");
  for (auto& w : queued) EXPECT_TRUE(w.expired());
  EXPECT_TRUE(Drain().empty());
  EXPECT_EQ(engine->GetPlaybackStreamCount(), 0u);
  EXPECT_EQ(virtual_->OpenClientCount("spk"), 0);
}

TEST_F(SoundWorksTest, BufferWithoutRenderStreamIsReleased) {
  AddOutput("spk", "Speaker");
  auto engine = MakeEngine();
  CBufferDescr* b = MakeSineBuffer(1, 44100, 100, 440, 0.5);
  std::weak_ptr<CBufferData> w = b->data;
  engine->Playback(b, false);
  EXPECT_TRUE(w.expired());
  EXPECT_TRUE(Drain().empty());
}

TEST_F(SoundWorksTest, PlaybackChainPlaysTheToneAtTheEndpointRate) {
  AddOutput("spk", "Speaker", 2, 48000);
  auto engine = MakeEngine(1, 44100, 40);
  engine->StartPlayback(u"spk");
  std::uint64_t frame = 0;
  auto next = [&] {
    engine->Playback(MakeSineBuffer(1, 44100, 1764, 1000, 0.5, frame), false);
    frame += 1764;
  };
  for (int i = 0; i < 4; ++i) next();
  int returned = 0;
  for (int step = 0; step < 50; ++step) {  // one second; each returned buffer brings the next
    virtual_->Advance(20);
    // Let the engine refill the endpoint before the clock moves on, as a real device's pace
    // would (bounded, generous for a loaded machine). This holds to the end: after the last
    // buffer is handed over the engine still has up to four buffers to write, and moving the
    // clock without waiting would play silence. A buffer comes back only once all of it is
    // in the endpoint, so when all 25 are back there is nothing left to refill.
    for (int wait = 0; wait < 5000; ++wait) {
      for (auto& m : Take(WM_SOUND_OUT)) {
        Release(m);
        ++returned;
        if (frame < 44100) next();
      }
      if (returned >= 25 || virtual_->QueuedFrames("spk") > 7680 - 960) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  for (auto& m : WaitFor(WM_SOUND_OUT, 25 - returned, std::chrono::seconds(5))) {
    Release(m);
    ++returned;
  }
  EXPECT_EQ(returned, 25);
  auto played = virtual_->Played("spk");
  std::vector<float> left;
  for (std::size_t i = 0; i < played.size(); i += 2) left.push_back(played[i]);
  EXPECT_NEAR(ZeroCrossingFrequency(left, 48000), 1000.0, 5.0);
  // Mono goes to both channels as a centre channel would: 3 dB down in each.
  std::vector<float> steady(left.begin() + 1000, left.begin() + 40000);
  EXPECT_NEAR(Rms(steady), 0.5 / std::sqrt(2.0) * std::sqrt(0.5), 0.01);
  engine->StopPlayback(u"spk");
}

struct RenderFailureCase {
  VirtualFailure step;
  const char* text;
  bool streamEnds;  // else the buffer comes back and the stream stays
};

class RenderFailureTest : public VirtualAudioTest,
                          public ::testing::WithParamInterface<RenderFailureCase> {};

TEST_P(RenderFailureTest, LogsItsTextAndNeverLeaksTheBuffer) {
  AddOutput("spk", "Speaker");
  auto engine = MakeEngine();
  virtual_->InjectFailure("spk", GetParam().step, 1);
  engine->StartPlayback(u"spk");
  CBufferDescr* b = MakeSineBuffer(1, 44100, 100, 440, 0.5);
  std::weak_ptr<CBufferData> w = b->data;
  engine->Playback(b, false);
  EXPECT_TRUE(log_->Contains(GetParam().text)) << GetParam().text;
  EXPECT_EQ(engine->TakeStartFailure(), GetParam().text);
  EXPECT_EQ(engine->TakeStartFailure(), "");
  EXPECT_EQ(virtual_->OpenClientCount("spk"), 0);
  auto back = Drain();
  if (GetParam().streamEnds) {
    EXPECT_EQ(engine->GetPlaybackStreamCount(), 0u);
    EXPECT_TRUE(back.empty());
    EXPECT_TRUE(w.expired());
  } else {
    EXPECT_EQ(engine->GetPlaybackStreamCount(), 1u);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].message, WM_SOUND_OUT);
    EXPECT_EQ(back[0].descr, b);
    Release(back[0]);
    // The next buffer gets a working client.
    engine->Playback(MakeSineBuffer(1, 44100, 100, 440, 0.5), false);
    EXPECT_EQ(virtual_->OpenClientCount("spk"), 1);
    EXPECT_EQ(engine->TakeStartFailure(), "");
    for (auto& m : Drain()) Release(m);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RenderFailureTest,
    ::testing::Values(
        RenderFailureCase{VirtualFailure::GetDevice,
                          "Could not create playback AudioClient. Check that device is present.",
                          true},
        RenderFailureCase{VirtualFailure::Activate,
                          "Could not create playback AudioClient. Check that device is present.",
                          true},
        RenderFailureCase{VirtualFailure::GetMixFormat,
                          "Could not get mix format. Check that device is operational.", true},
        RenderFailureCase{VirtualFailure::Initialize, "Could not initialize playback device", true},
        RenderFailureCase{VirtualFailure::SetEventHandle, "Could not SetEventHandle", false},
        RenderFailureCase{VirtualFailure::GetBufferSize, "Could not GetBufferSize", false},
        RenderFailureCase{VirtualFailure::GetService, "Could not GetService IAudioCaptureClient",
                          false}));

TEST_F(SoundWorksTest, DeviceRemovedMidPlaybackEndsTheRenderStream) {
  AddOutput("spk", "Speaker");
  auto engine = MakeEngine();
  engine->StartPlayback(u"spk");
  CBufferDescr* big = MakeSineBuffer(1, 44100, 44100, 440, 0.5);
  std::weak_ptr<CBufferData> w = big->data;
  engine->Playback(big, false);
  virtual_->RemoveDevice("spk");
  for (int i = 0; i < 1000 && engine->GetPlaybackStreamCount() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(engine->GetPlaybackStreamCount(), 0u);
  EXPECT_TRUE(log_->Contains("Playback device lost. Check that device is present."));
  EXPECT_TRUE(w.expired());
  // Its buffers never come back, so the owner is told the stream ended.
  auto lost = WaitFor(WM_SOUND_LOST, 1);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].wParam, std::uintptr_t(DataFlow::Render));
  EXPECT_EQ(lost[0].lParam, std::intptr_t(engine->EngineTag()));
  EXPECT_TRUE(Take(WM_SOUND_OUT).empty());
}

// --- destruction ---

TEST_F(SoundWorksTest, DestroyingAnEngineEndsEachCaptureStreamWithAnEndMark) {
  AddInput("mic", "Mic", VirtualSource::Silence());
  AddOutput("spk", "Speaker");
  {
    auto engine = MakeEngine();
    engine->StartCapture(u"mic", 0, 1);
    engine->StartCapture(u"spk", 0, 3);
    engine->StartPlayback(u"spk");
    engine->Playback(MakeSineBuffer(1, 44100, 44100, 440, 0.5), false);
    for (auto& m : Drain()) Release(m);
  }
  auto marks = Drain();
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[0].descr, nullptr);
  EXPECT_EQ(marks[1].descr, nullptr);
  EXPECT_EQ(virtual_->OpenClientCount("mic"), 0);
  EXPECT_EQ(virtual_->OpenClientCount("spk"), 0);
  {
    auto idle = MakeEngine();  // no streams: only the threads stop
  }
  {
    CSoundWorksWAS never(&state_, virtual_);  // neither format nor start
  }
  EXPECT_TRUE(Drain().empty());
}

TEST_F(SoundWorksTest, ThousandCreateDestroyCycles) {
  AddInput("mic", "Mic", VirtualSource::Sine(440, 0.5f));
  AddOutput("spk", "Speaker");
  for (int i = 0; i < 1000; ++i) {
    auto engine = MakeEngine();
    if (i % 2 == 0) {
      engine->StartCapture(u"mic", 0, 1);
      engine->StartPlayback(u"spk");
      engine->Playback(MakeSineBuffer(1, 44100, 1764, 440, 0.5), false);
    }
    if (i % 100 == 0) virtual_->Advance(40);
    engine.reset();
    for (auto& m : Drain()) Release(m);
  }
  EXPECT_EQ(virtual_->OpenClientCount("mic"), 0);
  EXPECT_EQ(virtual_->OpenClientCount("spk"), 0);
}

}  // namespace
}  // namespace vts::test
