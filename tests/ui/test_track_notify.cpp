// The recorder window's reaction to the tracks' notices, on a real core whose tracks run on
// the virtual sound backend: chunk number, recording light, button looks, file name, the
// end of a load, and the end of a save that may close the window only when it succeeded.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <thread>

#include "audio/virtual_endpoints.h"
#include "classroom_double.h"
#include "core/app_core.h"
#include "notify_relay.h"
#include "platform/message_box.h"
#include "platform/named_mutex.h"
#include "qt_wait.h"
#include "sound_track_test_access.h"
#include "test_env.h"
#include "test_files.h"
#include "track_doubles.h"
#include "tracks/notify.h"
#include "tracks/sound_track.h"
#include "tracks/transport.h"
#include "ui/dialog_messages.h"
#include "ui/led_number.h"
#include "ui/main_dialog.h"
#include "ui/transparent_button.h"

namespace vts::ui {
namespace {

class TrackNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
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

  void Notify(uint32_t code, CSoundTrack* sender) {
    dlg->SendMessage(WM_TRACKNOTIFY, code, reinterpret_cast<intptr_t>(sender));
  }
  QString Skin(int id) { return dlg->Button(id)->text(); }
  bool LightShown() { return !dlg->RecordingLight()->isHidden(); }
  // Runs the event loop until `done` or a generous limit.
  bool SpinUntil(const std::function<bool()>& done, int limitMs = 20000) {
    return ::vts::test::PumpEventsUntil(done, std::chrono::milliseconds(limitMs));
  }

  // The sound devices back: the next Record and the next Play work, and nothing more is
  // said. `kept`: what the Student's chunk held before.
  void ExpectRecordAndPlayWorkAgain(std::uint32_t kept) {
    audio::VirtualEndpoints& sound = *audio::VirtualEndpoints::Instance();
    const std::size_t told = boxes->Boxes().size();
    sound.AddDevice({"virtual_speaker", "Virtual Speaker", DataFlow::Render, 2, 48000, {}, "", ""});
    sound.AddDevice({"virtual_mic", "Virtual Microphone", DataFlow::Capture, 1, 48000,
                     audio::VirtualSource::Sine(440.0, 0.25f), "", ""});
    dlg->Dispatch(kIdRecord, BN_CLICKED);
    ASSERT_TRUE(SpinUntil([&] {
      std::lock_guard lock(student->BufferLock());
      return LightShown() && student->CurrentChunk()->length > kept + 44100 / 10;
    }));
    dlg->Dispatch(kIdStop, BN_CLICKED);
    EXPECT_FALSE(student->IsRecording());
    dlg->Dispatch(kIdMasterPlay, BN_CLICKED);  // from the cursor, at the chunk's start
    ASSERT_TRUE(SpinUntil([&] { return master->PlayFrame() > 44100 / 10; }));
    dlg->Dispatch(kIdStop, BN_CLICKED);
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes->Boxes().size(), told);
  }

  // "old.wav" (text "old"), loaded on the Master, and "new.mp3" (text "new") beside it.
  bool MakeLessons(const std::string& dir) {
    test::WriteWav(dir + "/old.wav", std::vector<std::int16_t>(44100, 1000));
    test::WriteText(dir + "/old.txt", std::string("\xFF\xFEo\0l\0d\0\r\0\n\0", 12));
    master->StartLoad(dir + "/old.wav");
    if (!SpinUntil([&] { return !master->LoadPending(); })) return false;
    if (!master->SaveTrack(dir + "/new.mp3")) return false;
    test::WriteText(dir + "/new.txt", std::string("\xFF\xFEn\0e\0w\0\r\0\n\0", 12));
    return true;
  }

  std::shared_ptr<plat::RecordingMessageBoxService> boxes;
  CSoundTrack* master = nullptr;
  CSoundTrack* student = nullptr;
  std::unique_ptr<CMainDlg> dlg;
};

