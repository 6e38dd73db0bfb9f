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
#include "platform/utf.h"
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

// The windows on the bus that carry the text of a position's window.
std::size_t WindowsAt(unsigned position) {
  const std::u16string text =
      position == 0 ? u"Recorder"
                    : u"_" + plat::Utf8ToUtf16(std::to_string(position)) + u"VoxtrailstudyUser";
  std::size_t n = 0;
  for (const plat::WindowInfo& w : plat::ListWindows())
    if (w.text == text) ++n;
  return n;
}

void EndRecorder(pid_t pid) {
  kill(pid, SIGTERM);
  if (test::WaitForExit(pid) < 0) ADD_FAILURE() << "a recorder did not end";
}

// Two copies started at the same instant for one position: exactly one runs, the other ends
// at once with status 255.
TEST(RecorderStartUp, OfTwoCopiesStartedTogetherAtOnePositionExactlyOneRuns) {
  struct Pair {
    std::vector<std::string> first, second;
    unsigned position;
  };
  const std::vector<Pair> pairs = {
      {{"/Pos:1"}, {"/Pos:1"}, 1}, {{"/_p"}, {"/Pos:1"}, 1}, {{}, {}, 0}, {{"/Pos:2"}, {"/_s"}, 2}};
  for (const Pair& p : pairs) {
    SCOPED_TRACE("position " + std::to_string(p.position));
    const pid_t a = StartRecorder(p.first);
    const pid_t b = StartRecorder(p.second);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    int status = -1;
    pid_t ended = 0;
    ASSERT_TRUE(test::WaitUntil(
        [&] {
          for (pid_t pid : {a, b}) {
            int st = 0;
            if (!ended && waitpid(pid, &st, WNOHANG) == pid) {
              ended = pid;
              status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
          }
          return ended != 0;
        },
        60s))
        << "neither copy ended";
    EXPECT_EQ(status, 255);
    const pid_t survivor = ended == a ? b : a;
    EXPECT_TRUE(test::WaitUntil([&] { return WindowsAt(p.position) == 1; }, 60s));
    EXPECT_TRUE(test::StillRunning(survivor)) << "the other copy runs on";
    EXPECT_EQ(WindowsAt(p.position), 1u);
    EndRecorder(survivor);
  }
}

// A copy started at a position that a running copy holds (the launcher run again) ends at
// once: the first copy's recorded chunks stay, and one window answers for the position.
TEST(RecorderStartUp, ACopyAtAHeldPositionEndsAndLeavesTheTakesAlone) {
  const pid_t first = StartRecorder({"/Pos:1"});
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitForRecorderWindow(1, first)) << "the first recorder did not come up";
  const std::string take = plat::TempFolder() + "/Voxtrailstudy/TempSnd/Student1/A1B2.tmp";
  ASSERT_TRUE(static_cast<bool>(std::ofstream(take) << "recorded"));

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/Pos:1"}, std::vector<std::string>{"/_p"}}) {
    const pid_t again = StartRecorder(args);
    ASSERT_GT(again, 0);
    EXPECT_EQ(WaitForExit(again), 255) << args[0];
  }
  EXPECT_EQ(ReadFile(take), "recorded");
  EXPECT_EQ(WindowsAt(1), 1u);
  EXPECT_TRUE(test::StillRunning(first));
  EndRecorder(first);
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
