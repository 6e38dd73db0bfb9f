// What the window shows follows what the tracks do: the chunk-length and play-position
// displays and the Master's strip with its position bar, on a real core whose tracks run on
// the virtual sound backend, after the presses that change the Master's chunk or lesson.
#include <gtest/gtest.h>

#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/virtual_endpoints.h"
#include "core/app_core.h"
#include "platform/message_box.h"
#include "qt_wait.h"
#include "test_env.h"
#include "test_files.h"
#include "tracks/notify.h"
#include "tracks/sound_track.h"
#include "tracks/transport.h"
#include "transport_fixture.h"
#include "ui/main_dialog.h"
#include "ui/position_bar.h"
#include "ui/waveform_widget.h"

namespace vts::ui {
namespace {

constexpr int kRate = 44100;

class Displays : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::VirtualEndpoints::Instance()->Reset();
    boxes = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes);
    g_pAppCore = new CAppCore();
    master = g_pAppCore->masterTrack;
    dlg = std::make_unique<CMainDlg>();
    CMainDlg::StartEnvironment env;
    env.arguments = {"/_t"};
    env.argumentsGiven = true;
    env.screens = {{0, 0, 1920, 1080}};
    env.anotherCopyRuns = [] { return false; };
    dlg->SetStartEnvironment(env);
    dlg->OnInitDialog();
    dlg->show();
    emptyStrip = Strip();

    // The lesson: 16.8 s of a tone in two chunks, 3.1 s and 13.7 s.
    dir = vts::test::MakeTempDir("displays");
    std::vector<std::int16_t> tone(kRate * 168 / 10);
    for (std::size_t i = 0; i < tone.size(); ++i)
      tone[i] = static_cast<std::int16_t>(9000 * std::sin(i * 2 * M_PI * 440 / kRate));
    vts::test::WriteWav(dir + "/lesson.wav", tone);
    vts::test::Bytes cif;
    for (std::uint32_t v : {0u, 3100u, 3100u, 13700u}) vts::test::PutLe32(cif, v);
    vts::test::WriteBytes(dir + "/lesson.cif", cif);
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
  // The Master's strip without its position bar, and whether its bar shows a filled part.
  QImage Strip() {
    return dlg->WaveformWindow(0)
        ->grab()
        .toImage()
        .copy(0, 0, 490, 52)
        .convertToFormat(QImage::Format_RGB32);
  }
  bool BarFilled() {
    const QImage bar = dlg->WaveformWindow(0)->grab().toImage().copy(0, 59, 490, 7);
    for (int x = 0; x < bar.width(); ++x)
      if (bar.pixel(x, 3) == PositionBar::kFillColour) return true;
    return false;
  }
  // Open with `path` chosen; an old lesson with changes is let go.
  void Open(const std::string& path) {
    dlg->SetFileDialog(
        [path](const CMainDlg::FileDialogRequest&) { return QString::fromStdString(path); });
    if (master->IsModified()) boxes->ScriptAnswers({plat::IDYES});
    dlg->Dispatch(1027, BN_CLICKED);
  }
  // A left click into the Master's strip at column x (with Ctrl: a bookmark there).
  void ClickStrip(int x, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* strip = dlg->WaveformWindow(0);
    QWidget* target = strip->childAt(x, 20);
    if (!target) target = strip;
    const QPoint at = target->mapFrom(strip, QPoint(x, 20));
    QTest::mousePress(target, Qt::LeftButton, modifiers, at);
    QTest::mouseRelease(target, Qt::LeftButton, modifiers, at);
  }

  std::shared_ptr<plat::RecordingMessageBoxService> boxes;
  CSoundTrack* master = nullptr;
  std::unique_ptr<CMainDlg> dlg;
  std::string dir;
  QImage emptyStrip;
};

// Each press changes the Master's chunk or lesson; the displays show the new state once the
// notices it caused are handled.
TEST_F(Displays, ThePressesThatChangeTheMastersChunkOrLessonLeaveNothingOfTheOldOnShow) {
  struct Case {
    const char* what;
    std::function<void()> press;
    const char* chunkLength;   // the small display
    const char* playPosition;  // the large display
    bool waveformShown;        // the Master's strip shows sound
  };
  test::FakeVideo video;
  const Case cases[] = {
      {"Ctrl+click splits the 3.1 s chunk at 2.0 s",
       [&] {
         dlg->Dispatch(1015, BN_CLICKED);  // zoom out to 512 frames a column
         ClickStrip(kRate * 2 / 512 + 1, Qt::ControlModifier);
       },
       "00:02.0", "00:00.0", true},
      {"a double click on the chunk number while the Master plays",
       [&] {
         dlg->Dispatch(kIdMasterPlay, BN_CLICKED);
         ASSERT_TRUE(SpinUntil([&] { return dlg->ShownLargeTime() != "00:00.0"; }));
         dlg->Dispatch(1026, STN_DBLCLK);  // to the last chunk, from its start
       },
       "00:13.7", "00:00.0", true},
      {"a video replaces the WAV lesson",
       [&] {
         ClickStrip(100);  // the cursor, and with it the position bar, at 0.58 s
         ASSERT_TRUE(SpinUntil([&] { return BarFilled(); }));
         dlg->SetVideo(&video);
         Open(dir + "/film.mp4");
         ASSERT_TRUE(dlg->VideoMode());
         // The video is open: its manager says so as a load does.
         dlg->SendMessage(WM_TRACKNOTIFY, TRACK_NOTIFY_LOADED, video.SenderId());
       },
       "00:00.0", "00:00.0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(dir + "/lesson.wav");
    ASSERT_TRUE(SpinUntil([&] { return !master->LoadPending() && dlg->isEnabled(); }));
    boxes->Clear();
    ASSERT_EQ(master->ChunkCount(), 2);
    ASSERT_TRUE(SpinUntil([&] { return dlg->ShownTime() == "00:03.1"; }));
    ASSERT_NE(Strip(), emptyStrip);

    c.press();
    SpinUntil([&] {
      return dlg->ShownTime() == c.chunkLength && dlg->ShownLargeTime() == c.playPosition &&
             (Strip() != emptyStrip) == c.waveformShown && !BarFilled();
    });
    EXPECT_EQ(dlg->ShownTime().toStdString(), c.chunkLength);
    EXPECT_EQ(dlg->ShownLargeTime().toStdString(), c.playPosition);
    EXPECT_EQ(Strip() != emptyStrip, c.waveformShown);
    EXPECT_FALSE(BarFilled()) << "the position bar stands at the start";
    EXPECT_TRUE(boxes->Boxes().empty());

    dlg->SetVideo(nullptr);  // back to the window's audio Master
  }
}

}  // namespace
}  // namespace vts::ui