TEST_F(TrackNotifyTest, IdleShowsTheStudentsChunkNumber) {
  ASSERT_EQ(student->CurrentChunkIndex(), -1);
  dlg->ChunkNumber()->SetNumber(7);
  Notify(TRACK_NOTIFY_IDLE, master);
  EXPECT_EQ(dlg->ChunkNumber()->Number(), 1);  // "01"
  ASSERT_NE(student->AddChunk(), nullptr);
  ASSERT_NE(student->AddChunk(), nullptr);
  CSoundTrackTestAccess::SetCurrentChunk(*student, 1);
  Notify(TRACK_NOTIFY_RECORDING, master);  // whichever track sent it
  EXPECT_EQ(dlg->ChunkNumber()->Number(), 2);
}

TEST_F(TrackNotifyTest, RecordingLightFollowsDataAndIdle) {
  EXPECT_FALSE(LightShown());
  Notify(TRACK_NOTIFY_DATA, student);
  EXPECT_TRUE(LightShown());
  Notify(TRACK_NOTIFY_RECORDING, student);
  EXPECT_TRUE(LightShown());  // code 1 keeps it
  Notify(TRACK_NOTIFY_IDLE, student);
  EXPECT_FALSE(LightShown());
}

// The notices of every sound block wait for the window's next frame, merged; any other
// notice still comes after them, so a stop's idle is never undone by a late data notice.
TEST_F(TrackNotifyTest, BlockNoticesWaitForTheFrameMergedAndKeepTheirOrder) {
  std::vector<std::pair<uintptr_t, intptr_t>> seen;
  dlg->SetMessageObserver([&](unsigned message, uintptr_t code, intptr_t sender) {
    if (message == WM_TRACKNOTIFY) seen.emplace_back(code, sender);
  });
  const NotifyTarget target = student->GetNotifyTarget();
  ASSERT_NE(target.window, nullptr);
  const auto s = reinterpret_cast<intptr_t>(student);
  const auto m = reinterpret_cast<intptr_t>(master);
  for (int i = 0; i < 3; ++i) {
    PostNotification(target, TRACK_NOTIFY_DATA, s);
    PostNotification(target, TRACK_NOTIFY_REFRESH, m);
  }
  ASSERT_TRUE(SpinUntil([&] { return seen.size() >= 2; }));
  EXPECT_TRUE(LightShown());
  // Then data again, and the stop's idle right behind it.
  PostNotification(target, TRACK_NOTIFY_DATA, s);
  PostNotification(target, TRACK_NOTIFY_IDLE, s);
  ASSERT_TRUE(SpinUntil([&] { return seen.size() >= 4; }));
  const std::vector<std::pair<uintptr_t, intptr_t>> want = {{TRACK_NOTIFY_DATA, s},
                                                            {TRACK_NOTIFY_REFRESH, m},
                                                            {TRACK_NOTIFY_DATA, s},
                                                            {TRACK_NOTIFY_IDLE, s}};
  EXPECT_EQ(seen, want);
  EXPECT_FALSE(LightShown());
  dlg->SetMessageObserver(nullptr);
}

TEST_F(TrackNotifyTest, RecordAndIdleSwapTheRecordLooks) {
  Notify(TRACK_NOTIFY_RECORDING, student);
  EXPECT_EQ(Skin(1017), "BUTRECORDSTOP");
  EXPECT_EQ(Skin(1038), "HBUTPLAYRECSTOP");
  EXPECT_EQ(Skin(1040), "VBUTPLAYRECSTOP");
  Notify(TRACK_NOTIFY_IDLE, student);
  EXPECT_EQ(Skin(1017), "BUTREC");
  EXPECT_EQ(Skin(1038), "HBUTPLAYREC");
  EXPECT_EQ(Skin(1040), "VBUTPLAYREC");
}

TEST_F(TrackNotifyTest, PauseLookOnlyWhileTheStudentRecords) {
  Notify(TRACK_NOTIFY_PAUSED, student);
  EXPECT_EQ(Skin(1034), "BUTPAUSE");  // not recording: the look stays
  CSoundTrackTestAccess::SetRecording(*student, true);
  Notify(TRACK_NOTIFY_PAUSED, student);
  EXPECT_EQ(Skin(1034), "BUTPAUSEREC");
  CSoundTrackTestAccess::SetRecording(*student, false);
  Notify(TRACK_NOTIFY_RUNNING, student);
  EXPECT_EQ(Skin(1034), "BUTPAUSE");
}

