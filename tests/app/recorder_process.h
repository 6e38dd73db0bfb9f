// Starting the real recorder program in a private root, offscreen, and watching it from outside.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "test_files.h"

namespace vts::test {

// The file's contents ("" when missing).
std::string ReadText(const std::string& path);

struct RecorderStart {
  std::string root;                    // VOXTRAILSTUDY_ROOT
  std::vector<std::string> arguments;  // after the program's name
  // HOME and TMPDIR when not empty (else inherited); the libraries' XDG folders then lie in
  // the root.
  std::string home;
  // A program (with its arguments) that runs the recorder, e.g. one that drops rights.
  std::vector<std::string> wrapper;
  // The recorder's standard error goes to this file when not empty.
  std::string stderrPath;
};
// Starts the program with the environment of this process but the root and the offscreen
// platform; -1 when it cannot be started.
pid_t StartRecorder(const RecorderStart& start);
inline pid_t StartRecorder(const std::string& root) { return StartRecorder(RecorderStart{root}); }

// True once the start-up reached its last step before the dialog runs (the machine hive is
// written); false when the program ended first or not in a minute.
bool WaitUntilRunning(pid_t pid, const std::string& root);

// Exit status, or -1 when it did not end in `limit` (then it is killed).
int WaitForExit(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(60));

// Whether the process still runs (it is not reaped).
bool StillRunning(pid_t pid);

// Peak resident memory of a running process in bytes (VmHWM), 0 when unknown.
std::uint64_t PeakMemoryBytes(pid_t pid);

// The program's main log, in its root.
std::string MainLogPath(const std::string& root);

}  // namespace vts::test
