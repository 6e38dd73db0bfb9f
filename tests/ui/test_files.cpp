// Opening and saving lessons: the file dialogs' texts, the proposed name, the " - Old"
// move that never replaces a file, video files, and the waits for a running save.
#include "test_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLineEdit>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/product_name.h"
#include "core/settings_files.h"
#include "platform/known_folders.h"
#include "process_helper.h"
#include "sound_track_test_access.h"
#include "test_env.h"
#include "track_doubles.h"
#include "tracks/notify.h"
#include "transport_fixture.h"

namespace vts::ui::test {
namespace {

using ::vts::test::WriteText;
std::string ReadAll(const std::string& path) { return ::vts::test::ReadFile(path); }

namespace fs = std::filesystem;
using Calls = std::vector<std::string>;

std::u16string Q(const std::string& s) { return QString::fromStdString(s).toStdU16String(); }

class Files : public WindowTest {
 protected:
  std::string Folder() {
    const std::string f = plat::TempFolder() + "/files-test/";
    fs::create_directories(f);
    return f;
  }
};

TEST_F(Files, FileDialogsCarryTheFilterTexts) {
  EXPECT_EQ(CMainDlg::OpenFilters(),
            (QStringList{"All supported files (*.wav *.mp3 *.vxb *.avi *.mpg *.mpeg *.mp4 *.mkv)",
                         "All sound files(WAV, MP3, VXB) (*.wav *.mp3 *.vxb)",
                         "All video files (*.avi *.mpg *.mpeg *.mp4 *.mkv)"}));
  EXPECT_EQ(CMainDlg::SaveFilters(),
            (QStringList{"Standard MP3 files (*.mp3)", "Windows WAV files (*.wav)",
                         "Voxtrailstudy Package VXB File (*.vxb)",
                         "All sound files (*.mp3 *.wav *.vxb)", "All files (*)"}));
}

TEST_F(Files, UntitledSaveProposesTheStudentWorksNameWithTheLocalTime) {
  const std::string works = plat::DriveCRoot() + "/StudentWorks/";
  EXPECT_EQ(CMainDlg::StudentWorksFolder(), works);
  EXPECT_EQ(CMainDlg::ProposedSaveName("", {2025, 1, 9, 14, 7}), works + "250109_1407_.vxb");
  EXPECT_EQ(CMainDlg::ProposedSaveName("/lessons/a.mp3", {2025, 1, 9, 14, 7}), "/lessons/a.vxb");
  EXPECT_EQ(CMainDlg::ProposedSaveName("/lessons/plain", {2025, 1, 9, 14, 7}),
            "/lessons/plain.vxb");

  answers = {QString()};  // cancelled
  EXPECT_FALSE(dlg->SaveTrackAs(student));
  ASSERT_EQ(requests.size(), 1u);
  const CMainDlg::FileDialogRequest& r = requests[0];
  EXPECT_TRUE(r.save);
  EXPECT_EQ(r.proposedName.toStdString(), works + "250109_1407_.vxb");
  EXPECT_EQ(r.initialFolder.toStdString(), works);
  EXPECT_EQ(r.filterIndex, 2);
  EXPECT_EQ(r.defaultSuffix, "vxb");
  EXPECT_TRUE(ops->savedPaths.empty()) << "a cancelled dialog saves nothing";
  EXPECT_TRUE(fs::is_directory(works)) << "the proposed name's folder is made before it is shown";
}

// The file already under the chosen name is not touched when the save starts: the save
// keeps it as " - Old" once the new file is complete (the track's save tests show that).
TEST_F(Files, SavingOverAFileAsksTheSaveToKeepItAsOld) {
  const std::string dir = Folder();
  WriteText(dir + "a.mp3", "first");
  answers = {QString::fromStdString(dir + "a.mp3")};
  ASSERT_TRUE(dlg->SaveTrackAs(student));
  EXPECT_EQ(ReadAll(dir + "a.mp3"), "first");
  EXPECT_FALSE(fs::exists(dir + "a - Old.mp3"));
  EXPECT_EQ(ops->savedPaths, (std::vector<std::string>{dir + "a.mp3"}));
  EXPECT_EQ(ops->keptOldVersions, (std::vector<bool>{true}));
  EXPECT_FALSE(dlg->isEnabled());
  EXPECT_EQ(dlg->FileNameEdit()->text(), "Please wait...");
  // A name without an extension is saved as a package.
  answers = {QString::fromStdString(dir + "plain")};
  ASSERT_TRUE(dlg->SaveTrackAs(student));
  EXPECT_EQ(ops->savedPaths.back(), dir + "plain.vxb");
}

// A save killed half-way (here: held while it reads a chunk's sound, then killed) leaves the
// earlier file whole under its name; the next save in that folder removes what the killed
// one left. The save runs in a child process, this test's own program run as that child.
TEST_F(Files, ASaveKilledHalfwayLeavesTheWholeFileUnderItsName) {
  constexpr const char* kChildVariable = "VTS_TEST_SAVE_CHILD_FOLDER";
  if (const char* childFolder = std::getenv(kChildVariable)) {
    const std::string folder = childFolder;
    WriteText(folder + "child-root", ::vts::test::TestRoot());
    dlg->SetTrackOps(std::make_shared<TrackOps>());
    MakeChunks(student, 2);
    CChunkInfo* second = student->Chunk(1);
    {
      std::lock_guard lock(student->BufferLock());
      for (int i = 0; i < 2; ++i) {
        std::vector<std::int16_t> tone(44100 * 5);
        for (std::size_t k = 0; k < tone.size(); ++k) tone[k] = std::int16_t((k * 37) % 8000);
        ::vts::test::FillChunk(student->Chunk(i), tone);
      }
      ASSERT_TRUE(student->SaveChunk(1));
      second->Unload();
    }
    // The second chunk's sound comes from a pipe that nobody writes: reading it holds the
    // save after the first chunk went into the new file.
    const std::string held = student->TempFolderPath() + second->fileName;
    ASSERT_EQ(::unlink(held.c_str()), 0);
    ASSERT_EQ(::mkfifo(held.c_str(), 0600), 0);
    WriteText(folder + "held", held);
    answers = {QString::fromStdString(folder + "lesson.vxb")};
    ASSERT_TRUE(dlg->SaveTrackAs(student));
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));  // killed here
  }

