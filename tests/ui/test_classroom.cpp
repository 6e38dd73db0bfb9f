// The window's side of the classroom link on a started window and real core: the remote
// control's commands (link, busy, please-wait, positions, slider levels, clicks by id), the
// destination list by WM_COPYDATA, the framework's requests 11 and 4 with the USB shared
// memory and its mutex, the Send button, and a teacher recorder process linked to a student
// window: a press runs once on the student and never echoes, and a peer gone ends the link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <chrono>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "classroom_double.h"
#include "core/app_core.h"
#include "platform/known_folders.h"
#include "platform/named_mutex.h"
#include "platform/utf.h"
#include "platform/window_bus.h"
#include "process_helper.h"
#include "qt_wait.h"
#include "sound_track_test_access.h"
#include "test_env.h"
#include "transport_fixture.h"
#include "ui/graphic_slider.h"
#include "ui/wait_window.h"

namespace vts::ui {
namespace {

using namespace std::chrono_literals;
using vts::test::ClassroomFrameworkDouble;
using vts::test::ClassroomWindowDouble;

// Every endpoint's volume, to see that a slider level moves no volume.
std::vector<float> Volumes() {
  std::vector<float> out;
  for (const char* id : {"virtual_mic", "virtual_speaker"}) {
    float level = -1;
    bool muted = false;
    audio::VirtualEndpoints::Instance()->VolumeState(id, &level, &muted);
    out.push_back(level);
  }
  return out;
}

// This process's own recorder window on the bus.
plat::WindowId OwnDialogWindow() {
  for (const plat::WindowInfo& w : plat::ListWindows())
    if (w.processId == static_cast<std::uint32_t>(::getpid()) && w.className == "#32770")
      return w.id;
  return 0;
}

// Saves of the Send button, with an outcome of the test's choice.
class SendOps : public test::LoggingOps {
 public:
  bool saveTrackOk = true;
  bool SaveTrack(CSoundTrack& t, const std::string& path) override {
    Log("SaveTrack", t, path);
    return saveTrackOk;
  }
};

// A message-box service that runs something while "its box is open" (a nested event loop).
class BoxWithSideEffect : public plat::RecordingMessageBoxService {
 public:
  std::function<void()> whileOpen;
  int Show(const std::u16string& text, const std::u16string& caption, unsigned type) override {
    if (whileOpen) whileOpen();
    return RecordingMessageBoxService::Show(text, caption, type);
  }
};

class ClassroomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::VirtualEndpoints::Instance()->Reset();
    boxes = std::make_shared<BoxWithSideEffect>();
    plat::SetMessageBoxService(boxes);
    g_pAppCore = new CAppCore();
    dlg = std::make_unique<CMainDlg>();
    ops = std::make_shared<SendOps>();
    ops->master = g_pAppCore->masterTrack;
  }
  void TearDown() override {
    dlg.reset();
    delete g_pAppCore;
    g_pAppCore = nullptr;
    plat::SetMessageBoxService(nullptr);
  }
  void Start(std::vector<std::string> args) {
    CMainDlg::StartEnvironment env;
    env.arguments = std::move(args);
    env.argumentsGiven = true;
    env.screens = {{0, 0, 1920, 1080}};
    env.anotherCopyRuns = [] { return false; };
    env.rawInputLibraryPath = VTS_TEST_RAWINPUT_LIBRARY;
    dlg->SetStartEnvironment(env);
    ASSERT_TRUE(dlg->OnInitDialog());
    dlg->SetTrackOps(ops);
  }
  intptr_t Remote(std::intptr_t command, intptr_t arg) {
    return dlg->SendMessage(WM_REMOTECONTROL, static_cast<uintptr_t>(command), arg);
  }
  plat::WindowId OwnWindow() { return OwnDialogWindow(); }
  bool Enabled(int id) { return dlg->Control(id) && dlg->Control(id)->isEnabled(); }

  std::shared_ptr<BoxWithSideEffect> boxes;
  std::shared_ptr<SendOps> ops;
  std::unique_ptr<CMainDlg> dlg;
};

// ---- link start and end, busy, please-wait ----