TEST_F(TrackNotifyTest, PlayEndedResetsNextAndMasterPlayLooks) {
  dlg->SetButtonSkin(1019, "BUTNEXT");
  dlg->SetButtonSkin(1012, "MBUTPAUSE");
  Notify(TRACK_NOTIFY_PLAY_ENDED, master);
  EXPECT_EQ(Skin(1019), "BUTNEXTB");
  EXPECT_EQ(Skin(1012), "MBUTPLAY");
}

TEST_F(TrackNotifyTest, LoadedShowsTheFileNameAndReenablesTheWindow) {
  dlg->FileNameEdit()->setText("old");
  dlg->setEnabled(false);
  CSoundTrackTestAccess::SetSourcePath(*master, "/lessons/unit1.wav");
  Notify(TRACK_NOTIFY_LOADED, master);
  EXPECT_EQ(dlg->FileNameEdit()->text(), "unit1.wav");
  EXPECT_TRUE(dlg->isEnabled());
  EXPECT_FALSE(student->ReplaceOnRecord());  // the Master has no chunks
  // A name without a folder leaves the edit; none empties it.
  CSoundTrackTestAccess::SetSourcePath(*master, "bare.wav");
  Notify(TRACK_NOTIFY_LOADED, master);
  EXPECT_EQ(dlg->FileNameEdit()->text(), "unit1.wav");
  CSoundTrackTestAccess::SetSourcePath(*master, {});
  ASSERT_NE(master->AddChunk(), nullptr);
  Notify(TRACK_NOTIFY_LOADED, master);
  EXPECT_EQ(dlg->FileNameEdit()->text(), "");
  EXPECT_TRUE(student->ReplaceOnRecord());
}

TEST_F(TrackNotifyTest, LoadThreadIsCollectedWithoutWaiting) {
  const std::string dir = test::MakeTempDir("load");
  master->StartLoad(dir + "/missing.wav");  // fails, and still posts code 2
  ASSERT_TRUE(SpinUntil([&] { return !master->LoadPending(); }));
}

// Changing a lesson and opening another, saving it on the way: the save's notice starts the
// new lesson's load. The real tracks, the load held at its decoding: a remote click does not
// touch the Master while the load rebuilds it, and the window stays disabled until the load's
// own notice.
TEST_F(TrackNotifyTest, ASavesNoticeAndARemoteClickDuringALoadLeaveTheMasterAlone) {
  const std::string dir = test::MakeTempDir("open-during-save");
  ASSERT_TRUE(MakeLessons(dir));
  ASSERT_NE(student->AddChunk(), nullptr);
  ASSERT_NE(student->AddChunk(), nullptr);
  CSoundTrackTestAccess::SetAudioModified(*master, 1);  // an erase changed the old lesson

  int savedNotices = 0;
  dlg->SetMessageObserver([&](unsigned message, uintptr_t code, intptr_t sender) {
    if (message == WM_TRACKNOTIFY && code == TRACK_NOTIFY_SAVED &&
        sender == reinterpret_cast<intptr_t>(master))
      ++savedNotices;
  });
  std::vector<QString> answers = {QString::fromStdString(dir + "/old-saved.vxb"),
                                  QString::fromStdString(dir + "/new.mp3")};
  dlg->SetFileDialog([&](const CMainDlg::FileDialogRequest&) {
    const QString a = answers.front();
    answers.erase(answers.begin());
    return a;
  });
  boxes->ScriptAnswers({plat::IDYES});  // save the updated audio first
  {
    plat::NamedMutex decoding(plat::kMp3DecodeMutexName);
    ASSERT_TRUE(decoding.Lock());  // the new lesson's load stops at its decoding
    dlg->Dispatch(1027, BN_CLICKED);
    // The old lesson's save reports back first; its notice starts the new lesson's load.
    ASSERT_TRUE(SpinUntil([&] { return master->LoadPending(); }));
    EXPECT_EQ(savedNotices, 1);
    EXPECT_FALSE(dlg->isEnabled()) << "the load still runs";
    EXPECT_EQ(dlg->FileNameEdit()->text(), "Please wait...");
    EXPECT_EQ(dlg->MasterTextEdit()->toPlainText(), "");

    // The peer double-clicks the chunk number (both tracks to their first chunk): nothing
    // happens while the Master loads.
    student->SelectChunk(1);
    dlg->SendMessage(WM_REMOTECONTROL, 1026, 0);
    EXPECT_EQ(student->CurrentChunkIndex(), 1);
    decoding.Unlock();
  }
  ASSERT_TRUE(SpinUntil([&] { return !master->LoadPending(); }));
  EXPECT_TRUE(dlg->isEnabled());
  EXPECT_EQ(dlg->FileNameEdit()->text(), "new.mp3");
  EXPECT_EQ(dlg->MasterTextEdit()->toPlainText(), "new");
  EXPECT_TRUE(test::PathExists(dir + "/old-saved.vxb"));
  dlg->SetMessageObserver(nullptr);
}

