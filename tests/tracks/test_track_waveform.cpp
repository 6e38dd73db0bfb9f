// A track joined to its waveform strip: redraws reach the strip's picture, the strip's
// clicks move the track's cursor and post the position code, recording keeps the view.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <memory>
#include <thread>

#include "audio/virtual_endpoints.h"
#include "track_doubles.h"
#include "tracks/track_waveform.h"

namespace vts {
namespace {

class TrackWaveform : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::VirtualEndpoints::Instance()->Reset();
    track_ = std::make_unique<CSoundTrack>(core_.Id(), "Student", &state_);
    track_->SetNotifyTarget(log_.Target());
    core_.Attach(nullptr, track_.get());
    waveform_ = std::make_unique<CTrackWaveform>(*track_);
    QImage background(400, 100, QImage::Format_RGB32);
    background.fill(0xFFFFFFFFu);
    waveform_->Strip().SetBackground(background);
    waveform_->SetStripRect(0, 0, 342);
  }
  void TearDown() override {
    core_.Detach();
    waveform_.reset();
    track_.reset();
  }
  int DarkColumns() {
    std::lock_guard lock(track_->BufferLock());
    const QImage& img = waveform_->Strip().DrawingImage();
    int dark = 0;
    for (int x = 0; x < img.width(); ++x) {
      int inColumn = 0;
      for (int y = 0; y < img.height(); ++y)
        if (qGray(img.pixel(x, y)) < 64) ++inColumn;
      if (inColumn > 4) ++dark;  // more than the centre line
    }
    return dark;
  }

  // The scripted microphone plays from the device clock's frame 0, and the clock followed
  // real time until the test stopped it: the word starts at the clock's now, as it would on
  // a machine that took no time to set the test up.
  static void MicSaysFromNow(const std::vector<float>& word) {
    auto& virt = *audio::VirtualEndpoints::Instance();
    const std::size_t now = std::size_t(virt.NowUs() * 48000 / 1000000);
    std::vector<float> script(now, 0.0f);
    script.insert(script.end(), word.begin(), word.end());
    virt.SetSource("virtual_mic", audio::VirtualSource::Scripted(std::move(script)));
  }

  EngineStateBlock state_;
  test::CoreThreadDouble core_;
  test::NotifyLog log_;
  std::unique_ptr<CSoundTrack> track_;
  std::unique_ptr<CTrackWaveform> waveform_;
};

TEST_F(TrackWaveform, RedrawDrawsTheChunkAndSetsTheView) {
  CChunkInfo* chunk = track_->AddChunk();
  track_->SelectChunk(0);
  std::vector<std::int16_t> tone(100 * 256);
  for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = std::int16_t(20000 * std::sin(i * 0.05));
  test::FillChunk(chunk, tone);
  track_->RedrawWaveform(0, 256);
  EXPECT_EQ(track_->ViewSnapshot().viewFrames, 100u * 256);
  EXPECT_EQ(track_->ViewSnapshot().viewStartFrame, 0u);
  {
    std::lock_guard lock(track_->BufferLock());
    EXPECT_EQ(waveform_->Strip().View().viewFrames, track_->ViewSnapshot().viewFrames);
  }
  int dark = DarkColumns();
  EXPECT_GE(dark, 95);
  EXPECT_LE(dark, 100) << "the strip right of the chunk shows the background";
}

TEST_F(TrackWaveform, ClickSetsTheTracksCursorAndPostsThePosition) {
  CChunkInfo* chunk = track_->AddChunk();
  track_->SelectChunk(0);
  test::FillChunk(chunk, std::vector<std::int16_t>(90000, 1000));
  track_->RedrawWaveform(0, 256);
  log_.Clear();
  waveform_->Strip().OnLeftButtonDown(*waveform_, 100, false);
  waveform_->Strip().OnWaveformMouse(*waveform_, false, 100);
  EXPECT_EQ(track_->ViewSnapshot().cursorFrame, 25600u);
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, 25600u);
  EXPECT_EQ(log_.Codes(), std::vector<std::uint32_t>{TRACK_NOTIFY_POSITION});
}

TEST_F(TrackWaveform, RecordingKeepsTheNewestSoundInView) {
  track_->SetInputDevice(u"virtual_mic");
  track_->ToggleRecord();
  ASSERT_TRUE(log_.WaitForCount(TRACK_NOTIFY_DATA, 30));
  track_->ToggleRecord();
  ASSERT_TRUE(track_->WaitForRecordingEnd());
  // While recording the strip showed 128 frames per pixel; the stop redraws from frame 0.
  EXPECT_EQ(track_->ViewSnapshot().framesPerPixel, 128u);
  EXPECT_EQ(track_->ViewSnapshot().viewStartFrame, 0u);
  EXPECT_GE(DarkColumns(), 300);
  std::lock_guard lock(track_->BufferLock());
  EXPECT_EQ(waveform_->Strip().Bar().Pos(), track_->PlayFrame());
}

