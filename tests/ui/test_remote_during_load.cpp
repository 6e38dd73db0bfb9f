// A classroom's press that comes while the window's lesson still loads (a recorder started
// with a lesson, pressed right after its window is on the bus) waits for the load and then
// runs; the Master is left alone meanwhile.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/virtual_endpoints.h"
#include "core/app_core.h"
#include "platform/message_box.h"
#include "platform/named_mutex.h"
#include "qt_wait.h"
#include "test_env.h"
#include "test_files.h"
#include "tracks/sound_track.h"
#include "tracks/transport.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"

namespace vts::ui {
namespace {

class RemoteDuringLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::VirtualEndpoints::Instance()->Reset();
    boxes = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes);
    g_pAppCore = new CAppCore();
    master = g_pAppCore->masterTrack;
    student = g_pAppCore->studentTrack;
    dlg = std::make_unique<CMainDlg>();
    CMainDlg::StartEnvironment env;
    env.arguments = {"/_t"};
    env.argumentsGiven = true;
    env.screens = {{0, 0, 1920, 1080}};
    env.anotherCopyRuns = [] { return false; };
    dlg->SetStartEnvironment(env);
    dlg->OnInitDialog();
    dlg->show();
  }
  void TearDown() override {
    dlg.reset();
    delete g_pAppCore;
    g_pAppCore = nullptr;
    plat::SetMessageBoxService(nullptr);
  }
  bool SpinUntil(const std::function<bool()>& done, int limitMs = 5000) {
    return vts::test::PumpEventsUntil(done, std::chrono::milliseconds(limitMs));
  }
  std::uint32_t StudentFrames() {
    std::lock_guard lock(student->BufferLock());
    const CChunkInfo* chunk = student->CurrentChunk();
    return chunk ? chunk->length : 0;
  }

  std::shared_ptr<plat::RecordingMessageBoxService> boxes;
  CSoundTrack* master = nullptr;
  CSoundTrack* student = nullptr;
  std::unique_ptr<CMainDlg> dlg;
};

TEST_F(RemoteDuringLoad, ARecordThatComesDuringTheLessonsLoadStartsWhenTheLoadEnds) {
  // An MP3 lesson, whose load waits at its decoding while the test holds the decoding lock.
  const std::string dir = vts::test::MakeTempDir("remote-during-load");
  vts::test::WriteWav(dir + "/lesson.wav", std::vector<std::int16_t>(44100, 1000));
  master->StartLoad(dir + "/lesson.wav");
  ASSERT_TRUE(SpinUntil([&] { return !master->LoadPending(); }));
  ASSERT_TRUE(master->SaveTrack(dir + "/lesson.mp3"));
  {
    plat::NamedMutex decoding(plat::kMp3DecodeMutexName);
    ASSERT_TRUE(decoding.Lock());
    master->StartLoad(dir + "/lesson.mp3");
    ASSERT_TRUE(master->LoadPending());
    dlg->SendMessage(WM_REMOTECONTROL, kIdRecord, 0);  // the classroom's Record
    EXPECT_FALSE(student->IsRecording()) << "nothing is done while the Master loads";
    decoding.Unlock();
  }
  EXPECT_TRUE(SpinUntil([&] { return student->IsRecording() && StudentFrames() > 4410; }))
      << "the Record runs once the load has ended";
  EXPECT_EQ(master->SourcePath(), dir + "/lesson.mp3");
  dlg->SendMessage(WM_REMOTECONTROL, kIdStop, 0);
  EXPECT_FALSE(student->IsRecording());
  EXPECT_TRUE(boxes->Boxes().empty());
}

}  // namespace
}  // namespace vts::ui
