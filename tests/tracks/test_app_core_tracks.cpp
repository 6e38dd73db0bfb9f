// The core object with its two tracks on the real core thread: the tracks' owner, their
// input source, the routing of the engines' messages, and a shutdown in mid-recording.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>

#include "audio/virtual_endpoints.h"
#include "core/app_core.h"
#include "track_doubles.h"
#include "tracks/sound_track.h"

namespace vts {
namespace {

using namespace std::chrono_literals;

class AppCoreTracks : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::VirtualEndpoints::Instance()->Reset();
    core_ = std::make_unique<CAppCore>();
    core_->SetAudioDeviceNames(u"virtual_speaker", u"virtual_mic");
    core_->masterTrack->SetNotifyTarget(masterLog_.Target());
    core_->studentTrack->SetNotifyTarget(studentLog_.Target());
  }
  void TearDown() override { core_.reset(); }
  test::NotifyLog masterLog_, studentLog_;
  std::unique_ptr<CAppCore> core_;
};

TEST_F(AppCoreTracks, BothTracksAreOwnedByTheCoreThreadAndRecordFromBothSources) {
  CSoundTrack* master = core_->masterTrack;
  CSoundTrack* student = core_->studentTrack;
  ASSERT_NE(master, nullptr);
  ASSERT_NE(student, nullptr);
  EXPECT_EQ(master->OwnerThreadId(), core_->CoreThreadId());
  EXPECT_EQ(student->OwnerThreadId(), core_->CoreThreadId());
  EXPECT_EQ(master->TrackIndex(), 0);
  EXPECT_EQ(student->TrackIndex(), 1);
  EXPECT_EQ(master->RecordSources(), 3u);
  EXPECT_EQ(student->RecordSources(), 3u);
  EXPECT_EQ(student->OutputDevice(), u"virtual_speaker");
  EXPECT_EQ(student->InputDevice(), u"virtual_mic");
  EXPECT_EQ(master->StateBlock(), core_->engineState);
}

TEST_F(AppCoreTracks, MasterPlaysAndStudentRecordsThroughTheCoreThread) {
  CSoundTrack* master = core_->masterTrack;
  CSoundTrack* student = core_->studentTrack;
  CChunkInfo* chunk = master->AddChunk();
  master->AddChunk();
  master->SelectChunk(0);
  std::vector<std::int16_t> tone(44100 / 2);
  for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = std::int16_t(6000 * std::sin(i * 0.1));
  test::FillChunk(chunk, tone);
  masterLog_.Clear();

  student->ToggleRecord();
  master->Play();
  ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_PLAY_ENDED, 1));
  EXPECT_EQ(master->PlayFrame(), chunk->length);
  // The Master's own stops (a chunk switch stops its capture too) concern the Master only:
  // its switch does not wait for end marks that would otherwise go to the Student.
  master->SelectChunk(1);
  EXPECT_TRUE(master->WaitForRecordingEnd(1s));
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 15));
  EXPECT_TRUE(student->IsRecording());
  student->ToggleRecord();
  EXPECT_TRUE(student->WaitForRecordingEnd());
  EXPECT_EQ(student->DroppedBlocks(), 0u);
  EXPECT_EQ(studentLog_.Count(TRACK_NOTIFY_PLAY_ENDED), 0)
      << "the Master's buffers are not the Student's";
  EXPECT_GE(student->CurrentChunk()->length, 15u * 1764 - 200);
}

TEST_F(AppCoreTracks, DescriptorThatNeitherTrackTakesIsReleasedByTheCoreThread) {
  CBufferDescr* descr = MakeBufferDescr(100);
  descr->ownerId = 0xBEEF;
  std::weak_ptr<CBufferData> data = descr->data;
  ASSERT_TRUE(plat::PostThreadMessage(core_->CoreThreadId(), WM_SOUND_OUT,
                                      reinterpret_cast<plat::WPARAM>(descr), 0));
  for (int i = 0; i < 500 && !data.expired(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(data.expired());
}

TEST_F(AppCoreTracks, ShutdownInMidRecordingAndPlaybackEndsCleanly) {
  CSoundTrack* master = core_->masterTrack;
  CChunkInfo* chunk = master->AddChunk();
  master->SelectChunk(0);
  test::FillChunk(chunk, std::vector<std::int16_t>(44100 * 5, 3000));
  master->Play();
  core_->studentTrack->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 3));
  core_.reset();  // no hang, no late message reaches a deleted track
  SUCCEED();
}

}  // namespace
}  // namespace vts
