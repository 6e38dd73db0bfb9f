// A stand-in for the recorder program in launcher tests. Copied beside the launcher under the
// recorder's name, it waits until the test opens the FIFO named by VTS_FAKE_RECORDER_FIFO,
// then appends one record to VTS_FAKE_RECORDER_LOG: its working folder and its arguments,
// each ended by NUL, the record ended by 0x1E. Waiting first shows the launcher ends
// before its recorders do anything.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const char* fifo = std::getenv("VTS_FAKE_RECORDER_FIFO");
  const char* log = std::getenv("VTS_FAKE_RECORDER_LOG");
  if (!fifo || !log) return 2;
  const int gate = ::open(fifo, O_RDONLY);  // blocks until the test opens the other end
  if (gate < 0) return 3;
  char cwd[PATH_MAX] = {};
  if (!::getcwd(cwd, sizeof cwd)) return 4;
  std::string record = cwd;
  record += '\0';
  for (int i = 1; i < argc; ++i) {
    record += argv[i];
    record += '\0';
  }
  record += '\x1e';
  const int out = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (out < 0) return 5;
  const bool written =
      ::write(out, record.data(), record.size()) == static_cast<ssize_t>(record.size());
  ::close(out);
  ::close(gate);
  return written ? 0 : 6;
}
