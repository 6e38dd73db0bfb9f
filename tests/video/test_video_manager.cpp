// The video manager on the headless window system and the virtual sound backend: its chunk
// list and side files, the notices it posts, chunk play to the chunk's (or the file's) end,
// bookmarks, the whole-file view and the trackbar's scroll codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/virtual_endpoints.h"
#include "platform/thread_queue.h"
#include "test_env.h"
#include "video/video_manager.h"
#include "video_fixtures.h"

namespace vts {
namespace {

using test::MakeVideo;
using test::VideoSpec;
using Clock = std::chrono::steady_clock;

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::uint8_t> Cif(std::initializer_list<std::uint32_t> values) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t v : values)
    for (int b = 0; b < 4; ++b) out.push_back(std::uint8_t(v >> (8 * b)));
  return out;
}

class VideoManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::VirtualEndpoints::Instance()->Reset();
    plat::EnsureQueue();
    manager = std::make_unique<CVideoManager>(nullptr, audio::VirtualEndpoints::Instance());
    manager->SetOutputDevice(u"virtual_speaker");
    manager->notifyTarget = NotifyTarget{plat::CurrentThreadId(), nullptr, WM_TRACKNOTIFY};
    dir = test::MakeTempDir("video");
  }
  void TearDown() override {
    manager.reset();
    audio::VirtualEndpoints::Instance()->SetManualClock(false);
  }

  // The fixture linked into this test's folder as `name`, so side files can sit beside it.
  std::string Lesson(const VideoSpec& spec, const std::string& name) {
    const std::string path = dir + "/" + name;
    EXPECT_EQ(symlink(MakeVideo(spec).c_str(), path.c_str()), 0);
    return path;
  }

  // Notice codes from the manager until `last` arrives (included) or the limit passes.
  std::vector<std::uintptr_t> CodesUntil(std::uintptr_t last,
                                         std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::vector<std::uintptr_t> codes;
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      plat::Msg m;
      if (!plat::GetMessageTimeout(&m, std::chrono::milliseconds(100))) continue;
      if (m.message != WM_TRACKNOTIFY) continue;
      EXPECT_EQ(m.lParam, manager->SenderId());
      codes.push_back(m.wParam);
      if (m.wParam == last) break;
    }
    return codes;
  }
  // Codes already posted, without waiting for more.
  std::vector<std::uintptr_t> Drain() {
    std::vector<std::uintptr_t> codes;
    plat::Msg m;
    while (plat::PeekMessage(&m, true))
      if (m.message == WM_TRACKNOTIFY) codes.push_back(m.wParam);
    return codes;
  }
  void OpenAndWait(const std::string& path) {
    manager->Open(path, nullptr);
    EXPECT_EQ(CodesUntil(TRACK_NOTIFY_LOADED), (std::vector<std::uintptr_t>{0, 2}));
  }
  // Shows the frame at trackbar position `pos` of the current chunk (frames halted).
  void ShowAtTrackbar(int pos) {
    manager->WithWindow([&](CVideoSiteWindow* w) {
      const auto before = w->FramesDrawn();
      w->Frame()->SetTrackbarPos(pos);
      manager->SeekToSliderPosition();
      const auto end = Clock::now() + std::chrono::seconds(30);
      while (w->FramesDrawn() == before && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return 0;
    });
    Drain();
  }

  std::unique_ptr<CVideoManager> manager;
  std::string dir;
};

