// Device choice and levels on the virtual sound backend: the sliders' menus (the real popup
// replaced by a scripted one), what a choice changes and writes, the filter of the virtual
// cable's endpoints, and the thumb's drag setting the endpoint's volume.
#include <QFile>
#include <QTest>

#include "core/settings_files.h"
#include "sound_track_test_access.h"
#include "test_env.h"
#include "transport_fixture.h"
#include "ui/graphic_slider.h"

namespace vts::ui {
namespace {

using test::WindowTest;
using Items = std::vector<CMainDlg::MenuItem>;

std::string Flat(const Items& items) {
  std::string out;
  for (const CMainDlg::MenuItem& i : items) {
    if (!out.empty()) out += " | ";
    if (i.separator) {
      out += "-";
      continue;
    }
    char id[16];
    std::snprintf(id, sizeof id, "%X", i.id);
    out += std::string(id) + " " + i.text.toStdString() + (i.checked ? " [x]" : "");
  }
  return out;
}

class Devices : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    auto v = audio::VirtualEndpoints::Instance();
    v->AddDevice({"second_speaker", "Second Speaker", DataFlow::Render});
    v->AddDevice({"cable_out", "CABLE Output (VB-Audio Virtual Cable)", DataFlow::Capture});
    v->AddDevice({"usb_mic", "Microphone", DataFlow::Capture});
    settingsPath = vts::test::MakeTempDir("wave") + "/WaveDevice.ini";
    core->waveDeviceSettingsPath = settingsPath;
    core->outputDeviceName = u"virtual_speaker";
    core->inputDeviceName = u"virtual_mic";
    dlg->SetPopupMenu([this](const Items& items, QPoint) {
      shown.push_back(items);
      return answer;
    });
  }
  void RightClick(QWidget* w) { dlg->OnContextMenu(w, QPoint(5, 5)); }
  std::u16string Stored(bool output) {
    std::u16string out, in;
    EXPECT_TRUE(ReadWaveDeviceSettings(out, in, settingsPath));
    return output ? out : in;
  }
  std::string settingsPath;
  std::vector<Items> shown;
  std::uint32_t answer = 0;
};

TEST(DeviceFilter, VirtualCableEndpointsAreTakenOutByTheirExactName) {
  std::vector<SoundDeviceEntry> list = {
      {u"a", u"Speakers"},
      {u"b", u"CABLE Input (VB-Audio Virtual Cable)"},
      {u"c", u"vb-audio virtual cable"},
      {u"d", u"VB-Audio Virtual Cabl"},
      {u"e", u"VB-Audio Virtual Cable"},
      {u"f", u"Headset"},
  };
  EXPECT_EQ(RemoveVirtualCableDevices(list), 2u);
  std::vector<std::u16string> ids;
  for (const SoundDeviceEntry& e : list) ids.push_back(e.id);
  EXPECT_EQ(ids, (std::vector<std::u16string>{u"a", u"c", u"d", u"f"}));
  std::vector<SoundDeviceEntry> none;
  EXPECT_EQ(RemoveVirtualCableDevices(none), 0u);
}

TEST_F(Devices, MenusListTheEndpointsWithoutTheCableAndCheckTheCurrentOnes) {
  student->SetRecordSources(1);  // the Student's sources are the ones checked
  master->SetRecordSources(3);
  RightClick(dlg->InputSlider());
  RightClick(dlg->VolumeSlider());
  master->SetOutputDevice(u"virtual_speaker_gone");
  RightClick(dlg->VolumeSlider());
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(Flat(shown[0]),
            "FFFF0001 Mic only [x] | FFFF0002 PC only | FFFF0003 Mic and PC | - | "
            "1 Virtual Microphone [x] | 2 Microphone");
  EXPECT_EQ(Flat(shown[1]), "1 Virtual Speaker [x] | 2 Second Speaker");
  EXPECT_EQ(Flat(shown[2]), "1 Virtual Speaker | 2 Second Speaker") << "no exact match, no check";
  EXPECT_FALSE(QFile::exists(QString::fromStdString(settingsPath))) << "dismissed: nothing written";
}

