// The recorder window on a sound server that goes away: killed while the Master plays and
// the Student records from the microphone and the PC's output, or already down when Record
// or Play is pressed, then started again. The window stops (or stays stopped), shows the
// stopped state and says so once; what was recorded stays; the next Record and Play work.
// Each test runs a server of its own: the shared one must stay up for the tests beside it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/app_core.h"
#include "core/product_name.h"
#include "notify_relay.h"
#include "platform/message_box.h"
#include "pulse_util.h"
#include "test_files.h"
#include "track_doubles.h"
#include "tracks/chunk_info.h"
#include "tracks/notify.h"
#include "tracks/sound_track.h"
#include "tracks/transport.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"
#include "ui/recording_light.h"
#include "ui/transparent_button.h"

namespace vts::ui {
namespace {

std::string Shell(const std::string& cmd) { return test::RunShell(cmd); }

// A private sound server in a folder of its own below /tmp (its socket path must be short).
class OwnServer {
 public:
  OwnServer() {
    char folder[] = "/tmp/vts-pulse-loss-XXXXXX";
    if (::mkdtemp(folder)) dir_ = folder;
  }
  ~OwnServer() {
    if (dir_.empty()) return;
    Shell("'" + Script() + "' stop '" + dir_ + "' >/dev/null 2>&1");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  bool Start() {
    return !dir_.empty() &&
           Shell("'" + Script() + "' start '" + dir_ + "' 2>&1").find("running at") !=
               std::string::npos;
  }
  // As a crash would end it: no goodbye to its clients.
  bool Kill() {
    std::string pid = test::ReadFile(dir_ + "/pulse/pid");
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
    if (pid.empty()) return false;
    Shell("kill -KILL " + pid + "; while kill -0 " + pid + " 2>/dev/null; do sleep 0.05; done");
    return true;
  }
  std::string Address() const { return "unix:" + dir_ + "/pulse/native"; }
  std::string ClientConfig() const { return dir_ + "/client.conf"; }

 private:
  static std::string Script() {
    return std::string(VTS_SOURCE_DIR) + "/scripts/pulse-test-server.sh";
  }
  std::string dir_;
};

std::uint32_t StudentFrames(CSoundTrack* student) {
  std::lock_guard lock(student->BufferLock());
  CChunkInfo* c = student->CurrentChunk();
  return c ? c->length : 0;
}

// The Student's current chunk: its length and sound.
std::pair<std::uint32_t, std::vector<std::uint8_t>> StudentTake(CSoundTrack* student) {
  std::lock_guard lock(student->BufferLock());
  CChunkInfo* c = student->CurrentChunk();
  if (c == nullptr || c->data == nullptr) return {c ? c->length : 0, {}};
  return {c->length, std::vector<std::uint8_t>(c->data, c->data + c->dataSize)};
}

// Its own server, the Master's chunk of a 300 Hz tone, the Student recording from both
// sources, and the window that both tracks tell.
class RecorderWindowOnPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start()) << "scripts/pulse-test-server.sh could not start a server";
    setenv("PULSE_SERVER", server.Address().c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", server.ClientConfig().c_str(), 1);
    app = std::make_unique<test::OffscreenApplication>();
    core = std::make_unique<CAppCore>();
    g_pAppCore = core.get();
    core->SetAudioDeviceNames(u"vts_speaker", u"vts_mic");
    master = core->masterTrack;
    student = core->studentTrack;
    student->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
    ASSERT_NE(master->AddChunk(), nullptr);
    master->SelectChunk(0);
    {
      std::vector<std::int16_t> tone(44100 * 60);
      for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = std::int16_t(3000 * std::sin(2 * M_PI * 300 * double(i) / 44100));
      std::lock_guard lock(master->BufferLock());
      test::FillChunk(master->CurrentChunk(), tone);
    }
    dlg = std::make_unique<CMainDlg>();
    notices = std::make_unique<test::WindowNotices>(dlg.get(), master, student);
    dlg->show();
  }
  void TearDown() override {
    notices.reset();
    dlg.reset();
    core.reset();
    g_pAppCore = nullptr;
    app.reset();
  }
  const plat::RecordingMessageBoxService& Boxes() const { return *app->boxes; }

