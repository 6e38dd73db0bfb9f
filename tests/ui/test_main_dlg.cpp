// The recorder window: controls of the template at their places, the command table, the
// remote click, Enter, painting (labels, version, logo, times), dropping files, and a
// screenshot of the window at start.
#include <gtest/gtest.h>

#include <QDir>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <thread>
#include <QDropEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSet>
#include <QTest>

#include "fake_waveform_host.h"
#include "platform/message_box.h"
#include "skin_host.h"
#include "test_env.h"
#include "ui/dialog_messages.h"
#include "ui/dialog_template.h"
#include "ui/gdi_font.h"
#include "ui/graphic_slider.h"
#include "ui/led_number.h"
#include "ui/main_dialog.h"
#include "ui/transparent_button.h"
#include "ui/waveform_widget.h"

namespace vts::ui {
namespace {

using test::Near;

class TestDlg : public CMainDlg {
 public:
  QStringList opened;
  bool discardAnswer = true;
  int discardAsked = 0;

 protected:
  bool ConfirmDiscard() override {
    ++discardAsked;
    return discardAnswer;
  }
  void OpenMedia(const QString& path) override { opened.append(path); }
};

class MainDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes);
    dlg = std::make_unique<TestDlg>();
    dlg->LoadLogo(QString::fromStdString(vts::test::MakeTempDir("nologo")));
  }
  void TearDown() override {
    dlg.reset();
    plat::SetMessageBoxService(nullptr);
  }
  QImage Shot() { return dlg->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  QImage Background() {
    return dlg->GetScrollBarCtrl(ISkinHost::kBackgroundKey)->convertToFormat(QImage::Format_RGB32);
  }
  // Bounding box of the pixels that differ from the background inside `area`.
  QRect Differences(const QImage& shot, const QImage& background, const QRect& area,
                    const QRect& skip = QRect()) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x) {
        if (skip.contains(x, y)) continue;
        if (!Near(shot.pixelColor(x, y), background.pixelColor(x, y), 24))
          box = box.united(QRect(x, y, 1, 1));
      }
    return box;
  }
  void Drop(const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(dlg.get(), &enter);
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(dlg.get(), &drop);
  }

  std::shared_ptr<plat::RecordingMessageBoxService> boxes;
  std::unique_ptr<TestDlg> dlg;
};

TEST_F(MainDlgTest, EveryControlOfTheTemplateStandsWhereTheTableSaysWithItsKindAndVisibility) {
  EXPECT_EQ(dlg->size(), QSize(516, 470));
  EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(dlg->windowTitle(), "Recorder");
  for (const ControlTemplate& t : DialogTemplate()) {
    if (t.id == -1) continue;
    SCOPED_TRACE(t.id);
    QWidget* w = dlg->Control(t.id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->pos(), DuToPixels(t.x, t.y, t.w, t.h).topLeft());
    EXPECT_EQ(w->isVisibleTo(dlg.get()), t.visible);
    if (t.kind == ControlKind::Button) {
      auto* b = dlg->Button(t.id);
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(b->text(), QString::fromLatin1(t.text));
      EXPECT_EQ(b->ControlId(), t.id);
      EXPECT_EQ(b->size(), LoadSkin(b->text() + 'U').image.size()) << "sized to its bitmap";
    }
  }
  EXPECT_EQ(DuToPixels(6, 28, 65, 14), QRect(9, 46, 98, 23));
  EXPECT_EQ(DuToPixels(303, 219, 17, 70).topLeft(), QPoint(455, 356));
  EXPECT_EQ(dlg->ChunkNumber()->size(), QSize(64, 40));
  EXPECT_EQ(dlg->VolumeSlider()->size(), QSize(27, 91));
  EXPECT_EQ(dlg->InputSlider()->size(), QSize(27, 91));
  EXPECT_TRUE(dlg->FileNameEdit()->isReadOnly());
  EXPECT_EQ(dlg->Control(1031), dlg->MasterTextEdit());
  EXPECT_EQ(dlg->Control(1045), dlg->StudentTextEdit());
  EXPECT_EQ(dlg->Control(1033), nullptr) << "the Master pause is a command without a control";
  EXPECT_NE(dlg->Button(1033), nullptr);
  EXPECT_EQ(dlg->ChunkNumber()->Number(), 0);
  EXPECT_EQ(dlg->TransportMode(), 0u);
}

