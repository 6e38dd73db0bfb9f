// The video window's media side on the headless window system and the virtual sound
// backend: opening and its failures, seeking to the frame of a time in each container,
// drawing letterboxed into the back buffer, and the sound handed to the voice.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/virtual_endpoints.h"
#include "video/video_site_window.h"
#include "video/video_voice.h"
#include "video_fixtures.h"

namespace vts {
namespace {

using test::MakeVideo;
using test::VideoSpec;

using test::WaitFor;

class VideoSite : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = audio::VirtualEndpoints::Instance();
    backend->Reset();
    windows = HeadlessVideoWindowSystem();
  }
  void TearDown() override { site.reset(); }

  // Opens `path` and waits for the open job's completion.
  void Open(const std::string& path) {
    site = std::make_unique<CVideoSiteWindow>(nullptr, nullptr, backend);
    site->outputDeviceName = u"virtual_speaker";
    if (beforeOpen) beforeOpen(*site);
    ASSERT_TRUE(site->Create(*windows, nullptr, 0, 0, 640, 0, 0, 0));
    std::atomic<bool> done{false};
    site->OpenSourceFileName(path, [&] { done = true; });
    ASSERT_TRUE(WaitFor([&] { return done.load(); }));
  }

  // The frame number drawn after the trackbar's seek to `ms`.
  int FrameAt(std::uint32_t ms) {
    const auto before = site->FramesDrawn();
    site->SetTime(ms);
    if (!WaitFor([&] { return site->FramesDrawn() > before; })) return -2;
    return DrawnFrameNumber();
  }
  int DrawnFrameNumber(FloatRect* where = nullptr) {
    std::lock_guard lock(site->DrawingLock());
    const QImage* img = site->BackBuffer();
    if (!img) return -3;
    const FloatRect r = LetterboxRect(320, 240, float(img->width()), float(img->height()));
    if (where) *where = r;
    return test::ReadFrameNumber(*img, r);
  }

  std::shared_ptr<audio::VirtualEndpoints> backend;
  std::shared_ptr<IVideoWindowSystem> windows;
  std::unique_ptr<CVideoSiteWindow> site;
  std::function<void(CVideoSiteWindow&)> beforeOpen;  // hooks set before any decoding
};

TEST_F(VideoSite, OpeningFailuresEndTheJobWithTheirTextAndNoTimer) {
  const std::string dir = std::string(VTS_TEST_ROOT_BASE);
  const std::string garbage = dir + "/not-a-video-" + std::to_string(getpid()) + ".mp4";
  std::ofstream(garbage) << "this is no video at all";
  VideoSpec silent;
  silent.withSound = false;
  VideoSpec huge;  // a side over the bound: its frames would take memory beyond any use
  huge.width = 8200;
  huge.height = 16;
  huge.seconds = 1;
  huge.container = "mkv";
  struct Case {
    std::string path;
    const char* text;
  } cases[] = {
      {dir + "/missing.mp4", kOpenFailedText},
      {garbage, kOpenFailedText},
      {MakeVideo(silent), kNoStreamsText},
      {MakeVideo(huge), kFramesTooLargeText},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    Open(c.path);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(site->IsOpen()) << c.path;
    EXPECT_EQ(site->OpenError(), c.text) << c.path;
    EXPECT_NE(err.find(c.text), std::string::npos) << err;
    // Nothing decodes or draws afterwards, even with the frames running.
    site->halted = 0;
    site->DecodeNext(2);
    site->SetTime(500);
    EXPECT_EQ(site->FramesDrawn(), 0u);
    EXPECT_FALSE(site->HasVoice());
    site.reset();
  }
  std::remove(garbage.c_str());
}