// The classroom closes the recorder while a lesson loads: the exit path lets the load end
// before it reads the Master.
TEST_F(TrackNotifyTest, AnExitDuringALoadWaitsForTheLoad) {
  const std::string dir = test::MakeTempDir("exit-during-load");
  ASSERT_TRUE(MakeLessons(dir));
  const long windowThread = test::CurrentThreadOsId();
  std::atomic<bool> exitReturned{false};
  std::promise<void> held;
  std::thread decoder([&] {  // holds the load at its decoding until the window's thread waits
    plat::NamedMutex decoding(plat::kMp3DecodeMutexName);
    decoding.Lock();
    held.set_value();
    test::WaitUntil([&] { return exitReturned || test::ThreadSleeps(windowThread); },
                    std::chrono::seconds(60));
    decoding.Unlock();
  });
  held.get_future().wait();
  master->StartLoad(dir + "/new.mp3");
  dlg->SendMessage(WM_FRAMEWORKREQUEST, 4, 0);
  exitReturned = true;
  decoder.join();
  EXPECT_FALSE(master->LoadPending()) << "the exit path waited for the load";
  EXPECT_EQ(master->SourcePath(), dir + "/new.mp3");
  EXPECT_FALSE(dlg->isVisible()) << "and closed";
}

TEST_F(TrackNotifyTest, PositionGoesToTheLinkedPeerOnly) {
  test::ClassroomWindowDouble peer;
  ASSERT_TRUE(peer.Start("#32770", u"peer"));
  CSoundTrackTestAccess::EditView(*student, [&](WaveformViewState& v) { v.cursorFrame = 4410; });
  Notify(TRACK_NOTIFY_POSITION, student);  // no peer yet: nothing
  dlg->SetPeerWindow(peer.Id());
  Notify(TRACK_NOTIFY_POSITION, student);
  test::ReceivedMessage m;
  ASSERT_TRUE(peer.WaitFor(test::WM_REMOTECONTROL, std::chrono::seconds(10), &m));
  EXPECT_EQ(m.wParam, 1009u);
  EXPECT_EQ(m.lParam, 4410);
  EXPECT_FALSE(peer.WaitForCount(2, std::chrono::milliseconds(300)));
  EXPECT_EQ(peer.Received().size(), 1u);

  // A sender that is neither track nor the video is ignored; the video's position is 1010.
  dlg->SendMessage(WM_TRACKNOTIFY, TRACK_NOTIFY_POSITION, 0x5150);
  ASSERT_NE(g_pAppCore->videoManager, nullptr);
  dlg->SendMessage(WM_TRACKNOTIFY, TRACK_NOTIFY_POSITION,
                   reinterpret_cast<intptr_t>(g_pAppCore->videoManager));
  ASSERT_TRUE(peer.WaitForCount(2, std::chrono::seconds(10)));
  EXPECT_FALSE(peer.WaitForCount(3, std::chrono::milliseconds(300)));
  ASSERT_EQ(peer.Received().size(), 2u);
  EXPECT_EQ(peer.Received()[1].wParam, 1010u);
  EXPECT_EQ(peer.Received()[1].lParam, 0);
}