  const std::string dir = Folder() + "killed/";
  fs::create_directories(dir);
  const std::string earlier(200000, 'L');
  WriteText(dir + "lesson.vxb", earlier);
  ::vts::test::ChildProcess child;
  ASSERT_TRUE(child.Start("/proc/self/exe",
                          {"--gtest_filter=Files.ASaveKilledHalfwayLeavesTheWholeFileUnderItsName"},
                          {std::string(kChildVariable) + "=" + dir}));
  const std::string held = ::vts::test::WaitForFile(dir + "held");
  ASSERT_FALSE(held.empty()) << "the child did not get to its save";
  // The save waits in the opening of the pipe, its new file begun: killed there. A writer
  // that opened the pipe would let the save go on and fail before the kill lands.
  const std::string tasks = "/proc/" + std::to_string(child.Pid()) + "/task";
  auto waitsForAWriter = [&] {
    std::error_code ec;
    for (const auto& task : fs::directory_iterator(tasks, ec)) {
      const std::string wchan = ReadAll(task.path().string() + "/wchan");
      if (wchan == "wait_for_partner" || wchan == "fifo_open") return true;
    }
    return false;
  };
  ASSERT_TRUE(::vts::test::WaitUntil(waitsForAWriter, std::chrono::seconds(60)))
      << "the save never reached the held chunk";
  child.Kill();
  // The killed child's own folders.
  if (const std::string childRoot = ReadAll(dir + "child-root"); !childRoot.empty()) {
    std::error_code ec;
    fs::remove_all(childRoot, ec);
  }

  EXPECT_TRUE(ReadAll(dir + "lesson.vxb") == earlier)
      << "the earlier lesson stands whole; found " << ReadAll(dir + "lesson.vxb").size()
      << " bytes";
  EXPECT_FALSE(fs::exists(dir + "lesson - Old.vxb"));
  auto leftovers = [&] {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir))
      n += e.path().filename().string().rfind("lesson.vxb.tmp-", 0) == 0 ? 1 : 0;
    return n;
  };
  auto listing = [&] {
    std::string names;
    for (const auto& e : fs::directory_iterator(dir)) names += " " + e.path().filename().string();
    return names;
  };
  EXPECT_GE(leftovers(), 1) << "the killed save had begun its new file; found:" << listing();

  // The next save there: the leftovers go, the lesson gets its " - Old" name only now.
  MakeChunks(student, 1);
  {
    std::lock_guard lock(student->BufferLock());
    ::vts::test::FillChunk(student->Chunk(0), std::vector<std::int16_t>(44100, 1000));
  }
  ASSERT_TRUE(student->SaveTrack(dir + "lesson.vxb", true));
  EXPECT_EQ(leftovers(), 0);
  EXPECT_TRUE(ReadAll(dir + "lesson - Old.vxb") == earlier);
  EXPECT_EQ(ReadAll(dir + "lesson.vxb").substr(0, 2), "PK");
}

