// The recorder program's start-up seen from outside: a second copy at position 0 ends at
// once with status 255; a student started without "/Pos:" tells the classroom daemon its
// position and subscribes to the raw-input library beside the program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "classroom_double.h"
#include "platform/known_folders.h"
#include "platform/window_bus.h"
#include "recorder_process.h"
#include "test_env.h"

using namespace std::chrono_literals;

namespace vts {
namespace {

// Started in this test's own root, so its windows are on the same bus.
pid_t StartRecorder(std::vector<std::string> args) {
  return test::StartRecorder(test::RecorderStart{test::TestRoot(), std::move(args)});
}
using test::ReadFile;
using test::WaitForExit;

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
  EXPECT_EQ(WaitForExit(second), 255);

  // The copy with a position stays and ends normally.
  kill(first, SIGTERM);
  EXPECT_EQ(WaitForExit(first), 0);
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
