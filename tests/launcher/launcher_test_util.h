// Shared helpers of the launcher tests: the fake recorder beside a launcher, and the
// processes the launcher starts, which become this process's children (subreaper).
#pragma once

#include <string>
#include <vector>

namespace vts::test {

// One start of the fake recorder: its working folder and its arguments.
struct FakeRecorderStart {
  std::string workingFolder;
  std::vector<std::string> arguments;
  bool operator==(const FakeRecorderStart&) const = default;
};

// Makes this process the reaper of every process it starts, also of those a launcher starts
// detached; they can be waited for then.
void BecomeSubreaper();

// True when this process has no child, running or ended.
bool HasNoChildren();

class FakeRecorders {
 public:
  // Copies the fake recorder into `folder` as `recorderName`; its FIFO and log go into a
  // folder of their own beside it.
  FakeRecorders(const std::string& folder, const std::string& recorderName);

  // "VTS_FAKE_RECORDER_FIFO=…", "VTS_FAKE_RECORDER_LOG=…" for a launcher's environment.
  std::vector<std::string> Environment() const;
  // Puts them into this process's environment (for a launcher run in this process).
  void Export() const;

  // The records written so far (none before Release).
  std::vector<FakeRecorderStart> Records() const;

  // Opens the FIFO, so every fake started goes on, and reaps all children of this process;
  // the records then, ordered by their arguments.
  std::vector<FakeRecorderStart> Release();

 private:
  std::string fifo_;
  std::string log_;
};

}  // namespace vts::test
