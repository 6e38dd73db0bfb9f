// Process list and environments from /proc, debugger check, affinity, priority, spawning a
// tool, stop signals.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/known_folders.h"

extern char** environ;

namespace vts::plat {
namespace {

std::string BaseName(const std::string& p) {
  auto s = p.find_last_of('/');
  return s == std::string::npos ? p : p.substr(s + 1);
}

std::string ExeNameOf(pid_t pid, bool* fromComm) {
  std::string buf(4096, '\0');
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), buf.data(), buf.size() - 1);
  if (n > 0) {
    buf.resize(static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (buf.size() > deleted.size() &&
        buf.compare(buf.size() - deleted.size(), deleted.size(), deleted) == 0)
      buf.resize(buf.size() - deleted.size());
    *fromComm = false;
    return BaseName(buf);
  }
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  *fromComm = true;
  return name;
}

}  // namespace

std::vector<pid_t> FindProcessesByExeName(const std::string& exeName) {
  std::vector<pid_t> out;
  DIR* proc = opendir("/proc");
  if (!proc) return out;
  const pid_t self = getpid();
  while (dirent* e = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(e->d_name, &end, 10);
    if (!end || *end != '\0' || pid <= 0 || pid == self) continue;
    bool fromComm = false;
    std::string name = ExeNameOf(static_cast<pid_t>(pid), &fromComm);
    if (name.empty()) continue;
    // The kernel's command name is cut to 15 bytes.
    bool match = fromComm ? name == exeName.substr(0, 15) : name == exeName;
    if (match) out.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return out;
}

bool AnotherProcessOfThisProgramRuns() {
  std::string self = BaseName(ProgramPath());
  return !self.empty() && !FindProcessesByExeName(self).empty();
}

bool IsDebuggerAttached() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) return std::atol(line.c_str() + 10) != 0;
  }
  return false;
}

bool RestrictToFirstProcessor() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return false;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(cpu, &one);
      return sched_setaffinity(0, sizeof one, &one) == 0;
    }
  }
  return false;
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::string ProcessEnvironmentValue(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  const std::string prefix = name + "=";
  std::string entry;
  while (std::getline(in, entry, '\0'))
    if (entry.rfind(prefix, 0) == 0) return entry.substr(prefix.size());
  return {};
}

void RaiseCurrentThreadPriority(int niceValue) {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), niceValue);
}

void SetCurrentThreadName(const char* name) {
  char kept[16] = {};
  for (std::size_t i = 0; i + 1 < sizeof kept && name[i]; ++i) kept[i] = name[i];
  ::pthread_setname_np(::pthread_self(), kept);
}

ToolRun RunQuietlyAndWait(const std::string& program, const std::vector<std::string>& args,
                          std::chrono::milliseconds limit) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // The recorder's threads block SIGTERM and SIGINT (they arrive on a descriptor); a tool
  // must still end on them, so it starts with nothing blocked and their default actions.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, stop;
  sigemptyset(&none);
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &stop);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> strings{program};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : strings) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const bool started = posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ) == 0;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (!started) return ToolRun::kNotStarted;

  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return ToolRun::kFinished;
    if (std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // Left to finish on its own; collected when it ends, so no zombie stays behind.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return ToolRun::kLeftRunning;
}

UniqueFd BlockStopSignals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  if (pthread_sigmask(SIG_BLOCK, &stop, nullptr) != 0) return UniqueFd();
  return UniqueFd(::signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC));
}

void DrainStopSignals(int fd) {
  signalfd_siginfo info;
  while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
  }
}

}  // namespace vts::plat