TEST_F(ClassroomTest, StudentLinkDisablesAllButTheTextsAndEndsWithItsResult) {
  Start({"/Pos:1"});
  ClassroomWindowDouble peer;
  ASSERT_TRUE(peer.Start("RecorderPeer"));
  Remote(-3, static_cast<intptr_t>(peer.Id()));
  EXPECT_EQ(dlg->PeerWindow(), peer.Id());
  ASSERT_EQ(boxes->Boxes().size(), 1u);
  EXPECT_EQ(boxes->Boxes()[0].text, u"VXT for student");
  for (int id : {1017, 1018, 1049, 1027, 1028}) EXPECT_FALSE(Enabled(id)) << id;
  for (int id : {1031, 1045}) EXPECT_TRUE(Enabled(id)) << id;
  Remote(-2, 5);
  EXPECT_EQ(dlg->PeerWindow(), 0u);
  for (int id : {1017, 1018, 1049, 1028}) EXPECT_TRUE(Enabled(id)) << id;

  // A link end that arrives while the box is still open holds.
  boxes->whileOpen = [&] { Remote(-2, 0); };
  Remote(-3, static_cast<intptr_t>(peer.Id()));
  EXPECT_EQ(dlg->PeerWindow(), 0u);
  EXPECT_TRUE(Enabled(1017));
}

TEST_F(ClassroomTest, TeacherLinkHidesOpenSaveAndSendAndALinkToItselfIsRefused) {
  Start({"/_t"});
  ClassroomWindowDouble peer;
  ASSERT_TRUE(peer.Start("RecorderPeer"));
  dlg->show();
  Remote(-3, static_cast<intptr_t>(peer.Id()));
  for (int id : {1027, 1023, 1043}) EXPECT_FALSE(dlg->Control(id)->isVisible()) << id;
  EXPECT_TRUE(boxes->Boxes().empty());
  Remote(-2, 0);
  for (int id : {1027, 1023, 1043}) EXPECT_TRUE(dlg->Control(id)->isVisible()) << id;

  const plat::WindowId self = OwnDialogWindow();
  ASSERT_NE(self, 0u);
  Remote(-3, static_cast<intptr_t>(self));
  EXPECT_EQ(dlg->PeerWindow(), 0u);
  EXPECT_TRUE(dlg->Control(1043)->isVisible());
}

TEST_F(ClassroomTest, BusyAndPleaseWaitStates) {
  Start({"/Pos:2"});
  Remote(-4, 0);
  EXPECT_TRUE(dlg->Busy());
  EXPECT_FALSE(dlg->isEnabled());
  Remote(-5, 0);
  EXPECT_FALSE(dlg->Busy());
  EXPECT_TRUE(dlg->isEnabled());

  Remote(-6, 0);
  ASSERT_NE(dlg->PleaseWait(), nullptr);
  EXPECT_EQ(dlg->PleaseWait()->Text(),
            QStringLiteral("Wait for all the selected students to login..."));
  EXPECT_TRUE(dlg->PleaseWait()->Visible());
  EXPECT_TRUE(dlg->Busy());
  EXPECT_TRUE(Enabled(1049));
  EXPECT_FALSE(Enabled(1017));
  Remote(-7, 0);
  EXPECT_FALSE(dlg->PleaseWait()->Visible());
  EXPECT_FALSE(dlg->Busy());
  EXPECT_TRUE(Enabled(1017));
  Remote(-1, 0);  // nothing
  EXPECT_TRUE(dlg->isEnabled());
}

// ---- positions, sliders, clicks ----

TEST_F(ClassroomTest, PositionsAreClampedToTheChunk) {
  Start({"/Pos:1"});
  CSoundTrack* master = g_pAppCore->masterTrack;
  CSoundTrack* student = g_pAppCore->studentTrack;
  for (CSoundTrack* t : {master, student}) {
    ASSERT_NE(t->AddChunk(), nullptr);
    CSoundTrackTestAccess::SetCurrentChunk(*t, 0);
    std::vector<std::uint8_t> pcm(2000, 0);  // 1000 frames
    ASSERT_TRUE(t->WriteSamplesAt(0, static_cast<std::uint32_t>(pcm.size()), pcm.data()));
    t->SelectChunk(0);  // the position bar's range is the chunk's length
  }
  struct Case {
    int command;
    intptr_t position;
    CSoundTrack* track;
    std::uint32_t frame;
  } cases[] = {{1008, 500, master, 500},
               {1008, -7, master, 0},
               {1008, 99999, master, 1000},
               {1009, 250, student, 250},
               {1009, 1000, student, 1000}};
  for (const Case& c : cases) {
    Remote(c.command, c.position);
    EXPECT_EQ(c.track->ViewSnapshot().cursorFrame, c.frame) << c.command << " " << c.position;
    EXPECT_EQ(c.track->ViewSnapshot().progress.Pos(), c.frame);
  }
}