TEST_F(Files, OpeningChoosesVideoByTheExtensionAndAudioOtherwise) {
  // Without a video side, a video file is refused with a message.
  answers = {QStringLiteral("/lessons/lesson.mpeg")};
  dlg->Dispatch(1027, BN_CLICKED);
  EXPECT_FALSE(dlg->VideoMode());
  ASSERT_EQ(boxes->Boxes().size(), 1u);

  FakeVideo video;
  dlg->SetVideo(&video);
  answers = {QStringLiteral("/lessons/lesson.MKV")};
  dlg->Dispatch(1027, BN_CLICKED);
  EXPECT_TRUE(dlg->VideoMode());
  EXPECT_EQ(video.calls.back(), "Open /lessons/lesson.MKV");

  // Another lesson: the video window goes and video mode with it.
  ops->calls.clear();
  answers = {QStringLiteral("/lessons/lesson.mp4.wav")};
  dlg->Dispatch(1027, BN_CLICKED);
  EXPECT_FALSE(dlg->VideoMode());
  EXPECT_FALSE(video.open);
  EXPECT_EQ(ops->calls.back(), "StartLoad M /lessons/lesson.mp4.wav");
  EXPECT_FALSE(dlg->isEnabled());

  // A path without "." only sets the Student to its first chunk.
  ops->calls.clear();
  answers = {QStringLiteral("/lessons/noextension")};
  dlg->Dispatch(1027, BN_CLICKED);
  EXPECT_EQ(std::count(ops->calls.begin(), ops->calls.end(), "StartLoad M /lessons/noextension"),
            0);
}

TEST_F(Files, VideoModeIsClearedWheneverTheVideoWindowGoes) {
  FakeVideo video;
  dlg->SetVideo(&video);
  answers = {QStringLiteral("/l/a.avi")};
  dlg->Dispatch(1027, BN_CLICKED);
  ASSERT_TRUE(dlg->VideoMode());
  dlg->Dispatch(1041, BN_CLICKED);  // BUTCLOSEWAV
  EXPECT_FALSE(dlg->VideoMode());
  EXPECT_FALSE(video.open);

  answers = {QStringLiteral("/l/a.avi")};
  dlg->Dispatch(1027, BN_CLICKED);
  ASSERT_TRUE(dlg->VideoMode());
  dlg->OnVideoWindowGone();  // the window closed itself
  EXPECT_FALSE(dlg->VideoMode());

  answers = {QStringLiteral("/l/a.avi")};
  dlg->Dispatch(1027, BN_CLICKED);
  dlg->SetVideo(nullptr);
  EXPECT_FALSE(dlg->VideoMode());
}

// Open while the Master's save runs: the window's thread does not wait for it. The window
// stays disabled with "Please wait..." until the save has ended; then the old lesson closes
// and the new one loads, in that order.
TEST_F(Files, OpeningAnotherLessonWhileTheMastersSaveRunsWaitsForItWithoutBlocking) {
  CSoundTrackTestAccess::SetSourcePath(*master, "/lessons/old.wav");
  CSoundTrackTestAccess::SetAudioModified(*master, 1);
  ops->saveThreadMs = -1;
  // Yes to saving the changed audio, a name for it, then the lesson to open.
  boxes->ScriptAnswers({plat::IDYES});
  answers = {QString::fromStdString(Folder() + "old.vxb"), QStringLiteral("/lessons/new.wav")};
  dlg->Dispatch(1027, BN_CLICKED);
  EXPECT_FALSE(ops->saveDone) << "the window's thread waited for the save";
  EXPECT_EQ(std::count(ops->calls.begin(), ops->calls.end(), "Close M"), 0);
  EXPECT_FALSE(dlg->isEnabled());
  EXPECT_EQ(dlg->FileNameEdit()->text(), QStringLiteral("Please wait..."));
  // The window paints meanwhile.
  EXPECT_FALSE(dlg->grab().isNull());
  EXPECT_EQ(std::count(ops->calls.begin(), ops->calls.end(), "StartLoad M /lessons/new.wav"), 0);

  ops->ReleaseSave();
  ops->JoinSave();
  CSoundTrackTestAccess::SetLastSaveOk(*master, true);
  CSoundTrackTestAccess::SetAudioModified(*master, 0);
  Notify(3, Sender(master));
  const auto close = std::find(ops->calls.begin(), ops->calls.end(), "Close M");
  const auto load = std::find(ops->calls.begin(), ops->calls.end(), "StartLoad M /lessons/new.wav");
  ASSERT_NE(close, ops->calls.end());
  ASSERT_NE(load, ops->calls.end());
  EXPECT_LT(close, load);
  EXPECT_EQ(GetLastOpenPath(core->settings.pathsDocument), u"/lessons/new.wav");
}