TEST_F(Devices, EveryRightClickStopsFirstAndTheBackgroundShowsNoMenu) {
  CSoundTrackTestAccess::SetPlaying(*master, true);
  CSoundTrackTestAccess::SetRecording(*student, true);
  RightClick(dlg.get());
  EXPECT_TRUE(shown.empty());
  EXPECT_FALSE(master->IsPlaying());
  EXPECT_FALSE(student->IsRecording());
  CSoundTrackTestAccess::SetPlaying(*master, true);
  RightClick(dlg->VolumeSlider());  // dismissed
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_FALSE(master->IsPlaying());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(settingsPath)));
}

TEST_F(Devices, ASourceChoiceSetsBothTracksAndRewritesTheFileWithTheSameNames) {
  answer = 0xFFFF0002;
  RightClick(dlg->InputSlider());
  EXPECT_EQ(master->RecordSources(), 2u);
  EXPECT_EQ(student->RecordSources(), 2u);
  EXPECT_EQ(Stored(true), u"virtual_speaker");
  EXPECT_EQ(Stored(false), u"virtual_mic");
  answer = 0;
  RightClick(dlg->InputSlider());
  EXPECT_EQ(Flat(shown.back()).substr(0, 44), "FFFF0001 Mic only | FFFF0002 PC only [x] | F");
}

TEST_F(Devices, ADeviceChoiceMovesBothTracksTheCoreTheFileAndTheThumb) {
  auto v = audio::VirtualEndpoints::Instance();
  ASSERT_TRUE(v->SetVolumeState("second_speaker", 0.5f, false));
  ASSERT_TRUE(v->SetVolumeState("usb_mic", 0.25f, false));
  answer = 2;
  RightClick(dlg->VolumeSlider());
  for (CSoundTrack* t : {master, student}) EXPECT_EQ(t->OutputDevice(), u"second_speaker");
  EXPECT_EQ(core->outputDeviceName, u"second_speaker");
  EXPECT_EQ(Stored(true), u"second_speaker");
  EXPECT_EQ(dlg->VolumeSlider()->ThumbOffset(), 33);  // 66 x 0.5
  ASSERT_NE(master->OutputVolume(), nullptr);
  EXPECT_EQ(master->OutputVolume()->Id(), "second_speaker");

  RightClick(dlg->InputSlider());  // Microphone is item 2 of the devices
  for (CSoundTrack* t : {master, student}) EXPECT_EQ(t->InputDevice(), u"usb_mic");
  EXPECT_EQ(core->inputDeviceName, u"usb_mic");
  EXPECT_EQ(Stored(false), u"usb_mic");
  EXPECT_EQ(Stored(true), u"second_speaker");
  EXPECT_EQ(dlg->InputSlider()->ThumbOffset(), 16);  // 66 x 0.25, truncated
}

TEST_F(Devices, DraggingAThumbSetsItsEndpointsVolume) {
  auto v = audio::VirtualEndpoints::Instance();
  struct Case {
    CGraphicSlider* slider;
    const char* endpoint;
    int y;
    float level;
  };
  const Case cases[] = {
      {dlg->VolumeSlider(), "virtual_speaker", 39, 0.59f},
      {dlg->VolumeSlider(), "virtual_speaker", 0, 1.0f},
      {dlg->InputSlider(), "virtual_mic", 91, 0.0f},
      {dlg->InputSlider(), "virtual_mic", 39, 0.59f},
  };
  dlg->show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.endpoint + std::to_string(c.y));
    ASSERT_TRUE(v->SetVolumeState(c.endpoint, 0.3f, false));
    QTest::mousePress(c.slider, Qt::LeftButton, {}, QPoint(10, c.y));
    float level = -1;
    bool muted = true;
    for (int i = 0; i < 200; ++i) {
      QCoreApplication::sendPostedEvents();
      ASSERT_TRUE(v->VolumeState(c.endpoint, &level, &muted));
      if (level != 0.3f) break;
      QTest::qWait(10);
    }
    EXPECT_NEAR(level, c.level, 1e-4);
    QTest::mouseRelease(c.slider, Qt::LeftButton, {}, QPoint(10, c.y));
    // The release's SB_ENDSCROLL sets nothing.
    ASSERT_TRUE(v->SetVolumeState(c.endpoint, 0.3f, false));
    QCoreApplication::sendPostedEvents();  // the release's report has run
    ASSERT_TRUE(v->VolumeState(c.endpoint, &level, &muted));
    EXPECT_EQ(level, 0.3f);
  }
}

}  // namespace
}  // namespace vts::ui
