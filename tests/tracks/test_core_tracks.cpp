// The core's two tracks on the production core thread: creation, the routing of the
// engine messages, and a teardown that no late message survives.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <future>
#include <memory>
#include <thread>

#include "audio/virtual_endpoints.h"
#include "track_doubles.h"
#include "tracks/core_tracks.h"
#include "tracks/sound_track.h"

namespace vts {
namespace {

using namespace std::chrono_literals;

class CoreTracks : public ::testing::Test {
 protected:
  void SetUp() override { audio::VirtualEndpoints::Instance()->Reset(); }
  EngineStateBlock state_;
  test::NotifyLog masterLog_, studentLog_;
  test::CoreThreadDouble core_;  // the production core thread; outlives the tracks
};

TEST_F(CoreTracks, BothTracksBelongToTheCoreThreadAndRecordFromBothSources) {
  CCoreTracks tracks(core_.Id(), &state_);
  core_.Attach(tracks.Master(), tracks.Student());
  CSoundTrack* master = tracks.Master();
  CSoundTrack* student = tracks.Student();
  ASSERT_NE(master, nullptr);
  ASSERT_NE(student, nullptr);
  EXPECT_EQ(master->TrackIndex(), 0);
  EXPECT_EQ(student->TrackIndex(), 1);
  EXPECT_EQ(master->OwnerThreadId(), core_.Id());
  EXPECT_EQ(student->OwnerThreadId(), core_.Id());
  EXPECT_EQ(master->Engine()->ownerThreadId, core_.Id());
  EXPECT_EQ(master->RecordSources(), 3u);
  EXPECT_EQ(student->RecordSources(), 3u);
  EXPECT_NE(master->OwnerId(), student->OwnerId());
  EXPECT_NE(master->TempFolderPath(), student->TempFolderPath());
  EXPECT_NE(master->TempFolderPath().find("/TempSnd/Master/"), std::string::npos);
  EXPECT_NE(student->TempFolderPath().find("/TempSnd/Student/"), std::string::npos);
  tracks.SetAudioDeviceNames(u"virtual_speaker", u"");
  EXPECT_EQ(student->OutputDevice(), u"virtual_speaker");
  EXPECT_TRUE(student->InputDevice().empty());
  tracks.StopAndDrain();
  core_.Attach(nullptr, nullptr);
  tracks.DeleteTracks();
}

TEST_F(CoreTracks, MasterPlaysWhileTheStudentRecordsBothThroughTheCoreThread) {
  CCoreTracks tracks(core_.Id(), &state_);
  tracks.SetAudioDeviceNames(u"virtual_speaker", u"virtual_mic");
  CSoundTrack* master = tracks.Master();
  CSoundTrack* student = tracks.Student();
  master->SetNotifyTarget(masterLog_.Target());
  student->SetNotifyTarget(studentLog_.Target());
  core_.Attach(tracks.Master(), tracks.Student());
  CChunkInfo* chunk = master->AddChunk();
  master->SelectChunk(0);
  std::vector<std::int16_t> tone(44100);
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] = std::int16_t(6000 * std::sin(2 * M_PI * 1000 * i / 44100.0));
  test::FillChunk(chunk, tone);
  masterLog_.Clear();

  student->ToggleRecord();
  master->Play();
  ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_PLAY_ENDED, 1));
  student->ToggleRecord();
  ASSERT_TRUE(student->WaitForRecordingEnd());
  EXPECT_EQ(master->PlayFrame(), chunk->length);
  EXPECT_EQ(studentLog_.Count(TRACK_NOTIFY_REFRESH), 0)
      << "the Master's buffers never reach the Student";
  EXPECT_EQ(studentLog_.Count(TRACK_NOTIFY_PLAY_ENDED), 0);
  EXPECT_GT(student->CurrentChunk()->length, 15u * 1764);
  tracks.StopAndDrain();
  core_.Attach(nullptr, nullptr);
  tracks.DeleteTracks();
}

TEST_F(CoreTracks, TeardownWhileBlocksAreQueuedLetsNoneReachADeletedTrack) {
  auto tracks = std::make_unique<CCoreTracks>(core_.Id(), &state_);
  tracks->SetAudioDeviceNames(u"virtual_speaker", u"virtual_mic");
  core_.Attach(tracks->Master(), tracks->Student());
  CSoundTrack* student = tracks->Student();
  student->AddChunk();
  student->SelectChunk(0);
  core_.Hold();  // blocks pile up behind a busy core thread
  student->ToggleRecord();
  std::this_thread::sleep_for(300ms);
  auto released = std::async(std::launch::async, [this] {
    std::this_thread::sleep_for(100ms);
    core_.Release();
  });
  tracks->StopAndDrain();  // stops and waits for the last blocks (the core delivers them)
  released.get();
  core_.Attach(nullptr, nullptr);  // the barrier: nothing reaches the tracks any more
  tracks->DeleteTracks();
  EXPECT_EQ(tracks->Student(), nullptr);
  // Messages still posted now find no track and are released.
  core_.Core().Apply([] {});
  tracks.reset();
}

TEST_F(CoreTracks, ForeignDescriptorIsReleasedByTheCore) {
  CCoreTracks tracks(core_.Id(), &state_);
  core_.Attach(tracks.Master(), tracks.Student());
  CBufferDescr* d = MakeBufferDescr(64);
  d->ownerId = 0xDEAD;
  std::weak_ptr<CBufferData> data = d->data;
  ASSERT_TRUE(
      plat::PostThreadMessage(core_.Id(), WM_SOUND_OUT, reinterpret_cast<plat::WPARAM>(d), 0));
  core_.Core().Apply([] {});  // everything posted before has been handled
  EXPECT_TRUE(data.expired());
  tracks.StopAndDrain();
  core_.Attach(nullptr, nullptr);
  tracks.DeleteTracks();
}

}  // namespace
}  // namespace vts
