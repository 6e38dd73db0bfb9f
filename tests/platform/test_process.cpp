// Process list by program-file name, another process's environment, debugger check,
// affinity, running a desktop tool, stop signals.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
  EXPECT_EQ(RunQuietlyAndWait("sh", {"-c", "sleep 0.2; echo done > \"$0\"; echo noise; echo noise >&2", out},
                              std::chrono::seconds(60)),
            ToolRun::kFinished);
  // Waited for: the file is there at once.
  EXPECT_EQ(access(out.c_str(), F_OK), 0);
  EXPECT_EQ(RunQuietlyAndWait("no-such-desktop-tool-here", {"x"}, std::chrono::seconds(60)),
            ToolRun::kNotStarted);
}

// A tool that does not end is waited for only so long; it then finishes on its own and is
// collected (no zombie stays behind).
TEST(Process, ADesktopToolThatHangsIsLeftToFinishAlone) {
  const std::string dir = vts::test::MakeTempDir("tool");
  const std::string gate = dir + "/gate", pidFile = dir + "/pid", out = dir + "/out";
  const char* script =
      "echo $$ > \"$1\"; while [ ! -e \"$0\" ]; do sleep 0.05; done; echo done > \"$2\"";
  EXPECT_EQ(RunQuietlyAndWait("sh", {"-c", script, gate, pidFile, out}, std::chrono::milliseconds(300)),
            ToolRun::kLeftRunning);
  EXPECT_NE(access(out.c_str(), F_OK), 0) << "it had not finished";
  ASSERT_TRUE(vts::test::WaitUntil([&] { return access(pidFile.c_str(), F_OK) == 0; }));
  const std::string pid = vts::test::ReadFile(pidFile).substr(0, vts::test::ReadFile(pidFile).find('\n'));
  vts::test::WriteText(gate, "");
  EXPECT_TRUE(vts::test::WaitUntil([&] { return access(out.c_str(), F_OK) == 0; }));
  EXPECT_TRUE(vts::test::WaitUntil([&] { return access(("/proc/" + pid).c_str(), F_OK) != 0; }))
      << "the ended tool was collected";
}

// The recorder blocks SIGTERM and SIGINT in every thread (they arrive on a descriptor); a tool
// it starts must still end on them.
TEST(Process, ADesktopToolDoesNotInheritTheBlockedStopSignals) {
  sigset_t stop, before;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &stop, &before), 0);
  const std::string out = vts::test::MakeTempDir("tool") + "/mask";
  // dd reads its own status (a shell might change its mask itself).
  const ToolRun run = RunQuietlyAndWait(
      "dd", {"if=/proc/self/status", "of=" + out, "status=none"}, std::chrono::seconds(60));
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ASSERT_EQ(run, ToolRun::kFinished);
  const std::string status = vts::test::ReadFile(out);
  const std::size_t at = status.find("\nSigBlk:");
  ASSERT_NE(at, std::string::npos) << status;
  const std::string line = status.substr(at + 1, status.find('\n', at + 1) - at - 1);
  const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
  EXPECT_EQ(mask & (1ull << (SIGTERM - 1)), 0u) << line;
  EXPECT_EQ(mask & (1ull << (SIGINT - 1)), 0u) << line;
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
