// The launcher's dialog, run in this process on the offscreen platform with a folder-picker
// seam and fake recorders: when it shows, what it starts with, and what OK, Cancel, the close
// box and Select leave behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/product_name.h"
#include "launcher/launcher.h"
#include "launcher_test_util.h"
#include "test_env.h"
#include "test_files.h"
#include "ui/dialog_units.h"

namespace vts::launcher {
namespace {

using test::FakeRecorders;
using test::FakeRecorderStart;
using test::ReadFile;

QString EditText(LauncherDialog& d, int id) {
  return static_cast<QLineEdit*>(d.Control(id))->text();
}

void Click(LauncherDialog& d, int id) {
  QTest::mouseClick(static_cast<QPushButton*>(d.Control(id)), Qt::LeftButton);
}

// Each test gets its own root (settings, documents, desktop entries) and program folder.
class LauncherDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::BecomeSubreaper(); }

  void SetUp() override {
    savedRoot_ = test::TestRoot();
    root_ = test::MakeTempDir("root");
    ::setenv("VOXTRAILSTUDY_ROOT", root_.c_str(), 1);
    program_ = test::MakeTempDir("program");
    fakes_ = std::make_unique<FakeRecorders>(program_, GetProductNameUtf8());
    fakes_->Export();
    ini_ = root_ + "/data/" + GetProductNameUtf8() + "/VoxtrailstudyPath.ini";
    docs_ = root_ + "/documents/" + GetProductNameUtf8();
    char cwd[4096];
    cwd_ = ::getcwd(cwd, sizeof cwd);
  }
  void TearDown() override { ::setenv("VOXTRAILSTUDY_ROOT", savedRoot_.c_str(), 1); }

  // Runs the launcher; `drive` acts on the dialog once its modal loop runs.
  int Run(const std::vector<std::string>& args, std::function<void(LauncherDialog&)> drive,
          FolderPicker picker = {}) {
    LauncherEnvironment env;
    env.programFolder = program_;
    env.launcherPath = program_ + "/VoxtrailStart";
    env.pickFolder = std::move(picker);
    env.dialogShown = [this, drive](LauncherDialog& d) {
      shown_ = true;
      QTimer::singleShot(0, &d, [&d, drive] { drive(d); });
    };
    return RunLauncher(args, env);
  }

  std::string savedRoot_, root_, program_, ini_, docs_, cwd_;
  std::unique_ptr<FakeRecorders> fakes_;
  bool shown_ = false;
};

TEST_F(LauncherDialogTest, ShowsWithTheDocumentsFolderForSetupOrAnUnreadableFile) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* ini;  // null: no settings file
  };
  const Case cases[] = {
      {"no settings file", {"/home/u/a.wav"}, nullptr},
      {"\"setup\" inside a path, empty folders",
       {"/home/u/setups/a.wav"},
       "[Main]\r\nPathSave=\r\nPathOpen=\r\n\r\n"},
      {"\"setup\" with a file without the keys", {"setup"}, "[Other]\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(root_);
    if (c.ini) {
      std::filesystem::create_directories(std::filesystem::path(ini_).parent_path());
      std::ofstream(ini_, std::ios::binary) << c.ini;
    }
    shown_ = false;
    QString open, save;
    EXPECT_EQ(Run(c.args,
                  [&](LauncherDialog& d) {
                    open = EditText(d, LauncherDialog::kIdPathOpen);
                    save = EditText(d, LauncherDialog::kIdPathSave);
                    Click(d, LauncherDialog::kIdCancel);
                  }),
              0);
    EXPECT_TRUE(shown_);
    EXPECT_EQ(open.toStdString(), docs_);
    EXPECT_EQ(save.toStdString(), docs_);
    EXPECT_TRUE(std::filesystem::is_directory(docs_)) << "the documents folder is made";
    EXPECT_EQ(std::filesystem::exists(ini_), c.ini != nullptr) << "Cancel writes nothing";
    if (c.ini) EXPECT_EQ(ReadFile(ini_), c.ini);
    EXPECT_TRUE(test::HasNoChildren()) << "Cancel starts nothing";
  }
}

TEST_F(LauncherDialogTest, SetupShowsTheStoredFoldersAndAReadableFileShowsNoDialog) {
  ASSERT_TRUE(WritePathIni(ini_, {"/stored/save", "/stored/open"}));
  QString open, save;
  Run({"setup"}, [&](LauncherDialog& d) {
    open = EditText(d, LauncherDialog::kIdPathOpen);
    save = EditText(d, LauncherDialog::kIdPathSave);
    d.close();  // the close box: like Cancel
  });
  EXPECT_EQ(open, "/stored/open");
  EXPECT_EQ(save, "/stored/save");
  EXPECT_TRUE(test::HasNoChildren());

  shown_ = false;
  EXPECT_EQ(Run({"/home/u/a.wav"}, [](LauncherDialog& d) { d.reject(); }), 0);
  EXPECT_FALSE(shown_);
  const std::vector<FakeRecorderStart> starts = fakes_->Release();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].arguments, (std::vector<std::string>{"/Pos:1", "/home/u/a.wav"}));
  EXPECT_EQ(starts[1].arguments, (std::vector<std::string>{"/Pos:2", "/home/u/a.wav"}));
}

