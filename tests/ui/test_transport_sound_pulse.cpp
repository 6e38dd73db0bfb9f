// What the modes really play, measured on the speaker's monitor of the private PulseAudio
// server: the Master chunk carries marker tones (head 1600 Hz, body 440 Hz, tail 2400 Hz),
// the Student's chunk 900 Hz, and every 20 ms window is labelled by which tones it holds.
// A Master part that is cut, or a Student that does not follow, shows by name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/app_core.h"
#include "notify_relay.h"
#include "platform/message_box.h"
#include "pulse_util.h"
#include "test_env.h"
#include "tone_share.h"
#include "track_doubles.h"
#include "tracks/chunk_info.h"
#include "tracks/notify.h"
#include "tracks/sound_track.h"
#include "tracks/transport.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"

namespace vts::ui {
namespace {

constexpr int kRate = 44100;
constexpr int kWindow = kRate / 50;  // 20 ms

std::vector<std::int16_t> Tones(std::initializer_list<std::pair<double, double>> parts) {
  std::vector<std::int16_t> s;
  for (auto [hz, seconds] : parts) {
    const std::size_t n = std::size_t(seconds * kRate);
    for (std::size_t i = 0; i < n; ++i)
      s.push_back(std::int16_t(6000 * std::sin(2 * M_PI * hz * double(i) / kRate)));
  }
  return s;
}

struct Part {
  double seconds = 0;
  bool head = false, tail = false;  // the marker tones at its two ends
};

// The Master's parts in a recording of the monitor: runs of windows holding a Master tone.
std::vector<Part> MasterParts(const std::vector<std::int16_t>& rec) {
  std::vector<Part> parts;
  int run = 0, gap = 0;
  bool head = false, tail = false;
  auto close = [&] {
    if (run >= 5) parts.push_back({run * 0.02, head, tail});
    run = 0;
    head = tail = false;
  };
  for (std::size_t at = 0; at + kWindow <= rec.size(); at += kWindow) {
    const std::int16_t* w = rec.data() + at;
    const double h = test::ToneShare(w, kWindow, 1600), b = test::ToneShare(w, kWindow, 440),
                 t = test::ToneShare(w, kWindow, 2400);
    if (h + b + t > 0.2) {
      run += 1 + gap;
      gap = 0;
      head = head || h > 0.2;
      tail = tail || t > 0.2;
    } else if (run > 0 && ++gap > 2) {
      gap = 0;
      close();
    }
  }
  close();
  return parts;
}

// The speaker's monitor recorded to a file from before the press on.
class MonitorRecording {
 public:
  MonitorRecording(const std::string& sink, const std::string& path) : path_(path) {
    pid_ = test::RunShell("parecord -s '" + test::PulseTestServer() + "' -d " + sink +
                          ".monitor --raw --format=s16le --rate=44100 "
                          "--channels=1 --latency-msec=20 '" +
                          path + "' >/dev/null 2>&1 & echo $!");
  }
  ~MonitorRecording() { Stop(); }
  double Seconds() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 ? double(st.st_size) / (2.0 * kRate) : 0;
  }
  // Sound takes its time to arrive on a monitor: wait until the recording runs.
  bool WaitRunning() {
    const double start = Seconds();
    return QTest::qWaitFor([&] { return Seconds() > start + 0.5; }, 20000);
  }
  std::vector<std::int16_t> Stop() {
    if (!pid_.empty())
      test::RunShell("kill " + pid_ + "; while kill -0 " + pid_ +
                     " 2>/dev/null; do sleep 0.05; done");
    pid_.clear();
    std::ifstream f(path_, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
    std::vector<std::int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
  }

 private:
  std::string path_, pid_;
};

class ModesOnPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(test::PulseTestServer().empty())
        << "PULSE_SERVER / VTS_PULSE_TEST_SERVER not set: start scripts/pulse-test-server.sh";
    setenv("PULSE_SERVER", test::PulseTestServer().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app = std::make_unique<QApplication>(argc, argv);
    plat::SetMessageBoxService(std::make_shared<plat::RecordingMessageBoxService>());
    // A speaker of its own: other tests' sound on the shared one would mix into the
    // measurement.
    sink = "vts_modes_" + std::to_string(::getpid());
    sinkModule = test::RunShell("pactl -s '" + test::PulseTestServer() +
                                "' load-module module-null-sink sink_name=" + sink);
    ASSERT_FALSE(sinkModule.empty());
    core = std::make_unique<CAppCore>();
    g_pAppCore = core.get();
    core->SetAudioDeviceNames(std::u16string(sink.begin(), sink.end()), u"vts_mic");
    master = core->masterTrack;
    student = core->studentTrack;
    dlg = std::make_unique<CMainDlg>();
    relay = std::make_unique<test::Relay>(dlg.get());
    for (CSoundTrack* t : {master, student})
      t->SetNotifyTarget(NotifyTarget{0, relay.get(), WM_TRACKNOTIFY});
    dir = test::MakeTempDir("modes");
    // A 2 s Master chunk with marked ends, a 1 s Student chunk.
    for (auto [t, samples] : {std::pair{master, Tones({{1600, 0.5}, {440, 1.0}, {2400, 0.5}})},
                              std::pair{student, Tones({{900, 1.0}})}}) {
      ASSERT_NE(t->AddChunk(), nullptr);
      t->SelectChunk(0);
      std::lock_guard lock(t->BufferLock());
      test::FillChunk(t->CurrentChunk(), samples);
    }
    dlg->show();
  }
  void TearDown() override {
    for (CSoundTrack* t : {master, student}) {
      t->StopAll();
      t->SetNotifyTarget(NotifyTarget{});
    }
    QTest::qWait(50);  // notices already queued for the window go with it
    dlg.reset();
    relay.reset();
    g_pAppCore = nullptr;
    core.reset();
    plat::SetMessageBoxService(nullptr);
    app.reset();
    if (!sinkModule.empty())
      test::RunShell("pactl -s '" + test::PulseTestServer() + "' unload-module " + sinkModule);
  }