TEST_F(MainDlgTest, CommandTableHasOneHandlerPerIdAndCodeForTheTemplateControls) {
  QSet<QPair<int, int>> seen;
  QSet<QString> names;
  for (const auto& e : CMainDlg::CommandTable()) {
    EXPECT_FALSE(seen.contains({e.id, e.code})) << e.id;
    seen.insert({e.id, e.code});
    EXPECT_FALSE(names.contains(e.name)) << e.name;
    names.insert(e.name);
    if (e.id != 1033) {
      EXPECT_NE(FindTemplate(e.id), nullptr) << e.id;
    }
  }
  EXPECT_EQ(CMainDlg::CommandTable().size(), 41u);
  for (int id : {1021, 1020, 1037, 1038, 1039, 1040}) EXPECT_TRUE(seen.contains({id, NM_RCLICK}));
  EXPECT_TRUE(seen.contains({1026, STN_DBLCLK}));
  EXPECT_TRUE(seen.contains({1031, EN_CHANGE}));
  EXPECT_FALSE(seen.contains({1032, BN_CLICKED})) << "BUTCUT has no handler";
}

TEST_F(MainDlgTest, ClicksRightClicksAndRemoteClicksAllGoThroughTheTable) {
  std::vector<std::pair<int, int>> seen;
  dlg->SetDispatchObserver([&](int id, int code) { seen.emplace_back(id, code); });
  dlg->Button(1017)->click();
  dlg->OnNotify(1038, NM_RCLICK);
  dlg->Button(1018)->setEnabled(false);
  dlg->Button(1018)->click();  // a disabled control ignores the user ...
  EXPECT_TRUE(dlg->ClickControl(1018, false));  // ... but not the remote control
  EXPECT_TRUE(dlg->ClickControl(1033, false));
  EXPECT_TRUE(dlg->ClickControl(1039, true));
  EXPECT_TRUE(dlg->ClickControl(1026, false));
  EXPECT_FALSE(dlg->ClickControl(1021, true)) << "a right click that is never mirrored";
  EXPECT_FALSE(dlg->ClickControl(1032, false));
  const std::vector<std::pair<int, int>> expected = {
      {1017, BN_CLICKED}, {1038, NM_RCLICK}, {1018, BN_CLICKED},
      {1033, BN_CLICKED}, {1039, NM_RCLICK}, {1026, STN_DBLCLK}};
  EXPECT_EQ(seen, expected);
}

TEST_F(MainDlgTest, RightClickOnASkinnedButtonGivesOneNmRclickAndNoContextMenu) {
  std::vector<std::pair<int, int>> seen;
  dlg->SetDispatchObserver([&](int id, int code) { seen.emplace_back(id, code); });
  int contextEvents = 0;
  struct Counter : QObject {
    int* n;
    explicit Counter(int* c) : n(c) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::ContextMenu) ++*n;
      return false;
    }
  } counter(&contextEvents);
  dlg->installEventFilter(&counter);
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  const QPoint at = dlg->Button(1037)->geometry().center();
  QTest::mouseClick(dlg->windowHandle(), Qt::RightButton, {}, at);
  QTest::qWait(20);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(1037, NM_RCLICK));
  EXPECT_EQ(contextEvents, 0) << "no context-menu event reaches the dialog";
}

TEST_F(MainDlgTest, EnterNeverClosesTheDialog) {
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  QTest::keyClick(dlg.get(), Qt::Key_Return);
  QTest::keyClick(dlg.get(), Qt::Key_Enter);
  dlg->FileNameEdit()->setFocus();
  QTest::keyClick(dlg->FileNameEdit(), Qt::Key_Return);
  dlg->Button(1017)->setFocus();
  QTest::keyClick(dlg->Button(1017), Qt::Key_Return);
  dlg->accept();
  QTest::qWait(20);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), 0);
  // In a chunk text Enter is a new line.
  dlg->MasterTextEdit()->setFocus();
  QTest::keyClicks(dlg->MasterTextEdit(), "a");
  QTest::keyClick(dlg->MasterTextEdit(), Qt::Key_Return);
  QTest::keyClicks(dlg->MasterTextEdit(), "b");
  EXPECT_EQ(dlg->MasterTextEdit()->toPlainText(), "a\nb");
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(MainDlgTest, EscapeAndTheWindowManagersCloseRunTheExitPath) {
  std::vector<std::pair<int, int>> seen;
  dlg->SetDispatchObserver([&](int id, int code) { seen.emplace_back(id, code); });
  // With nothing to save the exit path closes at once.
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  QTest::keyClick(dlg.get(), Qt::Key_Escape);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  dlg->close();
  EXPECT_FALSE(dlg->isVisible());
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  dlg->Button(1049)->click();
  EXPECT_FALSE(dlg->isVisible());
  const std::vector<std::pair<int, int>> expected = {{1049, BN_CLICKED}};
  EXPECT_EQ(seen, expected) << "only the button goes through the table; Esc and close call the path";
}

