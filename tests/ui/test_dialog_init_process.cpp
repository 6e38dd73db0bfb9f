// The recorder program's start-up seen from outside: a second copy at position 0 ends at
// once with status 255; a student started without "/Pos:" tells the classroom daemon its
// position and subscribes to the raw-input library beside the program.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "classroom_double.h"
#include "platform/known_folders.h"
#include "platform/window_bus.h"
#include "process_helper.h"
#include "test_env.h"
#include "test_files.h"

extern char** environ;
using namespace std::chrono_literals;

namespace vts {
namespace {

using ::vts::test::ReadFile;

// Started in this test's own root, so its windows are on the same bus.
pid_t StartRecorder(std::vector<std::string> args) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string s = *e;
    if (s.rfind("QT_QPA_PLATFORM=", 0) == 0) continue;
    env.push_back(s);
  }
  env.push_back("QT_QPA_PLATFORM=offscreen");
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string exe = VTS_RECORDER_PATH;
  std::vector<char*> argv{exe.data()};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  return pid;
}

bool WaitForRecorderWindow(unsigned position, pid_t pid) {
  auto until = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < until) {
    if (test::ClassroomFrameworkDouble::FindRecorder(position) != 0) return true;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

TEST(RecorderStartUp, ASecondCopyAtPosition0EndsAt255) {
  const pid_t first = StartRecorder({"/Pos:1"});
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitForRecorderWindow(1, first)) << "the first recorder did not come up";

  const pid_t second = StartRecorder({});
  ASSERT_GT(second, 0);
  EXPECT_EQ(test::WaitForExitOrKill(second), 255);

  // The copy with a position stays and ends normally.
  kill(first, SIGTERM);
  EXPECT_EQ(test::WaitForExitOrKill(first), 0);
}

TEST(RecorderStartUp, AStudentWithoutPosTellsTheDaemonAndSubscribesRawInput) {
  test::ClassroomWindowDouble daemon;
  ASSERT_TRUE(daemon.Start());
  const pid_t recorder = StartRecorder({"/_s"});
  ASSERT_GT(recorder, 0);
  test::ReceivedMessage m;
  ASSERT_TRUE(daemon.WaitFor(test::WM_DAEMONNOTIFY, 60s, &m));
  EXPECT_EQ(m.wParam, 9u);
  EXPECT_EQ(m.lParam, 2);
  EXPECT_EQ(m.senderProcessId, static_cast<std::uint32_t>(recorder));

  const plat::WindowId window = test::ClassroomFrameworkDouble::FindRecorder(2);
  ASSERT_NE(window, 0u);
  const std::string log = ReadFile(plat::RuntimeFolder() + "/rawinput.log");
  char expected[96];
  std::snprintf(expected, sizeof expected, "select position=2 window=0x%016llx",
                static_cast<unsigned long long>(window));
  EXPECT_NE(log.find(expected), std::string::npos) << log;

  // Closing a classroom-managed student runs the exit path's automatic save, which is not
  // this test's matter: the process is killed.
  kill(recorder, SIGKILL);
  waitpid(recorder, nullptr, 0);
}

}  // namespace
}  // namespace vts
