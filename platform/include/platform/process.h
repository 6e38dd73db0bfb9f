// Processes: other processes of a program file and their environment, an attached debugger,
// processor affinity, thread priority, running a desktop tool, and stop signals.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fd.h"

namespace vts::plat {

// Processes (other than this one) whose program file has the name `exeName` (the file name
// only, as a process snapshot reports it). Processes of other users whose program file cannot
// be read are matched by their command name.
std::vector<pid_t> FindProcessesByExeName(const std::string& exeName);

// True when another process runs the program file this process runs (compared by file name).
bool AnotherProcessOfThisProgramRuns();

// True when a debugger (or any tracer) is attached: TracerPid in /proc/self/status.
bool IsDebuggerAttached();

// Restricts the calling process (all its threads created later) to the first processor of
// its allowed set. False when that fails.
bool RestrictToFirstProcessor();

// This process's id.
std::uint32_t CurrentProcessId();

// The value of name in the environment another process of this user runs with; empty when
// it has none or the process cannot be read.
std::string ProcessEnvironmentValue(pid_t pid, const std::string& name);

// Raises the calling thread's priority to the given nice value; without the right to, nothing
// happens.
void RaiseCurrentThreadPriority(int niceValue);

// Names the calling thread for the process's task list (at most 15 characters are kept).
void SetCurrentThreadName(const char* name);

// How a desktop tool's run went.
enum class ToolRun {
  kNotStarted,   // not found on PATH or could not be started
  kFinished,     // it ended within the limit
  kLeftRunning,  // still running at the limit: it finishes on its own and is collected then
};

// Runs a program found on PATH with its output discarded and waits for it at most `limit`.
// The tool starts with no signal blocked (the caller's blocked stop signals stay its own).
ToolRun RunQuietlyAndWait(const std::string& program, const std::vector<std::string>& args,
                          std::chrono::milliseconds limit);

// SIGTERM and SIGINT as requests to close: blocked in the calling thread and every thread it
// starts later (so call it before any thread starts), and readable instead on the returned
// descriptor. Invalid when that cannot be set up.
UniqueFd BlockStopSignals();
// Takes the stop signals waiting on that descriptor.
void DrainStopSignals(int fd);

}  // namespace vts::plat