TEST_F(MainDlgTest, MessagesPostedFromAnotherThreadArriveInOrderOnTheGuiThread) {
  std::vector<uintptr_t> codes;
  bool onGuiThread = true;
  dlg->SetMessageObserver([&](unsigned message, uintptr_t code, intptr_t) {
    if (message != WM_TRACKNOTIFY) return;
    onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
    codes.push_back(code);
  });
  std::thread sender([&] {
    for (uintptr_t code = 0; code < 50; ++code) dlg->PostMessage(WM_TRACKNOTIFY, code % 11, 0);
  });
  sender.join();
  for (int i = 0; i < 200 && codes.size() < 50; ++i) QTest::qWait(10);
  ASSERT_EQ(codes.size(), 50u);
  for (uintptr_t i = 0; i < 50; ++i) EXPECT_EQ(codes[i], i % 11);
  EXPECT_TRUE(onGuiThread);
  EXPECT_EQ(dlg->SendMessage(0x9999, 1, 2), 0) << "an unknown message is ignored";
}

TEST_F(MainDlgTest, InAndOutAreWhiteAtTheirPoints) {
  const QImage shot = Shot(), background = Background();
  for (QRect area : {QRect(463, 345, 14, 12), QRect(482, 345, 24, 12)}) {
    int white = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x) {
        const QColor c = shot.pixelColor(x, y);
        if (c.red() >= 235 && c.green() >= 235 && c.blue() >= 235) ++white;
        EXPECT_LT(background.pixelColor(x, y).lightness(), 120);
      }
    EXPECT_GE(white, 4) << area.x();
  }
  const QRect in = Differences(shot, background, QRect(455, 340, 24, 16));
  EXPECT_GE(in.left(), 463);
  EXPECT_GE(in.top(), 345);
}

TEST_F(MainDlgTest, VersionTextStandsAt20x10WithoutALogoAndBesideALogo) {
  EXPECT_EQ(dlg->VersionText(), "Ver 1.0");
  EXPECT_EQ(dlg->LogoSize(), QSize(0, 0));
  const QRect header(0, 0, 200, 40);
  QRect text = Differences(Shot(), Background(), header);
  ASSERT_TRUE(text.isValid());
  EXPECT_GE(text.left(), 20);
  EXPECT_LE(text.left(), 23);
  EXPECT_GE(text.top(), 10);
  EXPECT_LE(text.top(), 16);

  // A logo found whatever its letter case; another .bmp does not count.
  const QString dir = QString::fromStdString(vts::test::MakeTempDir("logo"));
  QImage logo(60, 28, QImage::Format_RGB32);
  logo.fill(QColor(250, 250, 0));
  ASSERT_TRUE(logo.save(dir + "/LOGO_school.BMP", "BMP"));
  ASSERT_TRUE(logo.save(dir + "/mylogo.bmp", "BMP"));
  dlg->LoadLogo(dir);
  EXPECT_EQ(dlg->LogoSize(), QSize(60, 28));
  const QImage shot = Shot();
  EXPECT_TRUE(Near(shot.pixelColor(10, 10), QColor(250, 250, 0)));
  EXPECT_TRUE(Near(shot.pixelColor(69, 37), QColor(250, 250, 0)));
  const int textHeight = QFontMetrics(MakeGdiFont("Arial", 18, 7)).height();
  text = Differences(shot, Background(), QRect(0, 0, 260, 45), QRect(10, 10, 60, 28));
  ASSERT_TRUE(text.isValid());
  EXPECT_GE(text.left(), 80) << text.top() << " " << text.width() << "x" << text.height();
  EXPECT_LE(text.left(), 83);
  EXPECT_GE(text.top(), 28 - textHeight + 12);
  EXPECT_LE(text.top(), 28 - textHeight + 18);
}

