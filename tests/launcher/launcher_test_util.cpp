// Helpers of the launcher tests.
#include "launcher_test_util.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "test_env.h"
#include "test_files.h"

namespace vts::test {

void BecomeSubreaper() {
  if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
    throw std::runtime_error("cannot become a subreaper");
}

bool HasNoChildren() {
  int status = 0;
  return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

FakeRecorders::FakeRecorders(const std::string& folder, const std::string& recorderName) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(VTS_FAKE_RECORDER_PATH, folder + "/" + recorderName,
                             std::filesystem::copy_options::overwrite_existing);
  const std::string gate = MakeTempDir("gate");
  fifo_ = gate + "/fifo";
  log_ = gate + "/starts";
  if (::mkfifo(fifo_.c_str(), 0600) != 0) throw std::runtime_error("cannot make the FIFO");
}

std::vector<std::string> FakeRecorders::Environment() const {
  return {"VTS_FAKE_RECORDER_FIFO=" + fifo_, "VTS_FAKE_RECORDER_LOG=" + log_};
}

void FakeRecorders::Export() const {
  ::setenv("VTS_FAKE_RECORDER_FIFO", fifo_.c_str(), 1);
  ::setenv("VTS_FAKE_RECORDER_LOG", log_.c_str(), 1);
}

std::vector<FakeRecorderStart> FakeRecorders::Records() const {
  const std::string text = ReadFile(log_);
  std::vector<FakeRecorderStart> out;
  std::size_t start = 0;
  for (std::size_t end = text.find('\x1e'); end != std::string::npos;
       end = text.find('\x1e', start)) {
    FakeRecorderStart record;
    const std::string body = text.substr(start, end - start);
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t nul = body.find('\0'); nul != std::string::npos; nul = body.find('\0', from)) {
      fields.push_back(body.substr(from, nul - from));
      from = nul + 1;
    }
    if (!fields.empty()) {
      record.workingFolder = fields.front();
      record.arguments.assign(fields.begin() + 1, fields.end());
    }
    out.push_back(record);
    start = end + 1;
  }
  std::sort(out.begin(), out.end(), [](const FakeRecorderStart& a, const FakeRecorderStart& b) {
    return a.arguments < b.arguments;
  });
  return out;
}

std::vector<FakeRecorderStart> FakeRecorders::Release() {
  // Read and write at once: the open never blocks, and every reader, now or later, goes on.
  const int gate = ::open(fifo_.c_str(), O_RDWR | O_CLOEXEC);
  if (gate < 0) throw std::runtime_error("cannot open the FIFO");
  int status = 0;
  while (::waitpid(-1, &status, 0) > 0 || errno == EINTR) {
  }
  ::close(gate);
  return Records();
}

}  // namespace vts::test
