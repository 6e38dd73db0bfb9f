// The real recorder program ended while a message box is up: a stop signal or the classroom's
// close request (4) ends the process whatever box is shown, on the window's thread ("Attention",
// a load error, "VXT for student") or for another thread that waits for its answer ("Pipe
// Data" from the stream peer).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "classroom_double.h"
#include "recorder_process.h"
#include "test_env.h"

using namespace std::chrono_literals;

namespace vts {
namespace {

enum class End { kSigterm, kSigint, kRequest4 };

struct BoxCase {
  const char* name;
  std::vector<std::string> arguments;  // "LESSON" stands for a WAV that cannot be loaded
  unsigned position;                   // of the window the box is asked for from outside
  // A remote-control press that brings the box up (WM_REMOTECONTROL wParam, lParam); none
  // when wParam is 0 (the box comes by itself or from the stream peer).
  long long remote;
  long long remoteArgument;
  bool pipeText;      // the stream peer sends a text
  const char* shown;  // the main log's line once the box is up
  std::vector<End> ends;
};

// The stream peer as a shell pipeline of its own: it sends one text once `go` exists.
class StreamPeer {
 public:
  bool Start(const std::string& dir) {
    go_ = dir + "/go";
    log_ = dir + "/stream.log";
    const std::string cmd = "setsid sh -c \"(until [ -e '" + go_ +
                            "' ]; do sleep 0.05; done; echo 'text Hello class'; sleep 300) | '" +
                            VTS_CLASSROOM_PIPES + "' stream --log '" + log_ +
                            "'\" >/dev/null 2>&1 & echo $!";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return false;
    char buf[32] = {};
    if (fgets(buf, sizeof buf, p)) group_ = std::atoi(buf);
    pclose(p);
    return group_ > 0;
  }
  // Once the recorder has greeted the peer, the text goes.
  bool SendTextOnceGreeted() {
    if (!test::WaitUntil([&] { return test::ReadFile(log_).find("type=54") != std::string::npos; },
                         60s))
      return false;
    std::ofstream(go_) << "1";
    return true;
  }
  ~StreamPeer() {
    if (group_ > 0) kill(-group_, SIGKILL);
  }

 private:
  std::string go_, log_;
  pid_t group_ = -1;
};

// Position 0's window keeps the text "Recorder".
plat::WindowId FindRecorderWindow(unsigned position) {
  return position == 0 ? plat::FindWindow("#32770", u"Recorder")
                       : test::ClassroomFrameworkDouble::FindRecorder(position);
}

bool LogHas(const std::string& text) {
  return test::ReadFile(test::MainLogPath(test::TestRoot())).find(text) != std::string::npos;
}

const char* EndName(End end) {
  switch (end) {
    case End::kSigterm:
      return "SIGTERM";
    case End::kSigint:
      return "SIGINT";
    case End::kRequest4:
      return "request 4";
  }
  return "";
}

TEST(RecorderEndRequest, EndsWhateverBoxIsUp) {
  const std::vector<BoxCase> cases = {
      {"Attention",
       {"/_t"},
       0,
       1020,
       0,
       false,
       "Message box Attention: Empty region",
       {End::kSigterm, End::kRequest4}},
      {"load error",
       {"/_t", "LESSON"},
       0,
       0,
       0,
       false,
       "could not be opened",
       {End::kSigint, End::kRequest4}},
      // A linked student ignores the classroom's close (the link ends first), not a signal.
      {"VXT for student",
       {"/Pos:1"},
       1,
       -3,
       4242,
       false,
       "Message box Lectorine: VXT for student",
       {End::kSigterm}},
      {"Pipe Data",
       {"/_t"},
       0,
       0,
       0,
       true,
       "Message box Pipe Data: Hello class",
       {End::kSigterm, End::kRequest4}},
  };
  for (const BoxCase& c : cases) {
    for (End end : c.ends) {
      SCOPED_TRACE(std::string(c.name) + ", " + EndName(end));
      const std::string dir = test::MakeTempDir("end");
      std::vector<std::string> args = c.arguments;
      for (std::string& a : args) {
        if (a != "LESSON") continue;
        a = dir + "/lesson.wav";
        std::ofstream(a) << "RIFF but no wave at all";
      }
      std::remove(test::MainLogPath(test::TestRoot()).c_str());
      StreamPeer peer;
      if (c.pipeText) ASSERT_TRUE(peer.Start(dir));

      const pid_t pid = test::StartRecorder(test::RecorderStart{test::TestRoot(), args});
      ASSERT_GT(pid, 0);
      ASSERT_TRUE(test::WaitUntil([&] { return FindRecorderWindow(c.position) != 0; }, 60s))
          << "the window did not come up";
      const plat::WindowId window = FindRecorderWindow(c.position);
      if (c.remote != 0)
        ASSERT_TRUE(plat::PostMessage(window, test::WM_REMOTECONTROL,
                                      static_cast<plat::WPARAM>(c.remote),
                                      static_cast<plat::LPARAM>(c.remoteArgument)));
      if (c.pipeText) ASSERT_TRUE(peer.SendTextOnceGreeted());
      ASSERT_TRUE(test::WaitUntil([&] { return LogHas(c.shown); }, 60s))
          << test::ReadFile(test::MainLogPath(test::TestRoot()));

      switch (end) {
        case End::kSigterm:
          kill(pid, SIGTERM);
          break;
        case End::kSigint:
          kill(pid, SIGINT);
          break;
        case End::kRequest4:
          ASSERT_TRUE(
              test::ClassroomFrameworkDouble::PostFrameworkRequest(window, test::kFrameworkClose));
          break;
      }
      // Nobody answers the box: the program ends on its own, as a closed window does.
      EXPECT_EQ(test::WaitForExit(pid, 30s), 0);
    }
  }
}

}  // namespace
}  // namespace vts
