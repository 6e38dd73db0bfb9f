// Process list by program-file name, another process's environment, debugger check,
// affinity, running a desktop tool, stop signals.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/known_folders.h"
#include "platform/process.h"
#include "test_env.h"
#include "test_files.h"

using namespace vts::plat;

TEST(Process, AnotherCopyOfThisProgramIsFoundByName) {
  // (Other tests of this program may run in parallel, so only the positive case is checked.)
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    pause();
    _exit(0);
  }
  // The forked child runs the same program file.
  std::string name = ProgramPath().substr(ProgramPath().find_last_of('/') + 1);
  auto found = FindProcessesByExeName(name);
  EXPECT_NE(std::find(found.begin(), found.end(), child), found.end());
  EXPECT_TRUE(AnotherProcessOfThisProgramRuns());
  EXPECT_TRUE(FindProcessesByExeName("no-such-program-name").empty());
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

TEST(Process, NoDebuggerUnderTestAndAffinityCanBeRestricted) {
  EXPECT_FALSE(IsDebuggerAttached());
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool ok = RestrictToFirstProcessor();
    cpu_set_t set;
    sched_getaffinity(0, sizeof set, &set);
    _exit(ok && CPU_COUNT(&set) == 1 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Process, AnotherProcessesEnvironmentValueIsReadByName) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("60"), nullptr};
    char* envp[] = {const_cast<char*>("VTS_A=1"), const_cast<char*>("VTS_ROOTISH=/x/y=z"), nullptr};
    execve(argv[0], argv, envp);
    _exit(127);
  }
  // The environment is the new one once the program runs.
  EXPECT_TRUE(vts::test::WaitUntil(
      [&] { return ProcessEnvironmentValue(child, "VTS_ROOTISH") == "/x/y=z"; }));
  EXPECT_EQ(ProcessEnvironmentValue(child, "VTS_A"), "1");
  EXPECT_EQ(ProcessEnvironmentValue(child, "VTS"), "") << "a prefix of a name is no match";
  EXPECT_EQ(ProcessEnvironmentValue(child, "MISSING"), "");
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(ProcessEnvironmentValue(child, "VTS_A"), "") << "an ended process has none";
  EXPECT_EQ(CurrentProcessId(), static_cast<std::uint32_t>(getpid()));
}

TEST(Process, ADesktopToolRunsToItsEndQuietlyAndAMissingOneIsNoError) {
  const std::string out = vts::test::MakeTempDir("tool") + "/tool-ran";
  RunQuietlyAndWait("sh", {"-c", "sleep 0.2; echo done > \"$0\"; echo noise; echo noise >&2", out});
  // Waited for: the file is there at once.
  EXPECT_EQ(access(out.c_str(), F_OK), 0);
  RunQuietlyAndWait("no-such-desktop-tool-here", {"x"});
}

TEST(Process, StopSignalsArriveOnTheDescriptorInsteadOfEndingTheProcess) {
  sigset_t before;
  ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &before), 0);
  {
    UniqueFd fd = BlockStopSignals();
    ASSERT_TRUE(fd);
    ASSERT_EQ(raise(SIGTERM), 0);  // would end the test program if not blocked
    ASSERT_EQ(raise(SIGINT), 0);
    char buf[256];
    EXPECT_GT(read(fd.get(), buf, sizeof buf), 0);
    DrainStopSignals(fd.get());
    EXPECT_LT(read(fd.get(), buf, sizeof buf), 0) << "drained";
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}
