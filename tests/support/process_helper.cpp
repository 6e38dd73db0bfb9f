// Child processes for cross-process tests.
#include "process_helper.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vts::test {
namespace {

std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto& x : extra)
      if (entry.substr(0, entry.find('=') + 1) == x.substr(0, x.find('=') + 1)) replaced = true;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& extra, int stdoutFd) {
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore = Environment(extra);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&fa, stdoutFd, 1);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) Kill();
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
  pid_ = Spawn(program, args, env, -1);
  return pid_ > 0;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (r < 0 || std::chrono::steady_clock::now() > end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::Terminate() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (Wait() == -1 && pid_ > 0) Kill();
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* out,
               const std::vector<std::string>& env) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  pid_t pid = Spawn(program, args, env, fds[1]);
  close(fds[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  if (pid <= 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WaitForFile(const std::string& path, std::chrono::milliseconds timeout) {
  std::string text;
  WaitUntil([&] { return !(text = ReadFile(path)).empty(); }, timeout);
  return text;
}

bool HoldFileExclusively(ChildProcess& holder, const std::string& path,
                         const std::vector<std::uint8_t>& content) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    if (!out) return false;
  }
  // Without a fork in between: the process that holds the lock is the one that is ended.
  if (!holder.Start("/usr/bin/flock", {"--exclusive", "--no-fork", path, "sleep", "3600"}))
    return false;
  // Held once a shared lock of ours cannot be had.
  return WaitUntil(
      [&] {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        close(fd);
        return held;
      },
      std::chrono::seconds(30));
}

KillAfter::KillAfter(pid_t pid, std::chrono::milliseconds limit) {
  thread_ = std::thread([this, pid, limit] {
    std::unique_lock lock(mutex_);
    if (cv_.wait_for(lock, limit, [this] { return disarmed_; })) return;
    fired_ = true;
    kill(pid, SIGKILL);
  });
}

KillAfter::~KillAfter() { Disarm(); }

void KillAfter::Disarm() {
  {
    std::lock_guard lock(mutex_);
    disarmed_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace vts::test
