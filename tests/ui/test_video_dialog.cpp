// The recorder window with the real video manager (headless windows, virtual sound): opening a
// video shows its name and chunks, a failed open leaves video mode with its reason, modes 4
// and 5 end at the video's chunk end without starting the Student, the chunk list and texts
// are saved beside the video and read back.
#include <unistd.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <fstream>
#include <functional>
#include <thread>

#include "test_env.h"
#include "transport_fixture.h"
#include "video/video_manager.h"
#include "video_fixtures.h"

namespace vts::ui::test {
namespace {

class VideoWindow : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    plat::EnsureQueue();
    video = core->videoManager;
    ASSERT_NE(video, nullptr);
    video->SetOutputDevice(u"virtual_speaker");
    video->notifyTarget = NotifyTarget{plat::CurrentThreadId(), nullptr, WM_TRACKNOTIFY};
    dlg->SetVideo(video);
    dir = vts::test::MakeTempDir("video");
  }
  void TearDown() override {
    video->CloseWindow();
    WindowTest::TearDown();
  }
  std::string Lesson(const vts::test::VideoSpec& spec, const std::string& name) {
    const std::string path = dir + "/" + name;
    EXPECT_EQ(symlink(vts::test::MakeVideo(spec).c_str(), path.c_str()), 0);
    return path;
  }
  // Hands the manager's notices to the window, as its message queue would, until `code`.
  bool PumpUntil(std::uintptr_t code, const std::function<bool()>& also = {}) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
      QCoreApplication::processEvents();
      plat::Msg m;
      if (!plat::GetMessageTimeout(&m, std::chrono::milliseconds(20))) continue;
      if (m.message != WM_TRACKNOTIFY) continue;
      dlg->SendMessage(WM_TRACKNOTIFY, m.wParam, m.lParam);
      if (m.wParam == code && (!also || also())) return true;
    }
    return false;
  }
  void Open(const std::string& path) {
    answers = {QString::fromStdString(path)};
    dlg->Dispatch(1027, BN_CLICKED);
    ASSERT_TRUE(PumpUntil(TRACK_NOTIFY_LOADED));
  }

  CVideoManager* video = nullptr;
  std::string dir;
};

TEST_F(VideoWindow, OpeningShowsTheVideosNameAndModesFourAndFiveEndAtItsChunkEnd) {
  const std::string path = Lesson({}, "lesson.mp4");
  {
    std::ofstream cif(dir + "/lesson.cif", std::ios::binary);
    const std::uint32_t records[] = {0, 800, 800, 900};
    cif.write(reinterpret_cast<const char*>(records), sizeof records);
  }
  Open(path);
  EXPECT_TRUE(dlg->VideoMode());
  EXPECT_EQ(dlg->FileNameEdit()->text(), QStringLiteral("lesson.mp4"));
  EXPECT_EQ(video->ChunkCount(), 2);
  for (int id : {1037, 1038}) {
    dlg->Dispatch(id, BN_CLICKED);
    EXPECT_TRUE(video->Playing()) << id;
    EXPECT_EQ(dlg->TransportMode(), id == 1037 ? 4u : 5u);
    ops->calls.clear();
    // The mode's own stop before the start posts a 5 as well; the end is the one after which
    // the video no longer plays.
    ASSERT_TRUE(PumpUntil(TRACK_NOTIFY_PLAY_ENDED, [&] { return !video->Playing(); })) << id;
    EXPECT_EQ(dlg->TransportMode(), 0u) << id;
    EXPECT_TRUE(ops->calls.empty()) << "the Student is never started";
    EXPECT_FALSE(video->Playing());
    EXPECT_EQ(video->CurrentChunk(), 0);
  }
}

TEST_F(VideoWindow, AFailedOpenLeavesVideoModeAndSaysWhy) {
  Open(dir + "/absent.avi");
  EXPECT_FALSE(dlg->VideoMode());
  EXPECT_TRUE(dlg->FileNameEdit()->text().isEmpty());
  EXPECT_EQ(video->ChunkCount(), 0);
  const auto shown = boxes->Boxes();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().text, u"Could not open video file.");
}

TEST_F(VideoWindow, BookmarksAndTextsAreSavedBesideTheVideoAndComeBackOnReopening) {
  const std::string path = Lesson({}, "talk.avi");
  Open(path);
  // The frame at 1.2 s (trackbar 400 of 3000 ms), then a bookmark there.
  video->WithWindow([&](CVideoSiteWindow* w) {
    const auto before = w->FramesDrawn();
    w->Frame()->SetTrackbarPos(400);
    video->SeekToSliderPosition();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (w->FramesDrawn() == before && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return 0;
  });
  ASSERT_TRUE(video->InsertBookmark());
  video->SetCurrentChunkText(u"first part");
  ASSERT_TRUE(PumpUntil(TRACK_NOTIFY_IDLE));
  EXPECT_TRUE(video->ChunkDataModified());
  boxes->ScriptAnswers({plat::IDYES});
  dlg->Dispatch(1021, NM_RCLICK);
  EXPECT_FALSE(video->ChunkDataModified());
  std::ifstream txt(dir + "/talk.txt", std::ios::binary);
  ASSERT_TRUE(txt.good());

  Open(path);
  ASSERT_EQ(video->ChunkCount(), 2);
  EXPECT_EQ(video->Chunks()[0].lengthMs, 1200u);
  EXPECT_EQ(video->CurrentChunkText(), u"first part");
  EXPECT_TRUE(video->TextsLoaded());
}

}  // namespace
}  // namespace vts::ui::test