TEST_F(VideoSite, SeeksShowTheFrameOfTheTimeAskedInEveryContainer) {
  struct Case {
    VideoSpec spec;
    double fps;
    std::vector<std::uint32_t> times;
  };
  VideoSpec longX264;
  longX264.seconds = 10.9;
  longX264.keyframeInterval = 250;  // one keyframe every 10 s: seeks must decode up to the time
  VideoSpec ntsc;
  ntsc.rate = "30000/1001";
  auto with = [](std::string container) {
    VideoSpec s;
    s.container = std::move(container);
    return s;
  };
  const Case cases[] = {
      {longX264, 25.0, {0, 1000, 5000, 2480, 10020}},
      {with("mkv"), 25.0, {0, 1000, 2480, 1500}},
      {with("avi"), 25.0, {0, 1000, 2480, 1500}},
      {with("mpg"), 25.0, {0, 1000, 2480, 1500}},  // the container starts at 0.5 s
      {ntsc, 30000.0 / 1001.0, {0, 1000, 2002}},
  };
  for (const Case& c : cases) {
    Open(MakeVideo(c.spec));
    ASSERT_TRUE(site->IsOpen()) << c.spec.container;
    for (std::uint32_t ms : c.times) {
      const int expected = int(std::floor(ms * c.fps / 1000.0 + 1e-6));
      EXPECT_EQ(FrameAt(ms), expected) << c.spec.container << " " << c.spec.rate << " at " << ms;
      EXPECT_NEAR(double(site->PositionMs()), expected * 1000.0 / c.fps, 1.0);
    }
    site.reset();
  }
}

TEST_F(VideoSite, PictureAndSoundStandOnTheFilesOneTimelineAsTheFileShowsThem) {
  // Each file's frames and sound at the times the file gives them, on its one timeline:
  // the frame shown after a seek to each time (its number burnt into it, read in the picture
  // as shown) and its position, the media time of the first sound heard, and the picture's
  // shape as shown.
  struct Case {
    const char* name;
    VideoSpec spec;
    std::vector<std::uint32_t> times;
    int soundOnsetMs;      // the sine's first sample in the file's time
    int ccwQuarterTurns;   // the picture as shown
    float shownW, shownH;  // the picture's shape as shown
  };
  auto spec = [](std::string container, double soundDelay) {
    VideoSpec s;
    s.container = std::move(container);
    s.seconds = 2;
    s.soundDelay = soundDelay;
    return s;
  };
  auto bFrames = [](VideoSpec s) {
    s.bFrames = 2;
    return s;
  };
  auto rotated = [](VideoSpec s) {
    s.rotate = 90;
    return s;
  };
  auto wide = [](VideoSpec s) {
    s.width = 180;
    s.height = 144;
    s.sar = "64/45";
    return s;
  };
  const Case cases[] = {
      {"mp4", spec("mp4", 0), {0, 1000, 1480}, 0, 0, 320, 240},
      {"mp4, sound from 0.3 s", spec("mp4", 0.3), {0, 1000, 1480}, 300, 0, 320, 240},
      {"mkv, sound from 0.3 s", spec("mkv", 0.3), {0, 1000, 1480}, 300, 0, 320, 240},
      {"avi, MPEG-4 with B-frames", bFrames(spec("avi", 0)), {0, 1000, 1480}, 0, 0, 320, 240},
      {"mp4 turned a quarter (a phone's)", rotated(spec("mp4", 0)), {0, 1000, 1480}, 0, 1, 240, 320},
      {"mp4 of wide pixels (16:9 in 180 x 144)", wide(spec("mp4", 0)), {0, 1000, 1480}, 0, 0, 256, 144},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mutex m;
    std::int64_t onsetMs = -1;
    beforeOpen = [&](CVideoSiteWindow& s) {
      s.onSoundSubmitted = [&, rate = 0u](const VoiceBuffer& b) mutable {
        std::lock_guard lock(m);
        if (rate == 0) rate = s.Voice()->SampleRate();
        for (std::size_t i = 0; onsetMs < 0 && i < b.samples.size(); i += 2)
          if (std::abs(b.samples[i]) > 2000) onsetMs = b.startMs + std::int64_t(i / 2) * 1000 / rate;
      };
    };
    Open(MakeVideo(c.spec));
    ASSERT_TRUE(site->IsOpen());
    for (std::uint32_t ms : c.times) {
      const auto before = site->FramesDrawn();
      site->SetTime(ms);
      ASSERT_TRUE(WaitFor([&] { return site->FramesDrawn() > before; })) << ms;
      const int expected = int(ms / 40);
      std::lock_guard lock(site->DrawingLock());
      const QImage* img = site->BackBuffer();
      ASSERT_NE(img, nullptr);
      const FloatRect r = LetterboxRect(c.shownW, c.shownH, float(img->width()), float(img->height()));
      EXPECT_EQ(test::ReadFrameNumber(*img, r, c.ccwQuarterTurns), expected) << "at " << ms;
      EXPECT_NEAR(double(site->PositionMs()), expected * 40.0, 1.0) << "at " << ms;
    }
    const QSize bitmap = site->FrameBitmapSize();
    EXPECT_NEAR(double(bitmap.width()) / bitmap.height(), c.shownW / c.shownH, 0.02)
        << bitmap.width() << " x " << bitmap.height();
    // The whole sound from the start.
    {
      std::lock_guard lock(m);
      onsetMs = -1;
    }
    std::atomic<bool> read{false};
    site->FirstExecutor().Post([&] {
      site->SeekMs(0);
      site->DecodeNext(0);
      read = true;
    });
    ASSERT_TRUE(WaitFor([&] { return read.load(); }));
    {
      std::lock_guard lock(m);
      EXPECT_NEAR(double(onsetMs), c.soundOnsetMs, 15.0) << "ms: the sound's first sample";
    }
    site.reset();  // not under `m`: its decoding takes `m` under the window's locks
  }
  beforeOpen = nullptr;
}

