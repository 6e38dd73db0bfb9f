// The launcher for real: on an X server of 1920 x 1080 and the private sound server, with a
// lesson file, it starts two real recorders whose windows sit on their halves of the screen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/product_name.h"
#include "launcher/launcher_settings.h"
#include "launcher_test_util.h"
#include "platform/process.h"
#include "pulse_util.h"
#include "recorder_process.h"
#include "test_env.h"
#include "test_files.h"

extern char** environ;
using namespace std::chrono_literals;

namespace vts::test {
namespace {

std::vector<std::string> ReadNulSeparated(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> out;
  std::string item;
  while (std::getline(in, item, '\0')) out.push_back(item);
  return out;
}

// A private X server on a free display; ended with the object.
class XServer {
 public:
  XServer() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args{"Xvfb", "-displayfd",   fd,          "-screen",
                                  "0",    "1920x1080x24", "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    ::close(fds[1]);
    std::string number;
    char c;
    while (pid_ > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~XServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

struct Geometry {
  int x = -1, y = -1, w = -1, h = -1;
  bool operator==(const Geometry&) const = default;
};

// The geometry of the window with exactly this title, by xdotool.
Geometry WindowGeometry(const std::string& display, const std::string& title) {
  const std::string id = RunShell("DISPLAY=" + display + " xdotool search --name '^" + title +
                                  "$' 2>/dev/null | head -n1");
  Geometry g;
  if (id.empty()) return g;
  const std::string out =
      RunShell("DISPLAY=" + display + " xdotool getwindowgeometry " + id + " 2>/dev/null");
  std::sscanf(out.c_str(), "Window %*s Position: %d,%d %*s %*s Geometry: %dx%d", &g.x, &g.y, &g.w,
              &g.h);
  return g;
}

// Every named window with its geometry, for a failure message.
std::string WindowList(const std::string& display) {
  return RunShell("for w in $(DISPLAY=" + display +
                  " xdotool search --name . 2>/dev/null); do DISPLAY=" + display +
                  " xdotool getwindowname $w getwindowgeometry $w 2>/dev/null | tr '\\n' ' ';"
                  " echo; done");
}

// Recorder processes of this test's root.
std::vector<pid_t> Recorders(const std::string& root) {
  std::vector<pid_t> out;
  for (pid_t pid : plat::FindProcessesByExeName(GetProductNameUtf8())) {
    for (const std::string& e : ReadNulSeparated("/proc/" + std::to_string(pid) + "/environ"))
      if (e == "VOXTRAILSTUDY_ROOT=" + root) out.push_back(pid);
  }
  return out;
}

// Ends recorders of the root still running when the test leaves early.
struct RecorderCleanup {
  std::string root;
  ~RecorderCleanup() {
    for (pid_t pid : Recorders(root)) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

TEST(LauncherRealWindows, StartsTwoRecordersSideBySide) {
  ASSERT_FALSE(PulseTestServer().empty()) << "the private PulseAudio server is not running";
  BecomeSubreaper();
  XServer x;
  ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start (scripts/setup.sh installs it)";

  const std::string root = TestRoot();
  const RecorderCleanup cleanup{root};
  ASSERT_TRUE(launcher::WritePathIni(launcher::PathIniPath(), {root + "/save", root + "/open"}));
  const std::string wav = MakeTempDir("lesson") + "/lesson one.wav";
  WriteWav(wav, std::vector<std::int16_t>(22050));  // 0.5 s of silence

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string s = *e;
    if (s.rfind("QT_QPA_PLATFORM=", 0) == 0 || s.rfind("DISPLAY=", 0) == 0) continue;
    env.push_back(s);
  }
  env.push_back("QT_QPA_PLATFORM=xcb");
  env.push_back("DISPLAY=" + x.Display());
  std::vector<char*> envp;
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string launcher = VTS_LAUNCHER_PATH;
  std::string file = wav;
  char* argv[] = {launcher.data(), file.data(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, launcher.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  struct Expected {
    const char* title;
    const char* position;
    Geometry geometry;
  };
  const Expected expected[] = {
      {"_1VoxtrailstudyUser", "/Pos:1", {1182, 305, 516, 470}},
      {"_2VoxtrailstudyUser", "/Pos:2", {222, 305, 516, 470}},
  };
  for (const Expected& e : expected) {
    Geometry seen;
    WaitUntil([&] { return (seen = WindowGeometry(x.Display(), e.title)) == e.geometry; }, 90s);
    EXPECT_EQ(seen, e.geometry) << e.title << " at " << seen.x << "," << seen.y << " " << seen.w
                                << "x" << seen.h << "; windows:\n"
                                << WindowList(x.Display()) << "recorders running: "
                                << Recorders(root).size();
  }

  std::vector<pid_t> recorders;
  WaitUntil([&] { return (recorders = Recorders(root)).size() == 2; }, 90s);
  ASSERT_EQ(recorders.size(), 2u);
  std::vector<std::vector<std::string>> commandLines;
  for (pid_t r : recorders) {
    std::vector<std::string> cmd = ReadNulSeparated("/proc/" + std::to_string(r) + "/cmdline");
    if (!cmd.empty()) cmd.erase(cmd.begin());
    commandLines.push_back(cmd);
  }
  std::sort(commandLines.begin(), commandLines.end());
  EXPECT_EQ(commandLines[0], (std::vector<std::string>{"/Pos:1", wav}));
  EXPECT_EQ(commandLines[1], (std::vector<std::string>{"/Pos:2", wav}));

  // Both end on SIGTERM, with status 0; they are this process's children now.
  for (pid_t r : recorders) ::kill(r, SIGTERM);
  for (pid_t r : recorders) EXPECT_EQ(WaitForExit(r), 0) << "recorder " << r;
}

}  // namespace
}  // namespace vts::test