TEST_F(MainDlgTest, TimeDisplaysShowTheirSourcesFormatted) {
  EXPECT_EQ(CMainDlg::FormatTime(0), "00:00.0");
  EXPECT_EQ(CMainDlg::FormatTime(83456), "01:23.4");
  EXPECT_EQ(CMainDlg::FormatTime(3600000), "60:00.0");
  EXPECT_EQ(CMainDlg::FormatTime(59999), "00:59.9");
  EXPECT_EQ(CMainDlg::FormatTime(6000000), "100:00.0");  // minutes widen past two digits
  EXPECT_EQ(CMainDlg::FormatTime(UINT32_MAX), "71582:47.2");
  const QImage before = Shot();
  dlg->SetTimeSources([] { return 83456u; }, [] { return 754321u; });
  const QImage after = Shot();
  EXPECT_TRUE(Differences(after, before, QRect(190, 53, 70, 20)).isValid());
  EXPECT_TRUE(Differences(after, before, QRect(10, 195, 100, 25)).isValid());
  EXPECT_FALSE(Differences(after, before, QRect(0, 0, 516, 45)).isValid());
}

TEST_F(MainDlgTest, PressedButtonShowsItsDownSkinAndTheMixerKeepsItsUpSkin) {
  auto composed = [&](CTransparentButton* b, const QString& skin) {
    QImage out(b->size(), QImage::Format_ARGB32_Premultiplied);
    QPainter p(&out);
    ComposeOverBackground(p, dlg->GetScrollBarCtrl(ISkinHost::kBackgroundKey), b->pos(),
                          LoadSkin(skin));
    return out.convertToFormat(QImage::Format_RGB32);
  };
  CTransparentButton* rec = dlg->Button(1017);
  rec->setDown(true);
  EXPECT_EQ(rec->grab().toImage().convertToFormat(QImage::Format_RGB32), composed(rec, "BUTRECD"));
  CTransparentButton* mixer = dlg->Button(1029);
  mixer->setDown(true);
  EXPECT_EQ(mixer->grab().toImage().convertToFormat(QImage::Format_RGB32),
            composed(mixer, "BUTMIXERU"));
  // MBUTPLAY is keyed: its corner shows the background.
  CTransparentButton* play = dlg->Button(1012);
  EXPECT_FALSE(play->HasAlpha());
  const QImage shot = play->grab().toImage();
  EXPECT_TRUE(Near(shot.pixelColor(0, 27), Background().pixelColor(play->x(), play->y() + 27), 2));
  // A skin change rebinds: BUTREC becomes BUTRECORDSTOP.
  EXPECT_TRUE(dlg->SetButtonSkin(1017, "BUTRECORDSTOP"));
  rec->setDown(false);
  EXPECT_EQ(rec->grab().toImage().convertToFormat(QImage::Format_RGB32),
            composed(rec, "BUTRECORDSTOPU"));
}

TEST_F(MainDlgTest, DroppingSeveralFilesOpensOnlyTheFirst) {
  Drop({QUrl("https://example.com/x.mp3"), QUrl::fromLocalFile("/tmp/in/a.Mp3"),
        QUrl::fromLocalFile("/tmp/in/b.wav")});
  EXPECT_EQ(dlg->opened, QStringList{"/tmp/in/a.Mp3"});
  EXPECT_EQ(dlg->discardAsked, 1);
  EXPECT_TRUE(boxes->Boxes().empty());
  Drop({QUrl::fromLocalFile("/tmp/in/lesson.vxb")});
  EXPECT_EQ(dlg->opened.size(), 2);
}

TEST_F(MainDlgTest, DroppingAVideoOrOtherFileSaysUnsupportedAndOpensNothing) {
  for (const char* name : {"/tmp/in/lesson.mp4", "/tmp/in/notes.txt", "/tmp/in/noextension",
                           "/tmp/in.wav/file"}) {
    SCOPED_TRACE(name);
    boxes->Clear();
    Drop({QUrl::fromLocalFile(name), QUrl::fromLocalFile("/tmp/in/b.wav")});
    const auto shown = boxes->Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, u"Unsupported file format.");
    EXPECT_EQ(shown[0].caption, u"Recorder");
    EXPECT_EQ(shown[0].type, plat::MB_OK);
  }
  EXPECT_TRUE(dlg->opened.isEmpty());
  EXPECT_EQ(dlg->discardAsked, 0);
  dlg->discardAnswer = false;
  Drop({QUrl::fromLocalFile("/tmp/in/a.WAV")});
  EXPECT_EQ(dlg->discardAsked, 1);
  EXPECT_TRUE(dlg->opened.isEmpty()) << "refusing the discard question opens nothing";
}

