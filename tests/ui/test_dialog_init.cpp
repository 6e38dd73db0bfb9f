// The recorder window's start-up on a real core: placement on one and two screens, the
// single copy at position 0, the raw-input library for positions 1 and 2, the window text
// the classroom finds, the temporary folders, tooltips, the file named at start and the
// classroom daemon's notice.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "audio/endpoint.h"
#include "classroom_double.h"
#include "core/app_core.h"
#include "platform/known_folders.h"
#include "platform/message_box.h"
#include "platform/window_bus.h"
#include "test_env.h"
#include "test_files.h"
#include "tracks/sound_track.h"
#include "ui/dialog_messages.h"
#include "ui/graphic_slider.h"
#include "ui/hint_window.h"
#include "ui/main_dialog.h"
#include "ui/wait_window.h"

namespace vts::ui {
namespace {

using ::vts::test::ReadFile;

using Screens = std::vector<CMainDlg::ScreenRect>;
const Screens kOneScreen = {{0, 0, 1920, 1080}};
const Screens kTwoScreens = {{0, 0, 1920, 1080}, {1920, 0, 3840, 1200}};

class StartDlg : public CMainDlg {
 public:
  QStringList opened;

 protected:
  void OpenMedia(const QString& path) override { opened.append(path); }
};

class DialogInitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes);
    g_pAppCore = new CAppCore();
    dlg = std::make_unique<StartDlg>();
  }
  void TearDown() override {
    dlg.reset();
    delete g_pAppCore;
    g_pAppCore = nullptr;
    plat::SetMessageBoxService(nullptr);
  }

  // Runs the start-up with these arguments; no other copy runs unless said.
  void Start(std::vector<std::string> args, Screens screens = kOneScreen, bool otherCopy = false,
             std::string library = VTS_TEST_RAWINPUT_LIBRARY) {
    CMainDlg::StartEnvironment env;
    env.arguments = std::move(args);
    env.argumentsGiven = true;
    env.screens = std::move(screens);
    env.anotherCopyRuns = [otherCopy] { return otherCopy; };
    env.rawInputLibraryPath = std::move(library);
    dlg->SetStartEnvironment(env);
    EXPECT_TRUE(dlg->OnInitDialog());
  }

  std::shared_ptr<plat::RecordingMessageBoxService> boxes;
  std::unique_ptr<StartDlg> dlg;
};

