// The core's two tracks on a core thread of their own: creation, the routing of the engine
// messages, and a teardown that no late message survives.
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

// A core thread that hands every message to CCoreTracks::Route; it can be held still.
class CoreLoop {
 public:
  CoreLoop() {
    thread_ = std::thread([this] {
      plat::EnsureQueue();
      id_ = plat::CurrentThreadId();
      plat::Msg msg;
      while (plat::GetMessage(&msg)) {
        while (held_) std::this_thread::sleep_for(1ms);
        if (CCoreTracks* t = tracks_.load()) {
          t->Route(msg);
        } else if (msg.message == WM_SOUND_IN || msg.message == WM_SOUND_OUT) {
          ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
        }
      }
      plat::EndQueue([](const plat::Msg& m) {
        if (m.message == WM_SOUND_IN || m.message == WM_SOUND_OUT)
          ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(m.wParam));
      });
    });
    while (id_ == 0) std::this_thread::sleep_for(1ms);
  }
  ~CoreLoop() {
    held_ = false;
    plat::PostThreadMessage(id_, plat::WM_QUIT, 0, 0);
    thread_.join();
  }
  plat::ThreadId Id() const { return id_; }
  std::atomic<CCoreTracks*> tracks_{nullptr};
  std::atomic<bool> held_{false};

 private:
  std::thread thread_;
  std::atomic<plat::ThreadId> id_{0};
};

class CoreTracks : public ::testing::Test {
 protected:
  void SetUp() override { audio::VirtualEndpoints::Instance()->Reset(); }
  EngineStateBlock state_;
  test::NotifyLog masterLog_, studentLog_;
  CoreLoop core_;  // outlives the tracks (declared after the logs, destroyed before them)
};

TEST_F(CoreTracks, BothTracksBelongToTheCoreThreadAndRecordFromBothSources) {
  CCoreTracks tracks(core_.Id(), &state_);
  core_.tracks_ = &tracks;
  CSoundTrack* master = tracks.Master();
  CSoundTrack* student = tracks.Student();
  ASSERT_NE(master, nullptr);
  ASSERT_NE(student, nullptr);
  EXPECT_EQ(master->trackIndex, 0);
  EXPECT_EQ(student->trackIndex, 1);
  EXPECT_EQ(master->ownerThreadId, core_.Id());
  EXPECT_EQ(student->ownerThreadId, core_.Id());
  EXPECT_EQ(master->Engine()->ownerThreadId, core_.Id());
  EXPECT_EQ(master->recordSources, 3u);
  EXPECT_EQ(student->recordSources, 3u);
  EXPECT_NE(master->ownerId, student->ownerId);
  EXPECT_NE(master->TempFolderPath(), student->TempFolderPath());
  EXPECT_NE(master->TempFolderPath().find("/TempSnd/Master/"), std::string::npos);
  EXPECT_NE(student->TempFolderPath().find("/TempSnd/Student/"), std::string::npos);
  tracks.SetAudioDeviceNames(u"virtual_speaker", u"");
  EXPECT_EQ(student->outputDevice, u"virtual_speaker");
  EXPECT_TRUE(student->inputDevice.empty());
  tracks.DeleteTracks();
  core_.tracks_ = nullptr;
}

TEST_F(CoreTracks, MasterPlaysWhileTheStudentRecordsBothThroughTheCoreThread) {
  CCoreTracks tracks(core_.Id(), &state_);
  tracks.SetAudioDeviceNames(u"virtual_speaker", u"virtual_mic");
  CSoundTrack* master = tracks.Master();
  CSoundTrack* student = tracks.Student();
  master->SetNotifyTarget(masterLog_.Target());
  student->SetNotifyTarget(studentLog_.Target());
  core_.tracks_ = &tracks;
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
  EXPECT_EQ(master->playFrame, chunk->length);
  EXPECT_EQ(studentLog_.Count(TRACK_NOTIFY_REFRESH), 0)
      << "the Master's buffers never reach the Student";
  EXPECT_EQ(studentLog_.Count(TRACK_NOTIFY_PLAY_ENDED), 0);
  EXPECT_GT(student->CurrentChunk()->length, 15u * 1764);
  tracks.DeleteTracks();
  core_.tracks_ = nullptr;
}

TEST_F(CoreTracks, TeardownWhileBlocksAreQueuedLetsNoneReachADeletedTrack) {
  auto tracks = std::make_unique<CCoreTracks>(core_.Id(), &state_);
  tracks->SetAudioDeviceNames(u"virtual_speaker", u"virtual_mic");
  core_.tracks_ = tracks.get();
  CSoundTrack* student = tracks->Student();
  student->AddChunk();
  student->SelectChunk(0);
  core_.held_ = true;  // blocks pile up behind a busy core thread
  student->ToggleRecord();
  std::this_thread::sleep_for(300ms);
  auto released = std::async(std::launch::async, [this] {
    std::this_thread::sleep_for(100ms);
    core_.held_ = false;
  });
  tracks->DeleteTracks();  // stops, waits for the last blocks, then deletes
  EXPECT_EQ(tracks->Student(), nullptr);
  released.get();
  // Messages still posted now find no track and are released.
  std::this_thread::sleep_for(100ms);
  core_.tracks_ = nullptr;
  tracks.reset();
}

TEST_F(CoreTracks, ForeignDescriptorIsReleasedByTheCore) {
  CCoreTracks tracks(core_.Id(), &state_);
  core_.tracks_ = &tracks;
  CBufferDescr* d = MakeBufferDescr(64);
  d->ownerId = 0xDEAD;
  std::weak_ptr<CBufferData> data = d->data;
  EXPECT_TRUE(tracks.Route(plat::Msg{WM_SOUND_OUT, reinterpret_cast<plat::WPARAM>(d), 0}));
  EXPECT_TRUE(data.expired());
  EXPECT_FALSE(tracks.Route(plat::Msg{plat::WM_USER + 5, 0, 0}));
  tracks.DeleteTracks();
  core_.tracks_ = nullptr;
}

}  // namespace
}  // namespace vts
