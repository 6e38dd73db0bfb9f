// Process list by program-file name, debugger check, affinity.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <algorithm>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/known_folders.h"

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