TEST_F(LauncherDialogTest, SelectFillsTheEditAtOnceAndCancelStillWritesNothing) {
  std::vector<QString> starts;
  const FolderPicker picker = [&](QWidget* parent, const QString& start) {
    EXPECT_NE(parent, nullptr);
    starts.push_back(start);
    return starts.size() == 1 ? QStringLiteral("/picked/open") : QString();  // second: cancelled
  };
  QString afterPick, afterCancelledPick;
  Run(
      {},
      [&](LauncherDialog& d) {
        Click(d, LauncherDialog::kIdSelectOpen);
        afterPick = EditText(d, LauncherDialog::kIdPathOpen);
        static_cast<QLineEdit*>(d.Control(LauncherDialog::kIdPathSave))->setText("/typed/save");
        Click(d, LauncherDialog::kIdSelectSave);
        afterCancelledPick = EditText(d, LauncherDialog::kIdPathSave);
        Click(d, LauncherDialog::kIdCancel);
      },
      picker);
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].toStdString(), docs_) << "opened at the edit's folder";
  EXPECT_EQ(starts[1], "/typed/save");
  EXPECT_EQ(afterPick, "/picked/open");
  EXPECT_EQ(afterCancelledPick, "/typed/save") << "a cancelled pick keeps what was typed";
  EXPECT_FALSE(std::filesystem::exists(ini_));
  EXPECT_TRUE(test::HasNoChildren());
}

TEST_F(LauncherDialogTest, AFolderTooLongForTheEditIsNotTaken) {
  const QString tooLong = "/" + QString(259, QChar('x'));
  QString after;
  Run(
      {},
      [&](LauncherDialog& d) {
        Click(d, LauncherDialog::kIdSelectSave);
        after = EditText(d, LauncherDialog::kIdPathSave);
        d.reject();
      },
      [&](QWidget*, const QString&) { return tooLong; });
  EXPECT_EQ(after.toStdString(), docs_);
}

TEST_F(LauncherDialogTest, OkWritesTheExactBytesAndStartsBothRecorders) {
  const std::string file = "/home/u/my lesson.vxb";
  Run(
      {file},
      [&](LauncherDialog& d) {
        Click(d, LauncherDialog::kIdSelectOpen);
        Click(d, LauncherDialog::kIdOk);
      },
      [](QWidget*, const QString&) { return QStringLiteral("/srv/les sons"); });
  EXPECT_EQ(ReadFile(ini_), "[Main]\r\nPathSave=" + docs_ + "\r\nPathOpen=/srv/les sons\r\n\r\n");
  // The launcher has returned while both recorders wait.
  EXPECT_TRUE(fakes_->Records().empty());
  const std::vector<FakeRecorderStart> starts = fakes_->Release();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0], (FakeRecorderStart{cwd_, {"/Pos:1", file}}));
  EXPECT_EQ(starts[1], (FakeRecorderStart{cwd_, {"/Pos:2", file}}));
  EXPECT_TRUE(test::HasNoChildren());

  // The next start reads the file and shows no dialog.
  shown_ = false;
  Run({"/PXN"}, [](LauncherDialog& d) { d.reject(); });
  EXPECT_FALSE(shown_);
  const std::vector<FakeRecorderStart> again = fakes_->Release();
  ASSERT_EQ(again.size(), 4u);  // the log keeps the first two, which sort first
  EXPECT_EQ(again[2].arguments, std::vector<std::string>{"/_p"});
  EXPECT_EQ(again[3].arguments, std::vector<std::string>{"/_s"});
}

TEST(LauncherDialogLayout, PlacesItsControlsFromDialogUnits) {
  LauncherDialog d({"/s", "/o"});
  EXPECT_EQ(d.windowTitle(), "Voxtrailstudy Launcher");
  EXPECT_EQ(d.size(), QSize(ui::DuToPixelsX(245), ui::DuToPixelsY(142)));
  struct Control {
    int id;
    const char* text;
    int x, y, w, h;
  };
  const Control controls[] = {
      {LauncherDialog::kIdPathOpen, "/o", 12, 24, 168, 14},
      {LauncherDialog::kIdSelectOpen, "Select", 186, 24, 50, 14},
      {LauncherDialog::kIdPathSave, "/s", 12, 60, 168, 14},
      {LauncherDialog::kIdSelectSave, "Select", 186, 60, 50, 14},
      {LauncherDialog::kIdOk, "OK", 60, 114, 50, 14},
      {LauncherDialog::kIdCancel, "Cancel", 126, 114, 50, 14},
  };
  for (const Control& c : controls) {
    QWidget* w = d.Control(c.id);
    ASSERT_NE(w, nullptr) << c.id;
    EXPECT_EQ(w->geometry(), ui::DuToPixels(c.x, c.y, c.w, c.h)) << c.id;
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(e->text(), c.text);
      EXPECT_EQ(e->maxLength(), 259);
    } else {
      EXPECT_EQ(static_cast<QPushButton*>(w)->text(), c.text);
    }
  }
  EXPECT_TRUE(static_cast<QPushButton*>(d.Control(LauncherDialog::kIdOk))->isDefault());
  std::map<QString, QRect> labels;
  for (QLabel* l : d.findChildren<QLabel*>()) labels[l->text()] = l->geometry();
  EXPECT_EQ(labels["Default path to open files"], ui::DuToPixels(12, 12, 93, 8));
  EXPECT_EQ(labels["Default path to save exercises"], ui::DuToPixels(12, 48, 167, 8));
}

}  // namespace
}  // namespace vts::launcher
