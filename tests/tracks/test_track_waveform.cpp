// A track joined to its waveform strip: redraws reach the strip's picture, the strip's
// clicks move the track's cursor and post the position code, recording keeps the view.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
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
  EXPECT_EQ(track_->viewFrames, 100u * 256);
  EXPECT_EQ(track_->viewStartFrame, 0u);
  {
    std::lock_guard lock(track_->BufferLock());
    EXPECT_EQ(waveform_->Strip().View().viewFrames, track_->viewFrames.load());
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
  EXPECT_EQ(track_->cursorFrame, 25600u);
  EXPECT_EQ(track_->anchorFrame, 25600u);
  EXPECT_EQ(log_.Codes(), std::vector<std::uint32_t>{TRACK_NOTIFY_POSITION});
}

TEST_F(TrackWaveform, RecordingKeepsTheNewestSoundInView) {
  track_->SetInputDevice(u"virtual_mic");
  track_->ToggleRecord();
  ASSERT_TRUE(log_.WaitForCount(TRACK_NOTIFY_DATA, 30));
  track_->ToggleRecord();
  ASSERT_TRUE(track_->WaitForRecordingEnd());
  // While recording the strip showed 128 frames per pixel; the stop redraws from frame 0.
  EXPECT_EQ(track_->framesPerPixel, 128u);
  EXPECT_EQ(track_->viewStartFrame, 0u);
  EXPECT_GE(DarkColumns(), 300);
  std::lock_guard lock(track_->BufferLock());
  EXPECT_EQ(waveform_->Strip().Bar().Pos(), track_->playFrame.load());
}

TEST_F(TrackWaveform, AClickDuringACoreThreadRedrawIsKept) {
  // The core thread redraws while playing or recording; each redraw shows the track's
  // positions. A click made at the same time must never be undone by it.
  CChunkInfo* chunk = track_->AddChunk();
  track_->SelectChunk(0);
  test::FillChunk(chunk, std::vector<std::int16_t>(342 * 256, 1000));
  track_->RedrawWaveform(0, 256);
  std::atomic<bool> run{true};
  std::thread core([&] {
    while (run) track_->RedrawWaveform(0, 256);
  });
  int lost = 0;
  for (int i = 0; i < 3000; ++i) {
    const int x = 1 + i % 300;
    waveform_->Strip().OnLeftButtonDown(*waveform_, x, false);
    waveform_->Strip().OnWaveformMouse(*waveform_, false, x);
    if (track_->cursorFrame != std::uint32_t(x) * 256 ||
        track_->anchorFrame != std::uint32_t(x) * 256)
      ++lost;
  }
  run = false;
  core.join();
  EXPECT_EQ(lost, 0);
}

TEST_F(TrackWaveform, BlocksArrivingAfterTheStopKeepTheStripAtTheRecordingsStart) {
  // A word, then silence: the stop shows the recording from its start. Blocks still queued
  // behind a busy core thread at the stop must not scroll the strip to the silent tail
  // (which looks like an empty recording: only the centre line).
  auto& virt = *audio::VirtualEndpoints::Instance();
  virt.SetManualClock(true);
  std::vector<float> word(48000);  // 1 s at the microphone's 48 kHz
  for (std::size_t i = 0; i < word.size(); ++i) word[i] = 0.5f * float(std::sin(i * 0.06));
  virt.SetSource("virtual_mic", audio::VirtualSource::Scripted(word));
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
  EXPECT_EQ(track_->viewStartFrame, 0u);
  EXPECT_GE(DarkColumns(), 300) << "the word at the recording's start is shown";
  virt.SetManualClock(false);
}

}  // namespace
}  // namespace vts
