// Device choice and levels of the real window on the private PulseAudio server: the sliders'
// menus list the server's sinks and non-monitor sources without a virtual cable's, a drag
// sets the endpoint's volume as the server shows it, and a chosen sink moves both tracks,
// the wave-device file and the thumb. The real popup menu once. Fails (never skips) when the
// server is missing.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <sstream>

#include "core/app_core.h"
#include "core/settings_files.h"
#include "platform/message_box.h"
#include "pulse_util.h"
#include "test_env.h"
#include "tracks/sound_track.h"
#include "ui/graphic_slider.h"
#include "ui/main_dialog.h"

namespace vts::ui {
namespace {

using Items = std::vector<CMainDlg::MenuItem>;

// "pactl list short <kind>" names.
std::vector<std::string> Names(const std::string& kind) {
  std::istringstream in(test::RunShell("pactl list short " + kind + " | cut -f2"));
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    QTest::qWait(25);
  }
  return done();
}

class DevicesPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(test::PulseTestServer().empty()) << "no private PulseAudio server";
    setenv("PULSE_SERVER", test::PulseTestServer().c_str(), 1);
    if (!qApp) {
      // One application for the process (ctest runs each test in a process of its own).
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      static int argc = 1;
      static char name[] = "test";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);
    }
    levels = std::make_unique<test::ServerLevelsKeeper>(std::vector<std::string>{"vts_speaker"},
                                                        std::vector<std::string>{"vts_mic"});
    sinkModule = test::RunShell(
        "pactl load-module module-null-sink sink_name=vts_extra "
        "sink_properties=device.description=VTS_Extra");
    cableModule = test::RunShell(
        "pactl load-module module-remap-source source_name=vts_cable master=vts_mic_in.monitor "
        "\"source_properties=\\\"device.description='CABLE Output (VB-Audio Virtual "
        "Cable)'\\\"\"");
    ASSERT_FALSE(sinkModule.empty());
    ASSERT_FALSE(cableModule.empty());
    test::RunShell(
        "pactl set-sink-volume vts_extra 50%; pactl set-sink-volume vts_speaker 30%;"
        "pactl set-source-volume vts_mic 30%");
    plat::SetMessageBoxService(std::make_shared<plat::RecordingMessageBoxService>());
    core = std::make_unique<CAppCore>();
    g_pAppCore = core.get();
    core->SetAudioDeviceNames(u"vts_speaker", u"vts_mic");
    core->outputDeviceName = u"vts_speaker";
    core->inputDeviceName = u"vts_mic";
    settingsPath = test::MakeTempDir("wave") + "/WaveDevice.ini";
    core->waveDeviceSettingsPath = settingsPath;
    dlg = std::make_unique<CMainDlg>();
    dlg->show();
  }
  void TearDown() override {
    dlg.reset();
    g_pAppCore = nullptr;
    core.reset();
    plat::SetMessageBoxService(nullptr);
    if (!cableModule.empty()) test::RunShell("pactl unload-module " + cableModule);
    if (!sinkModule.empty()) test::RunShell("pactl unload-module " + sinkModule);
    levels.reset();
  }
  std::unique_ptr<CAppCore> core;
  std::unique_ptr<CMainDlg> dlg;
  std::string sinkModule, cableModule, settingsPath;
  std::unique_ptr<test::ServerLevelsKeeper> levels;
};

