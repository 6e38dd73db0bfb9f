// Process list from /proc, debugger check, affinity.
#include "platform/process.h"

#include <dirent.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/known_folders.h"

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
    if (buf.size() > deleted.size() && buf.compare(buf.size() - deleted.size(), deleted.size(), deleted) == 0)
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

}  // namespace vts::plat
