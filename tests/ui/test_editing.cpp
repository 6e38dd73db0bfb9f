// The recorder window's editing commands over the real core and tracks (virtual sound), a
// logging track-operation double, a fake video and a recording peer window: bookmarks,
// the whole-file switch, the chunk-number jump, erase, clear, zoom, the chunk texts and the
// volume-control button.
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTest>
#include <chrono>

#include "core/product_name.h"
#include "platform/window_bus.h"
#include "sound_track_test_access.h"
#include "test_env.h"
#include "track_doubles.h"
#include "transport_fixture.h"

namespace vts::ui {
namespace {

using test::FakeVideo;
using test::WindowTest;
using Calls = std::vector<std::string>;
using Mirrors = std::vector<std::pair<plat::WPARAM, plat::LPARAM>>;

const std::u16string kEmptyRegion =
    u"Empty region. Use Left Mouse Button to mark. \nCtrl + Left Mouse Button to insert "
    u"bookmark.";

class Editing : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    peer = plat::BusWindow::Create("VtsEditPeer", u"peer", [this](const plat::WindowMessage& m) {
      if (m.message == WM_REMOTECONTROL) mirrors.emplace_back(m.wParam, m.lParam);
      return plat::LRESULT(0);
    });
    ASSERT_NE(peer, nullptr);
    dlg->SetPeerWindow(peer->Id());
  }
  void TearDown() override {
    dlg->SetPeerWindow(0);
    peer.reset();
    WindowTest::TearDown();
  }
  // Every mirror sent so far: a marker is sent last and waited for, so that a missing
  // mirror shows as missing and not as late.
  Mirrors Mirrored() {
    plat::PostMessage(peer->Id(), WM_REMOTECONTROL, 9999, 0);
    for (int i = 0; i < 100; ++i) {
      if (!mirrors.empty() && mirrors.back().first == 9999) break;
      peer->WaitAndDispatch(std::chrono::milliseconds(100));
    }
    Mirrors got = mirrors;
    if (!got.empty() && got.back().first == 9999) got.pop_back();
    mirrors.clear();
    return got;
  }
  void SetZoom(std::uint32_t framesPerPixel) {
    CSoundTrackTestAccess::EditView(
        *master, [&](WaveformViewState& v) { v.framesPerPixel = framesPerPixel; });
  }
  std::unique_ptr<plat::BusWindow> peer;
  Mirrors mirrors;
};

TEST_F(Editing, HandlersCallTheTracksAndMirrorAsTheirTableSays) {
  struct Case {
    const char* what;
    std::function<void()> setUp;
    int id, code;
    Calls calls;
    Mirrors mirrored;
    std::size_t boxes;
  };
  const Case cases[] = {
      {"bookmark inserted", [] {}, 1020, BN_CLICKED, {"SplitCurrentChunk M"}, {{1020, 0}}, 0},
      {"empty region: box, no mirror",
       [this] { ops->splitSucceeds = false; },
       1020,
       BN_CLICKED,
       {"SplitCurrentChunk M"},
       {},
       1},
      {"bookmark removed after the current chunk",
       [this] { CSoundTrackTestAccess::SetCurrentChunk(*master, 1); },
       1022,
       BN_CLICKED,
       {"MergeChunkWithNext M 1"},
       {{1022, 0}},
       0},
      {"erase: stop, cut, no mirror",
       [] {},
       1050,
       BN_CLICKED,
       {"StopAll M", "DeleteSelection M"},
       {},
       0},
      {"zoom in",
       [this] {
         CSoundTrackTestAccess::EditView(*master, [](WaveformViewState& v) {
           v.framesPerPixel = 256;
           v.viewStartFrame = 4410;
         });
       },
       1016,
       BN_CLICKED,
       {"Redraw M 4410 128", "Redraw S 4410 128"},
       {{1016, 0}},
       0},
      {"zoom in stops at 32",
       [this] { SetZoom(48); },
       1016,
       BN_CLICKED,
       {"Redraw M 0 32", "Redraw S 0 32"},
       {{1016, 0}},
       0},
      {"zoom in at 32 stays",
       [this] { SetZoom(32); },
       1016,
       BN_CLICKED,
       {"Redraw M 0 32", "Redraw S 0 32"},
       {{1016, 0}},
       0},
      {"zoom out",
       [this] { SetZoom(256); },
       1015,
       BN_CLICKED,
       {"Redraw M 0 512", "Redraw S 0 512"},
       {{1015, 0}},
       0},
      {"zoom out stops at 8192",
       [this] { SetZoom(5000); },
       1015,
       BN_CLICKED,
       {"Redraw M 0 8192", "Redraw S 0 8192"},
       {{1015, 0}},
       0},
      {"zoom out at 8192 stays",
       [this] { SetZoom(8192); },
       1015,
       BN_CLICKED,
       {"Redraw M 0 8192", "Redraw S 0 8192"},
       {{1015, 0}},
       0},
      {"clear of an unchanged Student: nothing", [] {}, 1044, BN_CLICKED, {}, {}, 0},
  };
  MakeChunks(master, 3);
  MakeChunks(student, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ops->splitSucceeds = true;
    CSoundTrackTestAccess::SetCurrentChunk(*master, 0);
    CSoundTrackTestAccess::EditView(*master, [&](WaveformViewState& v) { v.viewStartFrame = 0; });
    c.setUp();
    ops->calls.clear();
    boxes->Clear();
    dlg->Dispatch(c.id, c.code);
    EXPECT_EQ(ops->calls, c.calls);
    EXPECT_EQ(Mirrored(), c.mirrored);
    ASSERT_EQ(boxes->Boxes().size(), c.boxes);
    if (c.boxes) {
      EXPECT_EQ(boxes->Boxes()[0].text, kEmptyRegion);
      EXPECT_EQ(boxes->Boxes()[0].caption, u"Attention");
      EXPECT_EQ(boxes->Boxes()[0].type & 0xF0u, plat::MB_ICONWARNING);
    }
  }
}