  int argc = 1;
  char name[5] = "test";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> app;
  std::unique_ptr<CAppCore> core;
  CSoundTrack* master = nullptr;
  CSoundTrack* student = nullptr;
  std::unique_ptr<CMainDlg> dlg;
  std::unique_ptr<test::Relay> relay;
  std::string dir;
  std::string sink, sinkModule;
};

TEST_F(ModesOnPulse, SimultaneousPlaybackPlaysTheWholeMasterChunkBesideTheStudent) {
  MonitorRecording monitor(sink, dir + "/monitor.raw");
  ASSERT_TRUE(monitor.WaitRunning());
  dlg->Dispatch(kIdSimPlay, BN_CLICKED);
  ASSERT_EQ(dlg->TransportMode(), 2u);
  const double pressed = monitor.Seconds();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !master->IsPlaying() && !student->IsPlaying(); }, 20000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return monitor.Seconds() > pressed + 3.5; }, 20000));
  const std::vector<Part> parts = MasterParts(monitor.Stop());
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_NEAR(parts[0].seconds, 2.0, 0.1);
  EXPECT_TRUE(parts[0].head);
  EXPECT_TRUE(parts[0].tail);
}

TEST_F(ModesOnPulse, ContinuousComparisonPlaysEveryMasterPartWhole) {
  MonitorRecording monitor(sink, dir + "/monitor.raw");
  ASSERT_TRUE(monitor.WaitRunning());
  dlg->Dispatch(kIdRepeat, BN_CLICKED);
  ASSERT_EQ(dlg->TransportMode(), 1u);
  const double pressed = monitor.Seconds();
  // Master, Student, Master, Student: 6 s, then a margin for the monitor.
  ASSERT_TRUE(QTest::qWaitFor([&] { return monitor.Seconds() > pressed + 7.5; }, 30000));
  dlg->Dispatch(kIdStop, BN_CLICKED);
  const std::vector<Part> parts = MasterParts(monitor.Stop());
  ASSERT_GE(parts.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(parts[i].seconds, 2.0, 0.1);
    EXPECT_TRUE(parts[i].head);
    EXPECT_TRUE(parts[i].tail);
  }
}

}  // namespace
}  // namespace vts::ui