TEST_F(TrackNotifyTest, UnknownCodesChangeNothing) {
  dlg->ChunkNumber()->SetNumber(5);
  for (uint32_t code : {9u, 14u, 100u}) EXPECT_EQ(dlg->SendMessage(WM_TRACKNOTIFY, code, 0), 0);
  EXPECT_EQ(dlg->ChunkNumber()->Number(), 5);
}

// The sound devices gone (the sound server went) while the Master plays and the Student
// records from both sources: the window stops as its Stop does, shows the stopped state and
// says so once, though every stream reports its loss; the recording keeps what was captured.
// With the devices back, the next Record and Play work.
TEST_F(TrackNotifyTest, LostSoundDevicesStopTheWindowAndAreToldOnce) {
  audio::VirtualEndpoints& sound = *audio::VirtualEndpoints::Instance();
  ASSERT_NE(master->AddChunk(), nullptr);
  master->SelectChunk(0);
  {
    std::lock_guard lock(master->BufferLock());
    test::FillChunk(master->CurrentChunk(), std::vector<std::int16_t>(44100 * 120, 2000));
  }
  student->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
  dlg->Dispatch(kIdSimRecord, BN_CLICKED);
  ASSERT_TRUE(SpinUntil([&] { return LightShown() && master->PlayFrame() > 0; }));
  ASSERT_EQ(dlg->TransportMode(), 3u);

  sound.RemoveDevice("virtual_mic");
  sound.RemoveDevice("virtual_speaker");
  ASSERT_TRUE(SpinUntil([&] { return !boxes->Boxes().empty(); }));
  test::ExpectToldOnceOfALostDevice(*g_pAppCore, *boxes);
  EXPECT_FALSE(student->IsRecording());
  EXPECT_FALSE(master->IsPlaying());
  EXPECT_EQ(dlg->TransportMode(), 0u);
  EXPECT_FALSE(LightShown());
  EXPECT_EQ(Skin(1017), "BUTREC");
  EXPECT_EQ(Skin(1012), "MBUTPLAY");
  ASSERT_TRUE(student->WaitForRecordingEnd());
  std::uint32_t kept = 0;
  {
    std::lock_guard lock(student->BufferLock());
    ASSERT_NE(student->CurrentChunk(), nullptr);
    kept = student->CurrentChunk()->length;
  }
  EXPECT_GT(kept, 0u);

  ExpectRecordAndPlayWorkAgain(kept);
}