TEST(DialogPlacement, PositionsOnOneAndTwoScreens) {
  const QSize window(516, 470);
  struct Case {
    const char* what;
    Screens screens;
    bool student;
    uint32_t position;
    QPoint expected;
  };
  const Case cases[] = {
      {"/_p, one screen: the right half", kOneScreen, true, 1, {960 + (960 - 516) / 2, 305}},
      {"/_s, one screen: the left half", kOneScreen, true, 2, {(960 - 516) / 2, 305}},
      {"/_p, two screens: the second", kTwoScreens, true, 1, {1920 + (1920 - 516) / 2, 365}},
      {"/_s, two screens: the first", kTwoScreens, true, 2, {(1920 - 516) / 2, 305}},
      {"/_m, two screens: centred on the screen", kTwoScreens, true, 0, {702, 305}},
      {"teacher at position 1: centred", kOneScreen, false, 1, {702, 305}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CMainDlg::PlaceWindow(c.screens, window, c.student, c.position), c.expected)
        << c.what;
}

TEST(DialogPlacement, RawInputAreas) {
  auto eq = [](CMainDlg::ScreenRect a, CMainDlg::ScreenRect b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  };
  EXPECT_TRUE(eq(CMainDlg::RawInputArea(kOneScreen, 1), {960, 0, 1920, 1080}));
  EXPECT_TRUE(eq(CMainDlg::RawInputArea(kOneScreen, 2), {0, 0, 960, 1080}));
  EXPECT_TRUE(eq(CMainDlg::RawInputArea(kTwoScreens, 1), kTwoScreens[1]));
  EXPECT_TRUE(eq(CMainDlg::RawInputArea(kTwoScreens, 2), kTwoScreens[0]));
}

TEST_F(DialogInitTest, TheWindowGoesWhereItsPositionSays) {
  Start({"/_p"}, kOneScreen);
  EXPECT_EQ(dlg->pos(), QPoint(1182, 305));
  EXPECT_EQ(dlg->size(), QSize(516, 470));
}

TEST_F(DialogInitTest, PleaseWaitWindowIsMadeHiddenAndKeptOnTheWindow) {
  Start({"/_p"}, kOneScreen);
  WaitWindow* wait = dlg->PleaseWait();
  ASSERT_NE(wait, nullptr);
  EXPECT_FALSE(wait->isVisible());
  EXPECT_TRUE(wait->Text().isEmpty());
  // 300 x 80 centred on the window at (1182, 305), 516 x 470.
  EXPECT_EQ(wait->Place(), QRect(1182 + 108, 305 + 195, 300, 80));
  wait->ShowWait(0);
  EXPECT_EQ(wait->geometry(), QRect(1290, 500, 300, 80));
}

TEST_F(DialogInitTest, TwoScreensPutPosition2OnTheFirst) {
  Start({"/_s"}, kTwoScreens);
  EXPECT_EQ(dlg->pos(), QPoint(702, 305));
}

TEST_F(DialogInitTest, MiddlePositionStaysCentredOnTwoScreens) {
  Start({"/_m"}, kTwoScreens);
  EXPECT_EQ(dlg->pos(), QPoint(702, 305));
}

TEST_F(DialogInitTest, MissingRawInputLibraryTellsAndQuits) {
  Start({"/Pos:1"}, kOneScreen, false, test::TestRoot() + "/nowhere/librawinput.so");
  const auto shown = boxes->Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, u"Error loading RawInput.dll");
  EXPECT_TRUE(dlg->QuitRequested());
  EXPECT_EQ(dlg->QuitCode() & 0xFF, 255);
  // The rest of the start-up still ran.
  EXPECT_EQ(dlg->windowTitle(), QStringLiteral("_1VoxtrailstudyUser"));
}

TEST_F(DialogInitTest, ALibraryWithoutItsSelectFunctionTellsAndQuits) {
  // Any shared library without the function will do: the Qt core library is one.
  Start({"/Pos:2"}, kOneScreen, false, VTS_TEST_OTHER_LIBRARY);
  const auto shown = boxes->Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, u"Error initializing RawInput.dll");
  EXPECT_TRUE(dlg->QuitRequested());
}

TEST_F(DialogInitTest, RawInputLibraryGetsWindowAndArea) {
  const std::string log = plat::RuntimeFolder() + "/rawinput.log";
  std::remove(log.c_str());
  Start({"/Pos:1"}, kOneScreen);
  EXPECT_FALSE(dlg->QuitRequested());
  EXPECT_TRUE(boxes->Boxes().empty());
  const plat::WindowId window = test::ClassroomFrameworkDouble::FindRecorder(1);
  ASSERT_NE(window, 0u);
  char expected[128];
  std::snprintf(expected, sizeof expected, "select position=1 window=0x%016llx",
                static_cast<unsigned long long>(window));
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  EXPECT_NE(text.find("area=960,0,1920,1080"), std::string::npos) << text;
  // The window's end unsubscribes its position.
  dlg.reset();
  EXPECT_NE(ReadFile(log).find("unsubscribe position=1 removed"), std::string::npos);
}

TEST_F(DialogInitTest, ASecondCopyAtPosition0QuitsAtOnce) {
  Start({}, kOneScreen, /*otherCopy=*/true);
  EXPECT_TRUE(dlg->QuitRequested());
  EXPECT_EQ(dlg->QuitCode(), -1);
  EXPECT_TRUE(boxes->Boxes().empty());
  // Nothing after the test ran: the tracks were not given their folders.
  EXPECT_TRUE(g_pAppCore->masterTrack->TempFolderPath().find("Master0") == std::string::npos);
}

TEST_F(DialogInitTest, ASecondCopyAtPosition1Stays) {
  Start({"/Pos:1"}, kOneScreen, /*otherCopy=*/true);
  EXPECT_FALSE(dlg->QuitRequested());
}