TEST_F(MainDlgTest, ScreenshotAtStart) {
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  const QImage shot = Shot();
  QDir().mkpath(VTS_BINARY_DIR "/ui-screens");
  EXPECT_TRUE(shot.save(VTS_BINARY_DIR "/ui-screens/main_window.png"));
  // Nothing visible covers what the background reserves for the painted texts.
  for (QRect reserved : {QRect(190, 53, 70, 20), QRect(10, 195, 100, 25), QRect(463, 345, 16, 11),
                         QRect(482, 345, 26, 11)}) {
    for (const ControlTemplate& t : DialogTemplate()) {
      QWidget* c = dlg->Control(t.id);
      if (c && c->isVisibleTo(dlg.get()))
        EXPECT_FALSE(c->geometry().intersects(reserved)) << t.id << " over " << reserved.x();
    }
  }
  // Visible skinned buttons are painted (not left black), hidden ones leave the background.
  for (const ControlTemplate& t : DialogTemplate()) {
    if (t.kind != ControlKind::Button) continue;
    CTransparentButton* b = dlg->Button(t.id);
    const QPoint c = b->geometry().center();
    SCOPED_TRACE(t.id);
    if (t.visible) {
      EXPECT_GT(shot.pixelColor(c).lightness(), 40);
    } else {
      EXPECT_TRUE(Near(shot.pixelColor(c), Background().pixelColor(c), 2) ||
                  dlg->childAt(c) != nullptr);
    }
  }
}


TEST_F(MainDlgTest, ScreenshotWithTheWaveformStripsInTheirPlaces) {
  // The strips as the start-up places them: Master (12, 125) 490 wide, Student (88, 279) 342.
  vts::test::FakeWaveformHost master, student;
  struct Place {
    vts::test::FakeWaveformHost* host;
    int x, y, width;
    uint32_t frames;
  };
  std::vector<std::unique_ptr<WaveformWidget>> strips;
  for (const Place& p : {Place{&master, 12, 125, 490, 44100}, Place{&student, 88, 279, 342, 30000}}) {
    p.host->strip.SetBackground(*dlg->GetScrollBarCtrl(ISkinHost::kBackgroundKey));
    p.host->strip.SetStripRect(p.x, p.y, p.width);
    p.host->SetChunk(p.frames);
    for (size_t i = 0; i < p.host->samples.size(); ++i)  // a speech-like envelope
      p.host->samples[i] = int16_t(14000.0 * std::sin(i * 0.05) *
                                   std::fabs(std::sin(i * 0.00021 * (p.x == 12 ? 1.0 : 1.7))));
    auto w = std::make_unique<WaveformWidget>(*p.host, dlg.get());
    w->move(p.x, p.y);
    w->show();
    p.host->RedrawWaveform(0, 128);
    strips.push_back(std::move(w));
  }
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  QTest::qWait(50);
  const QImage shot = Shot();
  QDir().mkpath(VTS_BINARY_DIR "/ui-screens");
  EXPECT_TRUE(shot.save(VTS_BINARY_DIR "/ui-screens/main_window_strips.png"));
  // No control of the template lies on a strip window.
  for (const auto& w : strips) {
    for (const ControlTemplate& t : DialogTemplate()) {
      QWidget* c = dlg->Control(t.id);
      if (!c || !c->isVisibleTo(dlg.get())) continue;
      EXPECT_FALSE(c->geometry().intersects(w->geometry())) << t.id;
    }
  }
  strips.clear();
}

}  // namespace
}  // namespace vts::ui

#include "main_dlg.h"

namespace vts::ui {
namespace {

TEST(ApplicationEntry, TheApplicationsDialogIsTheRecorderWindow) {
  ::CMainDlg dlg;
  EXPECT_EQ(dlg.size(), QSize(516, 470));
  QTimer::singleShot(0, &dlg, [&] { dlg.Button(1049)->click(); });
  EXPECT_EQ(dlg.DoModal(), QDialog::Accepted);
}

}  // namespace
}  // namespace vts::ui
