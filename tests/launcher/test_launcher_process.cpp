// The launcher program as a user starts it: copied with a fake recorder into a fresh folder,
// it hands each recorder its switch and the file, ends before they do anything, and exits 0.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/product_name.h"
#include "launcher/launcher_settings.h"
#include "launcher_test_util.h"
#include "test_env.h"
#include "test_files.h"

extern char** environ;

namespace vts::test {
namespace {

struct LauncherRun {
  int status = -1;
  std::string standardError;
};

// Runs the launcher copy in `folder` from the working folder `cwd` and waits for its end.
LauncherRun RunLauncherProgram(const std::string& program, const std::vector<std::string>& args,
                               const std::string& cwd, const std::string& root,
                               const std::vector<std::string>& extraEnv) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string s = *e;
    // No display: these starts need none.
    if (s.rfind("VOXTRAILSTUDY_ROOT=", 0) == 0 || s.rfind("VTS_FAKE_RECORDER_", 0) == 0 ||
        s.rfind("DISPLAY=", 0) == 0 || s.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
        s.rfind("QT_QPA_PLATFORM=", 0) == 0)
      continue;
    env.push_back(s);
  }
  env.push_back("VOXTRAILSTUDY_ROOT=" + root);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp;
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const std::string errPath = MakeTempDir("stderr") + "/stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  LauncherRun run;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.standardError = ReadFile(errPath);
  return run;
}

class LauncherProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BecomeSubreaper(); }

  // A fresh folder with the launcher, a root whose settings file is readable (no dialog).
  void SetUp() override {
    folder_ = MakeTempDir("program");
    launcher_ = folder_ + "/VoxtrailStart";
    std::filesystem::copy_file(VTS_LAUNCHER_PATH, launcher_);
    root_ = MakeTempDir("root");
    cwd_ = MakeTempDir("cwd");
    const std::string ini = root_ + "/data/" + GetProductNameUtf8() + "/VoxtrailstudyPath.ini";
    ASSERT_TRUE(launcher::WritePathIni(ini, {"/s", "/o"}));
  }

  std::string folder_, launcher_, root_, cwd_;
};

TEST_F(LauncherProcess, StartsTwoRecordersWithTheirSwitchAndTheFileAndEndsFirst) {
  const std::string blank = "/home/u/my lesson.wav";
  const std::string pattern = "/home/u/less*.w?v";
  const std::string tooLong = "/" + std::string(1019, 'x');
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::vector<std::string>> expected;
  };
  const Case cases[] = {
      {"path with a blank", {blank}, {{"/Pos:1", blank}, {"/Pos:2", blank}}},
      {"wildcard pattern", {pattern}, {{"/Pos:1", pattern}, {"/Pos:2", pattern}}},
      {"no file", {}, {{"/Pos:1"}, {"/Pos:2"}}},
      {"/PXN", {"/PXN", blank}, {{"/_p", blank}, {"/_s", blank}}},
      {"1020-character path", {tooLong}, {{"/Pos:1"}, {"/Pos:2"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRecorders fakes(folder_, GetProductNameUtf8());
    const LauncherRun run = RunLauncherProgram(launcher_, c.args, cwd_, root_, fakes.Environment());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.standardError, "");
    // The launcher has ended while both recorders still wait.
    EXPECT_TRUE(fakes.Records().empty());
    const std::vector<FakeRecorderStart> starts = fakes.Release();
    ASSERT_EQ(starts.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(starts[i].arguments, c.expected[i]);
      EXPECT_EQ(starts[i].workingFolder, cwd_) << "the working folder is inherited";
    }
  }
}

TEST_F(LauncherProcess, MissingRecorderGivesOneLineAndStatusZero) {
  const LauncherRun run = RunLauncherProgram(launcher_, {"/home/u/a.wav"}, cwd_, root_, {});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(std::count(run.standardError.begin(), run.standardError.end(), '\n'), 1);
  EXPECT_NE(run.standardError.find(folder_ + "/" + GetProductNameUtf8()), std::string::npos)
      << run.standardError;
  EXPECT_TRUE(HasNoChildren());
}

TEST_F(LauncherProcess, WithoutADisplayForTheDialogSaysSoAndStartsNothing) {
  FakeRecorders fakes(folder_, GetProductNameUtf8());
  const std::string ini = root_ + "/data/" + GetProductNameUtf8() + "/VoxtrailstudyPath.ini";
  const std::string before = ReadFile(ini);
  const LauncherRun run =
      RunLauncherProgram(launcher_, {"setup"}, cwd_, root_, fakes.Environment());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(std::count(run.standardError.begin(), run.standardError.end(), '\n'), 1)
      << run.standardError;
  EXPECT_EQ(ReadFile(ini), before);
  EXPECT_TRUE(HasNoChildren());
}

TEST_F(LauncherProcess, WritesItsDesktopEntryOnlyWhenItChanged) {
  FakeRecorders fakes(folder_, GetProductNameUtf8());
  ASSERT_EQ(RunLauncherProgram(launcher_, {}, cwd_, root_, fakes.Environment()).status, 0);
  fakes.Release();
  const std::string entry =
      root_ + "/xdg-data/applications/" + launcher::LauncherDesktopEntryFileName();
  EXPECT_EQ(ReadFile(entry), launcher::LauncherDesktopEntryText(launcher_));

  // An entry with the same text is left alone; an outdated one is rewritten.
  const auto written = std::filesystem::last_write_time(entry);
  std::filesystem::last_write_time(entry, written - std::chrono::hours(1));
  const auto marked = std::filesystem::last_write_time(entry);
  ASSERT_EQ(RunLauncherProgram(launcher_, {}, cwd_, root_, fakes.Environment()).status, 0);
  fakes.Release();
  EXPECT_EQ(std::filesystem::last_write_time(entry), marked);
  std::ofstream(entry, std::ios::trunc) << "[Desktop Entry]\nExec=/old/place\n";
  ASSERT_EQ(RunLauncherProgram(launcher_, {}, cwd_, root_, fakes.Environment()).status, 0);
  fakes.Release();
  EXPECT_EQ(ReadFile(entry), launcher::LauncherDesktopEntryText(launcher_));
}

}  // namespace
}  // namespace vts::test