TEST_F(DialogInitTest, TracksGetFoldersNamedAfterThePosition) {
  Start({"/_s"});
  EXPECT_NE(g_pAppCore->masterTrack->TempFolderPath().find("/Master2/"), std::string::npos);
  EXPECT_NE(g_pAppCore->studentTrack->TempFolderPath().find("/Student2/"), std::string::npos);
}

// Files a killed run left in the position's folders are gone once the window is up.
TEST_F(DialogInitTest, LeftoversOfAKilledRunAreDeletedAtStart) {
  const std::string base = plat::TempFolder() + "/Voxtrailstudy/TempSnd/";
  for (const char* name : {"Master2", "Student2"}) {
    ASSERT_TRUE(plat::EnsurePrivateFolder(plat::TempFolder() + "/Voxtrailstudy") &&
                plat::EnsurePrivateFolder(base.substr(0, base.size() - 1)) &&
                plat::EnsurePrivateFolder(base + name));
    std::ofstream(base + name + "/WavBEEF.tmp") << "left by a killed run";
  }
  Start({"/_s"});
  for (const char* name : {"Master2", "Student2"}) {
    EXPECT_EQ(access((base + name + "/WavBEEF.tmp").c_str(), F_OK), -1) << name;
  }
}

TEST_F(DialogInitTest, TooltipsOnlyOnShownControls) {
  Start({"/_t"});
  const auto& tips = dlg->Tooltips();
  EXPECT_EQ(tips.size(), 16u);
  EXPECT_EQ(tips.at(1027), QStringLiteral("Load file on Master track\nRight side - Load a file on "
                                          "Master track from Internet"));
  EXPECT_EQ(tips.at(1045), QStringLiteral("Student text"));
  EXPECT_EQ(tips.count(1041), 0u);  // BUTCLOSEWAV is hidden
  EXPECT_EQ(tips.count(1029), 0u);  // BUTMIXER is hidden
  // The hint areas: the controls' rectangles in the window, in the order registered.
  ASSERT_NE(dlg->Hints(), nullptr);
  const auto& entries = dlg->Hints()->Entries();
  ASSERT_EQ(entries.size(), 16u);
  EXPECT_EQ(entries[0].rect, dlg->Control(1027)->geometry());
  EXPECT_EQ(entries[0].text, tips.at(1027));
  EXPECT_EQ(entries.back().text, QStringLiteral("Student text"));
  EXPECT_TRUE(dlg->Control(1027)->toolTip().isEmpty()) << "the window's own hints only";
}

TEST_F(DialogInitTest, TracksReportToTheWindowAndStripsAreShown) {
  Start({"/_t"});
  for (CSoundTrack* t : {g_pAppCore->masterTrack, g_pAppCore->studentTrack}) {
    EXPECT_NE(t->GetNotifyTarget().window, nullptr);
    EXPECT_EQ(t->GetNotifyTarget().message, WM_TRACKNOTIFY);
  }
  ASSERT_NE(dlg->WaveformWindow(0), nullptr);
  ASSERT_NE(dlg->WaveformWindow(1), nullptr);
  EXPECT_EQ(dlg->WaveformWindow(0)->geometry().topLeft(), QPoint(12, 125));
  EXPECT_EQ(dlg->WaveformWindow(0)->width(), 490);
  EXPECT_EQ(dlg->WaveformWindow(1)->geometry().topLeft(), QPoint(88, 279));
  EXPECT_EQ(dlg->WaveformWindow(1)->width(), 342);
  EXPECT_FALSE(dlg->WaveformWindow(0)->isHidden());
}

TEST_F(DialogInitTest, SlidersShowTheEndpointVolumes) {
  Start({"/_t"});
  CSoundTrack* m = g_pAppCore->masterTrack;
  struct Pair {
    CGraphicSlider* slider;
    audio::EndpointVolume* volume;
  };
  for (Pair p :
       {Pair{dlg->VolumeSlider(), m->OutputVolume()}, Pair{dlg->InputSlider(), m->InputVolume()}}) {
    float level = 0;
    if (p.volume) p.volume->GetMasterVolumeLevelScalar(&level);
    EXPECT_EQ(p.slider->ThumbOffset(),
              static_cast<int>(static_cast<float>(p.slider->Travel()) * std::min(1.0f, level)));
  }
}