TEST_F(VideoManagerTest, TheChunkFileBesideTheVideoGivesItsChunks) {
  VideoSpec longFilm;
  longFilm.seconds = 10.9;
  const std::string path = Lesson(longFilm, "lesson.mp4");
  struct Case {
    const char* what;
    std::vector<std::uint8_t> cif;  // empty with `none`: no file
    bool none;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> chunks;
  } cases[] = {
      {"no file", {}, true, {{0, 10'000}}},  // whole seconds of 10.9 s
      {"three records",
       Cif({0, 2000, 2000, 3000, 5000, 5900}),
       false,
       {{0, 2000}, {2000, 3000}, {5000, 5900}}},
      {"12 bytes", Cif({0, 2000, 7}), false, {{0, 10'000}}},
      {"0 bytes", {}, false, {}},
  };
  for (const Case& c : cases) {
    std::remove((dir + "/lesson.cif").c_str());
    if (!c.none) WriteBytes(dir + "/lesson.cif", c.cif);
    OpenAndWait(path);
    EXPECT_TRUE(manager->MediaOpened()) << c.what;
    EXPECT_EQ(manager->DurationMs(), 10'000u);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
    for (const VideoChunk& ch : manager->Chunks()) got.emplace_back(ch.startMs, ch.lengthMs);
    EXPECT_EQ(got, c.chunks) << c.what;
    EXPECT_EQ(manager->CurrentChunk(), c.chunks.empty() ? -1 : 0);
  }
}

TEST_F(VideoManagerTest, AFailedOpenStillPostsItsNoticesWithNoChunkAndNoWindowShown) {
  OpenAndWait(dir + "/absent.mkv");
  EXPECT_FALSE(manager->MediaOpened());
  EXPECT_EQ(manager->OpenError(), kOpenFailedText);
  EXPECT_EQ(manager->ChunkCount(), 0);
  EXPECT_FALSE(manager->InsertBookmark());
  manager->NextChunk();
  manager->Start();  // nothing to play: stops at the first tick
  const auto codes = CodesUntil(TRACK_NOTIFY_PLAY_ENDED);
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), TRACK_NOTIFY_PLAY_ENDED);
  EXPECT_FALSE(manager->Playing());
}

TEST_F(VideoManagerTest, PlayingAChunkTicksAndStopsAtItsEndBackAtItsStart) {
  const std::string path = Lesson({}, "chunked.mp4");
  WriteBytes(dir + "/chunked.cif", Cif({0, 1000, 1000, 1200}));
  OpenAndWait(path);
  manager->NextChunk();
  EXPECT_TRUE(Drain().empty()) << "stepping posts nothing";
  manager->Start();
  EXPECT_FALSE(manager->FramesHalted());
  const auto codes = CodesUntil(TRACK_NOTIFY_PLAY_ENDED);
  ASSERT_GE(codes.size(), 3u);
  EXPECT_EQ(codes.front(), TRACK_NOTIFY_POSITION);  // the start's seek to the trackbar
  EXPECT_EQ(codes.back(), TRACK_NOTIFY_PLAY_ENDED);
  EXPECT_GE(std::count(codes.begin(), codes.end(), TRACK_NOTIFY_REFRESH), 5);
  EXPECT_FALSE(manager->Playing());
  EXPECT_TRUE(manager->FramesHalted());
  EXPECT_EQ(manager->PlayOffsetMs(), 0u);
  manager->WithWindow([](CVideoSiteWindow* w) {
    EXPECT_EQ(w->Frame()->TrackbarPos(), 0);
    EXPECT_EQ(w->PositionMs(), 1000);
    return 0;
  });
}

TEST_F(VideoManagerTest, FramesLetRunWhileTheHelpersTickWaitsForTheLockStayRunning) {
  // The helper's tick finds the video stopped (or paused) and waits for the manager's lock;
  // the playback is let run before it gets it. That tick must not halt the frames again: the
  // position would stand still and the chunk never end.
  struct Case {
    const char* what;
    std::function<void()> before;  // with the lock free
    std::function<void()> let;     // with the lock held
  } cases[] = {
      {"a start", [] {}, [&] { manager->Start(); }},
      {"the end of a pause",
       [&] {
         manager->Start();
         CodesUntil(TRACK_NOTIFY_REFRESH);
         manager->TogglePause();
       },
       [&] { manager->TogglePause(); }},
  };
  const std::string path = Lesson({}, "tick.mp4");
  WriteBytes(dir + "/tick.cif", Cif({0, 1000}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    manager->Open(path, nullptr);
    CodesUntil(TRACK_NOTIFY_LOADED);  // after the last case's codes
    c.before();
    manager->WithWindow([&](CVideoSiteWindow*) {
      // Held across a few 50 ms ticks, so that the next one is waiting when the frames are
      // let run.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      c.let();
      return 0;
    });
    // The tick that waited has run by the first position tick after it.
    const auto first = CodesUntil(TRACK_NOTIFY_REFRESH);
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(first.back(), TRACK_NOTIFY_REFRESH);
    EXPECT_TRUE(manager->Playing());
    ASSERT_FALSE(manager->FramesHalted()) << "halted by the tick that waited";
    const auto codes = CodesUntil(TRACK_NOTIFY_PLAY_ENDED);
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), TRACK_NOTIFY_PLAY_ENDED) << "the chunk's end came";
    EXPECT_FALSE(manager->Playing());
  }
}

TEST_F(VideoManagerTest, APlayShowsTheChunkFromItsStartAndThePictureNeverLeadsTheSound) {
  // A sink that takes sound half a second ahead of playing it, as a sound server's does, on
  // the manual clock: the picture and the time display may follow only what was heard.
  auto backend = audio::VirtualEndpoints::Instance();
  backend->SetManualClock(true);
  audio::VirtualDeviceSpec sink;
  sink.id = "virtual_sink_ahead";
  sink.name = "Sink Rendering Ahead";
  sink.aheadMs = 500;
  backend->AddDevice(sink);
  manager->SetOutputDevice(u"virtual_sink_ahead");
  const std::string path = Lesson({}, "ahead.mp4");
  WriteBytes(dir + "/ahead.cif", Cif({0, 1000, 1000, 2000}));
  OpenAndWait(path);
  manager->NextChunk();  // starts at 1000 ms

  std::mutex m;
  std::vector<std::pair<std::int64_t, std::int64_t>> drawn;  // (frame ms, heard ms)
  std::atomic<bool> playing{true};  // the frames a stop lets out are not the point
  auto heardMs = [&] {
    return std::int64_t(backend->Played("virtual_sink_ahead").size() / 2 / 48) + 1000;
  };
  manager->WithWindow([&](CVideoSiteWindow* w) {
    w->onFrameDrawn = [&](std::int64_t posMs) {
      if (!playing) return;
      const std::int64_t heard = heardMs();
      std::lock_guard lock(m);
      drawn.emplace_back(posMs, heard);
    };
    return 0;
  });
  auto shown = [&] { return manager->WithWindow([](CVideoSiteWindow* w) { return w->PositionMs(); }); };
  manager->Start();
  // The clock moves once the sound is in the endpoint (the first frame may wait for the
  // sound's first few ms: a sound frame begins a little before the chunk).
  ASSERT_TRUE(test::WaitFor([&] { return backend->QueuedFrames("virtual_sink_ahead") > 0; }));
  for (int step = 0; step < 40; ++step) {
    // The sound for the step is there: what the sink plays is the video's sound, no gap.
    ASSERT_TRUE(test::WaitFor([&] { return backend->QueuedFrames("virtual_sink_ahead") >= 960; }));
    backend->Advance(20);
    // The frame of what was heard comes (a frame is 40 ms).
    EXPECT_TRUE(test::WaitFor([&] { return shown() >= heardMs() - 80; })) << step;
  }
  const std::int64_t heard = heardMs();
  EXPECT_NEAR(double(heard), 1800.0, 40.0);
  CodesUntil(TRACK_NOTIFY_REFRESH);  // a tick after the last frame
  EXPECT_LE(std::int64_t(manager->PlayOffsetMs()), heard - 1000 + 40) << "the time display leads";
  playing = false;
  manager.reset();
  ASSERT_FALSE(drawn.empty());
  EXPECT_NEAR(double(drawn.front().first), 1000.0, 40.0) << "the first frame drawn";
  for (const auto& [frameMs, heardAt] : drawn)
    EXPECT_LE(frameMs, heardAt + 40) << "frame at " << frameMs << " ms drawn with " << heardAt
                                     << " ms heard";
}

TEST_F(VideoManagerTest, ThePictureIsTheFrameTheTimeDisplayNamesOnOpenAfterAStepAndAfterAStop) {
  // The chunk's first frame, never black before the first play nor the last frame played
  // after a stop (the time display shows the chunk's start then).
  const std::string path = Lesson({}, "first.mp4");
  WriteBytes(dir + "/first.cif", Cif({0, 1000, 1000, 2000}));
  auto shownFrame = [&] {
    return manager->WithWindow([](CVideoSiteWindow* w) {
      std::lock_guard lock(w->DrawingLock());
      const QImage* img = w->BackBuffer();
      return !img || w->FramesDrawn() == 0
                 ? -1
                 : test::ReadFrameNumber(
                       *img, LetterboxRect(320, 240, float(img->width()), float(img->height())));
    });
  };
  OpenAndWait(path);
  EXPECT_TRUE(test::WaitFor([&] { return shownFrame() == 0; }, std::chrono::seconds(10)))
      << "on open: frame " << shownFrame();
  manager->NextChunk();
  EXPECT_TRUE(test::WaitFor([&] { return shownFrame() == 25; }, std::chrono::seconds(10)))
      << "after the step to 1000 ms: frame " << shownFrame();
  manager->Start();
  ASSERT_TRUE(test::WaitFor([&] { return shownFrame() >= 35; }));
  manager->Stop();
  EXPECT_TRUE(test::WaitFor([&] { return shownFrame() == 25; }, std::chrono::seconds(10)))
      << "after the stop: frame " << shownFrame();
  EXPECT_EQ(manager->PlayOffsetMs(), 0u);
  manager->PrevChunk();
  EXPECT_TRUE(test::WaitFor([&] { return shownFrame() == 0; }, std::chrono::seconds(10)))
      << "after the step back: frame " << shownFrame();
}

TEST_F(VideoManagerTest, AnotherOutputChosenWhilePlayingTakesTheVideosSoundAtOnce) {
  auto backend = audio::VirtualEndpoints::Instance();
  audio::VirtualDeviceSpec other;
  other.id = "virtual_speaker_2";
  other.name = "Second Speaker";
  backend->AddDevice(other);
  VideoSpec spec;
  spec.seconds = 6;
  OpenAndWait(Lesson(spec, "moved.mp4"));
  manager->Start();
  auto sounding = [&](const std::string& id) {
    const std::vector<float> played = backend->Played(id);
    return std::any_of(played.begin(), played.end(), [](float v) { return std::fabs(v) > 0.05f; });
  };
  ASSERT_TRUE(test::WaitFor([&] { return sounding("virtual_speaker"); }));

  manager->SetOutputDevice(u"virtual_speaker_2");  // as the recorder's device menu does
  EXPECT_TRUE(test::WaitFor([&] { return sounding("virtual_speaker_2"); }))
      << "the sound stayed on the first output";
  EXPECT_TRUE(test::WaitFor([&] { return backend->OpenClientCount("virtual_speaker") == 0; }))
      << "the first output is still held";
  const std::size_t left = backend->Played("virtual_speaker").size();
  const std::size_t moved = backend->Played("virtual_speaker_2").size();
  ASSERT_TRUE(test::WaitFor([&] { return backend->Played("virtual_speaker_2").size() > moved + 48000; }));
  EXPECT_EQ(backend->Played("virtual_speaker").size(), left);
  EXPECT_TRUE(manager->Playing());
  EXPECT_EQ(manager->OutputDevice(), u"virtual_speaker_2");
  manager->Stop();
  EXPECT_EQ(backend->OpenClientCount("virtual_speaker_2"), 1) << "the voice's, kept for the next play";
}

// A sound server that does not answer must not hold the manager's lock, which the window's
// time display takes at every tick: the device change, stop and pause of a playing video
// call the server after the lock is left.
TEST_F(VideoManagerTest, CallsIntoTheSoundServerHoldNoManagerLock) {
  auto backend = audio::VirtualEndpoints::Instance();
  audio::VirtualDeviceSpec other;
  other.id = "virtual_speaker_2";
  other.name = "Second Speaker";
  backend->AddDevice(other);
  VideoSpec spec;
  spec.seconds = 6;
  const std::string lesson = Lesson(spec, "held.mp4");
  struct Case {
    const char* what;
    const char* device;
    audio::VirtualFailure held;
    std::function<void(CVideoManager&)> run;
  };
  const Case cases[] = {
      {"another output while playing", "virtual_speaker_2", audio::VirtualFailure::GetDevice,
       [](CVideoManager& m) { m.SetOutputDevice(u"virtual_speaker_2"); }},
      {"a stop", "virtual_speaker", audio::VirtualFailure::Stop,
       [](CVideoManager& m) { m.Stop(); }},
      {"a pause", "virtual_speaker", audio::VirtualFailure::Stop,
       [](CVideoManager& m) { m.TogglePause(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    manager->SetOutputDevice(u"virtual_speaker");
    OpenAndWait(lesson);
    manager->Start();
    ASSERT_TRUE(test::WaitFor([&] {
      return manager->WithWindow([](CVideoSiteWindow* w) { return w && w->HasVoice(); }) &&
             backend->OpenClientCount("virtual_speaker") >= 1 && manager->PlayOffsetMs() > 0;
    }));
    backend->HoldStep(c.device, c.held);
    std::thread call([&] { c.run(*manager); });
    ASSERT_TRUE(test::WaitFor([&] { return backend->HeldCount() >= 1; }));
    std::atomic<bool> answered{false};
    std::thread tick([&] {
      manager->PlayOffsetMs();
      answered = true;
    });
    EXPECT_TRUE(test::WaitFor([&] { return answered.load(); }, std::chrono::seconds(5)))
        << "the time display waits for the sound server";
    backend->ReleaseHeld();
    call.join();
    tick.join();
    manager->Stop();
    manager->CloseWindow();
    Drain();
  }
}

// A seek drops the seeks still waiting, not a waiting change of the output: the video's
// sound moves to the chosen output although a seek came right after the choice.
TEST_F(VideoManagerTest, ASeekRightAfterAnOutputChoiceKeepsTheChoice) {
  auto backend = audio::VirtualEndpoints::Instance();
  audio::VirtualDeviceSpec other;
  other.id = "virtual_speaker_2";
  other.name = "Second Speaker";
  backend->AddDevice(other);
  VideoSpec spec;
  spec.seconds = 4;
  OpenAndWait(Lesson(spec, "sought.mp4"));
  ASSERT_TRUE(test::WaitFor([&] { return backend->OpenClientCount("virtual_speaker") == 1; }));
  // The decoding executor busy, so that what is posted now waits.
  std::promise<void> go;
  std::shared_future<void> gate = go.get_future().share();
  std::atomic<bool> busy{false};
  manager->WithWindow([&](CVideoSiteWindow* w) {
    w->FirstExecutor().Post([&busy, gate] {
      busy = true;
      gate.wait();
    });
    w->FirstExecutor().Post([] {});
    return 0;
  });
  ASSERT_TRUE(test::WaitFor([&] { return busy.load(); }));
  manager->SetOutputDevice(u"virtual_speaker_2");
  manager->WithWindow([](CVideoSiteWindow* w) {
    w->Frame()->SetTrackbarPos(500);
    return 0;
  });
  manager->SeekToSliderPosition();  // halted: a seek of the window
  go.set_value();
  EXPECT_TRUE(test::WaitFor([&] { return backend->OpenClientCount("virtual_speaker_2") == 1; }))
      << "the change of output was dropped with the waiting jobs";
  EXPECT_TRUE(test::WaitFor([&] { return backend->OpenClientCount("virtual_speaker") == 0; }));
  Drain();
}

TEST_F(VideoManagerTest, AStopTellsTheTimeDisplayOfItsRewindAlsoWhenNoTickFollows) {
  // Paused, nothing ticks: the stop's own notices must bring the display back to the
  // chunk's start (it stayed at the paused time).
  const std::string path = Lesson({}, "rewind.mp4");
  WriteBytes(dir + "/rewind.cif", Cif({0, 1000, 1000, 2000}));
  OpenAndWait(path);
  manager->NextChunk();
  manager->Start();
  ASSERT_TRUE(test::WaitFor([&] {
    Drain();
    return manager->PlayOffsetMs() >= 300;
  }));
  manager->TogglePause();
  Drain();
  manager->Stop();
  const auto codes = CodesUntil(TRACK_NOTIFY_PLAY_ENDED);
  ASSERT_FALSE(codes.empty());
  std::string seen;
  for (std::uintptr_t c : codes) seen += " " + std::to_string(c);
  EXPECT_NE(std::find(codes.begin(), codes.end(), TRACK_NOTIFY_REFRESH), codes.end())
      << "no position notice after the stop; notices:" << seen;
  EXPECT_EQ(manager->PlayOffsetMs(), 0u);
}

TEST_F(VideoManagerTest, TheFilesEndBeforeTheChunksEndStopsLikeAChunkEnd) {
  // 3.000 s: the one chunk is 3000 ms long and the last frame stands at 2960 ms.
  OpenAndWait(Lesson({}, "short.avi"));
  ASSERT_EQ(manager->CurrentChunkLengthMs(), 3000u);
  manager->Start();
  const auto codes = CodesUntil(TRACK_NOTIFY_PLAY_ENDED);
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), TRACK_NOTIFY_PLAY_ENDED);
  EXPECT_FALSE(manager->Playing());
}

TEST_F(VideoManagerTest, StepsAtTheListsEndsChangeNothingAndPostNothing) {
  const std::string path = Lesson({}, "steps.mp4");
  WriteBytes(dir + "/steps.cif", Cif({0, 1000, 1000, 2000}));
  OpenAndWait(path);
  manager->PrevChunk();
  EXPECT_EQ(manager->CurrentChunk(), 0);
  manager->NextChunk();
  manager->NextChunk();
  EXPECT_EQ(manager->CurrentChunk(), 1);
  EXPECT_TRUE(Drain().empty());
}

TEST_F(VideoManagerTest, ABookmarkSplitsTheCurrentChunkOnlyInsideIt) {
  const std::string path = Lesson({}, "marks.mp4");
  WriteBytes(dir + "/marks.cif", Cif({0, 1000, 1000, 1000, 2000, 1000}));
  OpenAndWait(path);
  manager->NextChunk();
  ShowAtTrackbar(0);
  EXPECT_FALSE(manager->InsertBookmark()) << "at the chunk's start";
  EXPECT_FALSE(manager->ChunkDataModified());
  ShowAtTrackbar(400);  // 1000 + 1000 x 400 / 1000 = 1400 ms
  ASSERT_TRUE(manager->InsertBookmark());
  EXPECT_EQ(CodesUntil(TRACK_NOTIFY_IDLE), (std::vector<std::uintptr_t>{TRACK_NOTIFY_IDLE}));
  EXPECT_TRUE(manager->ChunkDataModified());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
  for (const VideoChunk& c : manager->Chunks()) got.emplace_back(c.startMs, c.lengthMs);
  EXPECT_EQ(got, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                     {0, 1000}, {1000, 400}, {1400, 600}, {2000, 1000}}));
  EXPECT_TRUE(manager->FramesHalted());
  manager->WithWindow([](CVideoSiteWindow* w) { return w->Frame()->TrackbarPos(); });
  EXPECT_EQ(manager->WithWindow([](CVideoSiteWindow* w) { return w->Frame()->TrackbarPos(); }),
            1000);

  // Removing it joins the chunk with the next again, and that is unsaved work too.
  ASSERT_TRUE(manager->WriteChunkFile());
  EXPECT_FALSE(manager->ChunkDataModified());
  manager->RemoveBookmark();
  got.clear();
  for (const VideoChunk& c : manager->Chunks()) got.emplace_back(c.startMs, c.lengthMs);
  EXPECT_EQ(got, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                     {0, 1000}, {1000, 1000}, {2000, 1000}}));
  EXPECT_TRUE(manager->ChunkDataModified());
}

TEST_F(VideoManagerTest, ChunkListAndTextsAreSavedBesideTheVideoAndReadBack) {
  const std::string path = Lesson({}, "my.lesson.mkv");
  OpenAndWait(path);
  EXPECT_EQ(manager->BuildChunkTexts(), (std::vector<std::uint8_t>{0xFF, 0xFE, '\r', 0, '\n', 0}));
  EXPECT_FALSE(manager->TextsLoaded());
  ShowAtTrackbar(500);  // 1500 ms: the frame standing from 1480 ms
  ASSERT_TRUE(manager->InsertBookmark());
  CodesUntil(TRACK_NOTIFY_IDLE);
  manager->SetCurrentChunkText(u"Hello");
  EXPECT_TRUE(manager->TextsLoaded());
  ASSERT_TRUE(manager->WriteChunkFile());
  WriteBytes(dir + "/my.lesson.txt", manager->BuildChunkTexts());
  std::ifstream cif(dir + "/my.lesson.cif", std::ios::binary);
  std::vector<std::uint8_t> body((std::istreambuf_iterator<char>(cif)), {});
  EXPECT_EQ(body, Cif({0, 1480, 1480, 1520}));

  OpenAndWait(path);
  ASSERT_EQ(manager->ChunkCount(), 2);
  EXPECT_TRUE(manager->TextsLoaded());
  EXPECT_EQ(manager->CurrentChunkText(), u"Hello");
  EXPECT_FALSE(manager->ChunkDataModified());
}

TEST_F(VideoManagerTest, TheWholeFileViewSetsTheListAsideAndBringsItBack) {
  const std::string path = Lesson({}, "whole.mp4");
  WriteBytes(dir + "/whole.cif", Cif({0, 1000, 1000, 2000}));
  OpenAndWait(path);
  manager->NextChunk();
  manager->SetWholeFile(true);
  EXPECT_EQ(CodesUntil(TRACK_NOTIFY_LOADED), (std::vector<std::uintptr_t>{2}));
  ASSERT_EQ(manager->ChunkCount(), 1);
  EXPECT_EQ(manager->CurrentChunkLengthMs(), 3000u);
  manager->SetWholeFile(false);
  EXPECT_EQ(CodesUntil(TRACK_NOTIFY_LOADED), (std::vector<std::uintptr_t>{2}));
  EXPECT_EQ(manager->ChunkCount(), 2);
  EXPECT_EQ(manager->CurrentChunk(), 0);
}

TEST_F(VideoManagerTest, TrackbarScrollCodesHaltOnlyDuringAThumbDrag) {
  OpenAndWait(Lesson({}, "drag.mp4"));
  auto halted = [&] { return manager->FramesHalted(); };
  auto scroll = [&](int code) {
    plat::PostThreadMessage(manager->HelperThreadId(), WM_HSCROLL, plat::WPARAM(code), 0);
    return CodesUntil(TRACK_NOTIFY_POSITION);
  };
  manager->Start();
  CodesUntil(TRACK_NOTIFY_POSITION);
  ASSERT_FALSE(halted());
  // A click's end without a drag leaves the frames running.
  scroll(3);
  scroll(TB_ENDTRACK);
  EXPECT_FALSE(halted());
  // A drag halts them and its end lets them run again, however many moves it took (the
  // slider sends one thumb-track code per mouse move); the picture then moves on from there.
  for (int moves : {1, 4}) {
    SCOPED_TRACE(std::to_string(moves) + " moves");
    int pos = 0;
    for (int i = 0; i < moves; ++i) {
      pos = 200 + 100 * i;
      manager->WithWindow([&](CVideoSiteWindow* w) {
        w->Frame()->SetTrackbarPos(pos);
        return 0;
      });
      scroll(TB_THUMBTRACK);
      EXPECT_TRUE(halted());
    }
    scroll(TB_ENDTRACK);
    EXPECT_FALSE(halted());
    const std::int64_t dropped = 3000 * pos / 1000;  // where the thumb was let go
    EXPECT_TRUE(test::WaitFor([&] {
      return manager->WithWindow([](CVideoSiteWindow* w) { return w->PositionMs(); }) >
             dropped + 400;
    })) << "the frames stood still after the drag";
    EXPECT_TRUE(manager->Playing());
    manager->Stop();
    Drain();
    manager->Start();
    CodesUntil(TRACK_NOTIFY_POSITION);
  }
  // Paused, a drag's end leaves them halted.
  manager->TogglePause();
  for (int i = 0; i < 3; ++i) scroll(TB_THUMBTRACK);
  scroll(TB_ENDTRACK);
  EXPECT_TRUE(halted());
  manager->Stop();
}

TEST_F(VideoManagerTest, ReplacingOrClosingTheWindowWhilePlayingIsSafe) {
  const std::string a = Lesson({}, "a.mp4");
  VideoSpec other;
  other.container = "mkv";
  const std::string b = Lesson(other, "b.mkv");
  OpenAndWait(a);
  manager->Start();
  CodesUntil(TRACK_NOTIFY_REFRESH);
  manager->Open(b, nullptr);  // replaced while the helper ticks and the jobs run
  manager->Open(a, nullptr);  // and again before the last open finished
  const auto codes = CodesUntil(TRACK_NOTIFY_LOADED);
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), TRACK_NOTIFY_LOADED);
  EXPECT_EQ(manager->MediaPath(), a);
  manager->Start();
  CodesUntil(TRACK_NOTIFY_REFRESH);
  manager->CloseWindow();
  EXPECT_EQ(manager->ChunkCount(), 0);
  EXPECT_TRUE(manager->FramesHalted());
}

}  // namespace
}  // namespace vts

