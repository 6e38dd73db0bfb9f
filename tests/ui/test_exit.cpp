// The exit path: every answer of its prompts, close-after-save only when every started save
// finished and succeeded, the linked windows, and the classroom's automatic save with its
// file names.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "platform/known_folders.h"
#include "sound_track_test_access.h"
#include "transport_fixture.h"

namespace vts::ui::test {
namespace {

namespace fs = std::filesystem;

class Exit : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    dlg->show();
  }
  bool Closed() const { return !dlg->isVisible() && dlg->result() == QDialog::Accepted; }
  std::vector<std::u16string> Captions() const {
    std::vector<std::u16string> out;
    for (const auto& b : boxes->Boxes()) out.push_back(b.caption);
    return out;
  }
  std::vector<std::u16string> Texts() const {
    std::vector<std::u16string> out;
    for (const auto& b : boxes->Boxes()) out.push_back(b.text);
    return out;
  }
  void Exit_() { dlg->Dispatch(1049, BN_CLICKED); }
  std::string Works() const { return plat::DriveCRoot() + "/StudentWorks/"; }
  // The track's save has finished (as the track reports it).
  void SaveDone(CSoundTrack* t, bool ok) {
    CSoundTrackTestAccess::SetLastSaveOk(*t, ok);
    if (ok) {
      CSoundTrackTestAccess::SetModified(*t, false);
      // The file the track wrote.
      for (const std::string& path : ops->savedPaths) {
        fs::create_directories(fs::path(path).parent_path());
        if (!fs::exists(path)) std::ofstream(path) << "PK";
      }
    }
    Notify(3, Sender(t));
  }
};

TEST_F(Exit, NothingToSaveClosesAtOnce) {
  Exit_();
  EXPECT_TRUE(Closed());
  EXPECT_TRUE(boxes->Boxes().empty());
}

TEST_F(Exit, StudentModifiedAndNoClosesAtOnce) {
  CSoundTrackTestAccess::SetModified(*student, true);
  boxes->ScriptAnswers({plat::IDNO});
  Exit_();
  EXPECT_TRUE(Closed());
  EXPECT_EQ(Texts(), (std::vector<std::u16string>{u"Do you want to save student track?"}));
  EXPECT_EQ(Captions(), (std::vector<std::u16string>{u"Student track unsaved data"}));
}

TEST_F(Exit, StudentCancelKeepsTheWindowOpen) {
  CSoundTrackTestAccess::SetModified(*student, true);
  boxes->ScriptAnswers({plat::IDCANCEL});
  Exit_();
  EXPECT_FALSE(Closed());
}

TEST_F(Exit, ACancelledSaveDialogKeepsTheWindowOpenAndALaterSaveDoesNotCloseIt) {
  CSoundTrackTestAccess::SetModified(*student, true);
  boxes->ScriptAnswers({plat::IDYES});
  answers = {QString()};
  Exit_();
  EXPECT_FALSE(Closed());
  EXPECT_FALSE(dlg->CloseAfterSave());
  // An ordinary save later on finishes: the window stays.
  answers = {QString::fromStdString(Works() + "x.vxb")};
  ASSERT_TRUE(dlg->SaveTrackAs(student));
  SaveDone(student, true);
  EXPECT_FALSE(Closed());
}

TEST_F(Exit, StudentSavedClosesWhenTheSaveSucceeded) {
  CSoundTrackTestAccess::SetModified(*student, true);
  boxes->ScriptAnswers({plat::IDYES});
  answers = {QString::fromStdString(Works() + "s.vxb")};
  Exit_();
  EXPECT_FALSE(Closed());
  EXPECT_TRUE(dlg->CloseAfterSave());
  SaveDone(student, true);
  EXPECT_TRUE(Closed());
}

TEST_F(Exit, AFailedSaveKeepsTheWindowOpenAndTheNextExitRunsThePathAgain) {
  CSoundTrackTestAccess::SetModified(*student, true);
  boxes->ScriptAnswers({plat::IDYES});
  answers = {QString::fromStdString(Works() + "s.vxb")};
  Exit_();
  SaveDone(student, false);
  EXPECT_FALSE(Closed());
  EXPECT_FALSE(dlg->CloseAfterSave());
  boxes->Clear();
  boxes->ScriptAnswers({plat::IDNO});
  Exit_();
  EXPECT_EQ(boxes->Boxes().size(), 1u);
  EXPECT_TRUE(Closed());
}