// A save that failed keeps the old lesson: its changes are not lost by the Open that waited.
TEST_F(Files, AnOpenThatWaitedForAFailedSaveKeepsTheOldLesson) {
  CSoundTrackTestAccess::SetSourcePath(*master, "/lessons/old.wav");
  CSoundTrackTestAccess::SetAudioModified(*master, 1);
  ops->saveThreadMs = -1;
  boxes->ScriptAnswers({plat::IDYES});
  answers = {QString::fromStdString(Folder() + "old.vxb"), QStringLiteral("/lessons/new.wav")};
  dlg->Dispatch(1027, BN_CLICKED);
  ops->ReleaseSave();
  ops->JoinSave();
  CSoundTrackTestAccess::SetLastSaveOk(*master, false);
  Notify(3, Sender(master));
  EXPECT_EQ(std::count(ops->calls.begin(), ops->calls.end(), "Close M"), 0);
  EXPECT_EQ(std::count(ops->calls.begin(), ops->calls.end(), "StartLoad M /lessons/new.wav"), 0);
  EXPECT_EQ(master->SourcePath(), "/lessons/old.wav");
  EXPECT_TRUE(dlg->isEnabled());
}

// A dropped lesson replaces the Master side as Open does: a video window goes, the path is
// kept as the last one opened, and the Student's old texts are not written into its next save.
TEST_F(Files, ADroppedLessonReplacesTheMasterSideAsOpenDoes) {
  FakeVideo video;
  dlg->SetVideo(&video);
  answers = {QStringLiteral("/lessons/film.mp4")};
  dlg->Dispatch(1027, BN_CLICKED);
  ASSERT_TRUE(dlg->VideoMode());
  student->SetTextsPresent(true);
  ops->calls.clear();
  video.calls.clear();

  dlg->OnDropFiles({QUrl::fromLocalFile("/lessons/dropped.wav")});
  EXPECT_EQ(video.calls, (Calls{"CloseWindow"}));
  EXPECT_FALSE(dlg->VideoMode());
  EXPECT_EQ(GetLastOpenPath(core->settings.pathsDocument), u"/lessons/dropped.wav");
  EXPECT_FALSE(student->TextsPresent());
  const auto close = std::find(ops->calls.begin(), ops->calls.end(), "Close M");
  const auto load =
      std::find(ops->calls.begin(), ops->calls.end(), "StartLoad M /lessons/dropped.wav");
  ASSERT_NE(close, ops->calls.end());
  ASSERT_NE(load, ops->calls.end());
  EXPECT_LT(close, load);

  // Refused: nothing of it happens.
  CSoundTrackTestAccess::SetModified(*master, true);
  student->SetTextsPresent(true);
  boxes->ScriptAnswers({plat::IDNO});
  ops->calls.clear();
  dlg->OnDropFiles({QUrl::fromLocalFile("/lessons/other.wav")});
  EXPECT_TRUE(ops->calls.empty());
  EXPECT_EQ(GetLastOpenPath(core->settings.pathsDocument), u"/lessons/dropped.wav");
  EXPECT_TRUE(student->TextsPresent());
}

TEST_F(Files, ConfirmDiscardAsksAboutModifiedMasterData) {
  CSoundTrackTestAccess::SetModified(*master, true);
  boxes->ScriptAnswers({plat::IDNO});
  answers = {QStringLiteral("/lessons/x.wav")};
  dlg->Dispatch(1027, BN_CLICKED);
  ASSERT_EQ(boxes->Boxes().size(), 1u);
  EXPECT_EQ(boxes->Boxes()[0].text, u"All unsaved data will be lost. Continue?");
  EXPECT_EQ(boxes->Boxes()[0].caption, u"Unsaved data");
  EXPECT_TRUE(requests.empty()) << "No: no open dialog";
}

TEST_F(Files, SaveBookmarksAsksTheStudentToBeSavedFirst) {
  CSoundTrackTestAccess::SetModified(*student, true);
  dlg->Dispatch(1021, BN_CLICKED);
  ASSERT_EQ(boxes->Boxes().size(), 1u);
  EXPECT_EQ(boxes->Boxes()[0].text, u"Use blue save button to save student track first");
  EXPECT_EQ(boxes->Boxes()[0].caption, u"Attention");
  EXPECT_TRUE(requests.empty());
}