// The sound devices gone before the press (the sound server is down): a press whose
// recording or playback cannot start leaves the window stopped and says so once, with the
// sound log's words, also when the press starts both tracks; a recording of two sources
// of which one cannot start does not run on the other alone. With the devices back, the
// next Record and Play work.
TEST_F(TrackNotifyTest, APressWhoseSoundCannotStartLeavesTheWindowStoppedAndSaysSoOnce) {
  audio::VirtualEndpoints& sound = *audio::VirtualEndpoints::Instance();
  for (CSoundTrack* t : {master, student}) {
    ASSERT_NE(t->AddChunk(), nullptr);
    t->SelectChunk(0);
    std::lock_guard lock(t->BufferLock());
    test::FillChunk(t->CurrentChunk(), std::vector<std::int16_t>(44100 * 10, 2000));
  }
  student->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
  const std::u16string kCapture = u"Could not create capture Device. Check that device is present.";
  const std::u16string kPlayback =
      u"Could not create playback AudioClient. Check that device is present.";
  const struct {
    const char* what;
    int id;
    bool speakerStays;
    std::u16string text;  // the first stream that could not start is the Master's, if any
  } presses[] = {
      {"Record", kIdRecord, false, kCapture},
      {"Play", kIdPlay, false, kPlayback},
      {"the Master's Play", kIdMasterPlay, false, kPlayback},
      {"simultaneous recording", kIdSimRecord, false, kPlayback},
      {"simultaneous playback", kIdSimPlay, false, kPlayback},
      {"sequential recording", kIdSeqRecord, false, kPlayback},
      {"comparison", kIdRepeat, false, kPlayback},
      {"Record with only the microphone gone", kIdRecord, true, kCapture},
  };
  sound.RemoveDevice("virtual_mic");
  for (const auto& press : presses) {
    SCOPED_TRACE(press.what);
    if (press.speakerStays)
      sound.AddDevice(
          {"virtual_speaker", "Virtual Speaker", DataFlow::Render, 2, 48000, {}, "", ""});
    else
      sound.RemoveDevice("virtual_speaker");
    const std::size_t before = boxes->Boxes().size();
    dlg->Dispatch(press.id, BN_CLICKED);
    ASSERT_TRUE(SpinUntil([&] {
      return boxes->Boxes().size() > before && !student->IsRecording() && !master->IsPlaying();
    })) << "the window stops and says so";
    // Every notice of this press is in.
    g_pAppCore->coreThread.Apply([] {});
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    ASSERT_EQ(boxes->Boxes().size(), before + 1) << "one box for the press";
    EXPECT_EQ(boxes->Boxes().back().text, press.text)
        << QString::fromStdU16String(boxes->Boxes().back().text).toStdString();
    EXPECT_EQ(boxes->Boxes().back().caption, std::u16string(GetProductName()));
    EXPECT_EQ(dlg->TransportMode(), 0u);
    EXPECT_FALSE(LightShown());
    EXPECT_EQ(Skin(1017), "BUTREC");
    EXPECT_EQ(Skin(1012), "MBUTPLAY");
    EXPECT_EQ(Skin(1038), "HBUTPLAYREC");
    EXPECT_EQ(Skin(1040), "VBUTPLAYREC");
    EXPECT_EQ(student->Engine()->GetCaptureStreamCount(), 0u);
    ASSERT_TRUE(student->WaitForRecordingEnd());
  }

  ExpectRecordAndPlayWorkAgain(student->CurrentChunk()->length);
}