TEST_F(ClassroomTest, SliderLevelsMoveOnlyThePicture) {
  Start({"/Pos:1"});
  CGraphicSlider* input = dlg->InputSlider();
  CGraphicSlider* volume = dlg->VolumeSlider();
  ASSERT_GT(input->Travel(), 0);
  struct Case {
    unsigned message;
    uintptr_t wParam;
    intptr_t level;
    CGraphicSlider* slider;
    int offset;
  } cases[] = {
      {WM_SETSLIDERLEVEL, 0, 1, input, input->Travel()},
      {WM_SETSLIDERLEVEL, 0, 0, input, 0},
      {WM_SETSLIDERLEVEL, 1, 7, volume, volume->Travel()},
      {WM_SETSLIDERLEVEL, 1, -4, volume, 0},
      {WM_REMOTECONTROL, 1046, 1, volume, volume->Travel()},
      {WM_REMOTECONTROL, 1047, 1, input, input->Travel()},
      {WM_REMOTECONTROL, 1047, -1, input, 0},
  };
  const std::vector<float> before = Volumes();
  for (const Case& c : cases) {
    dlg->SendMessage(c.message, c.wParam, c.level);
    EXPECT_EQ(c.slider->ThumbOffset(), c.offset) << c.message << " " << c.wParam << " " << c.level;
  }
  EXPECT_EQ(Volumes(), before);
}

TEST_F(ClassroomTest, ClicksByIdAndTheMirroredRightClicks) {
  Start({"/Pos:1"});
  std::vector<std::pair<int, int>> seen;
  dlg->SetDispatchObserver([&](int id, int code) { seen.emplace_back(id, code); });
  struct Case {
    int id;
    intptr_t arg;
    std::vector<std::pair<int, int>> dispatched;
  } cases[] = {
      {1036, 0, {{1036, BN_CLICKED}}},
      {1036, 1, {}},
      {1037, 1, {{1037, NM_RCLICK}}},
      {1020, 1, {{1020, NM_RCLICK}}},
      {1026, 0, {{1026, STN_DBLCLK}}},
      {1010, 0, {}},
      {4242, 0, {}},
      {1034, 2, {}},
  };
  for (const Case& c : cases) {
    seen.clear();
    Remote(c.id, c.arg);
    EXPECT_EQ(seen, c.dispatched) << c.id << " " << c.arg;
  }
}

// ---- destination list ----

TEST_F(ClassroomTest, CopyDataFillsTheDestinationList) {
  Start({"/Pos:1"});
  const plat::WindowId self = OwnWindow();
  ASSERT_NE(self, 0u);
  struct Case {
    plat::ULONG_PTR dwData;
    std::string text;
    plat::LRESULT result;
    std::uint32_t count;
  } cases[] = {{1, "5|192.168.0.7|12|10.0.0.1|", 1, 2},
               {2, "1|1.1.1.1|", 0, 2},
               {1, "5|192.168.0.7", 1, 0},
               {1, "5|192.168.0.7|12|", 1, 1}};
  for (const Case& c : cases) {
    plat::LRESULT result = -1;
    ASSERT_TRUE(ClassroomFrameworkDouble::SendCopyText(self, c.dwData, c.text, &result));
    EXPECT_EQ(result, c.result) << c.text;
    std::lock_guard lock(g_pAppCore->coreLock);
    EXPECT_EQ(g_pAppCore->destinationCount, c.count) << c.text;
  }
  std::lock_guard lock(g_pAppCore->coreLock);
  EXPECT_EQ(g_pAppCore->streamDestinations[0], (StreamDestination{5, 192, 168, 0, 7}));
}

// ---- framework requests ----

