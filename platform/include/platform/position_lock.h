// Which copies of the program run side by side: each copy takes its position for its whole
// life with a lock (flock() on files under RuntimeFolder()/locks, released by the kernel when
// the holder dies, like the named mutexes), so of two copies started together for one
// position exactly one runs, and a copy whose position a running copy holds learns it before
// it touches anything else. A position that must be alone (no other copy at any position)
// also looks whether any copy runs; the others only say that they run.
//
// Threading: take it once, at the start, on one thread; it is held until destroyed. The lock
// files are not inherited by programs the copy starts.
#pragma once

#include <string>

#include "platform/fd.h"

namespace vts::plat {

class PositionLock {
 public:
  enum class Result {
    kTaken,            // this copy runs at the position
    kPositionHeld,     // a running copy holds the position
    kAnotherCopyRuns,  // the position must be alone and another copy runs
    kUnavailable,      // the lock files cannot be used: nothing is known
  };

  // `program` names the lock files ("<program>.Position<n>", "<program>.Copies").
  Result Take(const std::string& program, unsigned position, bool alone);

 private:
  UniqueFd position_;
  UniqueFd copies_;
};

}  // namespace vts::plat