  // The server is back: once the recorder sees its devices, Record and Play work again and
  // nothing more is said. `kept`: what the Student's chunk held before.
  void ExpectRecordAndPlayWorkAgain(std::uint32_t kept) {
    const std::size_t told = Boxes().Boxes().size();
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !student->Engine()->GetInputDevices().empty(); }, 20000));
    dlg->Dispatch(kIdRecord, BN_CLICKED);
    ASSERT_TRUE(QTest::qWaitFor([&] { return StudentFrames(student) > kept + 44100 / 2; }, 20000))
        << "the next recording gets sound";
    dlg->Dispatch(kIdStop, BN_CLICKED);
    EXPECT_FALSE(student->IsRecording());
    dlg->Dispatch(kIdMasterPlay, BN_CLICKED);
    ASSERT_TRUE(QTest::qWaitFor([&] { return master->PlayFrame() > 44100 / 2; }, 20000))
        << "the next playback runs";
    dlg->Dispatch(kIdStop, BN_CLICKED);
    EXPECT_EQ(Boxes().Boxes().size(), told);
  }

  OwnServer server;
  std::unique_ptr<test::OffscreenApplication> app;
  std::unique_ptr<CAppCore> core;
  CSoundTrack* master = nullptr;
  CSoundTrack* student = nullptr;
  std::unique_ptr<CMainDlg> dlg;
  std::unique_ptr<test::WindowNotices> notices;
};

TEST_F(RecorderWindowOnPulse, AKilledSoundServerStopsTheWindowAndARestartedOneServesAgain) {
  dlg->Dispatch(kIdSimRecord, BN_CLICKED);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return StudentFrames(student) > 44100 / 2 && master->PlayFrame() > 44100 / 2; }, 20000))
      << "the Master plays and the Student records";

  ASSERT_TRUE(server.Kill());
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !Boxes().Boxes().empty() && !student->IsRecording() && !master->IsPlaying(); },
      20000))
      << "the window stops and says so";
  test::ExpectToldOnceOfALostDevice(*core, Boxes());
  EXPECT_EQ(dlg->TransportMode(), 0u);
  EXPECT_TRUE(dlg->RecordingLight()->isHidden());
  EXPECT_EQ(dlg->Button(kIdRecord)->text(), "BUTREC");
  ASSERT_TRUE(student->WaitForRecordingEnd());
  const std::uint32_t kept = StudentFrames(student);
  EXPECT_GT(kept, 44100u / 2) << "what was recorded stays";

  ExpectRecordAndPlayWorkAgain(kept);
}

// Pressed while the server is down, Record, the Master's Play and the simultaneous
// recording (both tracks) cannot start: each press leaves the window stopped and is told
// in one box with the sound log's words. The Student's take, which a Record replaces while
// the Master has chunks, stays as it was.
TEST_F(RecorderWindowOnPulse, PressesWhileTheSoundServerIsDownAreToldAndTheRestartedOneServes) {
  student->SetReplaceOnRecord(true);  // as the window sets it when the Master has chunks
  dlg->Dispatch(kIdRecord, BN_CLICKED);
  ASSERT_TRUE(QTest::qWaitFor([&] { return StudentFrames(student) > 44100 / 2; }, 20000));
  dlg->Dispatch(kIdStop, BN_CLICKED);
  ASSERT_TRUE(student->WaitForRecordingEnd());
  const auto take = StudentTake(student);
  ASSERT_EQ(take.second.size(), std::size_t(take.first) * 2);

  ASSERT_TRUE(server.Kill());
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return student->Engine()->GetOutputDevices().empty(); }, 20000));
  const struct {
    int id;
    std::u16string text;
  } presses[] = {
      {kIdRecord, u"Could not create capture Device. Check that device is present."},
      {kIdMasterPlay, u"Could not create playback AudioClient. Check that device is present."},
      {kIdSimRecord, u"Could not create playback AudioClient. Check that device is present."},
  };
  for (const auto& press : presses) {
    SCOPED_TRACE(press.id);
    const std::size_t before = Boxes().Boxes().size();
    dlg->Dispatch(press.id, BN_CLICKED);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          return Boxes().Boxes().size() > before && !student->IsRecording() && !master->IsPlaying();
        },
        20000))
        << "the window stops and says so";
    core->coreThread.Apply([] {});
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    ASSERT_EQ(Boxes().Boxes().size(), before + 1);
    EXPECT_EQ(Boxes().Boxes().back().text, press.text)
        << QString::fromStdU16String(Boxes().Boxes().back().text).toStdString();
    EXPECT_EQ(dlg->TransportMode(), 0u);
    EXPECT_TRUE(dlg->RecordingLight()->isHidden());
    EXPECT_EQ(dlg->Button(kIdRecord)->text(), "BUTREC");
    EXPECT_EQ(dlg->Button(kIdMasterPlay)->text(), "MBUTPLAY");
    ASSERT_TRUE(student->WaitForRecordingEnd());
    EXPECT_TRUE(StudentTake(student) == take) << "the Student's take stays";
  }

  ExpectRecordAndPlayWorkAgain(0);  // a new take replaces the old one
}

}  // namespace
}  // namespace vts::ui