TEST_F(Exit, TwoSavesCloseOnlyAfterBoth) {
  CSoundTrackTestAccess::SetAudioModified(*master, 1);
  CSoundTrackTestAccess::SetModified(*student, true);
  boxes->ScriptAnswers({plat::IDYES, plat::IDYES});
  answers = {QString::fromStdString(Works() + "m.vxb"), QString::fromStdString(Works() + "s.vxb")};
  Exit_();
  ASSERT_EQ(ops->savedPaths.size(), 2u);
  SaveDone(master, true);
  EXPECT_FALSE(Closed()) << "the Student's save still runs";
  SaveDone(student, true);
  EXPECT_TRUE(Closed());
}

TEST_F(Exit, CancelToTheFirstPromptStillAsksTheStudentThenStaysOpen) {
  CSoundTrackTestAccess::SetAudioModified(*master, 1);
  CSoundTrackTestAccess::SetModified(*student, true);
  boxes->ScriptAnswers({plat::IDCANCEL, plat::IDNO});
  Exit_();
  EXPECT_EQ(Texts(), (std::vector<std::u16string>{u"Do you want to save updated audio data?",
                                                  u"Do you want to save student track?"}));
  EXPECT_EQ(Captions()[0], u"Master track unsaved data");
  EXPECT_FALSE(Closed());
}

TEST_F(Exit, BookmarkPromptLeadsToTheMasterConfirmation) {
  // Bookmarks changed with the Student modified: told to save the Student first.
  CSoundTrackTestAccess::SetModified(*master, true);
  CSoundTrackTestAccess::SetModified(*student, true);
  boxes->ScriptAnswers({plat::IDYES, plat::IDOK, plat::IDNO});
  Exit_();
  EXPECT_EQ(Texts(),
            (std::vector<std::u16string>{u"Do you want to save bookmark and text information?",
                                         u"Use blue save button to save student track first",
                                         u"Do you want to save student track?"}));
  EXPECT_FALSE(Closed()) << "the user asked to keep the bookmarks";
}

// Yes to keeping the bookmarks holds the window open until they are saved or declined: after
// the "Attention" box (whatever the Student prompt then gets) and after a Save As that did not
// start. Only a No to the confirmation lets them go.
struct BookmarkCase {
  const char* what;
  bool video;  // the bookmarks are the video's
  bool studentModified;
  std::vector<int> answers;
  const char* saveAs;  // the Save As answer: none asked, "" cancelled, or a name in Works()
  bool studentSaveFinishes;
  bool closed;
};

void PrintTo(const BookmarkCase& c, std::ostream* os) { *os << c.what; }

class ExitBookmarks : public Exit, public ::testing::WithParamInterface<BookmarkCase> {};