namespace vts {
namespace {

// A window system that records what the manager asks of the dialog's window.
class RecordingWindows : public IVideoWindowSystem {
 public:
  WindowRect owner{100, 50, 700, 520};
  WindowRect screen{0, 0, 1600, 900};
  std::vector<std::pair<int, int>> moves;
  std::vector<WindowRect> frames;
  bool OwnerRect(void*, WindowRect* r) override {
    *r = owner;
    return true;
  }
  void MoveOwner(void*, int x, int y) override {
    moves.emplace_back(x, y);
    owner = {x, y, x + owner.Width(), y + (owner.bottom - owner.top)};
  }
  WindowRect ScreenRect(void*) override { return screen; }
  std::unique_ptr<IVideoFrameHost> CreateFrame(CVideoSiteWindow& site, void* owner, int x, int y,
                                               int width, int height) override {
    frames.push_back({x, y, x + width, y + height});
    return HeadlessVideoWindowSystem()->CreateFrame(site, owner, x, y, width, height);
  }
};

TEST(VideoManagerWindows, TheDialogMovesRightOnceAndBothWindowsStayOnTheScreen) {
  audio::VirtualEndpoints::Instance()->Reset();
  struct Case {
    WindowRect owner;
    std::pair<int, int> move;  // where the dialog goes
    int videoLeft;
  } cases[] = {
      {{700, 50, 1300, 520}, {1000, 50}, 400},   // half of 600 to the right, the video at its left
      {{100, 50, 700, 520}, {600, 50}, 0},       // the video would start off the screen's left
      {{1200, 50, 1800, 520}, {1000, 50}, 400},  // a dialog hanging over the right edge
  };
  for (const Case& c : cases) {
    auto windows = std::make_shared<RecordingWindows>();
    windows->owner = c.owner;
    CVideoManager manager(nullptr, audio::VirtualEndpoints::Instance(), windows);
    int dummy;
    manager.Open("/nowhere/a.mp4", &dummy);
    manager.Open("/nowhere/b.mp4", &dummy);  // a second open does not move it again
    ASSERT_EQ(windows->moves.size(), 1u);
    EXPECT_EQ(windows->moves[0], c.move);
    ASSERT_EQ(windows->frames.size(), 2u);
    for (const WindowRect& f : windows->frames) {
      EXPECT_EQ(f.left, c.videoLeft);
      EXPECT_EQ(f.Width(), c.owner.Width());
      EXPECT_EQ(f.bottom - f.top, 400);
      EXPECT_GE(f.left, windows->screen.left);
      EXPECT_LE(windows->owner.right, windows->screen.right);
    }
  }
}

}  // namespace
}  // namespace vts