TEST(VideoVoiceSeek, SoundHeardAfterAFlushIsTheNewSoundWholeAndNothingOfTheOld) {
  // A seek flushes the voice and hands it the sound from the new position at once, on the
  // same thread: the flush takes what was queued and what the endpoint still held, never
  // what came after it. Manual clock: the endpoint plays only when the test says.
  auto backend = audio::VirtualEndpoints::Instance();
  backend->Reset();
  backend->SetManualClock(true);
  std::atomic<int> ended{0};
  auto voice = VideoVoice::Create(backend, "virtual_speaker", 48000,
                                  [&](std::unique_ptr<VoiceBuffer>) { ++ended; });
  ASSERT_NE(voice, nullptr);
  auto submit = [&](std::int16_t value, std::int64_t startMs, int count) {
    for (int i = 0; i < count; ++i) {
      auto b = std::make_unique<VoiceBuffer>();
      b->samples.assign(2 * 480, value);  // 10 ms
      b->startMs = startMs + 10 * i;
      voice->SubmitSourceBuffer(std::move(b));
    }
  };
  submit(8000, 0, 40);  // the old position's sound: 400 ms
  voice->Start();
  ASSERT_TRUE(test::WaitFor([&] { return backend->QueuedFrames("virtual_speaker") > 0; }));
  backend->Advance(50);
  ASSERT_TRUE(test::WaitFor([&] { return backend->QueuedFrames("virtual_speaker") >= 4800; }));
  const std::size_t before = backend->Played("virtual_speaker").size();

  voice->FlushSourceBuffers();
  voice->Stop();
  submit(16000, 2000, 30);  // sought to 2 s: 300 ms of the new sound
  voice->Start();
  for (int ms = 0; ms < 400; ms += 10) {
    // Whatever is queued reaches the endpoint before the clock moves on.
    test::WaitFor([&] { return backend->QueuedFrames("virtual_speaker") >= 480 || ended == 70; },
                  std::chrono::seconds(2));
    backend->Advance(10);
  }
  const std::vector<float> played = backend->Played("virtual_speaker");
  std::size_t oldAfter = 0, fresh = 0;
  for (std::size_t i = before; i < played.size(); i += 2) {
    if (std::fabs(played[i] - 8000.0f / 32768.0f) < 1e-3f) ++oldAfter;
    if (std::fabs(played[i] - 16000.0f / 32768.0f) < 1e-3f) ++fresh;
  }
  EXPECT_EQ(oldAfter, 0u) << "the old position's sound was heard after the seek";
  EXPECT_EQ(fresh, 30u * 480u) << "of the new sound's 14400 frames";
  EXPECT_EQ(ended.load(), 70);
  voice.reset();
  backend->SetManualClock(false);
}