TEST_P(ExitBookmarks, YesKeepsTheWindowUntilTheBookmarksAreSavedOrDeclined) {
  const BookmarkCase& c = GetParam();
  FakeVideo video;
  if (c.video) {
    video.modifiedData = true;
    dlg->SetVideo(&video);
  } else {
    CSoundTrackTestAccess::SetModified(*master, true);
  }
  CSoundTrackTestAccess::SetModified(*student, c.studentModified);
  boxes->ScriptAnswers(c.answers);
  if (c.saveAs) answers = {*c.saveAs ? QString::fromStdString(Works() + c.saveAs) : QString()};
  Exit_();
  EXPECT_EQ(requests.size(), c.saveAs ? 1u : 0u);
  EXPECT_EQ(boxes->Boxes().size(), c.answers.size());
  if (c.studentSaveFinishes) {
    ASSERT_EQ(ops->savedPaths.size(), 1u);
    SaveDone(student, true);
  }
  EXPECT_EQ(Closed(), c.closed);
  if (!c.closed) {
    EXPECT_FALSE(dlg->CloseAfterSave());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExitBookmarks,
    ::testing::Values(
        BookmarkCase{"AttentionThenTheStudentSaved", false, true,
                     {plat::IDYES, plat::IDOK, plat::IDYES}, "s.vxb", true, false},
        BookmarkCase{"VideoAttentionThenNoToTheStudent", true, true,
                     {plat::IDYES, plat::IDOK, plat::IDNO}, nullptr, false, false},
        BookmarkCase{"ConfirmedButTheSaveAsCancelled", false, false,
                     {plat::IDYES, plat::IDYES}, "", false, false},
        BookmarkCase{"NoToTheConfirmation", false, false, {plat::IDYES, plat::IDNO}, nullptr, false,
                     true}),
    [](const ::testing::TestParamInfo<BookmarkCase>& i) { return std::string(i.param.what); });

TEST_F(Exit, BookmarkPromptYesYesSavesTheMasterAndWaitsForIt) {
  CSoundTrackTestAccess::SetModified(*master, true);
  boxes->ScriptAnswers({plat::IDYES, plat::IDYES});
  answers = {QString::fromStdString(Works() + "m.vxb")};
  Exit_();
  EXPECT_EQ(Captions(), (std::vector<std::u16string>{u"Master track unsaved data", u"Confirm"}));
  EXPECT_FALSE(Closed());
  SaveDone(master, true);
  EXPECT_TRUE(Closed());
}

// Typed Master text and recorded Student work, as a user makes them in the window: No to
// the Master, Yes (Return) to the Student. The save empties the Master's edit while it runs;
// the typed text stays the Master's, comes back with the saved notice, and the Exit button
// runs the exit path again, after a failed save as after a cancelled Save As.
TEST_F(Exit, NoToTheMasterYesToTheStudentKeepsTheMasterTextAndTheExitButton) {
  MakeChunks(master, 1);
  MakeChunks(student, 1);
  CSoundTrackTestAccess::SetModified(*student, true);
  CSoundTrackTestAccess::SetModified(*master, false);
  dlg->MasterTextEdit()->setFocus();
  QTest::keyClicks(dlg->MasterTextEdit(), QStringLiteral("typed"));
  ASSERT_TRUE(master->IsModified()) << "typing a chunk text modifies the Master";
  QWidget* exitButton = dlg->Button(1049);
  ASSERT_NE(exitButton, nullptr);
  const auto masterText = [&] { return master->CurrentChunk()->text; };

  boxes->ScriptAnswers({plat::IDNO, plat::IDYES});
  answers = {QString::fromStdString(Works() + "s.vxb")};
  QTest::mouseClick(exitButton, Qt::LeftButton);
  EXPECT_EQ(Texts(),
            (std::vector<std::u16string>{u"Do you want to save bookmark and text information?",
                                         u"Do you want to save student track?"}));
  ASSERT_EQ(requests.size(), 1u) << "the Save As came";
  ASSERT_EQ(ops->savedPaths, (std::vector<std::string>{Works() + "s.vxb"}));
  EXPECT_FALSE(dlg->isEnabled()) << "disabled while the save runs";
  EXPECT_EQ(masterText(), u"typed") << "emptying the edit is no edit of the Master";
  SaveDone(student, false);
  EXPECT_TRUE(dlg->isEnabled());
  EXPECT_FALSE(Closed());
  EXPECT_EQ(dlg->MasterTextEdit()->toPlainText(), QStringLiteral("typed"));
  EXPECT_TRUE(master->IsModified());

  // The Exit button runs the exit path again; a cancelled Save As leaves all as it was.
  boxes->Clear();
  boxes->ScriptAnswers({plat::IDNO, plat::IDYES});
  answers = {QString()};
  QTest::mouseClick(exitButton, Qt::LeftButton);
  EXPECT_EQ(boxes->Boxes().size(), 2u) << "the exit path ran again";
  EXPECT_EQ(requests.size(), 2u);
  EXPECT_TRUE(dlg->isEnabled());
  EXPECT_EQ(dlg->MasterTextEdit()->toPlainText(), QStringLiteral("typed"));
  EXPECT_EQ(masterText(), u"typed");
  EXPECT_FALSE(Closed());

  boxes->Clear();
  boxes->ScriptAnswers({plat::IDNO, plat::IDNO});
  QTest::mouseClick(exitButton, Qt::LeftButton);
  EXPECT_EQ(boxes->Boxes().size(), 2u);
  EXPECT_TRUE(Closed());
}

TEST_F(Exit, VideoChunkDataAskedWithItsCaption) {
  FakeVideo video;
  video.modifiedData = true;
  dlg->SetVideo(&video);
  boxes->ScriptAnswers({plat::IDNO});
  Exit_();
  EXPECT_EQ(Captions(), (std::vector<std::u16string>{u"Unsaved data"}));
  EXPECT_TRUE(Closed());
}

TEST_F(Exit, ALinkedStudentCannotCloseALinkedTeacherClosesAtOnce) {
  dlg->SetPeerWindow(12345);
  core->studentFlag = 1;
  CSoundTrackTestAccess::SetModified(*student, true);
  Exit_();
  dlg->reject();  // Esc
  EXPECT_FALSE(Closed());
  EXPECT_TRUE(boxes->Boxes().empty());
  core->studentFlag = 0;
  core->teacherFlag = 1;
  Exit_();
  EXPECT_TRUE(Closed());
  EXPECT_TRUE(boxes->Boxes().empty());
}

// An end request (a stop signal, the classroom's request 4) asks nothing: unsaved Student work
// is saved as the classroom's automatic save saves it, and the window closes once that save
// has ended, whether it succeeded or not.
TEST_F(Exit, AnEndRequestAsksNothingAndSavesTheStudentsUnsavedWork) {
  for (const bool bySignal : {true, false}) {
    SCOPED_TRACE(bySignal ? "signal" : "request 4");
    TearDown();
    SetUp();
    now = {2024, 4, 3, 9, 5};
    MakeChunks(student, 1);
    CSoundTrackTestAccess::SetSourcePath(*master, "/lessons/unit1.mp3");
    CSoundTrackTestAccess::SetAudioModified(*master, 1);
    CSoundTrackTestAccess::SetModified(*master, true);
    CSoundTrackTestAccess::SetModified(*student, true);
    dlg->RequestEnd(bySignal);
    EXPECT_TRUE(dlg->EndRequested());
    EXPECT_TRUE(boxes->Ended()) << "the boxes that are up close";
    EXPECT_TRUE(boxes->Boxes().empty()) << "nobody is asked";
    EXPECT_TRUE(requests.empty()) << "no Save As";
    EXPECT_EQ(ops->savedPaths, (std::vector<std::string>{Works() + "240403_0905_unit1.vxb"}));
    // The Master closes as under the classroom, once a save that still reads it has ended.
    const auto wait = std::find(ops->calls.begin(), ops->calls.end(), "WaitForSave M");
    const auto close = std::find(ops->calls.begin(), ops->calls.end(), "Close M");
    ASSERT_NE(close, ops->calls.end());
    EXPECT_LT(wait, close);
    EXPECT_FALSE(Closed()) << "the save runs";
    // Another request while it runs starts nothing more.
    dlg->RequestEnd(true);
    EXPECT_EQ(ops->savedPaths.size(), 1u);
    SaveDone(student, false);
    EXPECT_TRUE(Closed()) << "a failed save does not keep an ending window open";
  }
}

TEST_F(Exit, AnEndRequestWithNothingUnsavedClosesAtOnce) {
  MakeChunks(student, 1);
  CSoundTrackTestAccess::SetModified(*student, false);
  dlg->RequestEnd(false);
  EXPECT_TRUE(Closed());
  EXPECT_TRUE(ops->savedPaths.empty());
}

// A linked student stays on the classroom's request (its exit path cannot close it); the
// system's stop signal ends it, with its work saved.
TEST_F(Exit, ALinkedStudentIgnoresRequest4ButNotAStopSignal) {
  dlg->SetPeerWindow(12345);
  core->studentFlag = 1;
  core->position = 1;
  MakeChunks(student, 1);
  CSoundTrackTestAccess::SetModified(*student, true);
  dlg->RequestEnd(false);
  EXPECT_FALSE(Closed());
  EXPECT_FALSE(dlg->EndRequested());
  EXPECT_FALSE(boxes->Ended());
  dlg->RequestEnd(true);
  ASSERT_EQ(ops->savedPaths, (std::vector<std::string>{Works() + "1StudentsWorks.vxb"}));
  SaveDone(student, true);
  EXPECT_TRUE(Closed());
}

class ClassroomExit : public Exit {
 protected:
  void SetUp() override {
    Exit::SetUp();
    core->classroomManaged = 1;
    core->studentFlag = 1;
    MakeChunks(student, 1);
  }
};

TEST_F(ClassroomExit, WithAMasterFileTheWorkIsNamedAfterTimeLessonAndPosition) {
  now = {2024, 4, 3, 9, 5};
  core->position = 2;
  CSoundTrackTestAccess::SetSourcePath(*master, "/lessons/unit1.mp3");
  Exit_();
  EXPECT_TRUE(boxes->Boxes().empty()) << "no prompts under the classroom";
  ASSERT_EQ(ops->savedPaths, (std::vector<std::string>{Works() + "240403_0905_unit1_Stud2.vxb"}));
  EXPECT_TRUE(fs::is_directory(Works())) << "the folder is made when missing";
  EXPECT_EQ(std::count(ops->calls.begin(), ops->calls.end(), "Close M"), 1);
  EXPECT_FALSE(Closed());
  SaveDone(student, true);
  EXPECT_TRUE(Closed());

  core->position = 0;
  CSoundTrackTestAccess::SetSourcePath(*master, "/lessons/unit1.mp3");
  EXPECT_EQ(dlg->StudentWorkName(now), Works() + "240403_0905_unit1.vxb");
}

// A second automatic save of the lesson in the same minute never replaces the first: the
// name takes the first free "[i]", as the numbered names without a Master file do.
TEST_F(ClassroomExit, AWorkNameTakenInTheSameMinuteTakesTheNextNumber) {
  now = {2024, 4, 3, 9, 5};
  CSoundTrackTestAccess::SetSourcePath(*master, "/lessons/unit1.mp3");
  fs::create_directories(Works());
  struct Case {
    unsigned position;
    const char* name;
  };
  for (const Case& c : {Case{2, "240403_0905_unit1_Stud2"}, Case{0, "240403_0905_unit1"}}) {
    SCOPED_TRACE(c.name);
    core->position = c.position;
    const std::string base = Works() + c.name;
    std::ofstream(base + ".vxb") << "first";
    EXPECT_EQ(dlg->StudentWorkName(now), base + "[1].vxb");
    std::ofstream(base + "[1].vxb") << "second";
    EXPECT_EQ(dlg->StudentWorkName(now), base + "[2].vxb");
  }
  core->position = 2;
  Exit_();
  EXPECT_EQ(ops->savedPaths,
            (std::vector<std::string>{Works() + "240403_0905_unit1_Stud2[2].vxb"}));
}

TEST_F(ClassroomExit, WithoutAMasterFileTheFirstFreeNumberedNameAfterTheTarget) {
  const std::string target = plat::TempFolder() + "/Class/";
  fs::create_directories(target);
  std::ofstream(target + "1StudentsWorks.vxb") << "x";
  core->studentWorkTarget = target;
  core->position = 0;
  EXPECT_EQ(dlg->StudentWorkName(now), target + "1StudentsWorks[1].vxb");
  std::ofstream(target + "1StudentsWorks[1].vxb") << "x";
  EXPECT_EQ(dlg->StudentWorkName(now), target + "1StudentsWorks[2].vxb");
  core->position = 2;
  EXPECT_EQ(dlg->StudentWorkName(now), target + "2StudentsWorks.vxb");
}

TEST_F(ClassroomExit, WithNoUsableTargetTheNumberedNamesGoToTheStudentWorksFolder) {
  // A Master path without an extension and an empty target: the numbered names in the
  // student-work folder, which is made.
  CSoundTrackTestAccess::SetSourcePath(*master, "/lessons/noext");
  core->studentWorkTarget.clear();
  core->position = 1;
  Exit_();
  EXPECT_EQ(ops->savedPaths, (std::vector<std::string>{Works() + "1StudentsWorks.vxb"}));
  EXPECT_TRUE(fs::is_directory(Works()));
  // A target whose folder is missing is made.
  core->studentWorkTarget = plat::TempFolder() + "/new/place/";
  EXPECT_EQ(dlg->StudentWorkName(now), core->studentWorkTarget + "1StudentsWorks.vxb");
  EXPECT_TRUE(fs::is_directory(core->studentWorkTarget));
}

TEST_F(ClassroomExit, ASecondCloseWhileTheAutomaticSaveRunsIsIgnored) {
  CSoundTrackTestAccess::SetSourcePath(*master, "/lessons/unit1.mp3");
  Exit_();
  ASSERT_EQ(ops->savedPaths.size(), 1u);
  Exit_();
  dlg->reject();
  EXPECT_EQ(ops->savedPaths.size(), 1u);
  EXPECT_FALSE(Closed());
  SaveDone(student, true);
  EXPECT_TRUE(Closed());
}

TEST_F(ClassroomExit, AnAutomaticSaveThatCannotStartKeepsModifiedWorkOpen) {
  CSoundTrackTestAccess::SetModified(*student, true);
  ops->saveStarts = false;
  Exit_();
  EXPECT_FALSE(Closed());
}

}  // namespace
}  // namespace vts::ui::test

namespace vts::ui::test {
namespace {

TEST_F(ClassroomExit, AStudentWithoutChunksHasNoWorkToSave) {
  student->FreeChunks();
  Exit_();
  EXPECT_TRUE(ops->savedPaths.empty());
  EXPECT_TRUE(Closed());
}

TEST_F(ClassroomExit, AFailedAutomaticSaveKeepsOnlyUnsavedWorkOpen) {
  // Nothing recorded: a failed save loses nothing, the window closes.
  Exit_();
  ASSERT_EQ(ops->savedPaths.size(), 1u);
  SaveDone(student, false);
  EXPECT_TRUE(Closed());
}

TEST_F(ClassroomExit, AFailedAutomaticSaveOfRecordedWorkKeepsTheWindowOpen) {
  CSoundTrackTestAccess::SetModified(*student, true);
  Exit_();
  SaveDone(student, false);
  EXPECT_FALSE(Closed());
  EXPECT_FALSE(dlg->CloseAfterSave());
}

}  // namespace
}  // namespace vts::ui::test
