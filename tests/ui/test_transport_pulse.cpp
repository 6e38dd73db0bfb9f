// The recorder window end to end on the private PulseAudio server, driven like a user: open
// a WAV lesson of 3 chunks, play chunk 1 to its end, record the Student in sequential
// recording while a tone plays into the microphone, step on, save the Student as a package
// and open that package on the Master. Fails (never skips) when the server is missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "core/app_core.h"
#include "notify_relay.h"
#include "platform/message_box.h"
#include "pulse_util.h"
#include "test_env.h"
#include "test_files.h"
#include "tracks/chunk_info.h"
#include "tracks/notify.h"
#include "tracks/sound_track.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"

namespace vts::ui {
namespace {

using ::vts::test::WriteWav;
using ::vts::test::ZeroCrossingHz;

std::string Server() { return test::PulseTestServer(); }

std::string Shell(const std::string& cmd) { return test::RunShell(cmd); }

TEST(RecorderWindowOnPulse, LessonPlayedRecordedSavedAndReopened) {
  ASSERT_FALSE(Server().empty()) << "PULSE_SERVER / VTS_PULSE_TEST_SERVER not set: start "
                                    "scripts/pulse-test-server.sh";
  setenv("PULSE_SERVER", Server().c_str(), 1);
  ASSERT_FALSE(Shell("pactl -s '" + Server() + "' info 2>&1 | grep -i 'server name'").empty());
  test::OffscreenApplication app;

  // The lesson: 1.5 s of a quiet 300 Hz tone in 3 chunks of 500 ms.
  const std::string dir = test::MakeTempDir("lesson");
  std::vector<std::int16_t> lesson(44100 * 3 / 2);
  for (std::size_t i = 0; i < lesson.size(); ++i)
    lesson[i] = std::int16_t(3000 * std::sin(2 * M_PI * 300 * double(i) / 44100));
  WriteWav(dir + "/lesson.wav", lesson);
  {
    std::ofstream cif(dir + "/lesson.cif", std::ios::binary);
    for (std::uint32_t r : {0u, 500u, 500u, 500u, 1000u, 500u})
      cif.write(reinterpret_cast<const char*>(&r), 4);
  }

  auto core = std::make_unique<CAppCore>();
  g_pAppCore = core.get();
  core->SetAudioDeviceNames(u"vts_speaker", u"vts_mic");
  CSoundTrack* master = core->masterTrack;
  CSoundTrack* student = core->studentTrack;
  student->SetRecordSources(CSoundTrack::kRecordInput);
  {
    auto dlg = std::make_unique<CMainDlg>();
    test::WindowNotices notices(dlg.get(), master, student);
    std::deque<QString> answers;
    dlg->SetFileDialog([&](const CMainDlg::FileDialogRequest&) {
      QString a = answers.empty() ? QString() : answers.front();
      if (!answers.empty()) answers.pop_front();
      return a;
    });
    dlg->show();

    // Open.
    answers = {QString::fromStdString(dir + "/lesson.wav")};
    dlg->Dispatch(1027, BN_CLICKED);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->isEnabled(); }, 20000));
    ASSERT_EQ(master->ChunkCount(), 3);
    ASSERT_EQ(master->CurrentChunkIndex(), 0);

    // Chunk 1 to its end: mode 0, nothing follows.
    dlg->Dispatch(1012, BN_CLICKED);
    ASSERT_TRUE(master->IsPlaying());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !master->IsPlaying(); }, 20000));
    QTest::qWait(200);
    EXPECT_EQ(dlg->TransportMode(), 0u);
    EXPECT_FALSE(student->IsRecording());

    // A tone into the microphone, then sequential recording one chunk on (right click):
    // the Master plays chunk 2, at its end the Student records.
    const std::string toneCmd =
        "sox -q -n -t raw -r 44100 -e signed -b 16 -c 1 - synth 30 sine 660 vol 0.3 | "
        "pacat -s '" +
        Server() +
        "' --device=vts_mic_in --raw --format=s16le "
        "--rate=44100 --channels=1 >/dev/null 2>&1 & echo $!";
    const std::string tonePid = Shell(toneCmd);
    dlg->Dispatch(1038, NM_RCLICK);
    EXPECT_EQ(dlg->TransportMode(), 5u);
    EXPECT_EQ(master->CurrentChunkIndex(), 1);
    EXPECT_EQ(student->CurrentChunkIndex(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return student->IsRecording(); }, 20000))
        << "the Master's end starts the recording";
    EXPECT_EQ(dlg->TransportMode(), 5u);
    // About 2.5 s of sound; a busy server may deliver the first blocks late, so wait for the
    // sound itself rather than for the clock.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          std::lock_guard lock(student->BufferLock());
          CChunkInfo* c = student->CurrentChunk();
          return c && c->length >= 44100u * 5 / 2;
        },
        20000))
        << "the microphone's sound reaches the Student";

    // Step to chunk 3 (the recording stops with the switch), then save the Student.
    dlg->Dispatch(1025, BN_CLICKED);
    EXPECT_EQ(master->CurrentChunkIndex(), 2);
    EXPECT_EQ(student->CurrentChunkIndex(), 2);
    if (!tonePid.empty()) Shell("kill " + tonePid + " 2>/dev/null");
    dlg->Dispatch(1036, BN_CLICKED);
    const std::string package = dir + "/work.vxb";
    answers = {QString::fromStdString(package)};
    dlg->Dispatch(1023, BN_CLICKED);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dlg->isEnabled() && !student->SavePending(); }, 30000));
    ASSERT_TRUE(student->LastSaveOk());
    ASSERT_EQ(::access(package.c_str(), F_OK), 0);

    // The package on the Master: 3 chunks, the tone in the second.
    answers = {QString::fromStdString(package)};
    dlg->Dispatch(1027, BN_CLICKED);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->isEnabled() && !master->LoadPending(); }, 30000));
    ASSERT_EQ(master->ChunkCount(), 3);
    master->SelectChunk(1);
    CChunkInfo* chunk = master->CurrentChunk();
    ASSERT_NE(chunk, nullptr);
    ASSERT_GT(chunk->length, 44100u) << "about 2.5 s were recorded into the second chunk";
    const auto* rec = reinterpret_cast<const std::int16_t*>(chunk->data);
    ASSERT_NE(rec, nullptr);
    const std::size_t n = 22050, from = chunk->length - n - 4410;
    EXPECT_NEAR(ZeroCrossingHz(rec + from, n), 660.0, 10.0);
    EXPECT_EQ(master->Chunk(0)->length, 0u) << "nothing was recorded in the first chunk";
  }
  core.reset();
  g_pAppCore = nullptr;
}

}  // namespace
}  // namespace vts::ui
