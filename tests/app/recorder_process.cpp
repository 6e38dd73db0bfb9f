// Starting the real recorder program in a private root, offscreen, and watching it from outside.
#include "recorder_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;
using namespace std::chrono_literals;

namespace vts::test {

std::string ReadText(const std::string& path) { return ReadFile(path); }

pid_t StartRecorder(const RecorderStart& start) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string s = *e;
    if (s.rfind("VOXTRAILSTUDY_ROOT=", 0) == 0 || s.rfind("QT_QPA_PLATFORM=", 0) == 0) continue;
    if (!start.home.empty() &&
        (s.rfind("HOME=", 0) == 0 || s.rfind("TMPDIR=", 0) == 0 || s.rfind("XDG_", 0) == 0))
      continue;
    env.push_back(s);
  }
  env.push_back("VOXTRAILSTUDY_ROOT=" + start.root);
  env.push_back("QT_QPA_PLATFORM=offscreen");
  if (!start.home.empty()) {
    env.push_back("HOME=" + start.home);
    env.push_back("TMPDIR=" + start.home);
    // The libraries' own files (Qt's runtime folder, the sound server's cookie) go in the root.
    const std::string config = start.root + "/library-config",
                      runtime = start.root + "/library-runtime";
    ::mkdir(start.root.c_str(), 0700);
    ::mkdir(config.c_str(), 0700);
    ::mkdir(runtime.c_str(), 0700);
    env.push_back("XDG_CONFIG_HOME=" + config);
    env.push_back("XDG_RUNTIME_DIR=" + runtime);
  }
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = start.wrapper;
  args.push_back(VTS_RECORDER_PATH);
  args.insert(args.end(), start.arguments.begin(), start.arguments.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!start.stderrPath.empty())
    posix_spawn_file_actions_addopen(&actions, 2, start.stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The last thing the start-up writes before the dialog runs is the machine hive.
bool WaitUntilRunning(pid_t pid, const std::string& root) {
  auto until = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < until) {
    if (ReadText(root + "/registry/machine/HKEY_LOCAL_MACHINE.json")
            .find("RegisteredApplications") != std::string::npos)
      return true;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

// Exit status, or -1 when it did not end in time (then it is killed).
int WaitForExit(pid_t pid, std::chrono::seconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(20ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

bool StillRunning(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == 0;
}

std::uint64_t PeakMemoryBytes(pid_t pid) {
  std::istringstream status(ReadText("/proc/" + std::to_string(pid) + "/status"));
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;  // in kB
  }
  return 0;
}

std::string MainLogPath(const std::string& root) {
  return root + "/data/" + VTS_VARIANT_NAME + "/Logs/DispanoServ.log";
}

}  // namespace vts::test