TEST_F(TrackWaveform, AClickDuringACoreThreadRedrawIsKept) {
  // The core thread redraws while playing or recording. A click made at the same time must
  // never be undone by it: the redraw and the strip change the same view state.
  CChunkInfo* chunk = track_->AddChunk();
  test::FillChunk(chunk, std::vector<std::int16_t>(342 * 256, 1000));
  track_->SelectChunk(0);  // the bar's range is the chunk's length
  track_->RedrawWaveform(0, 256);
  std::atomic<bool> run{true};
  std::atomic<int> redraws{0};
  std::thread core([&] {
    while (run) {
      track_->RedrawWaveform(0, 256);
      ++redraws;
    }
  });
  // Clicks go on until redraws have come between enough of them (the other thread may get
  // no processor at first on a busy machine).
  int lost = 0, clicks = 0, overlapped = 0;
  for (; clicks < 3000 || (overlapped < 200 && clicks < 2'000'000); ++clicks) {
    const int x = 1 + clicks % 300;
    const int before = redraws;
    waveform_->Strip().OnLeftButtonDown(*waveform_, x, false);
    waveform_->Strip().OnWaveformMouse(*waveform_, false, x);
    const WaveformViewState view = track_->ViewSnapshot();
    if (redraws != before) ++overlapped;
    if (view.cursorFrame != std::uint32_t(x) * 256 || view.anchorFrame != std::uint32_t(x) * 256 ||
        view.progress.Pos() != x * 256)
      ++lost;
  }
  run = false;
  core.join();
  EXPECT_GE(overlapped, 200) << "redraws ran between the clicks";
  EXPECT_EQ(lost, 0) << "of " << clicks << " clicks";
}

TEST_F(TrackWaveform, ThePlayLineAndThePositionBarFollowPlayback) {
  // A chunk three views long: the view scrolls with the play position, and after every
  // period the strip's play line and the bar stand where the track plays.
  auto& virt = *audio::VirtualEndpoints::Instance();
  virt.SetManualClock(true);
  const std::uint32_t viewFrames = 342 * 256;
  CChunkInfo* chunk = track_->AddChunk();
  test::FillChunk(chunk, std::vector<std::int16_t>(3 * viewFrames, 1000));
  track_->SelectChunk(0);
  track_->SetOutputDevice(u"virtual_speaker");
  track_->RedrawWaveform(0, 256);
  track_->Play();
  ASSERT_TRUE(track_->IsPlaying());
  std::uint32_t lastPlay = 0;
  int steps = 0, linesSeen = 0;
  bool scrolled = false;
  for (bool playing = true; playing && steps++ < 10000;) {
    virt.Advance(20);
    // Looked at between two played buffers: held, the core thread is in none of them.
    core_.Hold();
    struct Release {
      test::CoreThreadDouble& core;
      ~Release() { core.Release(); }
    } release{core_};
    std::lock_guard lock(track_->BufferLock());
    playing = track_->IsPlaying();
    const WaveformViewState& v = waveform_->Strip().View();
    const std::uint32_t play = track_->PlayFrame();
    ASSERT_EQ(v.playFrame, play);
    ASSERT_GE(play, lastPlay);
    lastPlay = play;
    ASSERT_EQ(v.progress.Pos(), std::int64_t(play));
    ASSERT_EQ(v.progress.High(), std::int64_t(chunk->length));
    ASSERT_LE(v.viewStartFrame, play);
    ASSERT_GT(std::uint64_t(v.viewStartFrame) + v.viewFrames, play - (play == chunk->length))
        << "the play position stays in view";
    scrolled = scrolled || v.viewStartFrame > 0;
    const std::int64_t column = (std::int64_t(play) - v.viewStartFrame) / 256;
    if (column >= 1 && column < 342) {
      ASSERT_EQ(waveform_->Strip().CompositionImage().pixel(int(column), 10), kPlayLineColour)
          << "at frame " << play;
      ++linesSeen;
    }
  }
  EXPECT_FALSE(track_->IsPlaying()) << "the chunk played to its end";
  EXPECT_EQ(lastPlay, chunk->length);
  EXPECT_TRUE(scrolled);
  EXPECT_GT(linesSeen, 100);
  virt.SetManualClock(false);
}