TEST(VideoVoicePosition, ThePlayedPositionRunsWithTheSoundHeardWhereverTheEndpointTakesItInBlocks) {
  // Frames wait on the played position. An endpoint that takes the sound a block at a time
  // and tells no more than its padding (a sound server's sink before its latency reading is
  // there) must still give a position that runs evenly with what was heard: one that jumps a
  // block at a time lets the frames through in bursts. Manual clock, moved 10 ms at a time.
  struct Case {
    const char* name;
    std::uint32_t blockMs;
  } cases[] = {{"an endpoint that tells its delay", 0}, {"an endpoint taking 130 ms blocks", 130}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto backend = audio::VirtualEndpoints::Instance();
    backend->Reset();
    backend->SetManualClock(true);
    audio::VirtualDeviceSpec spec;
    spec.id = "blocks";
    spec.name = "Blocks";
    spec.blockMs = c.blockMs;
    backend->AddDevice(spec);
    auto voice = VideoVoice::Create(backend, "blocks", 48000, [](std::unique_ptr<VoiceBuffer>) {});
    ASSERT_NE(voice, nullptr);
    for (int i = 0; i < 150; ++i) {
      auto b = std::make_unique<VoiceBuffer>();
      b->samples.assign(2 * 480, 4000);  // 10 ms
      b->startMs = 10 * i;
      voice->SubmitSourceBuffer(std::move(b));
    }
    voice->Start();
    ASSERT_TRUE(test::WaitFor([&] { return backend->QueuedFrames("blocks") >= 9000; }));
    std::int64_t last = voice->PlayedPositionMs().value_or(-1);
    EXPECT_EQ(last, 0) << "nothing was heard yet";
    std::int64_t worstOff = 0, worstRise = 0;
    for (int step = 1; step <= 80; ++step) {
      backend->Advance(10);
      // What the endpoint took is topped up before the position is read.
      test::WaitFor([&] { return backend->QueuedFrames("blocks") >= 9000; },
                    std::chrono::seconds(2));
      const std::int64_t heard = std::int64_t(backend->Played("blocks").size() / 2) / 48;
      const std::int64_t played = voice->PlayedPositionMs().value_or(-1);
      worstOff = std::max<std::int64_t>(worstOff, std::llabs(played - heard));
      worstRise = std::max<std::int64_t>(worstRise, played - last);
      last = played;
    }
    EXPECT_LE(worstOff, 2) << "ms between the played position and what was heard";
    EXPECT_LE(worstRise, 12) << "ms the played position rose in one 10 ms step";
    voice.reset();
    backend->SetManualClock(false);
  }
}

TEST(VideoVoicePosition, TheFollowedPositionStaysWithReadingsWhoseClockRunsFasterOrSlower) {
  // Readings that come in 130 ms blocks for the first two seconds (the sound heard runs
  // evenly, the endpoint has taken up to a block more), then run smoothly at another speed
  // than our clock, as a sound card's clock does. The position is looked at every 10 ms.
  // A bound on the lag taken from the blocks at the start and kept for good lets the
  // position fall behind the reading until the bound, the picture a block behind the sound.
  struct Case {
    const char* name;
    double speed;  // of the endpoint's clock against ours, after the blocks
  } cases[] = {{"the same speed", 1.0}, {"0.5% faster", 1.005}, {"0.5% slower", 0.995}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlayedPositionClock clock;
    std::int64_t worstDuringBlocks = 0, worstLater = 0, last = 0, worstRise = 0;
    for (std::int64_t now = 0; now <= 60'000; now += 10) {
      std::int64_t heard, read;
      if (now < 2000) {
        heard = now;
        read = (now + 129) / 130 * 130;  // the block under way was taken whole
      } else {
        heard = 2000 + std::llround(double(now - 2000) * c.speed);
        read = heard;
      }
      const std::int64_t position = clock.Follow(read, now, 200);
      ASSERT_LE(position, read) << now;
      std::int64_t& worst = now < 2000 ? worstDuringBlocks : worstLater;
      worst = std::max<std::int64_t>(worst, std::llabs(position - heard));
      if (now > 0) worstRise = std::max(worstRise, position - last);
      last = position;
    }
    EXPECT_LE(worstDuringBlocks, 2) << "ms off what was heard while the readings came in blocks";
    EXPECT_LE(worstLater, 12) << "ms off what was heard once the readings ran smoothly";
    EXPECT_LE(worstRise, 11) << "ms the position rose in one 10 ms step";
  }
}