TEST_F(Editing, ChunkNumberJumpGoesToTheEndsAndMatchesTheStudent) {
  struct Case {
    const char* what;
    int masterChunks, studentChunks, masterAt;
    int masterAfter, studentAfter, studentChunksAfter;
  };
  const Case cases[] = {
      {"at 0 with a shorter Student: both on 4, Student grown", 5, 2, 0, 4, 4, 5},
      {"at 0 with a Student without chunks", 3, 0, 0, 2, 2, 3},
      {"at 0 with a longer Student: it stands on the Master's last", 3, 7, 0, 2, 2, 7},
      {"at 0 with a one-chunk Master", 1, 4, 0, 0, 0, 4},
      {"elsewhere: both to 0", 5, 5, 3, 0, 0, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (CSoundTrack* t : {master, student}) {
      t->FreeChunks();
      CSoundTrackTestAccess::SetCurrentChunk(*t, -1);
    }
    MakeChunks(master, c.masterChunks);
    if (c.studentChunks) MakeChunks(student, c.studentChunks);
    CSoundTrackTestAccess::SetCurrentChunk(*master, c.masterAt);
    dlg->Dispatch(1026, STN_DBLCLK);
    EXPECT_EQ(master->CurrentChunkIndex(), c.masterAfter);
    EXPECT_EQ(student->CurrentChunkIndex(), c.studentAfter);
    EXPECT_EQ(student->ChunkCount(), c.studentChunksAfter);
    EXPECT_EQ(Mirrored(), (Mirrors{{1026, 0}}));
  }
}

TEST_F(Editing, RightClickOnInsertTogglesWholeFileModeAfterTheJump) {
  MakeChunks(master, 3);
  MakeChunks(student, 1);
  CTransparentButton* button = dlg->Button(1020);
  ASSERT_NE(button, nullptr);
  dlg->Dispatch(1020, NM_RCLICK);
  EXPECT_TRUE(button->Swapped());
  EXPECT_EQ(master->CurrentChunkIndex(), 2) << "the jump ran first";
  EXPECT_EQ(ops->calls.back(), "SetWholeFileMode M on");
  dlg->Dispatch(1020, NM_RCLICK);
  EXPECT_FALSE(button->Swapped());
  EXPECT_EQ(ops->calls.back(), "SetWholeFileMode M off");
  EXPECT_EQ(Mirrored(), (Mirrors{{1020, 1}, {1020, 1}})) << "one mirror each, none for the jump";
}

TEST_F(Editing, VideoModeGoesThroughTheVideo) {
  FakeVideo video;
  video.chunkCount = 2;
  video.texts = {u"first", u"second"};
  dlg->SetVideo(&video);
  answers = {QStringLiteral("/lessons/lesson.mkv")};
  dlg->Dispatch(1027, BN_CLICKED);
  ASSERT_TRUE(dlg->VideoMode());
  MakeChunks(master, 2);
  Mirrored();  // the open's own stops

  // A text typed without a current video chunk changes nothing.
  video.current = -1;
  dlg->MasterTextEdit()->setPlainText(QStringLiteral("lost"));
  EXPECT_FALSE(video.textsLoaded);
  EXPECT_FALSE(video.modifiedData);
  EXPECT_EQ(video.textSets, 0) << "nothing is handed to the video";
  EXPECT_EQ(video.texts, (std::vector<std::u16string>{u"first", u"second"}));

  video.current = 1;
  dlg->MasterTextEdit()->setPlainText(QStringLiteral("new\ntext"));
  EXPECT_TRUE(video.textsLoaded);
  EXPECT_TRUE(video.modifiedData);
  EXPECT_EQ(video.texts[1], u"new text");
  EXPECT_FALSE(master->TextsPresent()) << "the Master track is not touched";

  video.current = 0;
  dlg->RefreshTexts();
  EXPECT_EQ(dlg->MasterTextEdit()->toPlainText(), QStringLiteral("first"));

  video.calls.clear();
  ops->calls.clear();
  video.insertSucceeds = false;
  dlg->Dispatch(1020, BN_CLICKED);
  EXPECT_EQ(boxes->Boxes().size(), 1u);
  video.insertSucceeds = true;
  dlg->Dispatch(1020, BN_CLICKED);
  dlg->Dispatch(1022, BN_CLICKED);
  dlg->Dispatch(1020, NM_RCLICK);
  dlg->Dispatch(1020, NM_RCLICK);
  EXPECT_EQ(video.calls, (Calls{"InsertBookmark", "InsertBookmark", "RemoveBookmark",
                                "WholeFile on", "WholeFile off"}));
  for (const std::string& call : ops->calls)
    EXPECT_TRUE(call.rfind("Split", 0) != 0 && call.rfind("Merge", 0) != 0 &&
                call.rfind("SetWholeFileMode", 0) != 0)
        << call;
  EXPECT_EQ(Mirrored(), (Mirrors{{1020, 0}, {1022, 0}, {1020, 1}, {1020, 1}}));
}

TEST_F(Editing, ClearEmptiesTheModifiedStudentsChunkAndTellsTheWindow) {
  MakeChunks(student, 2);
  CSoundTrackTestAccess::SetCurrentChunk(*student, 1);
  CChunkInfo* chunk = student->CurrentChunk();
  ASSERT_TRUE(chunk->Reserve(4000, 4096));
  chunk->dataSize = 4000;
  chunk->length = 1000;
  chunk->start = 10;
  chunk->playOffset = 400;
  CSoundTrackTestAccess::EditView(*student, [](WaveformViewState& v) {
    v.playFrame = 500;
    v.progress.SetPos(7);
  });
  CSoundTrackTestAccess::SetModified(*student, true);
  CSoundTrackTestAccess::SetPlaying(*student, true);
  struct Seen : INotifyWindow {
    std::vector<std::pair<std::uint32_t, plat::WPARAM>> notices;
    void PostNotify(std::uint32_t m, plat::WPARAM w, plat::LPARAM) override {
      notices.emplace_back(m, w);
    }
  } seen;
  student->SetNotifyTarget(NotifyTarget{0, &seen, WM_TRACKNOTIFY});
  dlg->Dispatch(1044, BN_CLICKED);
  student->SetNotifyTarget({});
  EXPECT_EQ(ops->calls, (Calls{"StopPlayback S", "Redraw S 0 256"}));
  vts::test::ExpectClearedChunk(*student, chunk);
  EXPECT_EQ(student->ChunkCount(), 2) << "the chunk stays, empty";
  EXPECT_EQ(Mirrored(), (Mirrors{{1044, 0}}));
  EXPECT_EQ(
      seen.notices,
      (std::vector<std::pair<std::uint32_t, plat::WPARAM>>{{WM_TRACKNOTIFY, TRACK_NOTIFY_IDLE}}));
}

TEST_F(Editing, TypedTextsGoToTheCurrentChunksAsOneLineOfAtMost1023) {
  MakeChunks(master, 2);
  MakeChunks(student, 2);
  struct Case {
    QString typed;
    std::u16string stored;
  };
  const Case cases[] = {
      {QStringLiteral("plain"), u"plain"},
      {QStringLiteral("two\nlines"), u"two lines"},
      {QString(2000, QLatin1Char('x')), std::u16string(1023, u'x')},
  };
  for (const Case& c : cases) {
    for (auto [edit, track] :
         {std::pair{dlg->MasterTextEdit(), master}, std::pair{dlg->StudentTextEdit(), student}}) {
      track->SetTextsPresent(false);
      edit->setPlainText(c.typed);  // a user edit: EN_CHANGE runs
      EXPECT_TRUE(track->TextsPresent());
      EXPECT_EQ(track->CurrentChunk()->text, c.stored);
    }
  }
}

TEST_F(Editing, TextsSetByTheProgramRunNoChangeHandler) {
  // A track being opened has no chunks yet: clearing or refreshing its edit must not add one.
  dlg->MasterTextEdit()->setPlainText(QStringLiteral("left over"));
  master->FreeChunks();
  CSoundTrackTestAccess::SetCurrentChunk(*master, -1);
  master->SetTextsPresent(false);
  ops->calls.clear();
  dlg->RefreshTexts();
  EXPECT_TRUE(dlg->MasterTextEdit()->toPlainText().isEmpty());
  EXPECT_EQ(master->ChunkCount(), 0);
  EXPECT_FALSE(master->TextsPresent());
  EXPECT_EQ(ops->calls, Calls{});

  // Opening a lesson empties the Master edit the same way.
  dlg->MasterTextEdit()->setPlainText(QStringLiteral("left over"));
  master->FreeChunks();
  CSoundTrackTestAccess::SetCurrentChunk(*master, -1);
  master->SetTextsPresent(false);
  CSoundTrackTestAccess::SetModified(*master, false);  // nothing to ask about
  ops->calls.clear();
  answers = {QStringLiteral("/lessons/next.wav")};
  dlg->Dispatch(1027, BN_CLICKED);
  EXPECT_TRUE(dlg->MasterTextEdit()->toPlainText().isEmpty());
  EXPECT_EQ(master->ChunkCount(), 0);
  EXPECT_FALSE(master->TextsPresent());
  for (const std::string& call : ops->calls)
    EXPECT_EQ(call.rfind("SetChunkText", 0), std::string::npos) << call;

  // With texts present the edits show the current chunks' texts, again without a change.
  MakeChunks(master, 2);
  MakeChunks(student, 2);
  master->Chunk(1)->text = u"master one";
  student->Chunk(1)->text = u"student one";
  master->SetTextsPresent(true);
  student->SetTextsPresent(true);
  CSoundTrackTestAccess::SetModified(*master, false);
  CSoundTrackTestAccess::SetModified(*student, false);
  CSoundTrackTestAccess::SetCurrentChunk(*master, 1);
  CSoundTrackTestAccess::SetCurrentChunk(*student, 1);
  ops->calls.clear();
  dlg->RefreshTexts();
  EXPECT_EQ(dlg->MasterTextEdit()->toPlainText(), QStringLiteral("master one"));
  EXPECT_EQ(dlg->StudentTextEdit()->toPlainText(), QStringLiteral("student one"));
  EXPECT_EQ(ops->calls, Calls{});
  EXPECT_FALSE(master->IsModified());
  EXPECT_FALSE(student->IsModified());

  // A chunk step refreshes them.
  dlg->Dispatch(1042, BN_CLICKED);
  EXPECT_EQ(master->CurrentChunkIndex(), 0);
  EXPECT_TRUE(dlg->MasterTextEdit()->toPlainText().isEmpty());
}

TEST_F(Editing, MixerButtonStartsTheVolumeControlOnItsRecordingTabOrTellsItIsMissing) {
  const QByteArray oldPath = qgetenv("PATH");
  const QString empty = QString::fromStdString(vts::test::MakeTempDir("nopavucontrol"));
  qputenv("PATH", empty.toLocal8Bit());
  dlg->Dispatch(1029, BN_CLICKED);
  ASSERT_EQ(boxes->Boxes().size(), 1u);
  EXPECT_EQ(boxes->Boxes()[0].text, u"No volume control program is installed (pavucontrol).");
  EXPECT_EQ(boxes->Boxes()[0].caption, std::u16string(GetProductName()));

  const QString bin = QString::fromStdString(vts::test::MakeTempDir("pavucontrol"));
  const QString argsFile = bin + QStringLiteral("/args.txt");
  QFile script(bin + QStringLiteral("/pavucontrol"));
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write(QStringLiteral("#!/bin/sh\necho \"$@\" > '%1.part' && /bin/mv '%1.part' '%1'\n")
                   .arg(argsFile)
                   .toUtf8());
  script.close();
  script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("PATH", bin.toLocal8Bit());
  boxes->Clear();
  dlg->Dispatch(1029, BN_CLICKED);
  qputenv("PATH", oldPath);
  for (int i = 0; i < 200 && !QFile::exists(argsFile); ++i) QTest::qWait(25);
  QFile args(argsFile);
  ASSERT_TRUE(args.open(QIODevice::ReadOnly));
  EXPECT_EQ(args.readAll().trimmed(), QByteArray("--tab=2"));
  EXPECT_TRUE(boxes->Boxes().empty());
  EXPECT_EQ(Mirrored(), Mirrors{}) << "the mixer button is not mirrored";
}

}  // namespace
}  // namespace vts::ui