TEST_F(DialogInitTest, TeacherShowsSendAndNeverTellsTheDaemon) {
  test::ClassroomWindowDouble daemon;
  ASSERT_TRUE(daemon.Start());
  Start({"/_t"});
  EXPECT_FALSE(dlg->Control(1043)->isHidden());
  EXPECT_FALSE(daemon.WaitForCount(1, std::chrono::milliseconds(300)));
  EXPECT_EQ(g_pAppCore->classroomManaged, 0u);
}

TEST_F(DialogInitTest, StudentWithoutPosTellsTheDaemonItsPosition) {
  test::ClassroomWindowDouble daemon;
  ASSERT_TRUE(daemon.Start());
  Start({"/_p"});
  test::ReceivedMessage m;
  ASSERT_TRUE(daemon.WaitFor(test::WM_DAEMONNOTIFY, std::chrono::seconds(10), &m));
  EXPECT_EQ(m.wParam, 9u);
  EXPECT_EQ(m.lParam, 1);
  EXPECT_FALSE(m.sent);
  EXPECT_EQ(g_pAppCore->classroomManaged, 1u);
  EXPECT_TRUE(dlg->Control(1043)->isHidden());
  for (int id : {1023, 1021, 1027, 1049}) EXPECT_TRUE(dlg->Control(id)->isHidden()) << id;
}

TEST_F(DialogInitTest, StudentWithPosOrWithoutDaemonTellsNobody) {
  {
    test::ClassroomWindowDouble daemon;
    ASSERT_TRUE(daemon.Start());
    Start({"/Pos:2"});
    EXPECT_FALSE(daemon.WaitForCount(1, std::chrono::milliseconds(300)));
    EXPECT_EQ(g_pAppCore->classroomManaged, 0u);
    for (int id : {1023, 1021, 1027, 1049}) EXPECT_FALSE(dlg->Control(id)->isHidden()) << id;
  }
  dlg = std::make_unique<StartDlg>();
  Start({"/_m"});  // no daemon window now
  EXPECT_EQ(g_pAppCore->classroomManaged, 0u);
}

TEST_F(DialogInitTest, FileNamedAtStartOpensUnderItsRealNameAndManagesTheStudent) {
  const std::string dir = test::MakeTempDir("start");
  QFile f(QString::fromStdString(dir + "/lesson1.mp3"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  test::ClassroomWindowDouble daemon;
  ASSERT_TRUE(daemon.Start());
  Start({"/_p", dir + "/LESSON*.MP3"});
  ASSERT_EQ(dlg->opened.size(), 1);
  EXPECT_EQ(dlg->opened[0], QString::fromStdString(dir + "/lesson1.mp3"));
  EXPECT_EQ(g_pAppCore->classroomManaged, 1u);
  for (int id : {1023, 1021, 1027, 1049}) EXPECT_TRUE(dlg->Control(id)->isHidden()) << id;
  // A file was opened: the daemon is not told.
  EXPECT_FALSE(daemon.WaitForCount(1, std::chrono::milliseconds(300)));
}

TEST_F(DialogInitTest, AMissingStartFileIsIgnored) {
  Start({"/_t", test::MakeTempDir("none") + "/absent.wav"});
  EXPECT_TRUE(dlg->opened.isEmpty());
  EXPECT_TRUE(boxes->Boxes().empty());
  EXPECT_EQ(g_pAppCore->classroomManaged, 0u);
}

TEST(DialogStartFile, ResolveStartFileRefusesNonFiles) {
  EXPECT_TRUE(CMainDlg::ResolveStartFile({}).isEmpty());
  EXPECT_TRUE(CMainDlg::ResolveStartFile({"/_p"}).isEmpty());
  EXPECT_TRUE(CMainDlg::ResolveStartFile({"/_m", ""}).isEmpty());
  EXPECT_TRUE(CMainDlg::ResolveStartFile({"/_s", std::string(300, 'a')}).isEmpty());
}

}  // namespace
}  // namespace vts::ui