TEST_F(ClassroomTest, TargetPathIsTakenFromTheSlotUnderTheMutexAndClosingSavesThere) {
  Start({"/Pos:2"});
  ClassroomFrameworkDouble fw;
  const std::string target = vts::test::MakeTempDir("target") + "/";
  // No mapping yet: nothing happens, and the next request tries again.
  dlg->SendMessage(WM_FRAMEWORKREQUEST, 11, 0);
  EXPECT_EQ(g_pAppCore->studentWorkTarget, "");

  ASSERT_TRUE(fw.CreateUsbSharedMemory());
  ASSERT_TRUE(fw.SetTargetPath(1, "/other/"));
  ASSERT_TRUE(fw.SetTargetPath(2, target));
  {
    // The framework holds the mutex: the request gives up and leaves the slot.
    plat::NamedMutex held(vts::test::kRecordMutexName);
    ASSERT_TRUE(held.Lock());
    std::thread([&] { dlg->SendMessage(WM_FRAMEWORKREQUEST, 11, 0); }).join();
    held.Unlock();
  }
  EXPECT_EQ(g_pAppCore->studentWorkTarget, "");
  dlg->SendMessage(WM_FRAMEWORKREQUEST, 11, 0);
  EXPECT_EQ(g_pAppCore->studentWorkTarget, target);
  EXPECT_EQ(fw.ReadSlot(2), std::vector<std::uint8_t>(vts::test::kUsbSlotBytes, 0));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fw.ReadSlot(1).data())), "/other/");

  // Closing a classroom-managed student without a lesson saves the work under the target.
  g_pAppCore->classroomManaged = 1;
  ASSERT_NE(g_pAppCore->studentTrack->AddChunk(), nullptr);
  dlg->SendMessage(WM_FRAMEWORKREQUEST, 4, 0);
  EXPECT_EQ(ops->savedPaths, std::vector<std::string>{target + "2StudentsWorks.vxb"});
}

TEST_F(ClassroomTest, LinkResultMakesTheCloseDeleteTheReceivedLesson) {
  Start({"/Pos:1"});
  const std::string lesson = vts::test::MakeTempDir("lesson") + "/received.wav";
  { std::ofstream(lesson) << "x"; }
  CSoundTrackTestAccess::SetSourcePath(*g_pAppCore->masterTrack, lesson);
  Remote(-2, 1);
  dlg->SendMessage(WM_FRAMEWORKREQUEST, 4, 0);
  EXPECT_FALSE(std::filesystem::exists(lesson));
}

// ---- Send ----

TEST_F(ClassroomTest, SendSavesToDocumentsAndTellsTheFramework) {
  Start({"/_t"});
  struct Case {
    const char* name;
    bool saveOk;
    std::size_t mapping;  // 0: none
    std::vector<std::u16string> captions;
    bool written;
  } cases[] = {
      {"saved, mapping", true, 4096, {u"File saved in My Documents"}, true},
      {"saved, no mapping",
       true,
       0,
       {u"File saved in My Documents", u"Communication problem"},
       false},
      {"saved, mapping too small", true, 8, {u"File saved in My Documents"}, false},
      {"save failed", false, 4096, {}, false},
  };
  // A fresh account without a documents folder gets one.
  std::filesystem::remove_all(plat::DocumentsFolder());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes->Clear();
    ops->calls.clear();
    ops->saveTrackOk = c.saveOk;
    ClassroomFrameworkDouble fw;
    if (c.mapping) ASSERT_TRUE(fw.CreateStudySharedMemory(c.mapping));
    dlg->Dispatch(1043, BN_CLICKED);
    std::string saved;
    for (const std::string& call : ops->calls)
      if (call.rfind("SaveTrack M ", 0) == 0) saved = call.substr(12);
    ASSERT_FALSE(saved.empty());
    EXPECT_TRUE(std::filesystem::is_directory(plat::DocumentsFolder()));
    EXPECT_TRUE(std::regex_match(
        saved, std::regex(std::regex_replace(plat::DocumentsFolder(),
                                             std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                          "/QOR[0-9]+\\.vxb")))
        << saved;
    auto shown = boxes->Boxes();
    ASSERT_EQ(shown.size(), c.captions.size());
    for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i].caption, c.captions[i]);
    if (!shown.empty()) EXPECT_EQ(shown[0].text, plat::Utf8ToUtf16(saved));
    if (shown.size() > 1) EXPECT_EQ(shown[1].text, u"Error communicating to QOR framework");
    if (c.mapping) EXPECT_EQ(fw.ReadSentWorkPath(), c.written ? plat::Utf8ToUtf16(saved) : u"");
  }
}