TEST_F(VideoSite, SeeksWhileHaltedShowTheirFrameAndStaySilent) {
  // A drag of the trackbar seeks at every move with the frames halted: each seek decodes the
  // sound up to its frame, and none of it may be heard before the frames run again.
  VideoSpec spec;
  spec.seconds = 4;
  Open(MakeVideo(spec));
  VideoVoice* voice = site->Voice();
  ASSERT_NE(voice, nullptr);
  for (std::uint32_t ms : {0u, 500u, 1000u, 1480u, 2000u, 2520u, 3000u}) {
    const int frame = FrameAt(ms);
    EXPECT_EQ(frame, int(ms / 40)) << ms;
    EXPECT_FALSE(voice->Started()) << "sound after the seek to " << ms;
  }
  EXPECT_EQ(voice->FramesConsumed(), 0u);
  // Let run, the sound of the last position plays.
  site->halted = 0;
  EXPECT_TRUE(WaitFor([&] { return voice->FramesConsumed() > 0; }));
  site->halted = 1;
}

TEST_F(VideoSite, APauseLeavesTheFrameOfTheSoundHeardNotTheFramesDecodedAhead) {
  // Frames are decoded ahead of their sound and wait for it. A pause (the frames halted, the
  // voice stopped) must not let them through: the picture would jump ahead of what was heard
  // and back again at the next play.
  VideoSpec spec;
  spec.seconds = 4;
  Open(MakeVideo(spec));
  site->halted = 0;
  ASSERT_TRUE(WaitFor([&] {
    return site->PositionMs() >= 1000 && site->SecondExecutor().QueuedCount() >= 3;
  }));
  site->StopVoice();
  site->halted = 1;
  const std::int64_t heard = site->Voice()->PlayedPositionMs().value_or(-1);
  ASSERT_TRUE(WaitFor([&] { return site->SecondExecutor().QueuedCount() == 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a draw under way ends
  const int shown = DrawnFrameNumber();
  EXPECT_LE(shown * 40, heard + 40) << "frame " << shown << " shown, " << heard << " ms heard";
  EXPECT_LE(site->PositionMs(), heard + 40);
}

TEST_F(VideoSite, PositionOfAFrameUsesTheStreamTimeBaseIn64Bits) {
  VideoSpec ntsc;
  ntsc.rate = "30000/1001";
  ntsc.seconds = 10.9;
  Open(MakeVideo(ntsc));
  EXPECT_EQ(site->FrameInterval(), 333'333);
  EXPECT_EQ(FrameAt(10'010), 300);
  EXPECT_EQ(site->PositionMs(), 10'010);  // frame 300 at 1001/30000
}

TEST_F(VideoSite, FramesAreDrawnLetterboxedIntoABitmapReusedWhileTheSizeHolds) {
  Open(MakeVideo({}));
  ASSERT_EQ(FrameAt(400), 10);
  const auto key = site->FrameBitmapKey();
  ASSERT_EQ(FrameAt(800), 20);
  EXPECT_EQ(site->FrameBitmapKey(), key);
  FloatRect r;
  DrawnFrameNumber(&r);
  std::lock_guard lock(site->DrawingLock());
  const QImage& img = *site->BackBuffer();
  ASSERT_EQ(img.size(), QSize(640, 360));
  EXPECT_NEAR(r.left, 80.0, 0.01);  // 320 x 240 in 640 x 360: 480 wide, bars of 80
  for (int y : {5, 180, 350}) {
    EXPECT_EQ(qGray(img.pixel(40, y)), 0) << y;
    EXPECT_EQ(qGray(img.pixel(600, y)), 0) << y;
  }
  EXPECT_GT(qGray(img.pixel(320, 300)) + qRed(img.pixel(200, 200)) + qBlue(img.pixel(400, 200)), 0);
}

TEST_F(VideoSite, FramesAreScaledOnceOnDecodeToTheSizeTheyAreDrawnAtKeepingTheirShape) {
  // The headless back buffer is 640 x 360: each frame is scaled on decode to its place in it
  // (larger ones down, smaller ones up), and the drawing copies it.
  VideoSpec wide;
  wide.width = 4000;
  wide.height = 200;
  wide.seconds = 1;
  struct Case {
    VideoSpec spec;
    QSize bitmap;
  } cases[] = {{VideoSpec{}, QSize(480, 360)}, {wide, QSize(640, 32)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec.width);
    Open(MakeVideo(c.spec));
    ASSERT_TRUE(site->IsOpen());
    const auto before = site->FramesDrawn();
    site->SetTime(400);
    ASSERT_TRUE(WaitFor([&] { return site->FramesDrawn() > before; }));
    EXPECT_EQ(site->FrameBitmapSize(), c.bitmap);
    std::lock_guard lock(site->DrawingLock());
    const QImage* img = site->BackBuffer();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(test::ReadFrameNumber(*img, LetterboxRect(float(c.spec.width), float(c.spec.height),
                                                         float(img->width()), float(img->height()))),
              10);
  }
}

TEST_F(VideoSite, AResizeWhileHaltedRedrawsTheLastFrameLetterboxedIntoTheNewSize) {
  Open(MakeVideo({}));
  ASSERT_EQ(FrameAt(400), 10);
  for (const QSize size : {QSize(800, 300), QSize(300, 500), QSize(1600, 960)}) {
    site->Resize(size.width(), size.height());  // the window resized, or maximised
    std::lock_guard lock(site->DrawingLock());
    ASSERT_NE(site->BackBuffer(), nullptr);
    EXPECT_EQ(site->BackBuffer()->size(), size);
    const FloatRect r = LetterboxRect(320, 240, float(size.width()), float(size.height()));
    EXPECT_EQ(test::ReadFrameNumber(*site->BackBuffer(), r), 10)
        << size.width() << " x " << size.height() << ": the frame is gone";
  }
}

TEST_F(VideoSite, SoundHandedToTheVoiceIsPlayedOrFlushedAcrossPauseAndSeek) {
  VideoSpec spec;
  spec.seconds = 4;
  Open(MakeVideo(spec));
  ASSERT_TRUE(site->HasVoice());
  VideoVoice* voice = site->Voice();
  site->halted = 0;
  ASSERT_TRUE(WaitFor([&] { return site->PositionMs() >= 1000; }));
  site->halted = 1;  // pause: the voice stops, its queue stays
  site->StopVoice();
  std::atomic<bool> idle{false};  // a decoding that ran at the pause has ended
  site->FirstExecutor().Post([&] { idle = true; });
  ASSERT_TRUE(WaitFor([&] { return idle.load(); }));
  // Time passes for the endpoint (the manual clock moves it): nothing queued is handed on,
  // played or flushed meanwhile.
  backend->SetManualClock(true);
  const auto consumed = voice->FramesConsumed();
  const auto queued = site->QueuedSoundBuffers();
  const auto heard = backend->Played("virtual_speaker").size();
  backend->Advance(300);
  EXPECT_FALSE(voice->Started());
  EXPECT_EQ(voice->FramesConsumed(), consumed);
  EXPECT_EQ(voice->FramesFlushed(), 0u);
  EXPECT_EQ(site->QueuedSoundBuffers(), queued);
  EXPECT_EQ(backend->Played("virtual_speaker").size(), heard);
  backend->SetManualClock(false);
  site->SetTime(500);  // seek back: what waited is flushed
  ASSERT_TRUE(WaitFor([&] { return site->QueuedSoundBuffers() <= 1; }));
  site->halted = 0;
  ASSERT_TRUE(WaitFor([&] { return site->EndOfFile() && site->QueuedSoundBuffers() == 0; }));
  EXPECT_EQ(voice->FramesConsumed() + voice->FramesFlushed(), site->SoundFramesSubmitted());
  // 4 s of the file, less the 0.5 s sought over again, at least: each frame heard once or
  // sought.
  EXPECT_GE(voice->FramesConsumed(), std::uint64_t(44100 * 3.4));

  // What the speaker played is the 440 Hz sine.
  std::vector<float> played = backend->Played("virtual_speaker");
  ASSERT_GT(played.size(), 48000u);
  int crossings = 0, frames = 0;
  for (std::size_t i = 2; i + 1 < played.size(); i += 2) {
    if (std::fabs(played[i]) < 1e-4f && std::fabs(played[i - 2]) < 1e-4f) continue;
    ++frames;
    if ((played[i - 2] < 0) != (played[i] < 0)) ++crossings;
  }
  const double hz = crossings / 2.0 / (frames / 48000.0);
  EXPECT_NEAR(hz, 440.0, 15.0);
}

}  // namespace
}  // namespace vts

namespace vts {
namespace {

// A frame whose presents can be held: a frame is then being drawn, its seek generation checked.
class HoldingFrame : public IVideoFrameHost {
 public:
  bool Present() override {
    std::unique_lock lock(mutex_);
    if (hold_) {
      held_ = true;
      changed_.notify_all();
      changed_.wait(lock, [&] { return !hold_; });
    }
    return true;
  }
  void ShowAndRaise() override {}
  void SetTrackbarPos(int pos) override { pos_.store(pos); }
  int TrackbarPos() const override { return pos_.load(); }

  void Hold() {
    std::lock_guard lock(mutex_);
    hold_ = true;
    held_ = false;
  }
  bool WaitHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return held_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    hold_ = false;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool hold_ = false;
  bool held_ = false;
  std::atomic<int> pos_{0};
};

class HoldingWindows : public IVideoWindowSystem {
 public:
  HoldingFrame* frame = nullptr;
  bool OwnerRect(void*, WindowRect*) override { return false; }
  void MoveOwner(void*, int, int) override {}
  WindowRect ScreenRect(void*) override { return {}; }
  std::unique_ptr<IVideoFrameHost> CreateFrame(CVideoSiteWindow& site, void*, int, int, int width,
                                               int height) override {
    auto made = std::make_unique<HoldingFrame>();
    frame = made.get();
    site.SetTarget(made.get());
    site.Resize(width, height - kTrackbarHeight);
    return made;
  }
};

TEST_F(VideoSite, AFrameDrawnAcrossASeekLeavesThePositionAtTheTimeSought) {
  auto holding = std::make_shared<HoldingWindows>();
  windows = holding;
  Open(MakeVideo({}));
  ASSERT_TRUE(site->IsOpen());
  site->halted = 0;
  ASSERT_TRUE(WaitFor([&] { return site->PositionMs() >= 400; }));
  holding->frame->Hold();
  ASSERT_TRUE(holding->frame->WaitHeld());  // a frame from 400 ms on is being drawn
  site->halted = 1;
  site->StopVoice();
  // No decoding is left to run: only the held frame can still set a position.
  std::atomic<bool> decoded{false};
  site->FirstExecutor().Post([&] { decoded = true; });
  ASSERT_TRUE(WaitFor([&] { return decoded.load(); }));
  site->SeekMs(0);
  EXPECT_EQ(site->PositionMs(), 0);
  holding->frame->Release();
  std::atomic<bool> drawn{false};
  site->SecondExecutor().Post([&] { drawn = true; });
  ASSERT_TRUE(WaitFor([&] { return drawn.load(); }));
  // 0, or a frame just after it should one more decode have slipped in; never the held one's.
  EXPECT_LT(site->PositionMs(), 400) << "the frame drawn across the seek set its own position";
}

TEST_F(VideoSite, ThePicturePlaysOnWithoutAVoiceOrWhenItsDeviceGoes) {
  for (bool deviceAtStart : {false, true}) {
    SCOPED_TRACE(deviceAtStart ? "device removed while playing" : "no output device");
    backend->Reset(deviceAtStart);
    Open(MakeVideo({}));
    ASSERT_TRUE(site->IsOpen());
    EXPECT_EQ(site->HasVoice(), deviceAtStart);
    site->halted = 0;
    if (deviceAtStart) {
      ASSERT_TRUE(WaitFor([&] { return site->PositionMs() >= 500; }));
      backend->RemoveDevice("virtual_speaker");
    }
    // The whole 3 s file is drawn in about its own time, never held for the missing sound.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return site->PositionMs() >= 2900; }));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(15));
    site->halted = 1;
    site.reset();
  }
}

}  // namespace
}  // namespace vts