// The Master has chunks, so the Student's Record replaces its take. A Record that cannot
// start (the microphone gone; or, from both sources, the speaker gone while the microphone
// starts) is told and stopped, and the take stays as it was: its sound, start and length,
// the strip, also after a chunk switch. With the devices back, Record replaces it as ever.
TEST_F(TrackNotifyTest, ARecordThatCannotStartKeepsTheStudentsTake) {
  audio::VirtualEndpoints& sound = *audio::VirtualEndpoints::Instance();
  const std::string dir = test::MakeTempDir("take");
  test::WriteWav(dir + "/lesson.wav", std::vector<std::int16_t>(44100, 1000));
  master->StartLoad(dir + "/lesson.wav");
  ASSERT_TRUE(SpinUntil([&] { return !master->LoadPending() && student->ReplaceOnRecord(); }));

  std::vector<std::int16_t> take(44100 * 2);
  for (std::size_t i = 0; i < take.size(); ++i)
    take[i] = std::int16_t(9000 * std::sin(double(i) * 0.05) * double(i % 7000) / 7000);
  ASSERT_NE(student->AddChunk(), nullptr);
  ASSERT_NE(student->AddChunk(), nullptr);
  {
    std::lock_guard lock(student->BufferLock());
    test::FillChunk(student->Chunk(0), take);
    student->Chunk(0)->start = 700;
    ASSERT_TRUE(student->SaveChunk(0));
    student->Chunk(0)->Unload();
  }
  student->SelectChunk(0);
  student->RedrawWaveform(4096, 128);
  QCoreApplication::processEvents();
  const QImage strip = dlg->WaveformWindow(1)->grab().toImage();
  auto expectTake = [&] {
    std::lock_guard lock(student->BufferLock());
    CChunkInfo* chunk = student->CurrentChunk();
    ASSERT_EQ(chunk, student->Chunk(0));
    EXPECT_EQ(chunk->start, 700u);
    EXPECT_EQ(chunk->length, take.size());
    ASSERT_TRUE(chunk->IsLoaded());
    ASSERT_EQ(chunk->dataSize, take.size() * 2);
    EXPECT_EQ(std::memcmp(chunk->data, take.data(), chunk->dataSize), 0);
  };

  const struct {
    const char* what;
    std::uint32_t sources;
    const char* gone;
  } presses[] = {
      {"the microphone gone", CSoundTrack::kRecordInput, "virtual_mic"},
      {"from both sources, the speaker gone: the microphone starts",
       CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback, "virtual_speaker"},
  };
  for (const auto& press : presses) {
    SCOPED_TRACE(press.what);
    student->SetRecordSources(press.sources);
    sound.RemoveDevice(press.gone);
    const std::size_t before = boxes->Boxes().size();
    dlg->Dispatch(kIdRecord, BN_CLICKED);
    ASSERT_TRUE(SpinUntil([&] {
      return boxes->Boxes().size() > before && !student->IsRecording();
    })) << "the window stops and says so";
    ASSERT_TRUE(student->WaitForRecordingEnd());
    g_pAppCore->coreThread.Apply([] {});
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes->Boxes().size(), before + 1);
    expectTake();
    EXPECT_TRUE(dlg->WaveformWindow(1)->grab().toImage() == strip) << "the strip as before";
    sound.AddDevice({"virtual_speaker", "Virtual Speaker", DataFlow::Render, 2, 48000, {}, "", ""});
    sound.AddDevice({"virtual_mic", "Virtual Microphone", DataFlow::Capture, 1, 48000,
                     audio::VirtualSource::Sine(440.0, 0.25f), "", ""});
  }
  student->SelectChunk(1);
  student->SelectChunk(0);
  expectTake();

  student->SetRecordSources(CSoundTrack::kRecordInput);
  ExpectRecordAndPlayWorkAgain(0);
  std::lock_guard lock(student->BufferLock());
  EXPECT_EQ(student->CurrentChunk()->start, 0u);
  EXPECT_LT(student->CurrentChunk()->length, take.size()) << "the new take replaced it";
}

// The exit path's automatic save of a classroom-managed student: the window closes when the
// save has succeeded, and only then.
TEST_F(TrackNotifyTest, CloseAfterSaveClosesOnlyWhenTheSaveSucceeded) {
  ASSERT_NE(student->AddChunk(), nullptr);
  student->SelectChunk(0);
  CSoundTrackTestAccess::SetModified(*student, true);
  g_pAppCore->studentFlag = 1;
  g_pAppCore->classroomManaged = 1;
  const std::string dir = test::MakeTempDir("save");

  // A target below a plain file cannot be written (not even by root): the save fails, the
  // window stays open and enabled.
  QFile blocker(QString::fromStdString(dir + "/plain-file"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  g_pAppCore->studentWorkTarget = dir + "/plain-file/";
  dlg->Dispatch(1049, BN_CLICKED);
  ASSERT_TRUE(SpinUntil([&] { return !dlg->CloseAfterSave(); }));
  ASSERT_TRUE(SpinUntil([&] { return !student->SavePending(); }));
  QCoreApplication::processEvents();
  EXPECT_FALSE(student->LastSaveOk());
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_TRUE(dlg->isEnabled());

  // The next exit's save succeeds: the window closes.
  g_pAppCore->studentWorkTarget = dir + "/";
  dlg->Dispatch(1049, BN_CLICKED);
  ASSERT_TRUE(SpinUntil([&] { return !dlg->isVisible(); }));
  EXPECT_TRUE(student->LastSaveOk());
  EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "/1StudentsWorks.vxb")));
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST_F(TrackNotifyTest, WithoutCloseAfterSaveTheWindowStays) {
  ASSERT_NE(student->AddChunk(), nullptr);
  student->SelectChunk(0);
  dlg->setEnabled(false);
  student->SaveAsync(test::MakeTempDir("keep") + "/work.wav");
  ASSERT_TRUE(SpinUntil([&] { return !student->SavePending(); }));
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_TRUE(dlg->isEnabled());
}

}  // namespace
}  // namespace vts::ui