TEST_F(Files, RightClickOnSaveBookmarksWritesTheSideFilesBesideTheMedia) {
  const std::string dir = Folder();
  WriteText(dir + "lesson.wav", "RIFF");
  CSoundTrackTestAccess::SetSourcePath(*master, dir + "lesson.wav");
  CSoundTrackTestAccess::SetSourceFile(*master, ::open(master->SourcePath().c_str(), O_RDONLY));
  master->SetTextsPresent(true);
  boxes->ScriptAnswers({plat::IDYES});
  dlg->Dispatch(1021, NM_RCLICK);
  EXPECT_EQ(ops->calls, (Calls{"WriteChunkList M " + dir + "lesson.cif", "BuildChunkTexts M"}));
  EXPECT_EQ(ReadAll(dir + "lesson.txt"), std::string("t\0", 2));
}

// Whatever could not be written is named in one box; a text file that cannot even be created
// stays silent.
TEST_F(Files, RightClickSaveTellsWhichSideFilesCouldNotBeWritten) {
  const std::string dir = Folder();
  WriteText(dir + "lesson.wav", "RIFF");
  CSoundTrackTestAccess::SetSourcePath(*master, dir + "lesson.wav");
  CSoundTrackTestAccess::SetSourceFile(*master, ::open(master->SourcePath().c_str(), O_RDONLY));
  master->SetTextsPresent(true);
  const std::string cif = dir + "lesson.cif", txt = dir + "lesson.txt";
  const std::string inner = master->TempFolderPath() + "lesson.cif";
  const struct {
    const char* what;
    bool package;
    bool opsFail;
    bool textFull;
    bool textNotCreated;
    std::u16string text;  // empty: no box
  } cases[] = {
      {"all written", false, false, false, false, u""},
      {"chunk list fails", false, true, false, false, u"Could not write:\n" + Q(cif)},
      {"text file fills the disk", false, false, true, false, u"Could not write:\n" + Q(txt)},
      {"text file cannot be created", false, false, false, true, u""},
      {"package fails", true, true, false, false,
       u"Could not write:\n" + Q(inner) + u"\n" + Q(dir + "lesson.vxb")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(txt + ".part");
    if (c.textNotCreated) fs::create_directories(txt + ".part");  // the file cannot be made there
    ops->sideWritesFail = c.opsFail;
    CSoundTrackTestAccess::SetIsPackage(*master, c.package);
    boxes->Clear();
    boxes->ScriptAnswers({plat::IDYES});
    {
      std::optional<vts::test::FileSizeLimit> full;
      if (c.textFull) full.emplace(1);
      dlg->Dispatch(1021, NM_RCLICK);
    }
    ASSERT_GE(boxes->Boxes().size(), 1u);  // the question
    if (c.text.empty()) {
      EXPECT_EQ(boxes->Boxes().size(), 1u);
    } else {
      ASSERT_EQ(boxes->Boxes().size(), 2u);
      EXPECT_EQ(boxes->Boxes()[1].text, c.text);
      EXPECT_EQ(boxes->Boxes()[1].caption, std::u16string(GetProductName()));
    }
    EXPECT_FALSE(fs::is_regular_file(txt + ".part")) << "no partial text file stays";
  }
  fs::remove_all(txt + ".part");
}

// A failed load is told once, by the window, with the file's name and the reason; the name
// edit does not show a file that did not open.
TEST_F(Files, FailedLoadShowsOneBoxWithTheNameAndTheReason) {
  answers = {QStringLiteral("/lessons/broken.wav")};
  dlg->Dispatch(1027, BN_CLICKED);
  EXPECT_EQ(dlg->FileNameEdit()->text(), "Please wait...");
  CSoundTrackTestAccess::SetLoadError(*master, "the file is not a PCM WAV");
  Notify(TRACK_NOTIFY_LOADED, Sender(master));
  ASSERT_EQ(boxes->Boxes().size(), 1u);
  EXPECT_EQ(boxes->Boxes()[0].text,
            u"\"broken.wav\" could not be opened: the file is not a PCM WAV.");
  EXPECT_EQ(boxes->Boxes()[0].caption, std::u16string(GetProductName()));
  EXPECT_EQ(dlg->FileNameEdit()->text(), "");
  EXPECT_TRUE(dlg->isEnabled());

  // A load that succeeded, and the Student's notices, tell nothing.
  boxes->Clear();
  CSoundTrackTestAccess::SetLoadError(*master, {});
  Notify(TRACK_NOTIFY_LOADED, Sender(master));
  CSoundTrackTestAccess::SetLoadError(*student, "not the Master's");
  Notify(TRACK_NOTIFY_LOADED, Sender(student));
  EXPECT_TRUE(boxes->Boxes().empty());
}

}  // namespace
}  // namespace vts::ui::test
