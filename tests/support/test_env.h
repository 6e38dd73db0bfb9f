// Per-process test environment: isolated folders and the backend a test label implies.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <string>

namespace vts::test {

// Creates a fresh folder under rootBase and points VOXTRAILSTUDY_ROOT at it (unless the
// caller already set VTS_TEST_KEEP_ROOT). Label "unit"/"ui" select the virtual audio
// backend, "pulse" the PulseAudio one; "ui" also selects the offscreen Qt platform.
void PrepareTestProcess(const char* label, const char* rootBase);

// The folder PrepareTestProcess made (empty before it ran).
const std::string& TestRoot();

// Removes the folder PrepareTestProcess made once every test of the process passed; a failed
// process keeps its files to look at. Returns `result`.
int FinishTestProcess(int result);

// A fresh empty folder below TestRoot(), for one test's files.
std::string MakeTempDir(const std::string& hint = "t");

// Limits the size of every file this process writes, for a full disk without a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    handler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_;
    small.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, handler_);
  }
  bool ok() const { return ok_; }

 private:
  struct rlimit old_ {};
  sighandler_t handler_;
  bool ok_ = false;
};

}  // namespace vts::test
