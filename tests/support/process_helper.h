// Child processes for cross-process tests (the classroom-double program), with bounded waits.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_files.h"

namespace vts::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // terminates and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the program with the arguments; `env` entries "K=V" are added to ours.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& env = {});
  // Waits for the child's end; its exit status, or -1 on time-out / signal.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  void Terminate();  // SIGTERM, then waits
  void Kill();       // SIGKILL, then waits
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// Runs the program to its end and returns its exit status (-1 on failure); *out gets stdout.
int RunProgram(const std::string& program, const std::vector<std::string>& args,
               std::string* out = nullptr, const std::vector<std::string>& env = {});

// Waits until the file exists and is not empty; its contents (or "" on time-out).
std::string WaitForFile(const std::string& path,
                        std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Writes `content` to `path` and starts another process that holds the file under an
// exclusive flock() until it is ended (a framework that locks a whole shared-memory file while
// it writes). True once the lock is held.
bool HoldFileExclusively(ChildProcess& holder, const std::string& path,
                         const std::vector<std::uint8_t>& content);

// Kills a process (SIGKILL, not reaped) unless disarmed within `limit`: a wait that has no
// limit of its own then ends anyway, and the test sees by Fired() that it had to.
class KillAfter {
 public:
  KillAfter(pid_t pid, std::chrono::milliseconds limit);
  ~KillAfter();  // disarms
  KillAfter(const KillAfter&) = delete;
  KillAfter& operator=(const KillAfter&) = delete;
  void Disarm();
  bool Fired() const { return fired_; }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool disarmed_ = false;
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

}  // namespace vts::test
