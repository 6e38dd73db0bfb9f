// The launcher built with a variant key outside the table: recorder, settings folder,
// documents folder and desktop entry all say "Unknown"; the caption does not change.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTimer>
#include <filesystem>

#include "core/product_name.h"
#include "launcher/launcher.h"
#include "launcher_test_util.h"
#include "test_env.h"

namespace vts::launcher {
namespace {

TEST(LauncherUnknownVariant, StartsTheRecorderUnknownAndUsesFoldersOfThatName) {
  ASSERT_EQ(GetProductNameUtf8(), "Unknown");
  test::BecomeSubreaper();
  const std::string root = test::TestRoot();
  const std::string program = test::MakeTempDir("program");
  test::FakeRecorders fakes(program, "Unknown");
  fakes.Export();

  QString caption, open;
  LauncherEnvironment env;
  env.programFolder = program;
  env.launcherPath = program + "/VoxtrailStart";
  env.dialogShown = [&](LauncherDialog& d) {
    QTimer::singleShot(0, &d, [&] {
      caption = d.windowTitle();
      open = static_cast<QLineEdit*>(d.Control(LauncherDialog::kIdPathOpen))->text();
      d.accept();
    });
  };
  EXPECT_EQ(RunLauncher({"setup", "/a/b.wav"}, env), 0);
  EXPECT_EQ(caption, "Voxtrailstudy Launcher");
  EXPECT_EQ(open.toStdString(), root + "/documents/Unknown");
  EXPECT_TRUE(std::filesystem::is_directory(root + "/documents/Unknown"));
  EXPECT_TRUE(std::filesystem::is_regular_file(root + "/data/Unknown/VoxtrailstudyPath.ini"));
  EXPECT_TRUE(
      std::filesystem::is_regular_file(root + "/xdg-data/applications/unknown-start.desktop"));

  const std::vector<test::FakeRecorderStart> starts = fakes.Release();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].arguments, (std::vector<std::string>{"/Pos:1", "/a/b.wav"}));
  EXPECT_EQ(starts[1].arguments, (std::vector<std::string>{"/Pos:2", "/a/b.wav"}));
}

}  // namespace
}  // namespace vts::launcher