// ---- a shared memory that another process locks exclusively ----

TEST_F(ClassroomTest, AMemoryLockedByAnotherProcessGivesTheFailurePathNotAFrozenWindow) {
  Start({"/_t"});
  const std::string folder = plat::SharedMemory::Folder();
  std::vector<std::uint8_t> usb(vts::test::kUsbSharedMemoryBytes, 0);
  std::memcpy(usb.data() + vts::test::kUsbSlotOffsetPos01, "/target/", 8);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> content;
    std::function<void()> press;
  } cases[] = {
      {vts::test::kUsbSharedMemoryName, usb,
       [&] { dlg->SendMessage(WM_FRAMEWORKREQUEST, 11, 0); }},
      {vts::test::kStudySharedMemoryName, std::vector<std::uint8_t>(4096, 0),
       [&] { dlg->Dispatch(1043, BN_CLICKED); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes->Clear();
    vts::test::ChildProcess holder;
    ASSERT_TRUE(vts::test::HoldFileExclusively(holder, folder + "/" + c.name, c.content));
    // Should the window wait without a limit, the holder is ended after a minute.
    vts::test::KillAfter limit(holder.Pid(), 60s);
    c.press();
    limit.Disarm();
    EXPECT_FALSE(limit.Fired()) << "the window waited until the holder was ended";
  }
  EXPECT_EQ(g_pAppCore->studentWorkTarget, "");
  auto shown = boxes->Boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, u"File saved in My Documents");
  EXPECT_EQ(shown[1].caption, u"Communication problem");
  EXPECT_EQ(shown[1].text, u"Error communicating to QOR framework");
}

// ---- a teacher recorder process linked to this student window ----

TEST_F(ClassroomTest, APressFromTheTeacherRunsOnceAndAGoneTeacherEndsTheLink) {
  Start({"/Pos:1"});
  const plat::WindowId student = OwnWindow();
  ASSERT_NE(student, 0u);
  vts::test::ChildProcess teacherProcess;
  ASSERT_TRUE(teacherProcess.Start(VTS_RECORDER_PATH, {"/_t"}, {"QT_QPA_PLATFORM=offscreen"}));
  plat::WindowId teacher = 0;
  auto pump = [](const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
    return vts::test::PumpEventsUntil(done, limit);
  };
  ASSERT_TRUE(pump([&] {
    for (const plat::WindowInfo& w : plat::ListWindows())
      if (w.processId == static_cast<std::uint32_t>(teacherProcess.Pid()) &&
          w.className == "#32770")
        teacher = w.id;
    return teacher != 0;
  }));
  // The classroom links the two windows.
  ASSERT_TRUE(
      ClassroomFrameworkDouble::PostRemoteControl(teacher, -3, static_cast<plat::LPARAM>(student)));
  ASSERT_TRUE(
      ClassroomFrameworkDouble::PostRemoteControl(student, -3, static_cast<plat::LPARAM>(teacher)));
  ASSERT_TRUE(pump([&] { return dlg->PeerWindow() == teacher; }));

  std::vector<int> seen;
  dlg->SetDispatchObserver([&](int id, int code) { seen.push_back(id); });
  // BUTSTOP pressed on the teacher by the framework (a process of its own) reaches the student
  // once; had the student sent it back, the teacher would mirror it again before the later
  // BUTPAUSE.
  auto press = [](int id) {
    return vts::test::RunProgram(
        VTS_CLASSROOM_DOUBLE,
        {"post", "--class", "#32770", "--text", "Recorder", "0x592", std::to_string(id), "0"});
  };
  ASSERT_EQ(press(1036), 0);
  ASSERT_TRUE(pump([&] { return !seen.empty(); }));
  ASSERT_EQ(press(1034), 0);
  ASSERT_TRUE(pump([&] { return seen.size() >= 2; }));
  EXPECT_EQ(seen, (std::vector<int>{1036, 1034}));

  // The teacher ends without a link end: the student's link ends on its own and it can close.
  teacherProcess.Kill();
  ASSERT_TRUE(pump([&] { return dlg->PeerWindow() == 0; }, 30s));
  EXPECT_TRUE(Enabled(1049));
}

}  // namespace
}  // namespace vts::ui