TEST_F(DevicesPulse, MenusListTheServersEndpointsAndAChoiceMovesEverything) {
  std::vector<Items> shown;
  std::uint32_t answer = 0;
  dlg->SetPopupMenu([&](const Items& items, QPoint) {
    shown.push_back(items);
    return answer;
  });
  dlg->OnContextMenu(dlg->VolumeSlider(), QPoint(3, 3));
  dlg->OnContextMenu(dlg->InputSlider(), QPoint(3, 3));
  ASSERT_EQ(shown.size(), 2u);

  std::vector<QString> sinks, sources;
  for (const auto& i : shown[0]) sinks.push_back(i.text);
  for (std::size_t i = 4; i < shown[1].size(); ++i) sources.push_back(shown[1][i].text);
  const std::vector<std::string> serverSinks = Names("sinks");
  std::size_t serverSources = 0;
  for (const std::string& s : Names("sources"))
    if (s.find(".monitor") == std::string::npos) ++serverSources;
  EXPECT_EQ(sinks.size(), serverSinks.size());
  EXPECT_EQ(sources.size(), serverSources - 1) << "the cable's source is not offered";
  for (const QString& s : sources) EXPECT_FALSE(s.contains(QStringLiteral("VB-Audio")));
  EXPECT_NE(std::find(sources.begin(), sources.end(), QStringLiteral("VTS_Microphone")),
            sources.end());
  const auto extra = std::find(sinks.begin(), sinks.end(), QStringLiteral("VTS_Extra"));
  ASSERT_NE(extra, sinks.end());
  const auto speaker = std::find(sinks.begin(), sinks.end(), QStringLiteral("VTS_Speaker"));
  ASSERT_NE(speaker, sinks.end());
  EXPECT_TRUE(shown[0][speaker - sinks.begin()].checked);

  answer = static_cast<std::uint32_t>(extra - sinks.begin()) + 1;
  dlg->OnContextMenu(dlg->VolumeSlider(), QPoint(3, 3));
  for (CSoundTrack* t : {core->masterTrack, core->studentTrack})
    EXPECT_EQ(t->OutputDevice(), u"vts_extra");
  std::u16string out, in;
  ASSERT_TRUE(ReadWaveDeviceSettings(out, in, settingsPath));
  EXPECT_EQ(out, u"vts_extra");
  EXPECT_EQ(in, u"vts_mic");
  EXPECT_EQ(dlg->VolumeSlider()->ThumbOffset(), 33) << "66 x the sink's 50 %";
}

TEST_F(DevicesPulse, ADragShowsInTheServersVolumes) {
  struct Case {
    CGraphicSlider* slider;
    std::string query;
  };
  const Case cases[] = {
      {dlg->VolumeSlider(), "pactl get-sink-volume vts_speaker"},
      {dlg->InputSlider(), "pactl get-source-volume vts_mic"},
  };
  for (const Case& c : cases) {
    QTest::mousePress(c.slider, Qt::LeftButton, {}, QPoint(10, 60));
    QTest::mouseMove(c.slider, QPoint(10, 39));
    QTest::mouseRelease(c.slider, Qt::LeftButton, {}, QPoint(10, 39));
    EXPECT_TRUE(WaitFor([&] { return test::RunShell(c.query).find(" 59% ") != std::string::npos; }))
        << c.query << ": " << test::RunShell(c.query);
  }
}

TEST_F(DevicesPulse, TheRealMenuShowsTheItemsAndItsChoiceCounts) {
  QStringList texts;
  // Looks for the popup until it is up (the menu runs its own loop meanwhile).
  std::function<void()> answer = [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) {
      QTimer::singleShot(20, answer);
      return;
    }
    for (QAction* a : menu->actions())
      texts.append(a->isSeparator()
                       ? QStringLiteral("-")
                       : a->text() + (a->isChecked() ? QStringLiteral(" [x]") : QString()));
    for (QAction* a : menu->actions())
      if (a->text() == QStringLiteral("PC only")) menu->setActiveAction(a);
    QTest::keyClick(menu, Qt::Key_Return);
  };
  QTimer::singleShot(0, answer);
  dlg->OnContextMenu(dlg->InputSlider(), QPoint(3, 3));
  ASSERT_GE(texts.size(), 5);
  EXPECT_EQ(texts.mid(0, 4), (QStringList{QStringLiteral("Mic only"), QStringLiteral("PC only"),
                                          QStringLiteral("Mic and PC [x]"), QStringLiteral("-")}));
  EXPECT_TRUE(texts.contains(QStringLiteral("VTS_Microphone [x]")));
  EXPECT_EQ(core->masterTrack->RecordSources(), 2u);
  EXPECT_EQ(core->studentTrack->RecordSources(), 2u);
}

}  // namespace
}  // namespace vts::ui
