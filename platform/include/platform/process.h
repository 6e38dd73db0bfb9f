// Process facts the start-up needs: other processes of a program file, an attached debugger,
// processor affinity.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

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

}  // namespace vts::plat