TEST_F(TrackWaveform, APlayedBufferRepaintsWithTheDrawerHeldInPlace) {
  // The window takes its drawer away (at close) under the buffer lock while the core thread
  // still returns played buffers: a repaint of the play line must hold that lock too, or it
  // may call a drawer that is being destroyed.
  struct Drawer final : IWaveformDrawer {
    CSoundTrack* track = nullptr;
    std::atomic<int> repaints{0}, unguarded{0};
    void DrawWaveform(CSoundTrack&, const WaveformView&) override {}
    void RepaintWaveform(CSoundTrack&) override {
      ++repaints;
      auto tryLock = std::async(std::launch::async, [this] {
        if (!track->BufferLock().try_lock()) return false;
        track->BufferLock().unlock();
        return true;
      });
      if (tryLock.get()) ++unguarded;
    }
  } drawer;
  drawer.track = track_.get();
  auto& virt = *audio::VirtualEndpoints::Instance();
  virt.SetManualClock(true);
  CChunkInfo* chunk = track_->AddChunk();
  test::FillChunk(chunk, std::vector<std::int16_t>(44100, 1000));
  track_->SelectChunk(0);
  track_->SetOutputDevice(u"virtual_speaker");
  track_->RedrawWaveform(0, 256);  // the whole second in view: played buffers only repaint
  track_->SetWaveformDrawer(&drawer);
  track_->Play();
  ASSERT_TRUE(track_->IsPlaying());
  for (int steps = 0; track_->IsPlaying() && steps < 1000; ++steps) virt.Advance(20);
  EXPECT_FALSE(track_->IsPlaying());
  core_.Hold();  // every played buffer is in
  core_.Release();
  track_->SetWaveformDrawer(nullptr);
  EXPECT_GT(drawer.repaints.load(), 5);
  EXPECT_EQ(drawer.unguarded.load(), 0);
  virt.SetManualClock(false);
}

TEST_F(TrackWaveform, BlocksArrivingAfterTheStopKeepTheStripAtTheRecordingsStart) {
  // A word, then silence: the stop shows the recording from its start. Blocks still queued
  // behind a busy core thread at the stop must not scroll the strip to the silent tail
  // (which looks like an empty recording: only the centre line).
  auto& virt = *audio::VirtualEndpoints::Instance();
  virt.SetManualClock(true);
  std::vector<float> word(48000);  // 1 s at the microphone's 48 kHz
  for (std::size_t i = 0; i < word.size(); ++i) word[i] = 0.5f * float(std::sin(i * 0.06));
  MicSaysFromNow(word);
  track_->SetInputDevice(u"virtual_mic");
  track_->SetRecordSources(CSoundTrack::kRecordInput);
  track_->ToggleRecord();
  ASSERT_TRUE(track_->IsRecording());
  for (int ms = 0; ms < 3000; ms += 20) virt.Advance(20);
  ASSERT_TRUE(log_.WaitForCount(TRACK_NOTIFY_DATA, 60));
  core_.Hold();
  for (int ms = 0; ms < 200; ms += 20) virt.Advance(20);  // blocks queue up
  track_->ToggleRecord();
  core_.Release();
  ASSERT_TRUE(track_->WaitForRecordingEnd());
  EXPECT_EQ(track_->ViewSnapshot().viewStartFrame, 0u);
  EXPECT_GE(DarkColumns(), 300) << "the word at the recording's start is shown";
  virt.SetManualClock(false);
}

TEST_F(TrackWaveform, WhileRecordingTheStripShowsWhatAFullRedrawShows) {
  // Take one is loud, take two (replacing it) silent: no column of the first take may stay
  // on the strip while the second grows, wherever the second's sound lies in memory.
  auto& virt = *audio::VirtualEndpoints::Instance();
  virt.SetManualClock(true);
  std::vector<float> word(9600);  // 0.2 s at the microphone's 48 kHz, then silence
  for (std::size_t i = 0; i < word.size(); ++i) word[i] = 0.8f * float(std::sin(i * 0.06));
  MicSaysFromNow(word);
  track_->SetInputDevice(u"virtual_mic");
  track_->SetRecordSources(CSoundTrack::kRecordInput);
  track_->SetReplaceOnRecord(true);
  track_->ToggleRecord();
  ASSERT_TRUE(track_->IsRecording());
  for (int ms = 0; ms < 400; ms += 20) virt.Advance(20);
  ASSERT_TRUE(log_.WaitForCount(TRACK_NOTIFY_DATA, 4));
  track_->ToggleRecord();
  ASSERT_TRUE(track_->WaitForRecordingEnd());
  ASSERT_GT(DarkColumns(), 0) << "the first take shows";
  log_.Clear();
  track_->ToggleRecord();
  ASSERT_TRUE(track_->IsRecording());
  for (int step = 0; step < 3; ++step) {
    for (int ms = 0; ms < 1000; ms += 20) virt.Advance(20);
    ASSERT_TRUE(log_.WaitForCount(TRACK_NOTIFY_DATA, 10 * (step + 1)));
    core_.Hold();  // no block is drawn meanwhile
    QImage followed;
    std::uint32_t start = 0;
    {
      std::lock_guard lock(track_->BufferLock());
      followed = waveform_->Strip().DrawingImage().copy();
      start = waveform_->Strip().View().viewStartFrame;
    }
    track_->RedrawWaveform(start, 128);
    {
      std::lock_guard lock(track_->BufferLock());
      EXPECT_TRUE(followed == waveform_->Strip().DrawingImage()) << "step " << step;
    }
    EXPECT_EQ(DarkColumns(), 0) << "a silent take draws the centre line only";
    core_.Release();
  }
  track_->ToggleRecord();
  ASSERT_TRUE(track_->WaitForRecordingEnd());
  virt.SetManualClock(false);
}

}  // namespace
}  // namespace vts
